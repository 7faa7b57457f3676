#include "config/policy.h"

#include "launcher/installlayout.h"

#include <QDir>
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
