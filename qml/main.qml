pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtQuick.Layouts
import QtWebEngine
import Fenestra
import "helpers"
import "page"
import "panels"

ApplicationWindow {
    id: window

    // Read again whenever views come or go: closing the selected first tab
    // leaves the index at 0 while the view behind it changes.
    // Whether the tabs of an abnormally ended session have come back.
    property bool tabsRestored: false

    property WebEngineView currentView: webEngineViewRepeater.count > navBar.currentIndex
                                        ? webEngineViewRepeater.itemAt(navBar.currentIndex) as WebEngineView : null

    // `url` may be a url value or text; the model keeps it as text. A tab for a
    // page's new-window `request` has no address of its own (`url` empty): its
    // view, made by the repeater during the append, adopts the request.
    function addTab(title, url, request) {
        tabModel.append(title, String(url))
        navBar.currentIndex = tabModel.count - 1
        if (request)
            request.openIn(webEngineViewRepeater.itemAt(tabModel.count - 1))
    }

    width: 1024
    height: 768
    visible: true
    visibility: Window.Maximized
    title: qsTr("门窗软件管理")

    // config, appDir, menuOpt and adoptsNewWindows are the program's context
    // properties, which qmllint cannot know of.
    Component.onCompleted: addTab(qsTr("加载中..."), Qt.resolvedUrl(AddressRules.withScheme(config.getUrl()))) // qmllint disable unqualified

    TabModel {
        id: tabModel
    }

    // After an abnormal end the other tabs come back, once the first page is there.
    TabSession {
        id: tabSession
        tabs: tabModel
    }

    // The tab the user is on stays selected.
    function restoreTabs() {
        const selected = navBar.currentIndex
        for (const address of tabSession.leftOver)
            addTab(qsTr("加载中..."), address)
        navBar.currentIndex = selected
    }

    // Menus, dialogs and panels come into being when first used; named by
    // address, their documents are not even compiled before.
    OnDemand {
        id: menu
        source: "MenuComponent.qml"
    }

    OnDemand {
        id: fileChooser
        source: "page/FileChooser.qml"
        onLoaded: item.startFolder = appDir // qmllint disable unqualified
    }

    OnDemand {
        id: pagePrinter
        source: "page/Printer.qml"
    }

    OnDemand {
        id: pageMessageDialog
        source: "questions/PageMessageDialog.qml"
    }

    OnDemand {
        id: loginDialog
        source: "questions/LoginDialog.qml"
    }

    WebEngineProfile {
        id: webEngineProfile
        offTheRecord: false
        persistentCookiesPolicy: WebEngineProfile.ForcePersistentCookies
        storageName: "loginInfo"
        // Pages learn the language from here (navigator.language too); the
        // default would name the locale without its region.
        httpAcceptLanguage: "zh-CN,zh;q=0.9"
        onDownloadRequested: function(download) {
            downloads.get().list.accept(download)
        }
        onPresentNotification: function(notification) {
            notificationArea.presenter.present(notification)
        }
        // Pictures behind the login can be copied and saved.
        Component.onCompleted: menuOpt.useCookiesOf(webEngineProfile) // qmllint disable unqualified
    }

    PermissionStore {
        id: permissionStore
        profile: webEngineProfile
    }

    PageActions {
        view: window.currentView
        printer: pagePrinter
        window: window
    }

    Shortcut {
        sequence: "F5"
        onActivated: window.currentView.reload()
    }

    Rectangle {
        id: topRect
        anchors.top: parent.top
        anchors.left: parent.left
        width: window.width
        height: 40
        color: "#d3e3fd"

        Row {
            id: row

            // Room of everything but the strip and its scroll buttons: the three
            // navigation buttons, the two buttons on the right and the separators.
            property int baseWidth: Math.floor(3 * backBtn.width + 2 * updateBtn.width + 2)
            property int flickableWidth: Math.floor(width - baseWidth - (leftSlide.visible ? 2 * leftSlide.width : 0))

            width: topRect.width
            height: topRect.height
            spacing: 0

            NavBtn {
                id: backBtn
                imgSource: "images/back.png"
                btnText: qsTr("后退")
                marginValue: 10
                mouseEnable: window.currentView ? window.currentView.canGoBack : false
                onBtnClick: if (window.currentView && window.currentView.canGoBack) window.currentView.goBack()
            }

            NavBtn {
                imgSource: "images/back.png"
                btnText: qsTr("前进")
                marginValue: 10
                rotate: 180
                mouseEnable: window.currentView ? window.currentView.canGoForward : false
                onBtnClick: if (window.currentView && window.currentView.canGoForward) window.currentView.goForward()
            }

            NavBtn {
                imgSource: "images/loading.png"
                btnText: qsTr("刷新")
                marginValue: 10
                mouseEnable: true
                onBtnClick: if (window.currentView) window.currentView.reload()
            }

            NavBtn {
                id: leftSlide
                imgSource: "images/back.png"
                marginValue: 4
                mouseEnable: true
                showToolTip: false
                visible: navBar.width > row.width - row.baseWidth
                onBtnClick: flickable.contentX = Math.max(0, flickable.contentX - 50)
            }

            Rectangle {
                width: 1
                height: row.height
                color: "#b9b9be"
            }

            Flickable {
                id: flickable
                width: row.flickableWidth
                height: row.height
                contentWidth: navBar.width
                interactive: false
                clip: true

                NavBar {
                    id: navBar
                    width: tabModel ? tabModel.count * 120 : 0
                    height: flickable.height

                    // Here a plain `tabModel` names the strip's own property; the
                    // binding's value is looked up from the window instead.
                    Binding on tabModel {
                        value: tabModel
                    }

                    onClickTabBar: {}
                    // A tab added or removed while the strip overflows moves the view
                    // a step to the right, never past the end.
                    onWidthChanged: {
                        if (width > flickable.width)
                            flickable.contentX = Math.min(width - flickable.width, flickable.contentX + 100)
                    }
                }
            }

            Rectangle {
                width: 1
                height: row.height
                color: "#b9b9be"
            }

            NavBtn {
                id: rightSlide
                imgSource: "images/back.png"
                marginValue: 4
                rotate: 180
                mouseEnable: true
                showToolTip: false
                visible: navBar.width > row.width - row.baseWidth
                onBtnClick: flickable.contentX = Math.min(navBar.width - flickable.width, flickable.contentX + 50)
            }

            NavBtn {
                id: updateBtn
                btnText: qsTr("更新")
                marginValue: 8
                mouseEnable: true
            }

            NavBtn {
                btnText: qsTr("备注")
                marginValue: 8
                mouseEnable: true
            }
        }
    }

    Rectangle {
        anchors.top: topRect.bottom
        width: window.width
        height: 1
        color: "#b9b9be"
    }

    StackLayout {
        id: stackLayout
        anchors.bottom: parent.bottom
        width: window.width
        height: window.currentView && window.currentView.isFullScreen ? window.height : window.height - 41
        currentIndex: navBar.currentIndex

        Repeater {
            id: webEngineViewRepeater
            model: tabModel

            PageView {
                required property var model
                required property int index

                url: model.url
                profile: webEngineProfile
                contextMenu: menu
                fileDialogs: fileChooser
                printer: pagePrinter
                messageDialog: pageMessageDialog
                authenticationDialog: loginDialog
                certificateDialog: certificateQuestion
                permissionDialog: permissionQuestion
                permissions: permissionStore
                onTabTitleChanged: tabModel.setTitle(index, tabTitle)
                onUrlChanged: tabModel.setAddress(index, url)
                onLoadingChanged: function(loadingInfo) {
                    if (index === 0 && !window.tabsRestored && loadingInfo.status !== WebEngineView.LoadStartedStatus) {
                        window.tabsRestored = true
                        Qt.callLater(window.restoreTabs)
                    }
                }
                onPopupRequested: function(request) {
                    if (adoptsNewWindows) // qmllint disable unqualified
                        window.addTab(qsTr("加载中..."), "", request)
                    else
                        window.addTab(qsTr("加载中..."), request.requestedUrl)
                }
            }
        }
    }

    OnDemand {
        id: findBar
        anchors.top: topRect.bottom
        anchors.right: parent.right
        anchors.topMargin: 8
        anchors.rightMargin: 24
        source: "panels/FindBar.qml"
        onLoaded: item.view = Qt.binding(() => window.currentView)
    }

    // Until the find bar exists, its keys create and open it; then it answers them itself.
    Shortcut {
        sequences: ["Ctrl+F", "F3", "Shift+F3"]
        enabled: !findBar.active
        onActivated: findBar.get().open()
    }

    OnDemand {
        id: downloads
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        anchors.margins: 16
        source: "panels/DownloadsPanel.qml"
    }

    // Made when a page first asks.
    OnDemand {
        id: certificateQuestion
        source: "questions/CertificateDialog.qml"
    }
    OnDemand {
        id: permissionQuestion
        source: "questions/PermissionDialog.qml"
    }

    NotificationArea {
        id: notificationArea
        views: webEngineViewRepeater
        selected: navBar.currentIndex
        anchors.top: topRect.bottom
        anchors.right: parent.right
        anchors.margins: 16
        onTabWanted: function(index) {
            if (index >= 0)
                navBar.currentIndex = index
            window.raise()
            window.requestActivate()
        }
    }
}
