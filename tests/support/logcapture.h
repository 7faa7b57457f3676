#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QStringList>
#include <QtGlobal>

// Records the debug lines of Qt's logging while it lives, or every line of one
// category, and still passes every message on. Warnings of the platform
// (offscreen windows and the like) are left out.
class LogCapture
{
public:
    LogCapture();
    explicit LogCapture(const QLoggingCategory &category);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Lines may come from other threads, as the updater's stagers log from theirs.
    QStringList lines() const;
    int count(const QString &line) const { return int(lines().count(line)); }
    void clear();

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message);

    bool wants(QtMsgType type, const QMessageLogContext &context) const;

    QByteArray m_category; // empty: debug lines of any category
    LogCapture *m_outer = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};
