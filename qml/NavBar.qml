import QtQuick
import QtQuick.Controls

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
            width: 120
            height: parent.height
            text: model.title
            onClicked: tabBar.clickTabBar()
        }
    }
}
