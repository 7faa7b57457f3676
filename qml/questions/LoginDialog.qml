import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtWebEngine

// User name and password for a site or proxy that asks for HTTP
// authentication, one request at a time for all tabs.
RequestDialog {
    id: dialog

    objectName: "loginDialog"
    title: qsTr("需要登录")

    onRequestShown: {
        userField.text = ""
        passwordField.text = ""
        userField.forceActiveFocus()
    }
    onAccepted: request.dialogAccept(userField.text, passwordField.text)

    GridLayout {
        columns: 2
        rowSpacing: 8
        columnSpacing: 8

        Label {
            Layout.columnSpan: 2
            Layout.maximumWidth: 420
            wrapMode: Text.Wrap
            text: !dialog.request ? ""
                : dialog.request.type === AuthenticationDialogRequest.AuthenticationTypeProxy
                  ? qsTr("代理服务器 %1 要求提供用户名和密码。").arg(dialog.request.proxyHost)
                  : qsTr("%1 要求提供用户名和密码。").arg(dialog.request.url.toString().split("/").slice(0, 3).join("/"))
        }
        Label {
            text: qsTr("用户名")
        }
        TextField {
            id: userField
            objectName: "loginUser"
            Layout.fillWidth: true
            Layout.minimumWidth: 240
            selectByMouse: true
            onAccepted: passwordField.forceActiveFocus()
        }
        Label {
            text: qsTr("密码")
        }
        TextField {
            id: passwordField
            objectName: "loginPassword"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            onAccepted: dialog.accept()
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "loginOk"
            text: qsTr("登录")
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        Button {
            text: qsTr("取消")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }
}
