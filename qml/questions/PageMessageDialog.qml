import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtWebEngine

// The alert(), confirm() and prompt() boxes of pages and the question before
// leaving a page, one at a time for all tabs.
RequestDialog {
    id: dialog

    readonly property int kind: request ? request.type : JavaScriptDialogRequest.DialogTypeAlert

    objectName: "pageMessageDialog"
    title: kind === JavaScriptDialogRequest.DialogTypeBeforeUnload ? qsTr("要离开此页面吗？") : qsTr("网页消息")

    onRequestShown: {
        input.text = request.defaultText
        if (kind === JavaScriptDialogRequest.DialogTypePrompt)
            input.forceActiveFocus()
    }
    onAccepted: request.dialogAccept(input.text)

    ColumnLayout {
        spacing: 12

        Label {
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
            text: dialog.kind === JavaScriptDialogRequest.DialogTypeBeforeUnload
                  ? qsTr("系统可能不会保存您所做的更改。") : (dialog.request ? dialog.request.message : "")
        }
        TextField {
            id: input
            Layout.fillWidth: true
            visible: dialog.kind === JavaScriptDialogRequest.DialogTypePrompt
            selectByMouse: true
            onAccepted: dialog.accept()
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "dialogOk"
            text: dialog.kind === JavaScriptDialogRequest.DialogTypeBeforeUnload ? qsTr("离开") : qsTr("确定")
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        Button {
            objectName: "dialogCancel"
            visible: dialog.kind !== JavaScriptDialogRequest.DialogTypeAlert
            text: qsTr("取消")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
    }
}
