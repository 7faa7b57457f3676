import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtWebEngine

// Find in the selected tab's page. Shows where the current match stands among
// all matches; a page that starts loading, or another tab, starts afresh.
Rectangle {
    id: bar

    property WebEngineView view
    property int matchCount: 0
    property int activeMatch: 0
    property bool searched: false
    // The view whose matches are highlighted, to clear them when the bar moves on.
    property WebEngineView searchedView: null

    function open() {
        visible = true
        field.forceActiveFocus()
        field.selectAll()
    }

    function close() {
        reset()
        visible = false
        if (view)
            view.forceActiveFocus()
    }

    function find(backward) {
        if (!view)
            return
        if (field.text === "") {
            reset()
            return
        }
        searchedView = view
        view.findText(field.text, backward ? WebEngineView.FindBackward : 0)
    }

    function reset() {
        if (searchedView)
            searchedView.findText("")
        searchedView = null
        searched = false
        matchCount = 0
        activeMatch = 0
    }

    visible: false
    width: 380
    height: 40
    radius: 4
    color: "#ffffff"
    border.color: "#b9b9be"

    onViewChanged: reset()

    Connections {
        target: bar.view
        function onFindTextFinished(result) {
            bar.searched = true
            bar.matchCount = result.numberOfMatches
            bar.activeMatch = result.activeMatch
        }
        function onLoadingChanged(loadingInfo) {
            if (loadingInfo.status === WebEngineView.LoadStartedStatus) {
                bar.searchedView = null
                bar.reset()
            }
        }
    }

    Shortcut {
        sequence: "Ctrl+F"
        onActivated: bar.open()
    }
    Shortcut {
        sequence: "F3"
        onActivated: bar.visible && field.text !== "" ? bar.find(false) : bar.open()
    }
    Shortcut {
        sequence: "Shift+F3"
        onActivated: bar.visible && field.text !== "" ? bar.find(true) : bar.open()
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 4
        spacing: 2

        TextField {
            id: field
            objectName: "findField"
            Layout.fillWidth: true
            placeholderText: qsTr("在页面中查找")
            selectByMouse: true
            onTextEdited: bar.find(false)
            Keys.onReturnPressed: event => bar.find(event.modifiers & Qt.ShiftModifier)
            Keys.onEnterPressed: event => bar.find(event.modifiers & Qt.ShiftModifier)
            Keys.onEscapePressed: bar.close()
        }
        Label {
            objectName: "findCount"
            color: bar.searched && bar.matchCount === 0 ? "#c5221f" : "#5f6368"
            text: !bar.searched ? "" : bar.matchCount === 0 ? qsTr("无结果")
                                                            : bar.activeMatch + "/" + bar.matchCount
        }
        ToolButton {
            text: "▲"
            enabled: bar.matchCount > 0
            onClicked: bar.find(true)
            ToolTip.visible: hovered
            ToolTip.text: qsTr("上一个 (Shift+Enter)")
        }
        ToolButton {
            text: "▼"
            enabled: bar.matchCount > 0
            onClicked: bar.find(false)
            ToolTip.visible: hovered
            ToolTip.text: qsTr("下一个 (Enter)")
        }
        ToolButton {
            text: "✕"
            onClicked: bar.close()
            ToolTip.visible: hovered
            ToolTip.text: qsTr("关闭 (Esc)")
        }
    }
}
