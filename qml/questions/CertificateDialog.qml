import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtWebEngine

// A page's server shows a certificate the engine does not trust (a company
// server with its own certificate, say). Going on lets that host through with
// that problem until the program ends; nothing is kept on disk.
RequestDialog {
    id: dialog

    // What is wrong with the certificate, in words a user knows.
    function problem(type) {
        switch (type) {
        case WebEngineCertificateError.CertificateAuthorityInvalid:
            return qsTr("不受信任的证书颁发机构")
        case WebEngineCertificateError.CertificateDateInvalid:
            return qsTr("证书已过期或尚未生效")
        case WebEngineCertificateError.CertificateCommonNameInvalid:
        case WebEngineCertificateError.CertificateNonUniqueName:
            return qsTr("主机名不匹配")
        case WebEngineCertificateError.CertificateRevoked:
            return qsTr("证书已被吊销")
        case WebEngineCertificateError.CertificateWeakSignatureAlgorithm:
        case WebEngineCertificateError.CertificateWeakKey:
            return qsTr("证书的加密强度不足")
        case WebEngineCertificateError.CertificateValidityTooLong:
            return qsTr("证书的有效期过长")
        default:
            return qsTr("证书无效")
        }
    }

    objectName: "certificateDialog"
    title: qsTr("此连接不安全")

    onRequestShown: backButton.forceActiveFocus()
    onAccepted: request.error.acceptCertificate()

    ColumnLayout {
        spacing: 12

        Label {
            objectName: "certificateHost"
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
            font.bold: true
            text: dialog.request ? String(dialog.request.error.url).split("/")[2] : ""
        }
        Label {
            objectName: "certificateProblem"
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
            text: dialog.request ? qsTr("此服务器的安全证书有问题：%1。").arg(dialog.problem(dialog.request.error.type)) : ""
        }
        Label {
            Layout.maximumWidth: 480
            wrapMode: Text.Wrap
            text: qsTr("只有确认这是贵公司自己的服务器时才继续访问，否则他人可能看到或篡改您发送的信息。")
        }
    }

    footer: DialogButtonBox {
        Button {
            id: backButton
            objectName: "certificateBack"
            text: qsTr("返回")
            DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
        }
        Button {
            objectName: "certificateProceed"
            text: qsTr("仍然继续")
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
        }
    }
}
