#include "config/config.h"
#include "config/logging.h"
#include "desktop/logfile.h"
#include "desktop/startupsplash.h"
#include "logcapture.h"
#include "net/mynetwork.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QQuickWindow>
#include <QScreen>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

// Keeps the many lines of a test from standard error while it lives.
class Silence
{
public:
    Silence()
        : m_previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}))
    { }
    ~Silence() { qInstallMessageHandler(m_previous); }

private:
    QtMessageHandler m_previous;
};

const QString logName = QStringLiteral("logs/fenestra.log");

} // namespace

// What the program does as a desktop program around its window: the log file
// that IT reads and the splash of the start-up.
class TestDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void logLinesCarryDateAndTime()
    {
        TemporaryAppDir dir;
        LogCapture passedOn;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        {
            LogFile log(dir.filePath(logName));
            qCDebug(lcStartup).noquote() << "---------urlhttp://10.0.0.5:80/abc/";
            qWarning("网址语法错误!");
            // Detail that IT has not switched on stays out.
            qCDebug(lcUpdate) << "left out";
        }
        // Standard error still gets every line as it was.
        QCOMPARE(passedOn.lines(), QStringList { "---------urlhttp://10.0.0.5:80/abc/" });

        const QStringList lines = QString::fromUtf8(dir.read(logName)).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(2), QString());
        const QStringList expected { "debug fenestra.startup: ---------urlhttp://10.0.0.5:80/abc/",
                                     "warning 网址语法错误!" };
        for (int i = 0; i < 2; ++i) {
            const QDateTime stamp =
                    QDateTime::fromString(lines.at(i).left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            QVERIFY2(stamp >= before && stamp <= QDateTime::currentDateTime(), qPrintable(lines.at(i)));
            QCOMPARE(lines.at(i).mid(24), expected.at(i));
        }
    }

    // About seven files' worth of lines: the oldest go, the newest five files stay,
    // none above the limit, and no line is lost between them.
    void logRollsOverKeepingFiveFiles()
    {
        TemporaryAppDir dir;
        const QString filler(1000, QLatin1Char('x'));
        const int count = 7 * 1024;
        {
            Silence silence;
            LogFile log(dir.filePath(logName));
            for (int i = 0; i < count; ++i)
                qDebug().noquote() << QString::number(i) << filler;
        }

        QDir logs(dir.filePath(QStringLiteral("logs")));
        QCOMPARE(logs.entryList(QDir::Files, QDir::Name),
                 (QStringList { "fenestra.log", "fenestra.log.1", "fenestra.log.2", "fenestra.log.3",
                                "fenestra.log.4" }));
        int next = -1;
        for (const QString name :
             { "fenestra.log.4", "fenestra.log.3", "fenestra.log.2", "fenestra.log.1", "fenestra.log" }) {
            QFile file(logs.filePath(name));
            QVERIFY(file.size() <= LogFile::maxSize);
            QVERIFY(file.size() > LogFile::maxSize - 2048 || name == QLatin1String("fenestra.log"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            while (!file.atEnd()) {
                const int number = file.readLine().mid(24 + 6).split(' ').first().toInt();
                QVERIFY2(next < 0 || number == next, qPrintable(name));
                next = number + 1;
            }
        }
        QCOMPARE(next, count);
    }

    // A "logs" that is a file: no log, and the lines still pass on.
    void unwritableLogsFolderChangesNothingElse()
    {
        TemporaryAppDir dir;
        QVERIFY(dir.write(QStringLiteral("logs"), "not a folder"));
        LogCapture passedOn;
        {
            LogFile log(dir.filePath(logName));
            qDebug("rename failed");
        }
        QCOMPARE(passedOn.lines(), QStringList { "rename failed" });
        QCOMPARE(dir.read(QStringLiteral("logs")), QByteArray("not a folder"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "logs" });
    }

    // The splash is up while the code-version check waits for a slow index
    // service, and goes when the window has shown itself.
    void splashShowsWhileTheIndexServiceIsAwaited()
    {
        TestHttpServer index;
        auto slow = TestHttpServer::Response::text("{\"return\":1}");
        slow.delayMs = 2000;
        index.route("/appindex/index.php", slow);
        QVERIFY(index.listen());
        MyNetwork::getInstance(QStringLiteral("app_index"))
                ->setBaseUrl(index.url("/appindex/index.php").toString());
        TemporaryAppDir dir;
        QVERIFY(dir.write(QStringLiteral("config.dll"),
                          "<hallinfo><server url=\"10.0.0.5\" path=\"erp\"/><web port=\"80\"/></hallinfo>"));
        Config::getInstance()->loadConfig();

        StartupSplash splash;
        QVERIFY(splash.isVisible());
        // What the screen shows of it: the blue card with dark text on it.
        const QImage shown = splash.screen()->grabWindow(splash.winId()).toImage();
        QCOMPARE(shown.size(), QSize(360, 140) * splash.devicePixelRatio());
        QCOMPARE(shown.pixelColor(shown.width() - 4, shown.height() / 2), QColor(0xd3, 0xe3, 0xfd));
        int darkPixels = 0;
        for (int x = 0; x < shown.width(); ++x)
            darkPixels += qGray(shown.pixel(x, shown.height() * 54 / 140)) < 100;
        QVERIFY(darkPixels > 10);
        bool upWhileWaiting = false;
        QTimer::singleShot(1000, &splash, [&] {
            upWhileWaiting = index.requests().size() == 1 && splash.isVisible()
                    && QGuiApplication::topLevelWindows().contains(&splash);
        });
        Config::getInstance()->checkCodeVersion();
        QVERIFY(upWhileWaiting);
        QVERIFY(splash.isVisible());

        QQuickWindow window;
        window.show();
        splash.closeWhenShown(&window);
        QTRY_VERIFY(!splash.isVisible());
    }
};

FENESTRA_TEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
