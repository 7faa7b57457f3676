import QtQuick
import QtQuick.Window
import QtWebEngine

// The engine's developer tools for one tab's page, in a window of their own.
Window {
    id: devTools

    property WebEngineView page

    width: 1000
    height: 700
    visible: true
    title: qsTr("开发者工具 - %1").arg(page ? page.title : "")

    WebEngineView {
        id: toolsView
        anchors.fill: parent
        // Given only once the view is complete: the engine needs its page first.
        Component.onCompleted: inspectedView = devTools.page
    }

    onClosing: destroy()
}
