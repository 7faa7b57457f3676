#include "sync/codeversionreply.h"

#include <QtTest>

// What the index service's reply body says, read without a network: an answer
// or none, and its values as config.dll will hold them.
class TestCodeVersionReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answer_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("isDomain");
        QTest::addColumn<QString>("codeVersion");

        const QByteArray v2 = "\"data\":{\"is_domain\":\"1\",\"code_version\":\"v2\"}";
        QTest::newRow("return 0") << "{\"return\":0," + v2 + "}" << true << "1"
                                  << "v2";
        QTest::newRow("return \"0\"") << "{\"return\":\"0\"," + v2 + "}" << true << "1"
                                      << "v2";
        QTest::newRow("return missing") << "{" + v2 + "}" << true << "1"
                                        << "v2";
        QTest::newRow("return null") << "{\"return\":null," + v2 + "}" << true << "1"
                                     << "v2";
        QTest::newRow("return 1") << "{\"return\":1," + v2 + "}" << false << ""
                                  << "";
        QTest::newRow("return \"1\"") << "{\"return\":\"1\"," + v2 + "}" << false << ""
                                      << "";
        QTest::newRow("return -3") << "{\"return\":-3," + v2 + "}" << false << ""
                                   << "";
        QTest::newRow("return true") << "{\"return\":true," + v2 + "}" << false << ""
                                     << "";
        QTest::newRow("return beyond 32 bits") << "{\"return\":4294967296," + v2 + "}" << false << ""
                                               << "";
        QTest::newRow("return \"4294967296\"") << "{\"return\":\"4294967296\"," + v2 + "}" << false << ""
                                               << "";

        QTest::newRow("return beyond 64 bits")
                << "{\"return\":18446744073709551616," + v2 + "}" << false << ""
                << "";
        QTest::newRow("return \"18446744073709551616\"")
                << "{\"return\":\"18446744073709551616\"," + v2 + "}" << false << ""
                << "";
        QTest::newRow("return 0.5") << "{\"return\":0.5," + v2 + "}" << false << ""
                                    << "";
        QTest::newRow("return \"abc\"") << "{\"return\":\"abc\"," + v2 + "}" << false << ""
                                        << "";
        QTest::newRow("return an object") << "{\"return\":{}," + v2 + "}" << false << ""
                                          << "";
        QTest::newRow("return \"-0\"") << "{\"return\":\"-0\"," + v2 + "}" << true << "1"
                                       << "v2";
        // config.dll could not be read again with these characters in it.
        QTest::newRow("control character escaped")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"v\\u0001\"}}")
                << false << ""
                << "";
        QTest::newRow("raw NUL in a string")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"v\0x\"}}", 58)
                << false << ""
                << "";
        QTest::newRow("U+FFFF in is_domain")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"\\uffff\",\"code_version\":\"v2\"}}")
                << false << ""
                << "";

        QTest::newRow("data missing") << QByteArray("{\"return\":0}") << true << ""
                                      << "";
        QTest::newRow("data not an object")
                << QByteArray("{\"return\":0,\"data\":[\"1\",\"v2\"]}") << true << ""
                << "";
        QTest::newRow("data without is_domain")
                << QByteArray("{\"return\":0,\"data\":{\"code_version\":\"v2\"}}") << true << ""
                << "v2";
        QTest::newRow("data without code_version")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\"}}") << true << "0"
                << "";
        QTest::newRow("code_version a number")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":12}}") << true
                << "0"
                << "12";
        QTest::newRow("code_version a fraction")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":2.5}}") << true
                << "0"
                << "2.5";
        QTest::newRow("is_domain a number")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":1,\"code_version\":\"v1\"}}") << true
                << "1"
                << "v1";
        QTest::newRow("is_domain a boolean")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":true,\"code_version\":\"v1\"}}") << true
                << "true"
                << "v1";
        QTest::newRow("members beside data ignored")
                << QByteArray("{\"return\":0,\"code_version\":\"v9\",\"data\":{\"is_domain\":\"0\","
                              "\"code_version\":\"v2\",\"app_code\":\"zz\"}}")
                << true << "0"
                << "v2";
        QTest::newRow("case counts") << QByteArray(
                "{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"V1\"}}")
                                     << true << "0"
                                     << "V1";
        QTest::newRow("non-ASCII version")
                << QString::fromUtf8(
                           "{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"版本2\"}}")
                           .toUtf8()
                << true << "0" << QString::fromUtf8("版本2");

        QTest::newRow("empty body") << QByteArray() << false << ""
                                    << "";
        QTest::newRow("top-level array") << "[{\"return\":0," + v2 + "}]" << false << ""
                                         << "";
        QTest::newRow("empty array") << QByteArray("[]") << false << ""
                                     << "";
        QTest::newRow("truncated") << "{\"return\":0," + v2 << false << ""
                                   << "";
        QTest::newRow("bare string") << QByteArray("\"v2\"") << false << ""
                                     << "";
    }

    void answer()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, answered);
        QFETCH(QString, isDomain);
        QFETCH(QString, codeVersion);

        const std::optional<CodeVersionAnswer> answer = codeVersionAnswer(body);
        QCOMPARE(answer.has_value(), answered);
        if (!answered)
            return;
        QCOMPARE(answer->isDomain, isDomain);
        QCOMPARE(answer->codeVersion, codeVersion);
    }
};

QTEST_APPLESS_MAIN(TestCodeVersionReply)
#include "tst_codeversionreply.moc"
