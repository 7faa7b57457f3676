pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Fenestra

// The notifications of pages: on the desktop, or as a notice in the window's
// corner where the desktop has no tray. A click brings the page's tab forward.
Item {
    id: area

    // The tabs' views, to find the page a notification came from, and the selected tab.
    property var views
    property int selected: -1
    readonly property alias presenter: presenter

    // The window should come forward with the tab at `index` (-1: the page is gone).
    signal tabWanted(int index)

    // The tab of a page of `origin`, the selected one first; -1 when none is left.
    function tabOf(origin) {
        const fromOrigin = function(i) { return AddressRules.isSameServer(views.itemAt(i).url, origin) }
        if (selected >= 0 && selected < views.count && fromOrigin(selected))
            return selected
        for (let i = 0; i < views.count; ++i) {
            if (fromOrigin(i))
                return i
        }
        return -1
    }

    width: 320
    height: notice.item ? (notice.item as Item).implicitHeight : 0

    NotificationPresenter {
        id: presenter
        onActivated: function(origin) {
            area.tabWanted(area.tabOf(origin))
        }
    }

    Loader {
        id: notice
        active: presenter.noticeShown
        width: area.width

        sourceComponent: Rectangle {
            objectName: "notificationNotice"
            implicitHeight: content.implicitHeight + 24
            color: "#ffffff"
            border.color: "#b9b9be"
            radius: 6

            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: presenter.click()
            }
            // Gone after a while, as desktop notifications are.
            Timer {
                interval: 10000
                running: true
                onTriggered: presenter.dismiss()
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
                        text: presenter.title
                    }
                    Label {
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        maximumLineCount: 3
                        elide: Text.ElideRight
                        text: presenter.message
                    }
                }
                ToolButton {
                    Layout.alignment: Qt.AlignTop
                    text: "\u00d7"
                    onClicked: presenter.dismiss()
                }
            }
        }
    }
}
