#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QWaitCondition>
#include <QtGlobal>

#include <memory>

class QThread;

// Keeps every line the program logs, with date and time, in a file that IT
// can read: the lines still go where they went before (standard error), and a
// thread of its own appends them to the file, so a slow or full disk never
// holds up the window. At `maxSize` bytes the file rolls over; the newest
// `keptFiles` files stay (fenestra.log, fenestra.log.1, ...). A file that
// cannot be written loses the lines and changes nothing else. The pages' own
// console messages stay out: a page may print anything, its form data included.
class LogFile
{
public:
    static constexpr qint64 maxSize = 1024 * 1024;
    static constexpr int keptFiles = 5;

    // Starts recording into `path` until destroyed. One at a time.
    explicit LogFile(const QString &path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);
    void append(const QString &line);
    void writeLoop();
    // Writes the lines waiting so far, on whichever thread calls it.
    void writePending();
    void rollOver();

    const QString m_path;
    QtMessageHandler m_previous = nullptr;
    std::unique_ptr<QThread> m_thread;
    QMutex m_writeMutex; // one writer at a time, in the lines' order
    QMutex m_mutex; // guards the two below
    QWaitCondition m_wake;
    QStringList m_pending;
    bool m_stopping = false;
};
