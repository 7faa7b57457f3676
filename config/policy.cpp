#include "config/policy.h"

#include "launcher/installlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>

namespace {

constexpr qint64 maxFileSize = 64 * 1024;

struct Value
{
    QString text;
    QString file;
};

using Values = QHash<QString, Value>;

const QStringList updateKeys = { QStringLiteral("enabled"), QStringLiteral("pin"), QStringLiteral("ring"),
                                 QStringLiteral("report"), QStringLiteral("crash_upload") };
// Keys whose value is a Windows path: read as written, as QSettings would
// take the backslashes of \\server\share for escapes.
const QStringList pathKeys = { QStringLiteral("mirror") };

// The value of update key `key` as `text` has it, without quotes: at the top
// of the file or under [update], the top first.
QString asWritten(const QByteArray &text, const QString &key)
{
    QString top;
    QString inUpdate;
    QString section;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != key)
            continue;
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (section.isEmpty())
            top = value;
        else if (section == QLatin1String("update"))
            inUpdate = value;
    }
    return top.isEmpty() ? inUpdate : top;
}
const QStringList tabKeys = { QStringLiteral("tabs/rest"), QStringLiteral("tabs/freeze_after_minutes"),
                              QStringLiteral("tabs/discard_after_minutes") };

// The keys `name` in `folder` sets, over those in `values`; a key set empty
// counts as not set.
void take(const QString &folder, const QString &name, Values &values, QStringList &problems)
{
    const QString path = QDir(folder).filePath(name);
    const QFileInfo info(path);
    if (!info.isFile())
        return;
    if (info.size() > maxFileSize) {
        problems << QStringLiteral("%1 is larger than 64 KiB and not read").arg(name);
        return;
    }
    const QSettings file(path, QSettings::IniFormat);
    const auto set = [&](const QString &key, const QString &text) {
        if (!text.isEmpty())
            values.insert(key, { text, name });
    };
    for (const QString &key : updateKeys) {
        const QString top = file.value(key).toString().trimmed();
        set(key, top.isEmpty() ? file.value(QStringLiteral("update/") + key).toString().trimmed() : top);
    }
    for (const QString &key : tabKeys)
        set(key, file.value(key).toString().trimmed());
    QFile raw(path);
    const QByteArray text = raw.open(QIODevice::ReadOnly) ? raw.read(maxFileSize) : QByteArray();
    for (const QString &key : pathKeys)
        set(key, asWritten(text, key));
}

QString problem(const QString &key, const Value &value, const QString &outcome)
{
    return QStringLiteral("%1: %2=%3 is not understood, so %4")
            .arg(value.file, key.section(QLatin1Char('/'), -1), value.text.left(64), outcome);
}

bool readSwitch(const Values &values, const QString &key, QStringList &problems)
{
    if (!values.contains(key))
        return true;
    const Value value = values.value(key);
    const QString word = value.text.toLower();
    static const QStringList on = { QStringLiteral("1"), QStringLiteral("true"), QStringLiteral("on"),
                                    QStringLiteral("yes") };
    static const QStringList off = { QStringLiteral("0"), QStringLiteral("false"), QStringLiteral("off"),
                                     QStringLiteral("no") };
    if (on.contains(word))
        return true;
    if (!off.contains(word))
        problems << problem(key, value, QStringLiteral("it is off"));
    return false;
}

void readMinutes(const Values &values, const QString &key, int lowest, std::chrono::milliseconds &target,
                 QStringList &problems)
{
    if (!values.contains(key))
        return;
    const Value value = values.value(key);
    bool ok = false;
    const int minutes = value.text.toInt(&ok);
    if (!ok || minutes < lowest || minutes > 24 * 60) {
        problems << problem(key, value,
                            QStringLiteral("%1 minutes stay")
                                    .arg(std::chrono::duration_cast<std::chrono::minutes>(target).count()));
        return;
    }
    target = std::chrono::minutes(minutes);
}

// mirror= as an http(s) address with a host, or an absolute folder; anything
// else is a problem and leaves no mirror.
void readMirror(const Values &values, Policy::Updates &updates, QStringList &problems)
{
    const QString key = QStringLiteral("mirror");
    if (!values.contains(key))
        return;
    const Value value = values.value(key);
    const QString &text = value.text;
    // Short enough that <share>/files/<sha256> and its temporary name stay
    // within Windows' 260 characters.
    constexpr int longest = 160;
    if (text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        const QUrl address(text, QUrl::StrictMode);
        if (address.isValid() && !address.host().isEmpty() && !address.hasFragment()
            && address.userInfo().isEmpty() && text.size() <= 2048) {
            updates.mirror = address;
            return;
        }
    } else if (const QString folder = QString(text).replace(QLatin1Char('\\'), QLatin1Char('/'));
               text.size() <= longest && QDir::isAbsolutePath(folder)) {
        // IT writes Windows' separators; Qt takes '/' on every system.
        updates.share = folder;
        while (updates.share.size() > 1 && updates.share.endsWith(QLatin1Char('/')))
            updates.share.chop(1);
        return;
    }
    problems << problem(key, value, QStringLiteral("no mirror is used"));
}

} // namespace

Policy Policy::read(const QString &folder)
{
    Policy policy;
    Values values;
    take(folder, QString::fromLatin1(InstallLayout::oldPolicyFile), values, policy.problems);
    take(folder, QString::fromLatin1(InstallLayout::policyFile), values, policy.problems);

    Updates &updates = policy.updates;
    updates.enabled = readSwitch(values, QStringLiteral("enabled"), policy.problems);
    updates.report = readSwitch(values, QStringLiteral("report"), policy.problems);
    updates.pin = values.value(QStringLiteral("pin")).text;
    updates.ring = values.value(QStringLiteral("ring")).text;
    updates.crashUpload = values.value(QStringLiteral("crash_upload")).text;
    readMirror(values, updates, policy.problems);

    Tabs &tabs = policy.tabs;
    tabs.rest = readSwitch(values, QStringLiteral("tabs/rest"), policy.problems);
    readMinutes(values, QStringLiteral("tabs/freeze_after_minutes"), int(Tabs::shortestFreeze.count()),
                tabs.freezeAfter, policy.problems);
    readMinutes(values, QStringLiteral("tabs/discard_after_minutes"), 0, tabs.discardAfter, policy.problems);
    // A tab is discarded from rest, never before it would be frozen.
    if (tabs.discardAfter.count() > 0 && tabs.discardAfter < tabs.freezeAfter)
        tabs.discardAfter = tabs.freezeAfter;
    return policy;
}
