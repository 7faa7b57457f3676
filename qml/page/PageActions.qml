import QtQuick
import QtWebEngine

// What the user does to the selected tab's page besides navigating: zoom,
// print, leaving the full screen that the page asked for, and the developer tools.
Item {
    id: actions

    property WebEngineView view
    property var printer
    // The window follows the page into full screen and back.
    property Window window
    property int visibilityBeforeFullScreen: Window.Maximized
    readonly property bool fullScreen: view !== null && view.isFullScreen

    // Steps between the engine's smallest and largest zoom factors.
    readonly property var zoomLevels: [0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0,
        2.5, 3.0, 4.0, 5.0]

    // The zoom level one step up (`steps` > 0) or down from `factor`.
    function nextZoom(factor, steps) {
        if (steps > 0)
            return zoomLevels.find(level => level > factor + 0.001) || zoomLevels[zoomLevels.length - 1]
        const lower = zoomLevels.filter(level => level < factor - 0.001)
        return lower.length > 0 ? lower[lower.length - 1] : zoomLevels[0]
    }

    function zoom(steps) {
        if (view)
            view.zoomFactor = nextZoom(view.zoomFactor, steps)
    }

    onFullScreenChanged: {
        if (fullScreen) {
            visibilityBeforeFullScreen = window.visibility
            window.showFullScreen()
        } else {
            window.visibility = visibilityBeforeFullScreen
        }
    }

    Shortcut {
        sequences: ["Ctrl+=", "Ctrl++"]
        onActivated: actions.zoom(1)
    }
    Shortcut {
        sequence: "Ctrl+-"
        onActivated: actions.zoom(-1)
    }
    Shortcut {
        sequence: "Ctrl+0"
        onActivated: if (actions.view) actions.view.zoomFactor = 1.0
    }
    Shortcut {
        sequence: "Ctrl+P"
        onActivated: if (actions.view) actions.printer.get().print(actions.view)
    }
    Shortcut {
        sequences: ["F12", "Ctrl+Shift+I"]
        // Also from the tools' own window, which has the focus once open.
        context: Qt.ApplicationShortcut
        // The views are PageViews, but typed so, the selected view came out null
        // in a second window's engine on Qt 6.8; the window's views stay WebEngineViews.
        onActivated: if (actions.view) actions.view.toggleDevTools() // qmllint disable missing-property
    }
    Shortcut {
        sequence: "Esc"
        enabled: actions.fullScreen
        onActivated: actions.view.fullScreenCancelled()
    }
}
