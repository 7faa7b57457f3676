import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/"
import "helpers.js" as Helpers

Item {
    id: root
    width: 400
    height: 300

    Rectangle {
        id: ground
        anchors.fill: parent
        color: "#d3e3fd"
    }

    Text {
        id: reference
        font.pixelSize: 14
    }

    Component {
        id: tipComponent
        ToolTips {
            x: 50
            y: 50
        }
    }

    TestCase {
        id: testCase
        name: "ToolTips"
        when: windowShown

        function test_size_data() {
            return [
                { tag: "short text keeps the box snug", text: "OK", wraps: false },
                { tag: "a sentence wraps at 180 pixels", text: "The quick brown fox jumps over the lazy dog twice a day", wraps: true },
                { tag: "a single long word wraps anywhere", text: "Donaudampfschifffahrtsgesellschaftskapitänsmütze", wraps: true },
                { tag: "a long Chinese title wraps", text: "门窗软件管理系统订单报价生产排产与安装售后服务统计", wraps: true },
            ]
        }

        function test_size(data) {
            reference.text = data.text
            const tip = createTemporaryObject(tipComponent, ground, { tipText: data.text })
            tip.open()
            tryVerify(() => tip.opened)
            const text = tip.background.children[0]

            compare(tip.width, Math.min(200, reference.implicitWidth + 20))
            compare(tip.height, text.height + 10)
            compare(text.width, tip.width - 20)
            if (data.wraps) {
                compare(tip.width, 200)
                verify(text.lineCount > 1, "lines: " + text.lineCount)
                verify(text.contentWidth <= 180, "text width " + text.contentWidth)
                verify(tip.height >= 2 * reference.height + 10, "box height " + tip.height)
            } else {
                verify(tip.width < 200)
                compare(text.lineCount, 1)
                compare(tip.height, reference.height + 10)
            }
        }

        function test_box_and_arrow() {
            const tip = createTemporaryObject(tipComponent, ground, { tipText: "Reload the page" })
            tip.open()
            tryVerify(() => tip.opened)
            waitForRendering(ground)

            const box = tip.background.mapToItem(ground, 0, 0)
            const middle = box.x + tip.width / 2
            tryVerify(() => Qt.colorEqual(grabImage(ground).pixel(middle, box.y - 2), "#222222"),
                      1000, "the arrow is drawn above the box")
            const image = grabImage(ground)
            verify(Qt.colorEqual(image.pixel(box.x + 2, box.y + tip.height / 2), "#222222"), "box colour")
            verify(Qt.colorEqual(image.pixel(box.x + 2, box.y - 2), "#d3e3fd"), "nothing beside the arrow")
            verify(Qt.colorEqual(image.pixel(middle, box.y - 7), "#d3e3fd"), "the arrow is 6 pixels high")
            verify(Qt.colorEqual(image.pixel(box.x, box.y), "#d3e3fd"), "rounded corner")
        }
    }
}
