import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/"
import "helpers.js" as Helpers

Item {
    id: root
    width: 700
    height: 200

    readonly property color ground: "#d3e3fd"

    Rectangle {
        id: bar
        width: 700
        height: 40
        color: root.ground
    }

    ListModel {
        id: tabs
    }

    Component {
        id: navBarComponent
        NavBar {
            width: tabs.count * 120
            height: 40
            tabModel: tabs
        }
    }

    SignalSpy {
        id: clickSpy
        signalName: "clickTabBar"
    }

    TestCase {
        id: testCase
        name: "NavBar"
        when: windowShown

        function makeBar(titles, selected) {
            tabs.clear()
            for (const title of titles)
                tabs.append({ "title": title, "url": "about:blank" })
            const navBar = createTemporaryObject(navBarComponent, bar)
            navBar.currentIndex = selected
            clickSpy.clear()
            clickSpy.target = navBar
            mouseMove(root, 650, 150)
            waitForRendering(bar)
            return navBar
        }

        function titles(navBar) {
            const shown = []
            for (let i = 0; i < navBar.count; ++i)
                shown.push(navBar.itemAt(i).contentItem.text)
            return shown
        }

        function pixelIn(tab, x, y) {
            const p = tab.mapToItem(bar, x, y)
            return grabImage(bar).pixel(p.x, p.y)
        }

        function test_tabs_follow_the_model() {
            const navBar = makeBar(["A", "B"], 0)
            compare(titles(navBar), ["A", "B"])
            tabs.append({ "title": "C", "url": "about:blank" })
            tabs.setProperty(0, "title", "Start")
            compare(titles(navBar), ["Start", "B", "C"])
            for (let i = 0; i < navBar.count; ++i) {
                compare(navBar.itemAt(i).width, 120)
                compare(navBar.itemAt(i).height, 40)
            }
        }

        function test_look() {
            const navBar = makeBar(["Selected", "Plain", "Plain too", "Hovered"], 0)
            const selected = navBar.itemAt(0), plain = navBar.itemAt(1), hovered = navBar.itemAt(3)
            mouseMove(hovered, 30, 20)
            tryVerify(() => hovered.hovered)
            waitForRendering(bar)

            verify(Qt.colorEqual(pixelIn(selected, 5, 38), "#ffffff"), "selected tab")
            verify(Qt.colorEqual(pixelIn(plain, 5, 38), root.ground), "plain tab shows the bar")
            verify(Qt.colorEqual(pixelIn(hovered, 5, 38), "#a8c7fa"), "hovered tab")
            // The divider at a plain tab's right edge stops 4 pixels above the bottom.
            verify(Qt.colorEqual(pixelIn(plain, 119, 2), "#a8c7fa"), "divider top")
            verify(Qt.colorEqual(pixelIn(plain, 119, 35), "#a8c7fa"), "divider end")
            verify(Qt.colorEqual(pixelIn(plain, 119, 37), root.ground), "below the divider")
            verify(Qt.colorEqual(pixelIn(plain, 118, 2), root.ground), "divider is one pixel wide")
            verify(Qt.colorEqual(pixelIn(selected, 119, 2), "#ffffff"), "no divider on the selected tab")
            verify(Qt.colorEqual(pixelIn(hovered, 119, 2), "#a8c7fa"), "hovered tab keeps its colour")

            // The close button: a circle at x 99..119, y 10..30, grey under the pointer.
            verify(Qt.colorEqual(pixelIn(hovered, 102, 20), "#a8c7fa"))
            mouseMove(hovered, 109, 20)
            waitForRendering(bar)
            tryVerify(() => Qt.colorEqual(pixelIn(hovered, 102, 20), "#dcdcdd"), 1000, "close button hover")
            verify(Qt.colorEqual(pixelIn(hovered, 100, 11), "#a8c7fa"), "the close button is round")
            verify(hovered.hovered, "the tab stays hovered over its close button")
        }

        function test_long_title_is_elided_but_whole_in_its_tooltip() {
            const title = "Order 2024-0117 front door, three casement windows and a sliding patio door"
            const navBar = makeBar(["Short", title], 0)
            const tab = navBar.itemAt(1)
            verify(tab.contentItem.truncated)
            compare(tab.contentItem.width, 99)
            compare(tab.contentItem.mapToItem(tab, 0, 0).x, 0)
            compare(Helpers.shownToolTips(tab).length, 0)

            mouseMove(tab, 40, 20)
            tryCompare(Helpers.toolTipsBelow(tab)[0], "opened", true)
            const tip = Helpers.shownToolTips(tab)[0]
            compare(tip.tipText, title)
            compare(tip.width, 200)
            // Centred under the title area, its top one pixel above the tab's bottom.
            const box = tip.background.mapToItem(tab, 0, 0)
            compare(box.x + tip.width / 2, 49)
            compare(box.y, 39)

            mouseMove(root, 650, 150)
            tryCompare(tip, "visible", false)
            verify(!Helpers.shownToolTips(navBar.itemAt(0)).length)
        }

        function test_click_selects() {
            const navBar = makeBar(["A", "B", "C"], 0)
            mouseClick(navBar.itemAt(2), 40, 20)
            compare(navBar.currentIndex, 2)
            compare(clickSpy.count, 1)
        }

        function test_close_data() {
            return [
                { tag: "another tab, selection stays", selected: 0, close: 2, left: ["A", "B", "D"], current: "A" },
                { tag: "a tab before the selected one", selected: 2, close: 0, left: ["B", "C", "D"], current: "C" },
                { tag: "the selected tab, left neighbour follows", selected: 2, close: 2, left: ["A", "B", "D"], current: "B" },
                { tag: "the selected last tab", selected: 3, close: 3, left: ["A", "B", "C"], current: "C" },
                { tag: "the selected first tab, the new first follows", selected: 0, close: 0, left: ["B", "C", "D"], current: "B" },
            ]
        }

        function test_close(data) {
            const navBar = makeBar(["A", "B", "C", "D"], data.selected)
            mouseClick(navBar.itemAt(data.close), 109, 20)
            compare(tabs.count, 3)
            compare(titles(navBar), data.left)
            compare(navBar.itemAt(navBar.currentIndex).contentItem.text, data.current)
            compare(clickSpy.count, 0, "a close click is not a tab click")
        }
    }
}
