import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Fenestra

// A page's notification as a notice in the window's corner, for desktops
// without a tray: a click brings the page forward, and it goes after a while.
Rectangle {
    id: notice

    required property NotificationPresenter presenter

    objectName: "notificationNotice"
    implicitHeight: content.implicitHeight + 24
    color: "#ffffff"
    border.color: "#b9b9be"
    radius: 6

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: notice.presenter.click()
    }
    // Gone after a while, as desktop notifications are.
    Timer {
        interval: 10000
        running: true
        onTriggered: notice.presenter.dismiss()
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.margins: 12
        spacing: 8

        Image {
            Layout.alignment: Qt.AlignTop
            source: "../images/qtweb.ico"
            sourceSize: Qt.size(24, 24)
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            Label {
                Layout.fillWidth: true
                elide: Text.ElideRight
                font.bold: true
                text: notice.presenter.title
            }
            Label {
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                text: notice.presenter.message
            }
        }
        ToolButton {
            Layout.alignment: Qt.AlignTop
            text: "\u00d7"
            onClicked: notice.presenter.dismiss()
        }
    }
}
