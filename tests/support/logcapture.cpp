#include "logcapture.h"

#include <QMutex>

namespace {
// The innermost capture; the message handler is a plain function.
LogCapture *current = nullptr;
QMutex linesLock;
} // namespace

LogCapture::LogCapture() : m_outer(current)
{
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::record);
}

LogCapture::LogCapture(const QLoggingCategory &category) : LogCapture()
{
    m_category = category.categoryName();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    current = m_outer;
}

// Every capture alive sees the line; the handler from before the first one passes it on.
void LogCapture::record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *outermost = current;
    for (LogCapture *capture = current; capture; capture = capture->m_outer) {
        if (capture->wants(type, context)) {
            const QMutexLocker locked(&linesLock);
            capture->m_lines.append(message);
        }
        outermost = capture;
    }
    if (outermost->m_previous)
        outermost->m_previous(type, context, message);
}

bool LogCapture::wants(QtMsgType type, const QMessageLogContext &context) const
{
    if (m_category.isEmpty())
        return type == QtDebugMsg;
    return context.category && m_category == context.category;
}

QStringList LogCapture::lines() const
{
    const QMutexLocker locked(&linesLock);
    return m_lines;
}

void LogCapture::clear()
{
    const QMutexLocker locked(&linesLock);
    m_lines.clear();
}
