import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtQuick.Layouts
import Qt.labs.platform as Platform
import QtWebChannel
import QtWebEngine

ApplicationWindow {
    id: window

    property WebEngineView currentView: webEngineViewRepeater.itemAt(navBar.currentIndex)

    function addTab(title, url) {
        tabModel.append({ "title": title, "url": url })
        navBar.currentIndex = tabModel.count - 1
    }

    // An address without a scheme of its own is taken as plain HTTP.
    function withScheme(address) {
        if (address.indexOf("http://") >= 0 || /^[A-Za-z][A-Za-z0-9+.-]*:\/\//.test(address))
            return address
        return "http://" + address
    }

    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    title: qsTr("门窗软件管理")

    Component.onCompleted: addTab(qsTr("加载中..."), Qt.resolvedUrl(withScheme(config.getUrl())))

    ListModel {
        id: tabModel
    }

    MenuComponent {
        id: menu
    }

    // appDir is a plain local path ("C:/Program Files/x", "//server/x" or "/opt/x");
    // the dialogs take their starting folder as a file URL.
    function folderUrl(path) {
        const encoded = path.split("/").map(encodeURIComponent).join("/").replace(/%3A/gi, ":")
        const scheme = path.startsWith("//") ? "file:" : path.startsWith("/") ? "file://" : "file:///"
        return scheme + encoded
    }

    // The dialogs answer with file URLs, while pages are handed local paths: the web
    // engine does not decode a URL's escapes, so a space or a Chinese folder name
    // would otherwise lead to a file that does not exist.
    function localPath(fileUrl) {
        const text = String(fileUrl)
        const path = decodeURIComponent(text.startsWith("file:///") ? text.slice(7) : text.replace(/^file:/, ""))
        return /^\/[A-Za-z]:/.test(path) ? path.slice(1) : path
    }

    Platform.FileDialog {
        id: fileDialog

        property var request: ({})

        title: qsTr("选择文件")
        folder: folderUrl(appDir)
        onAccepted: request.dialogAccept(fileMode === Platform.FileDialog.OpenFiles
                                         ? files.map(localPath) : [localPath(file)])
        onRejected: request.dialogReject()
    }

    Platform.FolderDialog {
        id: folderDialog

        property var request: ({})

        title: qsTr("选择文件夹")
        folder: folderUrl(appDir)
        onAccepted: request.dialogAccept([localPath(folder)])
        onRejected: request.dialogReject()
    }

    Platform.FileDialog {
        id: saveDialog

        property var request: ({})

        title: qsTr("保存文件")
        folder: folderUrl(appDir)
        onAccepted: request.dialogAccept([localPath(file)])
        onRejected: request.dialogReject()
    }

    WebEngineProfile {
        id: webEngineProfile
        offTheRecord: false
        persistentCookiesPolicy: WebEngineProfile.ForcePersistentCookies
        storageName: "loginInfo"
    }

    Shortcut {
        sequence: "F5"
        onActivated: currentView.reload()
    }

    Rectangle {
        id: topRect
        anchors.top: parent.top
        anchors.left: parent.left
        width: window.width
        height: 40
        color: "#d3e3fd"

        Flickable {
            id: flickable
            width: parent.width
            height: parent.height
            contentWidth: navBar.width
            interactive: false
            clip: true

            NavBar {
                id: navBar
                width: tabModel.count * 120
                height: flickable.height
                tabModel: tabModel
            }
        }
    }

    Rectangle {
        anchors.top: topRect.bottom
        width: window.width
        height: 1
        color: "#b9b9be"
    }

    StackLayout {
        id: stackLayout
        anchors.bottom: parent.bottom
        width: window.width
        height: window.height - 41
        currentIndex: navBar.currentIndex

        Repeater {
            id: webEngineViewRepeater
            model: tabModel

            WebEngineView {
                id: webEngineView
                url: model.url
                profile: webEngineProfile
                webChannel: channel

                WebChannel {
                    id: channel
                    Component.onCompleted: registerObject("zx", zx)
                }

                onTitleChanged: tabModel.setProperty(index, "title", title)
                onNewWindowRequested: function(request) {
                    addTab(qsTr("加载中..."), request.requestedUrl)
                }
                onContextMenuRequested: function(request) {
                    request.accepted = true
                    menu.request = request
                    // The request's position is in view coordinates; the menu lives in
                    // the window's content, where the views start below the top bar.
                    const pointer = mapToItem(menu.parent, request.position.x, request.position.y)
                    menu.x = pointer.x
                    menu.y = pointer.y
                    menu.open()
                }
                onFileDialogRequested: function(request) {
                    let dialog = null
                    switch (request.mode) {
                    case FileDialogRequest.FileModeOpen:
                        fileDialog.fileMode = Platform.FileDialog.OpenFile
                        dialog = fileDialog
                        break
                    case FileDialogRequest.FileModeOpenMultiple:
                        fileDialog.fileMode = Platform.FileDialog.OpenFiles
                        dialog = fileDialog
                        break
                    case FileDialogRequest.FileModeUploadFolder:
                        dialog = folderDialog
                        break
                    case FileDialogRequest.FileModeSave:
                        saveDialog.fileMode = Platform.FileDialog.SaveFile
                        dialog = saveDialog
                        break
                    }
                    if (dialog) {
                        dialog.request = request
                        dialog.open()
                    }
                    // Unknown modes are left to the web engine's own dialog.
                    request.accepted = dialog !== null
                }
            }
        }
    }
}
