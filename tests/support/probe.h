#pragma once

#include <QObject>
#include <QVariant>

// Receives the results of runJavaScript calls made through the window.
class Probe : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void put(const QVariant &value)
    {
        result = value;
        ++answers;
    }
    QVariant result;
    int answers = 0;
};
