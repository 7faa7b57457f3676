import QtQuick
import QtQuick.Controls

// Says that a new version waits for the next start; made only when one does.
Rectangle {
    id: notice

    property string version

    objectName: "updateNotice"
    anchors.bottom: parent.bottom
    anchors.left: parent.left
    anchors.margins: 16
    z: 2
    width: row.implicitWidth + 24
    height: row.implicitHeight + 16
    radius: 4
    color: "#323639"

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 12

        Label {
            anchors.verticalCenter: parent.verticalCenter
            color: "white"
            text: qsTr("新版本已下载，下次启动时生效")
        }
        Button {
            objectName: "updateNoticeClose"
            anchors.verticalCenter: parent.verticalCenter
            flat: true
            text: qsTr("知道了")
            onClicked: notice.visible = false
        }
    }
}
