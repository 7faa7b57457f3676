#include "bridge/commandrunner.h"

#include "config/appdir.h"
#include "config/logging.h"

#include <QProcess>
#include <QRegularExpression>

CommandLine commandLineFor(const QString &cmd, const QString &args)
{
    // The system cuts program texts at a NUL: something other than what the
    // page asked for would start.
    if (cmd.contains(QChar(0)) || args.contains(QChar(0))) {
        qCDebug(lcBridge) << "run refused: the program text or its argument contains NUL";
        return {};
    }
    if (!args.isEmpty())
        return { cmd, { args }, AppDir::path() };

    static const QRegularExpression wordAndRest(QStringLiteral("^(\\S+)\\s+(.*)\\z"));
    const QRegularExpressionMatch match = wordAndRest.match(cmd);
    if (!match.hasMatch())
        return { cmd, {}, QString() };

    const QString program = match.captured(1);
    const QString argumentText =
            program == QLatin1String("explorer") ? QStringLiteral(".\\excel\\") : match.captured(2);
    return { program, argumentText.split(QLatin1Char(',')), AppDir::path() };
}

void startDetached(const CommandLine &commandLine)
{
    if (commandLine.program.isEmpty())
        return;
    QProcess::startDetached(commandLine.program, commandLine.arguments, commandLine.workingDirectory);
}
