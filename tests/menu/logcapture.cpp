#include "logcapture.h"

#include <QtGlobal>

namespace {
QStringList recorded;
QtMessageHandler previous = nullptr;

void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        recorded << message;
    if (previous)
        previous(type, context, message);
}
} // namespace

LogCapture::LogCapture()
{
    recorded.clear();
    previous = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

QStringList LogCapture::lines() const
{
    return recorded;
}

void LogCapture::clear()
{
    recorded.clear();
}
