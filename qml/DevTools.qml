import QtQuick
import QtQuick.Window
import QtWebEngine

// The engine's developer tools for one tab's page, in a window of their own.
Window {
    id: devTools

    property alias inspectedView: toolsView.inspectedView

    width: 1000
    height: 700
    visible: true
    title: qsTr("开发者工具 - %1").arg(inspectedView ? inspectedView.title : "")

    WebEngineView {
        id: toolsView
        anchors.fill: parent
    }

    onClosing: destroy()
}
