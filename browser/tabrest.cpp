#include "browser/tabrest.h"

#include "config/appdir.h"
#include "config/logging.h"

#include <algorithm>
#include <utility>

TabRest::Decision TabRest::decide(bool shown, std::chrono::milliseconds hiddenFor, State current,
                                  State recommended, bool unsavedInput, const Policy::Tabs &policy)
{
    if (shown || !policy.rest)
        return {};
    // A discarded page comes back by being shown, not by a lighter rest.
    if (current == State::Discarded)
        return { State::Discarded, {} };
    const bool discards = canDiscard() && policy.discardAfter.count() > 0;
    State wanted = State::Active;
    std::chrono::milliseconds next { 0 };
    if (hiddenFor < policy.freezeAfter) {
        next = policy.freezeAfter - hiddenFor;
    } else if (!discards || hiddenFor < policy.discardAfter) {
        wanted = State::Frozen;
        if (discards)
            next = policy.discardAfter - hiddenFor;
    } else {
        wanted = State::Discarded;
    }
    // The engine's own sign of a form being filled does not reach it on every
    // version; a page holding the user's input is kept in any case.
    const State deepest = unsavedInput ? std::min(recommended, State::Frozen) : recommended;
    return { std::min(wanted, deepest), next };
}

TabRest::TabRest(QObject *parent) : QObject(parent)
{
    m_recheck.setSingleShot(true);
    connect(&m_recheck, &QTimer::timeout, this, &TabRest::update);
}

void TabRest::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (!shown)
        m_hidden.start();
    Q_EMIT shownChanged();
    update();
}

void TabRest::setRecommendedState(int state)
{
    const State recommended = State(std::clamp(state, int(State::Active), int(State::Discarded)));
    if (recommended == m_recommended)
        return;
    m_recommended = recommended;
    Q_EMIT recommendedStateChanged();
    update();
}

void TabRest::setUnsavedInput(bool unsaved)
{
    if (unsaved == m_unsavedInput)
        return;
    m_unsavedInput = unsaved;
    Q_EMIT unsavedInputChanged();
    update();
}

QString TabRest::inputCheck()
{
    return QStringLiteral(R"((() => {
    const edited = (field) => {
        if (field.type === 'checkbox' || field.type === 'radio')
            return field.checked !== field.defaultChecked;
        if (field.tagName === 'SELECT') {
            // Without a default of its own, a list starts on its first option.
            const options = Array.from(field.options);
            if (options.some((option) => option.defaultSelected))
                return options.some((option) => option.selected !== option.defaultSelected);
            return field.multiple ? options.some((option) => option.selected) : field.selectedIndex > 0;
        }
        return field.value !== field.defaultValue;
    };
    const documents = [document];
    for (const frame of document.querySelectorAll('iframe, frame')) {
        try {
            if (frame.contentDocument)
                documents.push(frame.contentDocument);
        } catch (e) {
        }
    }
    return documents.some((d) => Array.from(d.querySelectorAll('input:not([type=hidden]), textarea, select')).some(edited));
})())");
}

Policy::Tabs TabRest::policy()
{
    if (!m_policy) {
        const Policy read = Policy::read(AppDir::path());
        // Said once: every tab reads the same file.
        static bool said = false;
        for (const QString &problem : std::exchange(said, true) ? QStringList() : read.problems)
            qCWarning(lcConfig).noquote() << problem;
        m_policy = read.tabs;
    }
    return *m_policy;
}

void TabRest::setPolicy(const Policy::Tabs &policy)
{
    m_policy = policy;
    update();
}

void TabRest::update()
{
    if (m_shown && m_state == State::Active) {
        m_recheck.stop();
        return;
    }
    const auto hiddenFor = std::chrono::milliseconds(m_shown ? 0 : m_hidden.elapsed());
    // No file is read before a tab could rest: nothing is added to the start.
    if (!m_policy && hiddenFor < Policy::Tabs::shortestFreeze) {
        m_recheck.start(Policy::Tabs::shortestFreeze - hiddenFor);
        return;
    }
    const Decision decision = decide(m_shown, hiddenFor, m_state, m_recommended, m_unsavedInput, policy());
    if (decision.recheckIn.count() > 0)
        m_recheck.start(decision.recheckIn);
    else
        m_recheck.stop();
    if (decision.state == m_state)
        return;
    m_state = decision.state;
    qCDebug(lcBrowser) << "a tab rests:" << m_state;
    Q_EMIT stateChanged();
}
