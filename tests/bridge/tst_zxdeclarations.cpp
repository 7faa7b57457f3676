#include "bridge/zxjavascript.h"

#include <QFile>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

// The declarations that web developers type-check their pages with must name
// exactly what the bridge object offers: a call declared but missing fails
// only inside the shell, a method without declaration cannot be used.

namespace {

// The text without /* */ and // comments; quoted texts are kept whole.
QString withoutComments(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            const qsizetype end = text.indexOf(c, i + 1);
            const qsizetype last = end < 0 ? text.size() - 1 : end;
            out += text.mid(i, last - i + 1);
            i = last;
        } else if (text.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? text.size() : end + 1;
            out += QLatin1Char(' ');
        } else if (text.mid(i, 2) == QLatin1String("//")) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? text.size() : end - 1;
        } else {
            out += c;
        }
    }
    return out;
}

// Nesting depth change of the character at `i`; the ">" of "=>" closes nothing.
int depthChange(const QString &text, qsizetype i)
{
    static const QString opening = QStringLiteral("([{<");
    static const QString closing = QStringLiteral(")]}>");
    if (opening.contains(text[i]))
        return 1;
    if (closing.contains(text[i])
        && !(text[i] == QLatin1Char('>') && i > 0 && text[i - 1] == QLatin1Char('=')))
        return -1;
    return 0;
}

// `text` split at `separator` where it is not nested in brackets.
QStringList splitTopLevel(const QString &text, QChar separator)
{
    QStringList parts;
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        depth += depthChange(text, i);
        if (depth == 0 && text[i] == separator) {
            parts << text.mid(start, i - start).trimmed();
            start = i + 1;
        }
    }
    parts << text.mid(start).trimmed();
    parts.removeAll(QString());
    return parts;
}

// The index of the bracket that closes the one at `open`, or -1.
qsizetype closingOf(const QString &text, qsizetype open)
{
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        depth += depthChange(text, i);
        if (depth == 0)
            return i;
    }
    return -1;
}

// A declared type as the bridge's C++ type.
QString cppType(const QString &type)
{
    const QString simple = type.simplified();
    if (simple == QLatin1String("string"))
        return QStringLiteral("QString");
    return simple;
}

// Each call that the members of `interface Zx` declare, as C++ signature with
// result, e.g. "QString downloadFile(QString,QString,QString)". Optional
// parameters give one signature per count. A trailing parameter of function
// type is the channel's reply function: not sent to the bridge, it receives
// the result. Unreadable members come back as "unreadable: ...".
QStringList declaredCalls(const QString &declarations)
{
    const QString text = withoutComments(declarations);
    const QRegularExpressionMatch head =
            QRegularExpression(QStringLiteral("\\binterface\\s+Zx\\s*\\{")).match(text);
    if (!head.hasMatch())
        return { QStringLiteral("unreadable: no interface Zx") };
    const qsizetype open = head.capturedEnd() - 1;
    const qsizetype close = closingOf(text, open);
    if (close < 0)
        return { QStringLiteral("unreadable: interface Zx not closed") };

    static const QRegularExpression member(QStringLiteral("^(\\w+)\\s*\\((.*)\\)\\s*:\\s*(.+)$"),
                                           QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression parameter(QStringLiteral("^(\\w+)\\s*([?]?)\\s*:\\s*(.+)$"),
                                              QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression reply(QStringLiteral("^\\(\\s*\\w+\\s*:\\s*(.+)\\)\\s*=>\\s*void$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression promise(QStringLiteral("^Promise\\s*<(.+)>$"),
                                            QRegularExpression::DotMatchesEverythingOption);

    QStringList calls;
    for (const QString &declaration : splitTopLevel(text.mid(open + 1, close - open - 1), QLatin1Char(';'))) {
        const QRegularExpressionMatch m = member.match(declaration);
        if (!m.hasMatch()
            || closingOf(declaration, declaration.indexOf(QLatin1Char('('))) != m.capturedEnd(2)) {
            calls << QStringLiteral("unreadable: ") + declaration.simplified();
            continue;
        }
        QStringList sent;
        qsizetype required = 0;
        QString result;
        const QStringList parameters = splitTopLevel(m.captured(2), QLatin1Char(','));
        for (qsizetype i = 0; i < parameters.size(); ++i) {
            const QRegularExpressionMatch p = parameter.match(parameters[i]);
            const QRegularExpressionMatch r = p.hasMatch() ? reply.match(p.captured(3).trimmed()) : p;
            if (r.hasMatch() && i == parameters.size() - 1
                && m.captured(3).simplified() == QLatin1String("void")) {
                result = cppType(r.captured(1));
            } else if (p.hasMatch() && !p.captured(3).contains(QLatin1String("=>"))) {
                sent << cppType(p.captured(3));
                if (p.captured(2).isEmpty())
                    required = sent.size();
            } else {
                sent << QStringLiteral("unreadable: ") + parameters[i].simplified();
            }
        }
        if (result.isEmpty()) {
            const QRegularExpressionMatch answer = promise.match(m.captured(3).trimmed());
            result = answer.hasMatch() ? cppType(answer.captured(1)) : QStringLiteral("not a promise");
        }
        for (qsizetype count = required; count <= sent.size(); ++count)
            calls << QStringLiteral("%1 %2(%3)")
                             .arg(result, m.captured(1), sent.mid(0, count).join(QLatin1Char(',')));
    }
    calls.sort();
    calls.removeDuplicates();
    return calls;
}

// What a page can call on the bridge beyond what every QObject has, in the
// form of declaredCalls().
QStringList bridgeCalls()
{
    const QMetaObject &meta = ZxJavascript::staticMetaObject;
    QStringList calls;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.access() != QMetaMethod::Public
            || (method.methodType() != QMetaMethod::Method && method.methodType() != QMetaMethod::Slot))
            continue;
        QStringList types;
        for (const QByteArray &type : method.parameterTypes())
            types << QString::fromLatin1(type);
        calls << QStringLiteral("%1 %2(%3)")
                         .arg(QString::fromLatin1(method.typeName()), QString::fromLatin1(method.name()),
                              types.join(QLatin1Char(',')));
    }
    calls.sort();
    return calls;
}

QString readDeclarations()
{
    QFile file(QStringLiteral(FENESTRA_ZX_DECLARATIONS));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestZxDeclarations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void declarationsMatchTheBridge()
    {
        const QString declarations = readDeclarations();
        QVERIFY(!declarations.isEmpty());
        QCOMPARE(declaredCalls(declarations), bridgeCalls());
    }

    // The comparison sees each way in which the declarations can drift.
    void driftIsSeen_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");

        QTest::newRow("misspelt call") << "openUrlExt(url"
                                       << "openUrlExtern(url";
        QTest::newRow("argument missing") << "setConfig(name: string, attr: string, value: string)"
                                          << "setConfig(name: string, attr: string)";
        QTest::newRow("argument too many") << "openUrlExt(url: string)"
                                           << "openUrlExt(url: string, target?: string)";
        QTest::newRow("form without arguments missing") << "run(cmd?: string"
                                                        << "run(cmd: string";
        QTest::newRow("call the bridge lacks")
                << "openUrlExt(url: string): Promise<void>;"
                << "openUrlExt(url: string): Promise<void>;\n    deleteLater(): Promise<void>;";
        QTest::newRow("wrong answer") << "callback: string): Promise<string>"
                                      << "callback: string): Promise<void>";
        QTest::newRow("reply function sent as text") << "reply: (path: string) => void): void"
                                                     << "reply: string): void";
        QTest::newRow("argument of another type") << "(url: string)"
                                                  << "(url: URL)";
    }
    void driftIsSeen()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QString declarations = readDeclarations();
        QVERIFY(declarations.contains(before));
        declarations.replace(before, after);
        QVERIFY(declaredCalls(declarations) != bridgeCalls());
    }
};

QTEST_GUILESS_MAIN(TestZxDeclarations)
#include "tst_zxdeclarations.moc"
