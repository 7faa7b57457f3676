import QtQuick
import QtQuick.Controls

// A modal dialog that answers the requests pages raise, one at a time for all
// tabs: a request that comes while another is shown waits its turn.
Dialog {
    id: dialog

    property var request: null
    property var waiting: []

    // The next request is about to show; fill the fields for it.
    signal requestShown()

    // Takes over a view's dialog request.
    function ask(newRequest) {
        newRequest.accepted = true
        waiting.push(newRequest)
        if (!request)
            showNext()
    }

    // A tab that closes refuses what it still asks; its page is going away.
    function forget(view) {
        const leaving = waiting.filter(function(waitingRequest) { return waitingRequest.view === view })
        waiting = waiting.filter(function(waitingRequest) { return waitingRequest.view !== view })
        leaving.forEach(function(leavingRequest) { leavingRequest.dialogReject() })
        if (request && request.view === view)
            reject()
    }

    function showNext() {
        request = waiting.length > 0 ? waiting.shift() : null
        if (!request)
            return
        open()
        requestShown()
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    closePolicy: Popup.CloseOnEscape

    onRejected: request.dialogReject()
    onClosed: {
        request = null
        Qt.callLater(showNext)
    }
}
