// A stand-in for the programs that pages start: writes its arguments and working
// directory as JSON into the folder named by ARGRECORDER_DIR, one file per run.
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QJsonObject record { { QStringLiteral("arguments"),
                                 QJsonArray::fromStringList(QCoreApplication::arguments().mid(1)) },
                               { QStringLiteral("workingDirectory"), QDir::currentPath() } };
    QSaveFile file(
            QDir(qEnvironmentVariable("ARGRECORDER_DIR"))
                    .filePath(QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".json")));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QJsonDocument(record).toJson());
    return file.commit() ? 0 : 1;
}
