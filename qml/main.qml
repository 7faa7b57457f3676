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

    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    title: qsTr("门窗软件管理")

    Component.onCompleted: addTab(qsTr("加载中..."), Qt.resolvedUrl(addressRules.withScheme(config.getUrl())))

    ListModel {
        id: tabModel
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
            }
        }
    }
}
