import QtQuick

Rectangle {
}
