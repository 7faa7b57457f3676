#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

// Collects what the argument recorder program (argrecorder.cpp) wrote about
// the runs that this process started.
class ArgRecorder
{
public:
    struct Run
    {
        QStringList arguments;
        QString workingDirectory;
    };

    ArgRecorder() { qputenv("ARGRECORDER_DIR", QFile::encodeName(m_dir.path())); }

    static QString program() { return QStringLiteral(FENESTRA_ARGRECORDER); }

    QList<Run> runs() const
    {
        QList<Run> runs;
        const QDir dir(m_dir.path());
        for (const QString &name : dir.entryList({ QStringLiteral("*.json") }, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
            Run run;
            for (const QJsonValue &argument : record.value(QStringLiteral("arguments")).toArray())
                run.arguments << argument.toString();
            run.workingDirectory = record.value(QStringLiteral("workingDirectory")).toString();
            runs << run;
        }
        return runs;
    }

private:
    QTemporaryDir m_dir;
};
