#pragma once

#include <QString>
#include <QStringList>

// How a page's run request becomes a started program.
struct CommandLine
{
    QString program;
    QStringList arguments;
    QString workingDirectory; // empty: the shell's own
};

// Decides what `zx.run(cmd, args)` starts. With `args`, `cmd` is the program
// and `args` its single argument. Without, `cmd` is a word, white space and
// a comma-separated argument list ("explorer" always opens the excel folder
// beside the program); anything else is started whole, without arguments.
// A program started with arguments runs in the application directory. A NUL
// in `cmd` or `args` gives the empty program (nothing starts).
CommandLine commandLineFor(const QString &cmd, const QString &args);

// Starts the program of `commandLine` detached; an empty program starts nothing.
void startDetached(const CommandLine &commandLine);
