#pragma once

#include <QStringList>
#include <QtGlobal>

// Records the debug lines of Qt's logging while it lives, and still passes every
// message on. Warnings of the platform (offscreen windows and the like) are left out.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const { return m_lines; }
    int count(const QString &line) const { return int(m_lines.count(line)); }
    void clear() { m_lines.clear(); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message);

    LogCapture *m_outer = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};
