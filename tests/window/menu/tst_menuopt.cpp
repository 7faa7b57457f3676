#include "bridge/menuopt.h"
#include "bridge/profilecookiejar.h"
#include "config/appdir.h"
#include "filedialoguser.h"
#include "logcapture.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QQuickWebEngineProfile>
#include <QSignalSpy>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

const QString downloaded = QStringLiteral("Image downloaded successfully!");
const QString copied = QStringLiteral("The image has been copied to the clipboard!");
const QString refused = QStringLiteral("The same image is being downloaded. Please try again later!");
const QString savedTo = QStringLiteral("The image has been saved to: ");

// A small picture whose every pixel differs, so that a swapped or re-encoded
// copy cannot pass for it.
QImage picture(QRgb tint)
{
    QImage image(13, 7, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           qRgb((qRed(tint) + x * 17) % 256, (qGreen(tint) + y * 31) % 256, qBlue(tint)));
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

TestHttpServer::Response imageResponse(const QImage &image, int status = 200)
{
    return TestHttpServer::Response::text(encoded(image, "png"), "image/png", status);
}

QImage comparable(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

// Catches what the program asks the desktop to open as a local file.
class FileOpener : public QObject
{
    Q_OBJECT

public:
    FileOpener() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~FileOpener() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

} // namespace

class TestMenuOpt : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    QClipboard *clipboard = QGuiApplication::clipboard();

    // Waits until `count` downloads of `menuOpt` have finished and been handled.
    static bool waitForReplies(QSignalSpy &finished, int count)
    {
        return QTest::qWaitFor([&] { return finished.count() >= count; }, 10000);
    }

    static QSignalSpy *repliesOf(MenuOpt &menuOpt)
    {
        return new QSignalSpy(menuOpt.findChild<QNetworkAccessManager *>(), &QNetworkAccessManager::finished);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.route("/red.png", imageResponse(picture(qRgb(200, 0, 0))));
        server.route("/blue.png", imageResponse(picture(qRgb(0, 0, 220))));
        TestHttpServer::Response slow = imageResponse(picture(qRgb(0, 150, 0)));
        slow.delayMs = 600;
        server.route("/slow.png", slow);
        server.route("/gone.png", imageResponse(picture(qRgb(9, 9, 9)), 404));
        server.route("/page.png", TestHttpServer::Response::html("<html><body>not a picture</body></html>"));
    }

    void init()
    {
        server.clearRequests();
        clipboard->setText(QStringLiteral("before"));
    }

    void copyTextTakesAnyText()
    {
        MenuOpt menuOpt;
        menuOpt.copyText(QStringLiteral("http://example.test/a b?c=d"));
        QCOMPARE(clipboard->text(), QStringLiteral("http://example.test/a b?c=d"));
        menuOpt.copyText(QString());
        QCOMPARE(clipboard->text(), QString());
    }

    void copiedImageReachesTheClipboard()
    {
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        QSignalSpy changes(clipboard, &QClipboard::dataChanged);
        LogCapture log;

        menuOpt.copyImage(server.url(QStringLiteral("/red.png")).toString());
        QVERIFY(waitForReplies(*finished, 1));

        QCOMPARE(changes.count(), 1);
        QCOMPARE(comparable(clipboard->image()), picture(qRgb(200, 0, 0)));
        QCOMPARE(log.lines(), QStringList({ downloaded, copied }));
    }

    void failedDownloadLeavesClipboardAlone_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("error status with a picture body")
                << server.url(QStringLiteral("/gone.png")).toString();
        QTest::newRow("page instead of picture") << server.url(QStringLiteral("/page.png")).toString();
        QTest::newRow("nobody listening") << QStringLiteral("http://127.0.0.1:1/red.png");
        QTest::newRow("unsupported scheme") << QStringLiteral("gopher://127.0.0.1/red.png");
    }

    void failedDownloadLeavesClipboardAlone()
    {
        QFETCH(QString, address);
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        QSignalSpy changes(clipboard, &QClipboard::dataChanged);
        LogCapture log;

        menuOpt.copyImage(address);
        QVERIFY(waitForReplies(*finished, 1));
        QCoreApplication::processEvents();

        QCOMPARE(changes.count(), 0);
        QCOMPARE(clipboard->text(), QStringLiteral("before"));
        QCOMPARE(log.lines(), QStringList());

        // The failure ended the download, so the address is fetched anew.
        menuOpt.copyImage(address);
        QVERIFY(waitForReplies(*finished, 2));
        QCOMPARE(log.lines(), QStringList());
    }

    // A picture that is too large or never completes is given up, says why, and
    // its address can be fetched again at once.
    void unboundedPictureIsGivenUp_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("timeLimitMs");
        QTest::addColumn<QString>("reason");

        QTest::newRow("announced beyond 64 MiB") << QByteArray("/huge.png") << 60000 << "larger than 64 MiB:";
        QTest::newRow("unannounced beyond 64 MiB")
                << QByteArray("/endless.png") << 60000 << "larger than 64 MiB:";
        QTest::newRow("stalled") << QByteArray("/stalled.png") << 400 << "not complete after 400 ms:";
    }

    void unboundedPictureIsGivenUp()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, timeLimitMs);
        QFETCH(QString, reason);
        TestHttpServer::Response huge = imageResponse(picture(qRgb(1, 2, 3)));
        huge.generatedSize = MenuOpt::maxImageSize + 1;
        server.route("/huge.png", huge);
        huge.sendContentLength = false;
        server.route("/endless.png", huge);
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        server.route("/stalled.png", stalled);

        MenuOpt menuOpt;
        menuOpt.setTransferTimeLimit(std::chrono::milliseconds(timeLimitMs));
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        QSignalSpy changes(clipboard, &QClipboard::dataChanged);
        LogCapture log;
        const QString address = server.url(QString::fromLatin1(path)).toString();

        menuOpt.copyImage(address);
        QVERIFY(waitForReplies(*finished, 1));
        QCOMPARE(log.lines(),
                 QStringList { QStringLiteral("Image download stopped: %1 %2").arg(reason, address) });
        QCOMPARE(changes.count(), 0);

        menuOpt.copyImage(address);
        QVERIFY(waitForReplies(*finished, 2));
        QCOMPARE(server.requestsFor(path).count(), 2);
        QVERIFY(!log.lines().contains(refused));
    }

    void sameAddressInFlightIsRefused()
    {
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        QSignalSpy changes(clipboard, &QClipboard::dataChanged);
        FileDialogUser user(QStringLiteral("never.png"));
        LogCapture log;
        const QString address = server.url(QStringLiteral("/slow.png")).toString();

        menuOpt.copyImage(address);
        menuOpt.copyImage(address);
        QCOMPARE(log.lines(), QStringList({ refused }));
        // A save of the picture being copied is refused the same way.
        menuOpt.saveImage(address);
        QCOMPARE(log.count(refused), 2);

        QVERIFY(waitForReplies(*finished, 1));
        QTest::qWait(100);
        QCOMPARE(finished->count(), 1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(user.shown, 0);
        QCOMPARE(server.requestsFor("/slow.png").count(), 1);
        QCOMPARE(comparable(clipboard->image()), picture(qRgb(0, 150, 0)));
        QCOMPARE(log.lines(), QStringList({ refused, refused, downloaded, copied }));

        // Once it has arrived, the same address is fetched again, not refused.
        log.clear();
        menuOpt.copyImage(address);
        QVERIFY(waitForReplies(*finished, 2));
        QCOMPARE(server.requestsFor("/slow.png").count(), 2);
        QCOMPARE(log.lines(), QStringList({ downloaded, copied }));
    }

    void overlappingDownloadsKeepTheirOwnPictureAndAction()
    {
        TemporaryAppDir appDir;
        FileOpener opener;
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        QSignalSpy changes(clipboard, &QClipboard::dataChanged);
        LogCapture log;
        // The slow copy arrives while the save dialog of the other picture is open.
        FileDialogUser user(QStringLiteral("blue.png"), [&] { return changes.count() == 1; });
        menuOpt.copyImage(server.url(QStringLiteral("/slow.png")).toString());
        menuOpt.saveImage(server.url(QStringLiteral("/blue.png")).toString());

        QVERIFY(waitForReplies(*finished, 2));
        QTRY_COMPARE(opener.opened.count(), 1);
        QCOMPARE(user.shown, 1);
        QCOMPARE(comparable(clipboard->image()), picture(qRgb(0, 150, 0)));
        const QString saved = appDir.filePath(QStringLiteral("下载/blue.png"));
        QCOMPARE(comparable(QImage(saved)), picture(qRgb(0, 0, 220)));
        QCOMPARE(log.count(copied), 1);
        QCOMPARE(log.count(savedTo + saved), 1);
    }

    void savingFollowsTheTypedSuffix_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format"); // empty: nothing is saved
        QTest::newRow("png") << QStringLiteral("a.png") << QByteArray("png");
        QTest::newRow("PNG in capitals") << QStringLiteral("b.PNG") << QByteArray("png");
        QTest::newRow("jpg") << QStringLiteral("c.jpg") << QByteArray("jpeg");
        QTest::newRow("bmp") << QStringLiteral("d.bmp") << QByteArray("bmp");
        QTest::newRow("jpeg") << QStringLiteral("e.jpeg") << QByteArray();
        QTest::newRow("no suffix") << QStringLiteral("f") << QByteArray();
    }

    void savingFollowsTheTypedSuffix()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        TemporaryAppDir appDir;
        FileOpener opener;
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        FileDialogUser user(name);
        LogCapture log;

        menuOpt.saveImage(server.url(QStringLiteral("/red.png")).toString());
        QVERIFY(waitForReplies(*finished, 1));
        QCOMPARE(user.shown, 1);

        const QString folder = appDir.filePath(QStringLiteral("下载"));
        const QString path = folder + QLatin1Char('/') + name;
        if (format.isEmpty()) {
            QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
            QCOMPARE(log.lines(), QStringList({ downloaded }));
            QCOMPARE(opener.opened, QList<QUrl>());
            return;
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({ name }));
        QImageReader reader(path);
        QCOMPARE(reader.format(), format);
        const QImage saved = reader.read();
        QCOMPARE(saved.size(), QSize(13, 7));
        if (format != "jpeg")
            QCOMPARE(comparable(saved), picture(qRgb(200, 0, 0)));
        QCOMPARE(log.lines(), QStringList({ downloaded, savedTo + path }));
        QCOMPARE(opener.opened, QList<QUrl>({ QUrl::fromLocalFile(folder) }));
    }

    void saveDialogProposesAFolder_data()
    {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("download folder creatable") << false;
        QTest::newRow("download folder blocked by a file") << true;
    }

    void saveDialogProposesAFolder()
    {
        QFETCH(bool, blocked);
        TemporaryAppDir appDir;
        // Nested below a missing folder, so that the whole chain has to be made.
        AppDir::setPath(appDir.filePath(QStringLiteral("program/bin")));
        if (blocked)
            QVERIFY(appDir.write(QStringLiteral("program/bin/下载"), "a file, not a folder"));
        FileOpener opener;
        MenuOpt menuOpt;
        QScopedPointer<QSignalSpy> finished(repliesOf(menuOpt));
        FileDialogUser user { QString() };
        LogCapture log;

        menuOpt.saveImage(server.url(QStringLiteral("/red.png")).toString());
        QVERIFY(waitForReplies(*finished, 1));

        QCOMPARE(user.shown, 1);
        QCOMPARE(user.seen.title, QStringLiteral("保存图片"));
        QCOMPARE(user.seen.name, QStringLiteral("image.png"));
        QCOMPARE(user.seen.filters, QStringList({ QStringLiteral("Images (*.png *.jpg *.bmp)") }));
        // Qt's dialog speaks the shell's language around the Chinese title.
        QVERIFY2(user.seen.fileNameLabel.contains(QStringLiteral("文件名")),
                 qPrintable(user.seen.fileNameLabel));
        QVERIFY2(user.seen.acceptLabel.contains(QStringLiteral("保存")), qPrintable(user.seen.acceptLabel));
        const QString expected =
                blocked ? QDir::homePath() : appDir.filePath(QStringLiteral("program/bin/下载"));
        QCOMPARE(user.seen.folder, expected);
        QCOMPARE(QFileInfo(expected).isDir(), true);
        // Cancelled: nothing written, nothing opened, nothing said.
        QCOMPARE(QDir(expected).entryList(QDir::Files), QStringList());
        QCOMPARE(opener.opened, QList<QUrl>());
        QCOMPARE(log.lines(), QStringList({ downloaded }));
    }

    // What the menu's cookies start from: the file the last start left in the
    // profile's folder, read the way the profile keeps its own cookies.
    void keptCookiesFollowTheProfile_data()
    {
        QTest::addColumn<QQuickWebEngineProfile::PersistentCookiesPolicy>("policy");
        QTest::addColumn<bool>("offTheRecord");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("kept");
        const QByteArray session = "sid=1; HttpOnly; domain=127.0.0.1; path=/\n";
        const QByteArray lasting = "sid=1; expires=Fri, 01-Jan-2100 00:00:00 GMT; domain=127.0.0.1; path=/\n";
        const QByteArray expired = "sid=1; expires=Thu, 01-Jan-2015 00:00:00 GMT; domain=127.0.0.1; path=/\n";
        using P = QQuickWebEngineProfile;
        QTest::newRow("session cookie, kept by the profile")
                << P::ForcePersistentCookies << false << session << true;
        QTest::newRow("session cookie, dropped by the profile")
                << P::AllowPersistentCookies << false << session << false;
        QTest::newRow("lasting cookie") << P::AllowPersistentCookies << false << lasting << true;
        QTest::newRow("expired cookie") << P::ForcePersistentCookies << false << expired << false;
        QTest::newRow("profile keeping no cookies") << P::NoPersistentCookies << false << lasting << false;
        QTest::newRow("off-the-record profile") << P::ForcePersistentCookies << true << lasting << false;
        QTest::newRow("file past its bound")
                << P::ForcePersistentCookies << false
                << QByteArray(ProfileCookieJar::maxFileSize, ' ') + '\n' + lasting << false;
    }

    void keptCookiesFollowTheProfile()
    {
        QFETCH(QQuickWebEngineProfile::PersistentCookiesPolicy, policy);
        QFETCH(bool, offTheRecord);
        QFETCH(QByteArray, file);
        QFETCH(bool, kept);
        // The engine writes into the folder even after the profile is gone: it
        // lies in the test's home, which goes once the engine has ended.
        const QDir folder(testHomePath() + QStringLiteral("/kept cookies/") + QTest::currentDataTag());
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QQuickWebEngineProfile profile;
        profile.setStorageName(QStringLiteral("kept"));
        profile.setPersistentStoragePath(folder.path());
        profile.setOffTheRecord(offTheRecord);
        profile.setPersistentCookiesPolicy(policy);
        QFile stored(folder.filePath(ProfileCookieJar::fileName()));
        QVERIFY(stored.open(QIODevice::WriteOnly) && stored.write(file) == file.size());
        stored.close();

        const ProfileCookieJar jar(&profile);
        QCOMPARE(jar.cookiesForUrl(QUrl(QStringLiteral("http://127.0.0.1/a.png"))).size(), kept ? 1 : 0);
    }

    void singleInstance()
    {
        MenuOpt *first = MenuOpt::getInstance();
        QVERIFY(first);
        QCOMPARE(MenuOpt::getInstance(), first);
        QCOMPARE(first->parent(), nullptr);
    }
};

FENESTRA_TEST_MAIN(TestMenuOpt)

#include "tst_menuopt.moc"
