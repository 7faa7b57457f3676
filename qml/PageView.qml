import QtQuick
import QtWebChannel
import QtWebEngine

// One tab's page: its web channel and bridge, and how it answers what the page
// asks of the window (new tabs, menus, file choosers, dialogs, printing).
WebEngineView {
    id: webEngineView

    // What the window lends every tab, each created on first use (OnDemand).
    property var contextMenu
    property var fileDialogs
    property var printer
    property var messageDialog
    property var authenticationDialog

    // Asked to open a new tab; the window adds it.
    signal tabRequested(string title, url address)

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

    onNewWindowRequested: function(request) {
        tabRequested(qsTr("加载中..."), request.requestedUrl)
    }
    onContextMenuRequested: function(request) {
        request.accepted = true
        const menu = contextMenu.get()
        menu.request = request
        // The request's position is in view coordinates; the menu lives in the
        // window's content, where the views start below the top bar.
        const pointer = mapToItem(menu.parent, request.position.x, request.position.y)
        menu.x = pointer.x
        menu.y = pointer.y
        menu.open()
    }
    onFileDialogRequested: function(request) {
        fileDialogs.get().open(request)
    }

    settings.fullScreenSupportEnabled: true
    onFullScreenRequested: function(request) {
        request.accept()
    }
    onPrintRequested: printer.get().print(webEngineView)
    onJavaScriptDialogRequested: function(request) {
        messageDialog.get().ask(request)
    }
    onAuthenticationDialogRequested: function(request) {
        authenticationDialog.get().ask(request)
    }

    CrashNotice {
        view: webEngineView
    }
}
