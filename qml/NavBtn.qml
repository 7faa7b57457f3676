import QtQuick

// A flat bar button: an optional icon and a caption, highlighted under the
// pointer, with the caption repeated as a tooltip. A disabled button looks the
// same but ignores the pointer entirely.
Rectangle {
    id: navBtn

    property string imgSource: ""
    property string btnText: ""
    property int marginValue: 0
    property int rotate: 0
    property bool mouseEnable: false
    property bool showToolTip: true

    signal btnClick()

    radius: 2
    height: parent ? parent.height : 0
    width: row.width + 2 * marginValue
    color: mouseArea.containsMouse ? "#a8c7fa" : "transparent"

    Row {
        id: row
        anchors.centerIn: parent
        spacing: navBtn.marginValue / 2
        width: childrenRect.width + spacing
        height: childrenRect.height

        Image {
            width: 14
            height: 14
            source: navBtn.imgSource
            visible: navBtn.imgSource !== ""
            rotation: navBtn.rotate
            mipmap: true
        }

        Text {
            id: caption
            font.pixelSize: 12
            text: navBtn.btnText

            ToolTips {
                id: toolTip
                tipText: caption.text
                x: row.x - row.width / 2
                y: row.y + row.height
                visible: mouseArea.containsMouse && navBtn.showToolTip
            }
        }
    }

    MouseArea {
        id: mouseArea
        anchors.fill: parent
        enabled: navBtn.mouseEnable
        hoverEnabled: true
        onClicked: navBtn.btnClick()
    }
}
