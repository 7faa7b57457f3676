#pragma once

#include "config/policy.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWebEnginePage>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <optional>

// Lets a tab that is not shown rest, as IT's policy says: after a while it is
// frozen (its scripts and timers stop, its page stays in memory), after longer
// discarded (its page goes, and is loaded again when the tab is shown). It never
// rests deeper than the engine recommends, and a page holding what the user
// typed is never discarded, so no input is lost; a tab that is shown is active.
class TabRest : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool shown READ isShown WRITE setShown NOTIFY shownChanged)
    // The view's recommendedState and what its lifecycleState is to be.
    Q_PROPERTY(int recommendedState READ recommendedState WRITE setRecommendedState NOTIFY
                       recommendedStateChanged)
    Q_PROPERTY(int state READ state NOTIFY stateChanged)
    // Whether a field of the page holds what the user typed or chose, as
    // `inputCheck` finds it when the tab goes out of sight.
    Q_PROPERTY(bool unsavedInput READ hasUnsavedInput WRITE setUnsavedInput NOTIFY unsavedInputChanged)
    // A script for the page whose value says that: a field of the document or
    // of its same-origin frames that differs from what the page came with.
    Q_PROPERTY(QString inputCheck READ inputCheck CONSTANT)

public:
    using State = QWebEnginePage::LifecycleState;

    struct Decision
    {
        State state = State::Active;
        // When to decide again if nothing else changes; zero: not by time.
        std::chrono::milliseconds recheckIn { 0 };
    };

    // The state of a tab that is `shown`, or was last shown `hiddenFor` ago,
    // `current` now and `recommended` by the engine, its page holding
    // `unsavedInput` or not.
    static Decision decide(bool shown, std::chrono::milliseconds hiddenFor, State current, State recommended,
                           bool unsavedInput, const Policy::Tabs &policy);

    // Whether this Qt's engine survives discarding a page: 6.4's crashes, so
    // there tabs are frozen and never discarded.
    static constexpr bool canDiscard() { return QT_VERSION >= QT_VERSION_CHECK(6, 8, 0); }

    explicit TabRest(QObject *parent = nullptr);

    bool isShown() const { return m_shown; }
    void setShown(bool shown);
    int recommendedState() const { return int(m_recommended); }
    void setRecommendedState(int state);
    int state() const { return int(m_state); }
    bool hasUnsavedInput() const { return m_unsavedInput; }
    void setUnsavedInput(bool unsaved);
    static QString inputCheck();

    // IT's policy, read beside config.dll once the tab has been hidden as long
    // as the shortest rest, unless set before.
    Policy::Tabs policy();
    void setPolicy(const Policy::Tabs &policy);

Q_SIGNALS:
    void shownChanged();
    void recommendedStateChanged();
    void stateChanged();
    void unsavedInputChanged();

private:
    void update();

    std::optional<Policy::Tabs> m_policy;
    bool m_shown = true;
    State m_recommended = State::Active;
    State m_state = State::Active;
    bool m_unsavedInput = false;
    QElapsedTimer m_hidden;
    QTimer m_recheck;
};
