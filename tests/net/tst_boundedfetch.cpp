#include "net/boundedfetch.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QtTest>
#include <QtWebEngineQuick>

using namespace std::chrono_literals;
using Outcome = BoundedFetch::Outcome;
using Response = TestHttpServer::Response;

Q_DECLARE_METATYPE(BoundedFetch::Limits)
Q_DECLARE_METATYPE(TestHttpServer::Response)

namespace {

Response dripped(const QByteArray &body, int intervalMs)
{
    Response response = Response::text(body);
    response.delivery = Response::Delivery::Drip;
    response.dripChunk = 1;
    response.dripIntervalMs = intervalMs;
    return response;
}

Response withoutLength(Response response)
{
    response.sendContentLength = false;
    return response;
}

BoundedFetch::Limits limits(qint64 maxBytes, std::chrono::milliseconds stall, std::chrono::milliseconds total,
                            bool acceptErrorStatus = false)
{
    return { maxBytes, stall, total, acceptErrorStatus };
}

} // namespace

// The one bounded GET of the program: whatever a server does, the fetch ends
// within its bounds with the right verdict, and keeps no body it should not.
class TestBoundedFetch : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    QNetworkAccessManager network;

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.listen()); }

    void bounds_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<BoundedFetch::Limits>("limits");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("body");

        const QByteArray ten = "0123456789";
        QTest::newRow("within every bound")
                << Response::text(ten) << limits(10, 1s, 5s) << Outcome::Done << ten;
        QTest::newRow("no bounds") << Response::text(ten) << limits(-1, 0ms, 0ms) << Outcome::Done << ten;
        QTest::newRow("announced too large")
                << Response::text(ten) << limits(9, 1s, 5s) << Outcome::TooLarge << QByteArray();
        QTest::newRow("too large without a length") << withoutLength(Response::text(ten)) << limits(9, 1s, 5s)
                                                    << Outcome::TooLarge << QByteArray();
        QTest::newRow("exactly the bound without a length")
                << withoutLength(Response::text(ten)) << limits(10, 1s, 5s) << Outcome::Done << ten;
        Response stalled;
        stalled.delivery = Response::Delivery::Stall;
        QTest::newRow("silent server")
                << stalled << limits(10, 300ms, 5s) << Outcome::Stalled << QByteArray();
        // A trickle is no stall, however long it takes...
        QTest::newRow("trickle within the stall")
                << dripped(ten, 60) << limits(10, 300ms, 5s) << Outcome::Done << ten;
        // ...but the whole exchange is bounded too.
        QTest::newRow("trickle past the total")
                << dripped(ten, 100) << limits(10, 300ms, 400ms) << Outcome::TimedOut << QByteArray();
        Response late = Response::text(ten);
        late.delayMs = 600;
        QTest::newRow("answer after the total")
                << late << limits(10, 0ms, 300ms) << Outcome::TimedOut << QByteArray();
        QTest::newRow("error status") << Response::html("<h1>proxy error</h1>", 502) << limits(1000, 1s, 5s)
                                      << Outcome::ErrorStatus << QByteArray();
        QTest::newRow("error status accepted")
                << Response::html("<h1>gone</h1>", 404) << limits(1000, 1s, 5s, true) << Outcome::Done
                << QByteArray("<h1>gone</h1>");
        QTest::newRow("accepted error page too large")
                << Response::html(QByteArray(2000, 'x'), 500) << limits(1000, 1s, 5s, true)
                << Outcome::TooLarge << QByteArray();
        Response dropped = Response::text(QByteArray(64 * 1024, 'y'));
        dropped.delivery = Response::Delivery::DropMidBody;
        QTest::newRow("connection dropped mid-body")
                << dropped << limits(-1, 1s, 5s) << Outcome::NetworkError << QByteArray();
    }

    void bounds()
    {
        QFETCH(Response, response);
        QFETCH(BoundedFetch::Limits, limits);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, body);
        server.route("/answer", response);

        QElapsedTimer clock;
        clock.start();
        BoundedFetch fetch(&network, QNetworkRequest(server.url(QStringLiteral("/answer"))), limits);
        fetch.waitForFinished();
        QCOMPARE(fetch.outcome(), outcome);
        QCOMPARE(fetch.body(), body);
        QCOMPARE(fetch.succeeded(), outcome == Outcome::Done);
        QCOMPARE(fetch.errorString().isEmpty(), outcome == Outcome::Done);
        // No bound is overrun by more than the loop's granularity.
        if (limits.total > 0ms)
            QVERIFY2(clock.elapsed() < limits.total.count() + 1000,
                     qPrintable(QString::number(clock.elapsed())));
    }

    void refusedConnection()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        BoundedFetch fetch(&network, QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port))),
                           limits(10, 1s, 5s));
        fetch.waitForFinished();
        QCOMPARE(fetch.outcome(), Outcome::NetworkError);
        QVERIFY(!fetch.errorString().isEmpty());
        QCOMPARE(fetch.status(), 0);
    }

    // A sink gets the body of an accepted answer piece by piece, and not one
    // byte of an error page: a partial file never takes a proxy's message.
    void sinkSeesOnlyAcceptedBodies_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("sunk");
        QTest::newRow("200") << Response::text("package bytes") << Outcome::Done
                             << QByteArray("package bytes");
        QTest::newRow("206") << Response::text("rest", "application/octet-stream", 206)
                                        .withHeader("Content-Range", "bytes 10-13/14")
                             << Outcome::Done << QByteArray("rest");
        QTest::newRow("404 page") << Response::html("<h1>not here yet</h1>", 404) << Outcome::ErrorStatus
                                  << QByteArray();
        QTest::newRow("503 page") << Response::html("<h1>busy</h1>", 503) << Outcome::ErrorStatus
                                  << QByteArray();
    }

    void sinkSeesOnlyAcceptedBodies()
    {
        QFETCH(Response, response);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, sunk);
        server.route("/package", response);
        QByteArray received;
        BoundedFetch fetch(&network, QNetworkRequest(server.url(QStringLiteral("/package"))),
                           limits(100, 1s, 5s), [&received](QByteArrayView piece) {
                               received.append(piece.data(), piece.size());
                               return true;
                           });
        fetch.waitForFinished();
        QCOMPARE(fetch.outcome(), outcome);
        QCOMPARE(received, sunk);
        QCOMPARE(fetch.body(), QByteArray()); // a sink's body is not kept
        QCOMPARE(fetch.status(), response.status);
    }

    void sinkCanRefuse()
    {
        Response big = Response::text("z");
        big.generatedSize = 64 * 1024 * 1024;
        server.route("/big", big);
        qint64 seen = 0;
        BoundedFetch fetch(&network, QNetworkRequest(server.url(QStringLiteral("/big"))), limits(-1, 1s, 5s),
                           [&seen](QByteArrayView piece) {
                               seen += piece.size();
                               return false;
                           });
        fetch.waitForFinished();
        QCOMPARE(fetch.outcome(), Outcome::Refused);
        QVERIFY(seen > 0 && seen < big.generatedSize);
    }

    void abortEndsAtOnce()
    {
        Response stalled;
        stalled.delivery = Response::Delivery::Stall;
        server.route("/never", stalled);
        BoundedFetch fetch(&network, QNetworkRequest(server.url(QStringLiteral("/never"))),
                           limits(10, 0ms, 0ms));
        QSignalSpy finished(&fetch, &BoundedFetch::finished);
        QTimer::singleShot(100, &fetch, &BoundedFetch::abort);
        fetch.waitForFinished();
        QCOMPARE(fetch.outcome(), Outcome::Aborted);
        QCOMPARE(finished.count(), 1);
        fetch.abort();
        QCOMPARE(finished.count(), 1);
    }
};

FENESTRA_TEST_MAIN(TestBoundedFetch)
#include "tst_boundedfetch.moc"
