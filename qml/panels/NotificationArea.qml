import QtQuick
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

        // A document of its own, handed the presenter: written here, it would reach
        // the presenter by an outer id, which takes bound components, and Qt 6.4's
        // Loader cannot make those.
        Component.onCompleted: setSource("NotificationNotice.qml", { "presenter": presenter })
    }
}
