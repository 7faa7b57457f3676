#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the debug lines the code under test writes while the object lives.
// Every message still reaches the handler that was installed before.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QStringList debugLines() const { return m_lines; }
    int count(const QString &line) const { return int(m_lines.count(line)); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg)
            s_current->m_lines.append(message);
        if (s_current->m_previous)
            s_current->m_previous(type, context, message);
    }

    static inline MessageCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};
