#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// HOME and the XDG folders in a fresh temporary folder that goes with this
// object, so that no web profile, setting, lock or clipboard content of one run
// leaks into the next or into the machine. The scripts' isolate_home does the
// same for the programs they start.
class IsolatedHome
{
public:
    IsolatedHome();

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

    // `base` with HOME, the XDG folders and TMPDIR pointing here, for a program
    // to start: the lock and local socket that a killed program leaves go with
    // the home too.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;
    // Points this process's HOME and XDG folders here. TMPDIR stays: the
    // process removes its own temporary files.
    void enter() const;

private:
    QString folder(const char *variable) const;

    QTemporaryDir m_dir;
};
