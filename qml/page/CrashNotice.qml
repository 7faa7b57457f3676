import QtQuick
import QtQuick.Controls
import QtWebEngine

// Stands in for a page whose renderer process has ended, until it is loaded
// again. The first crash brings the page back by itself; one that follows
// within a minute shows the notice.
Rectangle {
    id: notice

    property WebEngineView view
    property bool crashed: false
    // When the page last came back by itself (milliseconds since 1970; 0: never).
    property double reloadedByItself: 0

    objectName: "crashNotice"
    anchors.fill: parent
    z: 1
    visible: crashed
    color: "#f8f9fa"

    Connections {
        target: notice.view
        function onRenderProcessTerminated(terminationStatus, exitCode) {
            if (terminationStatus === WebEngineView.NormalTerminationStatus)
                return
            const now = Date.now()
            if (now - notice.reloadedByItself < 60000) {
                notice.crashed = true
                return
            }
            notice.reloadedByItself = now
            // Not from within the engine's own signal.
            Qt.callLater(() => notice.view.reload())
        }
        function onLoadingChanged(loadingInfo) {
            if (loadingInfo.status !== WebEngineView.LoadStartedStatus)
                notice.crashed = false
        }
    }

    // The dead page underneath takes no clicks.
    MouseArea {
        anchors.fill: parent
    }

    Column {
        anchors.centerIn: parent
        spacing: 12

        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            font.pixelSize: 20
            text: qsTr("页面已停止运行")
        }
        Label {
            anchors.horizontalCenter: parent.horizontalCenter
            color: "#5f6368"
            text: qsTr("显示此网页的进程意外退出。")
        }
        Button {
            objectName: "crashReload"
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("重新加载")
            onClicked: notice.view.reload()
        }
    }
}
