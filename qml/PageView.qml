import QtQuick
import QtQuick.Window
import QtWebChannel
import QtWebEngine

// One tab's page: its web channel and bridge, and how it answers what the page
// asks of the window (new tabs, menus, file choosers, dialogs, printing).
WebEngineView {
    id: webEngineView

    // What the window lends every tab.
    property var contextMenu
    property var fileDialogs
    property var printer
    property var messageDialog
    property var authenticationDialog

    // A page asked for a new window; the window adds a tab that takes over
    // the page the engine has already made for it (request.openIn).
    signal popupRequested(var request)

    // The engine's developer tools for this page, made on first use; they go with the tab.
    property Window devTools: null

    function toggleDevTools() {
        if (devTools) {
            devTools.destroy()
            devTools = null
        } else {
            devTools = devToolsComponent.createObject(webEngineView, { "page": webEngineView })
        }
    }

    // Only pages of the company's server may reach the bridge. Others are
    // connected to an empty channel, so even their own copy of the channel
    // library finds nothing to call. The transport itself stays: taking it away
    // while a bridge call waits (a download) would pull it from under that call.
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

    webChannel: trusted ? bridgeChannel : closedChannel

    WebChannel {
        id: bridgeChannel
        Component.onCompleted: registerObject("zx", zx)
    }

    WebChannel {
        id: closedChannel
    }

    // The channel goes before a new document can run and comes back once a
    // trusted page has arrived; the address of the document that is showing decides.
    onLoadingChanged: function(loadingInfo) {
        trusted = loadingInfo.status !== WebEngineView.LoadStartedStatus && addressRules.isTrusted(url)
        if (trusted && loadingInfo.status === WebEngineView.LoadSucceededStatus)
            runJavaScript(channelBootstrap)
    }

    // Adopting keeps what a fresh load of the address would lose: a posted
    // form's data, content the opener writes, and window.opener.
    onNewWindowRequested: function(request) {
        popupRequested(request)
    }
    onContextMenuRequested: function(request) {
        request.accepted = true
        contextMenu.request = request
        // The request's position is in view coordinates; the menu lives in the
        // window's content, where the views start below the top bar.
        const pointer = mapToItem(contextMenu.parent, request.position.x, request.position.y)
        contextMenu.x = pointer.x
        contextMenu.y = pointer.y
        contextMenu.open()
    }
    onFileDialogRequested: function(request) {
        fileDialogs.open(request)
    }

    settings.fullScreenSupportEnabled: true
    onFullScreenRequested: function(request) {
        request.accept()
    }
    onPrintRequested: printer.print(webEngineView)
    onJavaScriptDialogRequested: function(request) {
        messageDialog.ask(request)
    }
    onAuthenticationDialogRequested: function(request) {
        authenticationDialog.ask(request)
    }

    CrashNotice {
        view: webEngineView
    }

    Component {
        id: devToolsComponent
        DevTools {}
    }
}
