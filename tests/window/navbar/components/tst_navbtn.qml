import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/"
import "helpers.js" as Helpers

Item {
    id: root
    width: 400
    height: 200

    Rectangle {
        id: bar
        width: 400
        height: 40
        color: "#d3e3fd"
    }

    Text {
        id: reference
        font.pixelSize: 12
    }

    Component {
        id: buttonComponent
        NavBtn {}
    }

    SignalSpy {
        id: clickSpy
        signalName: "btnClick"
    }

    TestCase {
        id: testCase
        name: "NavBtn"
        when: windowShown

        function makeButton(properties) {
            const button = createTemporaryObject(buttonComponent, bar, properties)
            clickSpy.clear()
            clickSpy.target = button
            mouseMove(root, 300, 150)
            waitForRendering(bar)
            return button
        }

        function test_size_data() {
            return [
                { tag: "icon and caption", imgSource: "images/back.png", btnText: "后退", marginValue: 10 },
                { tag: "caption only", imgSource: "", btnText: "更新", marginValue: 8 },
            ]
        }

        function test_size(data) {
            const button = makeButton({ imgSource: data.imgSource, btnText: data.btnText,
                                        marginValue: data.marginValue, mouseEnable: true })
            reference.text = data.btnText
            const spacing = data.marginValue / 2
            const content = (data.imgSource !== "" ? 14 + spacing : 0) + reference.width + spacing
            compare(button.height, 40)
            compare(button.width, content + 2 * data.marginValue)
        }

        function test_hover_highlights_and_shows_caption() {
            const button = makeButton({ imgSource: "images/back.png", btnText: "后退", marginValue: 10,
                                        mouseEnable: true })
            compare(Helpers.shownToolTips(button).length, 0)
            verify(Qt.colorEqual(button.color, "transparent"))

            mouseMove(button, button.width / 2, 20)
            tryVerify(() => Qt.colorEqual(button.color, "#a8c7fa"))
            tryCompare(Helpers.toolTipsBelow(button)[0], "opened", true)
            const tip = Helpers.shownToolTips(button)[0]
            compare(tip.tipText, "后退")
            // The tooltip hangs from the bar's bottom edge.
            compare(tip.background.mapToItem(bar, 0, 0).y, 40)

            mouseClick(button)
            compare(clickSpy.count, 1)

            mouseMove(root, 300, 150)
            tryVerify(() => Qt.colorEqual(button.color, "transparent"))
            tryCompare(tip, "visible", false)
        }

        function test_disabled_ignores_the_pointer() {
            const button = makeButton({ imgSource: "images/back.png", btnText: "后退", marginValue: 10,
                                        mouseEnable: false })
            mouseMove(button, button.width / 2, 20)
            wait(50)
            verify(Qt.colorEqual(button.color, "transparent"))
            compare(Helpers.shownToolTips(button).length, 0)
            mouseClick(button)
            compare(clickSpy.count, 0)

            // Enabling it later brings the pointer handling back.
            button.mouseEnable = true
            mouseMove(button, button.width / 2 + 1, 20)
            tryVerify(() => Qt.colorEqual(button.color, "#a8c7fa"))
            mouseClick(button)
            compare(clickSpy.count, 1)
        }

        function test_without_tooltip() {
            const button = makeButton({ imgSource: "images/back.png", marginValue: 4, mouseEnable: true,
                                        showToolTip: false })
            mouseMove(button, button.width / 2, 20)
            tryVerify(() => Qt.colorEqual(button.color, "#a8c7fa"))
            wait(50)
            compare(Helpers.shownToolTips(button).length, 0)
            mouseClick(button)
            compare(clickSpy.count, 1)
        }
    }
}
