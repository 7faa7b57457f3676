#include "update/releasedecision.h"

namespace ReleaseDecision {

namespace {

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

Decision make(Decision::Kind kind, const QString &version, const QString &why)
{
    Decision decision;
    decision.kind = kind;
    decision.version = version;
    decision.why = why;
    return decision;
}

// Nothing to take: a pending version other than `target` is not started.
Decision withdrawOr(const QString &pending, const QString &target, const QString &why)
{
    if (!pending.isEmpty() && pending != target)
        return make(Decision::Kind::Withdraw, pending, QStringLiteral("withdrew %1").arg(pending));
    return make(Decision::Kind::Nothing, QString(), why);
}

} // namespace

Decision decide(const UpdateManifest *manifest, const Situation &situation)
{
    const InstallState::State &state = situation.state;
    const QString pending = fromStd(state.pending);
    const QString current = fromStd(state.current);
    if (!situation.policy.enabled) {
        if (!pending.isEmpty())
            return make(Decision::Kind::Withdraw, pending,
                        QStringLiteral("turned off by IT's policy, withdrew %1").arg(pending));
        return make(Decision::Kind::Nothing, QString(), QStringLiteral("turned off by IT's policy"));
    }
    if (!manifest)
        return make(Decision::Kind::Nothing, QString(), QStringLiteral("no manifest"));

    QStringList bad;
    for (const std::string &version : state.bad)
        bad << fromStd(version);
    const Rollout::Choice choice = Rollout::choose(*manifest, fromStd(state.installationId), situation.policy,
                                                   bad, situation.platform);
    const QString target = choice.version;
    if (target.isEmpty() || target == situation.ownVersion || target == current
        || target == fromStd(state.trial))
        return withdrawOr(pending, target, QStringLiteral("nothing new"));
    // A replayed older manifest must not take a desktop back: only pulling
    // the current release, or a pin for this desktop, does.
    if (!current.isEmpty() && InstallState::versionLess(target.toStdString(), state.current) && !choice.pinned
        && !manifest->pulled.contains(current))
        return withdrawOr(
                pending, target,
                QStringLiteral("stays on %1: %2 is older, and %1 is not pulled").arg(current, target));

    const UpdateManifest::Release &release = *manifest->release(target, situation.platform);
    if (situation.onDisk.contains(target)) {
        const QByteArray staged = situation.onDisk.value(target);
        if (staged.isEmpty() || staged == release.sha256) {
            if (target == pending)
                return make(Decision::Kind::Nothing, QString(), QStringLiteral("nothing new"));
            return make(Decision::Kind::MarkPending, target,
                        QStringLiteral("%1 is on disk already").arg(target));
        }
        // The same name for another package: staged again, unless it is in use.
        if (target == fromStd(state.previous))
            return withdrawOr(pending, target,
                              QStringLiteral("%1 on disk is another package than the release; a version name "
                                             "is never to be reused")
                                      .arg(target));
    }
    Decision decision = make(Decision::Kind::Stage, target, target);
    decision.release = release;
    return decision;
}

} // namespace ReleaseDecision
