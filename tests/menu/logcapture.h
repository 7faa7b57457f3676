#pragma once

#include <QStringList>

// Records the debug lines of Qt's logging while it lives, and still passes every
// message on. Warnings of the platform (offscreen windows and the like) are left out.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    int count(const QString &line) const { return lines().count(line); }
    void clear();
};
