import QtQuick
import QtQuick.Controls

// A dark tooltip box with a small arrow on top pointing at what it hangs under.
// Short texts keep the box snug; longer ones wrap at 180 pixels and grow downwards.
Popup {
    id: popup

    property string tipText: ""

    // Hover alone opens and closes it. Qt Quick Controls holds back every
    // shortcut of the window while a popup that closes on Escape is open, as
    // if it were a question; a tooltip must not take the keyboard.
    closePolicy: Popup.CloseOnPressOutside

    width: Math.min(200, toolTipText.implicitWidth + 20)
    height: toolTipText.height + 10

    background: Rectangle {
        color: "#222222"
        radius: 4

        Text {
            id: toolTipText
            width: parent.width - 20
            anchors.centerIn: parent
            font.pixelSize: 14
            wrapMode: Text.Wrap
            color: "#ffffff"
            text: popup.tipText
        }

        Canvas {
            id: arrowCanvas
            width: 10
            height: 6
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.top

            onPaint: {
                const ctx = getContext("2d")
                ctx.clearRect(0, 0, width, height)
                ctx.fillStyle = "#222222"
                ctx.strokeStyle = "#222222"
                ctx.beginPath()
                ctx.moveTo(0, 6)
                ctx.lineTo(5, 0)
                ctx.lineTo(10, 6)
                ctx.closePath()
                ctx.fill()
                ctx.stroke()
            }
        }
    }
}
