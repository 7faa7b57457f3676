import QtQuick
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

    // The load that failed and shows the window's own error page instead of
    // the engine's: { address, domain, code }, or null.
    property var failure: null
    readonly property string tabTitle: failure ? qsTr("无法打开") : title

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
    // The error page stays until another document has arrived, so a retry that
    // fails again does not uncover the engine's page. An error page never gets the bridge.
    onLoadingChanged: function(loadingInfo) {
        if (loadingInfo.status === WebEngineView.LoadFailedStatus && loadingInfo.isErrorPage)
            failure = { "address": loadingInfo.url.toString(), "domain": loadingInfo.errorDomain,
                        "code": loadingInfo.errorCode }
        else if (loadingInfo.status !== WebEngineView.LoadStartedStatus)
            failure = null
        trusted = loadingInfo.status !== WebEngineView.LoadStartedStatus && !failure && addressRules.isTrusted(url)
        if (trusted && loadingInfo.status === WebEngineView.LoadSucceededStatus)
            runJavaScript(channelBootstrap)
    }

    onNewWindowRequested: function(request) {
        tabRequested(qsTr("加载中..."), request.requestedUrl)
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

    Loader {
        anchors.fill: parent
        z: 1
        active: webEngineView.failure !== null
        source: "LoadErrorPage.qml"
        onLoaded: item.view = webEngineView
    }
}
