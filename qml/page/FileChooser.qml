import QtQuick
import Qt.labs.platform as Platform
import QtWebEngine

// Answers the file chooser requests of pages with the platform's own dialogs,
// starting in the program's folder.
Item {
    id: chooser

    // The folder the dialogs open in, as a plain local path.
    property string startFolder

    // appDir is a plain local path ("C:/Program Files/x", "//server/x" or "/opt/x");
    // the dialogs take their starting folder as a file URL.
    function folderUrl(path) {
        const encoded = path.split("/").map(encodeURIComponent).join("/").replace(/%3A/gi, ":")
        const scheme = path.startsWith("//") ? "file:" : path.startsWith("/") ? "file://" : "file:///"
        return scheme + encoded
    }

    // The dialogs answer with file URLs, while pages are handed local paths: the web
    // engine does not decode a URL's escapes, so a space or a Chinese folder name
    // would otherwise lead to a file that does not exist.
    function localPath(fileUrl) {
        const text = String(fileUrl)
        const path = decodeURIComponent(text.startsWith("file:///") ? text.slice(7) : text.replace(/^file:/, ""))
        return /^\/[A-Za-z]:/.test(path) ? path.slice(1) : path
    }

    // Opens the dialog that fits the request. Unknown modes are left to the web
    // engine's own dialog: the request stays unaccepted.
    function open(request) {
        let dialog = null
        switch (request.mode) {
        case FileDialogRequest.FileModeOpen:
            fileDialog.fileMode = Platform.FileDialog.OpenFile
            dialog = fileDialog
            break
        case FileDialogRequest.FileModeOpenMultiple:
            fileDialog.fileMode = Platform.FileDialog.OpenFiles
            dialog = fileDialog
            break
        case FileDialogRequest.FileModeUploadFolder:
            dialog = folderDialog
            break
        case FileDialogRequest.FileModeSave:
            saveDialog.fileMode = Platform.FileDialog.SaveFile
            dialog = saveDialog
            break
        }
        if (dialog) {
            dialog.request = request
            dialog.open()
        }
        request.accepted = dialog !== null
    }

    Platform.FileDialog {
        id: fileDialog

        property var request: ({})

        title: qsTr("选择文件")
        folder: chooser.folderUrl(chooser.startFolder)
        onAccepted: request.dialogAccept(fileMode === Platform.FileDialog.OpenFiles
                                         ? files.map(chooser.localPath) : [chooser.localPath(file)])
        onRejected: request.dialogReject()
    }

    Platform.FolderDialog {
        id: folderDialog

        property var request: ({})

        title: qsTr("选择文件夹")
        folder: chooser.folderUrl(chooser.startFolder)
        onAccepted: request.dialogAccept([chooser.localPath(folder)])
        onRejected: request.dialogReject()
    }

    Platform.FileDialog {
        id: saveDialog

        property var request: ({})

        title: qsTr("保存文件")
        folder: chooser.folderUrl(chooser.startFolder)
        onAccepted: request.dialogAccept([chooser.localPath(file)])
        onRejected: request.dialogReject()
    }
}
