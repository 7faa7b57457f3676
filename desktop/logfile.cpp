#include "desktop/logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

LogFile *current = nullptr;

const char *typeName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "";
}

} // namespace

LogFile::LogFile(const QString &path) : m_path(path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_thread.reset(QThread::create([this] { writeLoop(); }));
    m_thread->start(QThread::LowPriority);
    current = this;
    m_previous = qInstallMessageHandler(&LogFile::handle);
}

LogFile::~LogFile()
{
    qInstallMessageHandler(m_previous);
    current = nullptr;
    {
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
    }
    m_wake.wakeOne();
    m_thread->wait();
}

void LogFile::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogFile *log = current;
    if (log && qstrcmp(context.category, "js") != 0) {
        // The program's own lines name their room, so IT can tell them apart and
        // knows which QT_LOGGING_RULES switch gives more of them.
        const bool named = context.category && qstrcmp(context.category, "default") != 0;
        log->append(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "))
                    + QLatin1String(typeName(type)) + QLatin1Char(' ')
                    + (named ? QLatin1String(context.category) + QLatin1String(": ") : QString()) + message);
        // The program ends right after a fatal message: its line has to be on disk first.
        if (type == QtFatalMsg)
            log->writePending();
    }
    if (log && log->m_previous)
        log->m_previous(type, context, message);
}

void LogFile::append(const QString &line)
{
    {
        QMutexLocker locker(&m_mutex);
        m_pending.append(line);
    }
    m_wake.wakeOne();
}

void LogFile::writeLoop()
{
    for (;;) {
        {
            QMutexLocker locker(&m_mutex);
            if (m_pending.isEmpty() && !m_stopping)
                m_wake.wait(&m_mutex);
            if (m_pending.isEmpty() && m_stopping)
                return;
        }
        writePending();
    }
}

void LogFile::writePending()
{
    QMutexLocker writing(&m_writeMutex);
    QStringList lines;
    {
        QMutexLocker locker(&m_mutex);
        lines = std::exchange(m_pending, {});
    }
    if (lines.isEmpty())
        return;

    QFile file(m_path);
    const auto open = [&file] { return file.open(QIODevice::WriteOnly | QIODevice::Append); };
    if (!open())
        return;
    qint64 size = file.size();
    for (const QString &line : lines) {
        const QByteArray text = line.toUtf8() + '\n';
        if (size > 0 && size + text.size() > maxSize) {
            file.close();
            rollOver();
            if (!open())
                return;
            size = 0;
        }
        size += qMax<qint64>(0, file.write(text));
    }
}

void LogFile::rollOver()
{
    const auto numbered = [this](int n) {
        return n == 0 ? m_path : m_path + QLatin1Char('.') + QString::number(n);
    };
    QFile::remove(numbered(keptFiles - 1));
    for (int n = keptFiles - 2; n >= 0; --n)
        QFile::rename(numbered(n), numbered(n + 1));
}
