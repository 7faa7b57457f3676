pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls

// The tab strip: one tab per row of `tabModel`, each with its title, a hover
// tooltip carrying the whole title and a round close button.
TabBar {
    id: tabBar

    property var tabModel

    signal clickTabBar()

    clip: true
    background: Item {}

    Repeater {
        model: tabBar.tabModel

        TabButton {
            id: tabBtn

            required property int index
            required property string title
            readonly property bool isSelected: tabBar.currentIndex === index

            width: 120
            height: tabBar.height
            // Without this the list centres the tab on its implicit height.
            anchors.bottom: parent ? parent.bottom : undefined
            hoverEnabled: true
            // The title runs from the tab's left edge up to the close button.
            leftPadding: 0
            rightPadding: closeBtn.width + closeBtn.anchors.rightMargin

            background: Rectangle {
                color: tabBtn.isSelected ? "#ffffff" : tabBtn.hovered ? "#a8c7fa" : "transparent"
            }

            contentItem: Text {
                id: titleText
                text: tabBtn.title
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                elide: Text.ElideRight
            }

            onClicked: tabBar.clickTabBar()
            onHoveredChanged: titleToolTip.visible = hovered

            Rectangle {
                id: closeBtn
                width: 20
                height: 20
                anchors.verticalCenter: parent.verticalCenter
                anchors.right: parent.right
                anchors.rightMargin: 1
                radius: width / 2
                color: mouseArea.containsMouse ? "#dcdcdd" : "transparent"

                Text {
                    anchors.centerIn: parent
                    font.pixelSize: 16
                    text: "×"
                }

                MouseArea {
                    id: mouseArea
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: {
                        if (tabBar.tabModel.count > 1)
                            tabBar.tabModel.remove(tabBtn.index)
                        else
                            Qt.quit()
                    }
                }
            }

            Rectangle {
                width: 1
                height: tabBtn.height - 4
                anchors.top: parent.top
                anchors.right: parent.right
                color: "#a8c7fa"
                visible: !tabBtn.hovered && !tabBtn.isSelected
            }

            ToolTips {
                id: titleToolTip
                tipText: titleText.text
                x: closeBtn.x - width / 2 - 50
                y: closeBtn.y + closeBtn.height + 9
            }
        }
    }
}
