import QtQuick

// Creates its component the first time something asks for it, so that what the
// first page does not need costs nothing at start-up.
Loader {
    active: false

    function get() {
        active = true
        return item
    }
}
