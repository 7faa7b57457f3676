#pragma once

#include "app/chineselanguage.h"

#include <QString>
#include <QTemporaryDir>

// Runs a test process headless, with HOME and the XDG folders in a fresh
// temporary folder so that no web profile, setting or clipboard content leaks
// between tests or into the machine. Called before the application object exists.
void prepareTestEnvironment();

// The folder that prepareTestEnvironment() made HOME.
QString testHomePath();

// A fresh temporary application directory that the program's paths resolve
// against while the object lives.
class TemporaryAppDir
{
public:
    TemporaryAppDir();
    ~TemporaryAppDir();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &relative) const { return m_dir.filePath(relative); }

    QByteArray read(const QString &relative) const;
    bool write(const QString &relative, const QByteArray &content) const;

private:
    QTemporaryDir m_dir;
};

// QTEST_MAIN for this project's tests: a QApplication that Qt WebEngine can
// run in, in the environment above, speaking the shell's language.
#define FENESTRA_TEST_MAIN(TestObject)                                                                       \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        prepareTestEnvironment();                                                                            \
        QtWebEngineQuick::initialize();                                                                      \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        useChineseLanguage();                                                                                \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
