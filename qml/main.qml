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
        height: currentView && currentView.isFullScreen ? window.height : window.height - 41
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
