import QtQuick
import QtQuick.Controls

Popup {
}
