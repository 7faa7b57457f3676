import QtQuick
import QtQuick.Window
import QtWebChannel
import QtWebEngine
import Fenestra

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
    // The questions, made when first needed (OnDemand), and the kept answers.
    property var certificateDialog
    property var permissionDialog
    property var permissions

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

    // The load that failed and shows the window's own error page instead of
    // the engine's: { address, domain, code }, or null.
    property var failure: null
    readonly property string tabTitle: failure ? qsTr("无法打开") : title
    // What the error page says of the next automatic try; empty when none comes.
    readonly property string retryNotice: loadRetry.notice
    // Whether the document that shows, or failed, was sent by a form: a retry
    // would send its data again. A reload keeps what the navigation was.
    property bool formSubmitted: false

    // The names of WebEngineView.Feature (Qt before 6.8) in the kept answers.
    readonly property var featureNames: ({
        [WebEngineView.Notifications]: "notifications",
        [WebEngineView.Geolocation]: "geolocation",
        [WebEngineView.MediaVideoCapture]: "camera",
        [WebEngineView.MediaAudioCapture]: "microphone",
        [WebEngineView.MediaAudioVideoCapture]: "camera-microphone",
        [WebEngineView.DesktopVideoCapture]: "screen",
        [WebEngineView.DesktopAudioVideoCapture]: "screen-audio"
    })

    // Answers the page's wish for `feature` from a kept answer or by asking;
    // what the shell has no question for is refused.
    function askPermission(origin, feature, reply) {
        const kept = feature ? permissions.answer(origin, feature) : PermissionStore.Deny
        if (kept !== PermissionStore.Ask) {
            reply(kept === PermissionStore.Allow)
            return
        }
        permissionDialog.get().ask({
            "view": webEngineView, "origin": origin, "feature": feature,
            "answer": function(granted, keep) {
                if (keep)
                    permissions.remember(origin, feature, granted)
                reply(granted)
            },
            "dialogReject": function() { reply(false) }
        })
    }

    webChannel: trusted ? bridgeChannel : closedChannel
    // A trusted page's own copy button works without a gesture. Reading asks
    // (Qt 6.8 and later) or is refused.
    settings.javascriptCanAccessClipboard: trusted
    settings.javascriptCanPaste: false

    WebChannel {
        id: bridgeChannel
        // zx is the program's context property, which qmllint cannot know of.
        Component.onCompleted: registerObject("zx", zx) // qmllint disable unqualified
    }

    WebChannel {
        id: closedChannel
    }

    // The channel goes before a new document can run and comes back once a
    // trusted page has arrived; the address of the document that is showing decides.
    // The error page stays until another document has arrived, so a retry that
    // fails again does not uncover the engine's page. An error page never gets the bridge.
    onLoadingChanged: function(loadingInfo) {
        if (loadingInfo.status === WebEngineView.LoadFailedStatus && loadingInfo.isErrorPage) {
            failure = { "address": loadingInfo.url.toString(), "domain": loadingInfo.errorDomain,
                        "code": loadingInfo.errorCode }
            loadRetry.failed(loadingInfo.errorDomain, loadingInfo.errorCode, formSubmitted)
        } else if (loadingInfo.status !== WebEngineView.LoadStartedStatus) {
            failure = null
            loadRetry.settled()
        }
        trusted = loadingInfo.status !== WebEngineView.LoadStartedStatus && !failure && AddressRules.isTrusted(url)
        if (trusted && loadingInfo.status === WebEngineView.LoadSucceededStatus)
            runJavaScript(channelBootstrap)
    }

    onNavigationRequested: function(request) {
        if (request.isMainFrame && request.navigationType !== WebEngineNavigationRequest.ReloadNavigation)
            formSubmitted = request.navigationType === WebEngineNavigationRequest.FormSubmittedNavigation
    }

    // A page that failed for a network reason loads again by itself while its tab shows.
    LoadRetry {
        id: loadRetry
        shown: webEngineView.visible
        onRetry: webEngineView.reload()
    }

    // A tab not shown for a while rests, never deeper than the engine recommends.
    lifecycleState: tabRest.state
    TabRest {
        id: tabRest
        shown: webEngineView.visible
        recommendedState: webEngineView.recommendedState
        onShownChanged: shown ? inputCheckDelay.stop() : inputCheckDelay.restart()
    }

    // The page is asked for input the user would lose a moment after its tab
    // goes out of sight, while it still runs (no one types into a hidden tab).
    // Not at once: a tab that closes goes out of sight first, and Qt 6.8
    // crashes when the answer reaches a view that is being destroyed.
    Timer {
        id: inputCheckDelay
        interval: 500
        onTriggered: {
            webEngineView.runJavaScript(tabRest.inputCheck, function(unsaved) {
                tabRest.unsavedInput = unsaved === true
            })
        }
    }

    // Adopting keeps what a fresh load of the address would lose: a posted
    // form's data, content the opener writes, and window.opener. Engines that
    // crash in the adoption (adoptsNewWindows false) get the address loaded.
    onNewWindowRequested: function(request) {
        popupRequested(request)
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

    // Only the page itself may be let through a certificate problem; its frames
    // and resources are refused, as are problems that must not be overridden.
    onCertificateError: function(error) {
        if (!error.overridable || error.isMainFrame === false) {
            error.rejectCertificate()
            return
        }
        error.defer()
        certificateDialog.get().ask({
            "view": webEngineView, "error": error,
            "dialogReject": function() { error.rejectCertificate() }
        })
    }

    // Qt 6.8 asks through permissionRequested, older Qt through featurePermissionRequested.
    onFeaturePermissionRequested: function(securityOrigin, feature) {
        if (!permissions.askedByFeature)
            return
        askPermission(securityOrigin, featureNames[feature] || "", function(granted) {
            webEngineView.grantFeaturePermission(securityOrigin, feature, granted)
        })
    }
    Connections {
        target: webEngineView
        enabled: !webEngineView.permissions.askedByFeature
        ignoreUnknownSignals: true
        function onPermissionRequested(permission) {
            const feature = webEngineView.permissions.featureOfPermission(permission.permissionType)
            webEngineView.askPermission(permission.origin, feature, function(granted) {
                if (granted)
                    permission.grant()
                else
                    permission.deny()
            })
        }
    }

    Component.onDestruction: {
        // At the window's end the loaders may be gone first.
        for (const loader of [certificateDialog, permissionDialog]) {
            if (loader && loader.item)
                loader.item.forget(webEngineView)
        }
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

    Component {
        id: devToolsComponent
        DevTools {}
    }
}
