import QtQuick
import QtQuick.Controls
import QtWebEngine

// The page context menu. Its entries are built afresh for every opening from the
// request of the view that asked for it.
Menu {
    id: contextMenu

    // The context-menu request of the view that opened the menu last.
    property var request: ({})

    function addMenuItem(text, onClicked) {
        const item = menuItemComponent.createObject(contextMenu.contentItem, { "text": text }) as MenuItem
        if (!item)
            return
        item.triggered.connect(onClicked)
        contextMenu.addItem(item)
    }

    // A missing property (the initial empty request) counts as nothing under the pointer.
    function requestText(name) {
        return request.hasOwnProperty(name) ? String(request[name]) : ""
    }

    function updateMenuItems() {
        while (contextMenu.count > 0)
            contextMenu.removeItem(contextMenu.itemAt(0))

        addMenuItem(qsTr("重新加载"), function() { currentView.reload() })

        if (requestText("linkUrl") !== "") {
            addMenuItem(qsTr("复制链接"), function() { menuOpt.copyText(String(request.linkUrl)) })
            addMenuItem(qsTr("在新标签页打开链接"), function() { addTab(qsTr("加载中..."), request.linkUrl) })
        }

        if (requestText("mediaUrl") !== "" && request.mediaType === ContextMenuRequest.MediaTypeImage) {
            addMenuItem(qsTr("复制图片"), function() { menuOpt.copyImage(String(request.mediaUrl)) })
            addMenuItem(qsTr("复制图片地址"), function() { menuOpt.copyText(String(request.mediaUrl)) })
            addMenuItem(qsTr("打开图片"), function() { addTab(qsTr("加载中..."), request.mediaUrl) })
            addMenuItem(qsTr("保存图片"), function() { menuOpt.saveImage(String(request.mediaUrl)) })
        }
    }

    onAboutToShow: updateMenuItems()

    Component {
        id: menuItemComponent

        MenuItem {}
    }
}
