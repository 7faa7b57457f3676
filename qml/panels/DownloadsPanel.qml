pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Fenestra

// The downloads of this session. It comes up with each new download and goes
// away with its close button, which also drops the downloads that have ended.
Rectangle {
    id: panel

    // The panel keeps the list of the session's downloads.
    property DownloadList list: DownloadList {}
    property bool shown: false

    function formatSize(bytes) {
        if (bytes < 1024)
            return bytes + " B"
        if (bytes < 1024 * 1024)
            return (bytes / 1024).toFixed(1) + " KB"
        if (bytes < 1024 * 1024 * 1024)
            return (bytes / 1024 / 1024).toFixed(1) + " MB"
        return (bytes / 1024 / 1024 / 1024).toFixed(2) + " GB"
    }

    function statusText(state, received, total) {
        switch (state) {
        case DownloadList.Finished:
            return qsTr("已完成") + "  " + formatSize(received)
        case DownloadList.Cancelled:
            return qsTr("已取消")
        case DownloadList.Failed:
            return qsTr("下载失败")
        }
        return total > 0 ? formatSize(received) + " / " + formatSize(total) : formatSize(received)
    }

    visible: shown && list.count > 0
    width: 400
    height: header.height + listView.height + 8
    radius: 4
    color: "#ffffff"
    border.color: "#b9b9be"

    Connections {
        target: panel.list
        function onDownloadAdded() {
            panel.shown = true
        }
    }

    RowLayout {
        id: header
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 12
        anchors.rightMargin: 4
        height: 36

        Label {
            Layout.fillWidth: true
            font.bold: true
            text: qsTr("下载")
        }
        ToolButton {
            objectName: "downloadsClose"
            text: "✕"
            onClicked: {
                panel.list.clearFinished()
                panel.shown = false
            }
            ToolTip.visible: hovered
            ToolTip.text: qsTr("关闭并清除已结束的下载")
        }
    }

    ListView {
        id: listView
        anchors.top: header.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        height: Math.min(count, 4) * 72
        clip: true
        model: panel.list
        boundsBehavior: Flickable.StopAtBounds

        delegate: Item {
            id: download

            required property int index
            required property string fileName
            required property real receivedBytes
            required property real totalBytes
            required property int downloadState

            width: ListView.view.width
            height: 72

            ColumnLayout {
                anchors.fill: parent
                anchors.leftMargin: 12
                anchors.rightMargin: 12
                anchors.topMargin: 4
                anchors.bottomMargin: 4
                spacing: 2

                Label {
                    Layout.fillWidth: true
                    elide: Text.ElideMiddle
                    text: download.fileName
                    color: download.downloadState === DownloadList.Cancelled || download.downloadState === DownloadList.Failed ? "#80868b" : "#202124"
                }
                ProgressBar {
                    Layout.fillWidth: true
                    visible: download.downloadState === DownloadList.Downloading
                    indeterminate: download.totalBytes <= 0
                    value: download.totalBytes > 0 ? download.receivedBytes / download.totalBytes : 0
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 4

                    Label {
                        Layout.fillWidth: true
                        color: download.downloadState === DownloadList.Failed ? "#c5221f" : "#5f6368"
                        font.pixelSize: 12
                        text: panel.statusText(download.downloadState, download.receivedBytes, download.totalBytes)
                    }
                    Button {
                        visible: download.downloadState === DownloadList.Downloading
                        flat: true
                        text: qsTr("取消")
                        onClicked: panel.list.cancel(download.index)
                    }
                    Button {
                        visible: download.downloadState === DownloadList.Finished
                        flat: true
                        text: qsTr("打开")
                        onClicked: panel.list.openFile(download.index)
                    }
                    Button {
                        visible: download.downloadState === DownloadList.Finished
                        flat: true
                        text: qsTr("打开文件夹")
                        onClicked: panel.list.openFolder(download.index)
                    }
                }
            }
        }
    }
}
