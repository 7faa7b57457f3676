import QtQuick
import QtQuick.Controls

Menu {
    id: contextMenu
}
