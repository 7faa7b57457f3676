#include "logcapture.h"

namespace {
// The innermost capture; the message handler is a plain function.
LogCapture *current = nullptr;
} // namespace

LogCapture::LogCapture() : m_outer(current)
{
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::record);
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
        if (type == QtDebugMsg)
            capture->m_lines.append(message);
        outermost = capture;
    }
    if (outermost->m_previous)
        outermost->m_previous(type, context, message);
}
