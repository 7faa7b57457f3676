import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A page asks to use something of the computer: notifications, the location,
// the camera or microphone, the screen, the clipboard. Closing the question
// refuses this once; only an answer given with 记住此选择 is kept.
RequestDialog {
    id: dialog

    readonly property var wishes: ({
        "notifications": qsTr("显示通知"),
        "geolocation": qsTr("获取您的位置"),
        "camera": qsTr("使用您的摄像头"),
        "microphone": qsTr("使用您的麦克风"),
        "camera-microphone": qsTr("使用您的摄像头和麦克风"),
        "screen": qsTr("共享您的屏幕"),
        "screen-audio": qsTr("共享您的屏幕和声音"),
        "clipboard-read": qsTr("读取剪贴板中的内容")
    })

    objectName: "permissionDialog"
    title: qsTr("网页请求权限")

    onRequestShown: keepBox.checked = false
    onAccepted: request.answer(true, keepBox.checked)

    ColumnLayout {
        spacing: 12

        Label {
            objectName: "permissionQuestion"
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
            text: dialog.request ? qsTr("%1 想要%2。").arg(String(dialog.request.origin).split("/")[2])
                                                     .arg(dialog.wishes[dialog.request.feature]) : ""
        }
        CheckBox {
            id: keepBox
            objectName: "permissionKeep"
            text: qsTr("记住此选择")
        }
    }

    footer: DialogButtonBox {
        Button {
            objectName: "permissionAllow"
            text: qsTr("允许")
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
        Button {
            objectName: "permissionDeny"
            text: qsTr("拒绝")
            onClicked: {
                dialog.request.answer(false, keepBox.checked)
                dialog.close()
            }
        }
    }
}
