import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Fenestra

// Stands in for a page that could not be loaded: what happened, the address,
// and for the company's own server the address the program is set up with.
Rectangle {
    id: errorPage

    // The tab's view; its `failure` holds the load that failed.
    property var view
    readonly property var failure: view ? view.failure : null
    // config is the program's context property, which qmllint cannot know of.
    readonly property string startAddress: AddressRules.withScheme(config.getUrl()) // qmllint disable unqualified

    objectName: "loadErrorPage"
    color: "#f8f9fa"

    // The engine's page underneath takes no clicks.
    MouseArea {
        anchors.fill: parent
    }

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 640)
        spacing: 12

        Label {
            font.pixelSize: 22
            text: qsTr("无法打开此页面")
        }
        Label {
            objectName: "errorReason"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: errorPage.failure ? LoadFailure.describe(errorPage.failure.domain, errorPage.failure.code) : ""
        }
        Label {
            objectName: "errorAddress"
            Layout.fillWidth: true
            wrapMode: Text.WrapAnywhere
            color: "#5f6368"
            text: errorPage.failure ? qsTr("地址：") + errorPage.failure.address : ""
        }
        Label {
            objectName: "errorServer"
            Layout.fillWidth: true
            wrapMode: Text.WrapAnywhere
            color: "#5f6368"
            visible: errorPage.failure !== null && AddressRules.isSameServer(errorPage.failure.address, errorPage.startAddress)
            text: qsTr("本程序设置的公司服务器：") + errorPage.startAddress + "\n"
                  + qsTr("如果问题持续，请把此页内容告知贵公司的信息技术人员。")
        }
        Label {
            objectName: "errorRetry"
            visible: text !== ""
            color: "#5f6368"
            text: errorPage.view ? errorPage.view.retryNotice : ""
        }
        Button {
            objectName: "errorReload"
            text: qsTr("重新加载")
            onClicked: errorPage.view.reload()
        }
    }
}
