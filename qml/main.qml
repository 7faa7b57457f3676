import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtQuick.Layouts
import Qt.labs.platform as Platform
import QtWebChannel
import QtWebEngine
import Fenestra

ApplicationWindow {
    id: window

    // Read again whenever views come or go: closing the selected first tab
    // leaves the index at 0 while the view behind it changes.
    property WebEngineView currentView: webEngineViewRepeater.count > navBar.currentIndex
                                        ? webEngineViewRepeater.itemAt(navBar.currentIndex) : null

    // The address is kept as text: a list model fixes a role's type with its
    // first row, and would drop an address of the other type.
    function addTab(title, url) {
        tabModel.append({ "title": title, "url": String(url) })
        navBar.currentIndex = tabModel.count - 1
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

    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    title: qsTr("门窗软件管理")

    Component.onCompleted: addTab(qsTr("加载中..."), Qt.resolvedUrl(addressRules.withScheme(config.getUrl())))

    ListModel {
        id: tabModel
    }

    MenuComponent {
        id: menu
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
        onDownloadRequested: function(download) {
            downloadList.accept(download)
        }
    }

    DownloadList {
        id: downloadList
    }

    PagePrinter {
        id: pagePrinter
    }

    PageActions {
        view: currentView
        printer: pagePrinter
        window: window
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

        Row {
            id: row

            // Room of everything but the strip and its scroll buttons: the three
            // navigation buttons, the two buttons on the right and the separators.
            property int baseWidth: Math.floor(3 * backBtn.width + 2 * updateBtn.width + 2)
            property int flickableWidth: Math.floor(width - baseWidth - (leftSlide.visible ? 2 * leftSlide.width : 0))

            width: topRect.width
            height: topRect.height
            spacing: 0

            NavBtn {
                id: backBtn
                imgSource: "images/back.png"
                btnText: qsTr("后退")
                marginValue: 10
                mouseEnable: currentView ? currentView.canGoBack : false
                onBtnClick: if (currentView && currentView.canGoBack) currentView.goBack()
            }

            NavBtn {
                imgSource: "images/back.png"
                btnText: qsTr("前进")
                marginValue: 10
                rotate: 180
                mouseEnable: currentView ? currentView.canGoForward : false
                onBtnClick: if (currentView && currentView.canGoForward) currentView.goForward()
            }

            NavBtn {
                imgSource: "images/loading.png"
                btnText: qsTr("刷新")
                marginValue: 10
                mouseEnable: true
                onBtnClick: if (currentView) currentView.reload()
            }

            NavBtn {
                id: leftSlide
                imgSource: "images/back.png"
                marginValue: 4
                mouseEnable: true
                showToolTip: false
                visible: navBar.width > row.width - row.baseWidth
                onBtnClick: flickable.contentX = Math.max(0, flickable.contentX - 50)
            }

            Rectangle {
                width: 1
                height: row.height
                color: "#b9b9be"
            }

            Flickable {
                id: flickable
                width: row.flickableWidth
                height: row.height
                contentWidth: navBar.width
                interactive: false
                clip: true

                NavBar {
                    id: navBar
                    width: tabModel ? tabModel.count * 120 : 0
                    height: flickable.height

                    // Here a plain `tabModel` names the strip's own property; the
                    // binding's value is looked up from the window instead.
                    Binding on tabModel {
                        value: tabModel
                    }

                    onClickTabBar: {}
                    // A tab added or removed while the strip overflows moves the view
                    // a step to the right, never past the end.
                    onWidthChanged: {
                        if (width > flickable.width)
                            flickable.contentX = Math.min(width - flickable.width, flickable.contentX + 100)
                    }
                }
            }

            Rectangle {
                width: 1
                height: row.height
                color: "#b9b9be"
            }

            NavBtn {
                id: rightSlide
                imgSource: "images/back.png"
                marginValue: 4
                rotate: 180
                mouseEnable: true
                showToolTip: false
                visible: navBar.width > row.width - row.baseWidth
                onBtnClick: flickable.contentX = Math.min(navBar.width - flickable.width, flickable.contentX + 50)
            }

            NavBtn {
                id: updateBtn
                btnText: qsTr("更新")
                marginValue: 8
                mouseEnable: true
            }

            NavBtn {
                btnText: qsTr("备注")
                marginValue: 8
                mouseEnable: true
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
        height: currentView && currentView.isFullScreen ? window.height : window.height - 41
        currentIndex: navBar.currentIndex

        Repeater {
            id: webEngineViewRepeater
            model: tabModel

            WebEngineView {
                id: webEngineView

                // Only pages of the company's server may reach the bridge. Others
                // are connected to an empty channel, so even their own copy of the
                // channel library finds nothing to call. The transport itself stays:
                // taking it away while a bridge call waits (a download) would pull
                // it from under that call.
                property bool trusted: false

                // Gives a trusted page its global `zx`.
                readonly property string channelBootstrap: [
                    "let script = document.createElement('script');",
                    "script.src = 'qrc:/qtwebchannel/qwebchannel.js';",
                    "script.onload = function() {",
                    "new QWebChannel(qt.webChannelTransport, function(channel) {",
                    "zx = channel.objects.zx;",
                    "});",
                    "};",
                    "document.head.appendChild(script);"
                ].join("\n")

                url: model.url
                profile: webEngineProfile
                webChannel: trusted ? webChannel : closedChannel

                WebChannel {
                    id: webChannel
                    Component.onCompleted: registerObject("zx", zx)
                }

                WebChannel {
                    id: closedChannel
                }

                // The channel goes before a new document can run and comes back
                // once a trusted page has arrived; the address of the document
                // that is showing decides.
                onLoadingChanged: function(loadingInfo) {
                    trusted = loadingInfo.status !== WebEngineView.LoadStartedStatus
                            && addressRules.isTrusted(url)
                    if (trusted && loadingInfo.status === WebEngineView.LoadSucceededStatus)
                        runJavaScript(channelBootstrap)
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

                settings.fullScreenSupportEnabled: true
                onFullScreenRequested: function(request) {
                    request.accept()
                }
                onPrintRequested: pagePrinter.print(webEngineView)
                onJavaScriptDialogRequested: function(request) {
                    pageMessageDialog.ask(request)
                }
                onAuthenticationDialogRequested: function(request) {
                    loginDialog.ask(request)
                }

                CrashNotice {
                    view: webEngineView
                }
            }
        }
    }

    FindBar {
        id: findBar
        view: currentView
        anchors.top: topRect.bottom
        anchors.right: parent.right
        anchors.topMargin: 8
        anchors.rightMargin: 24
    }

    DownloadsPanel {
        list: downloadList
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        anchors.margins: 16
    }

    PageMessageDialog {
        id: pageMessageDialog
    }

    LoginDialog {
        id: loginDialog
    }
}
