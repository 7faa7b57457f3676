#pragma once

#include "browser/tabmodel.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// Brings the tabs back after the shell ended abnormally (a crash, a power cut,
// a kill): the address each tab shows is written down when it changes, at
// most a few times a second and atomically, and a mark says a session is
// running. A normal close takes both away, so nothing comes back after it.
// The window reopens what `leftOver` holds beside its first tab, which opens
// the start address as always.
class TabSession : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(TabModel *tabs READ tabs WRITE setTabs NOTIFY tabsChanged)
    // The addresses of the tabs beside the first that the last session left
    // open when it ended abnormally; empty after a normal close.
    Q_PROPERTY(QStringList leftOver READ leftOver CONSTANT)

public:
    // At most this many tabs come back, each address at most 8 KiB.
    static constexpr int maxTabs = 50;
    static constexpr int maxAddressLength = 8 * 1024;

    // The session files lie in `folder`; by default the application
    // directory's `session` folder.
    explicit TabSession(QObject *parent = nullptr);
    TabSession(const QString &folder, QObject *parent);

    TabModel *tabs() const { return m_tabs; }
    void setTabs(TabModel *tabs);
    QStringList leftOver() const { return m_leftOver; }

    // What a session file holds that may come back: web addresses only,
    // bounded in number and length, the first one left out.
    static QStringList readable(const QByteArray &file);

Q_SIGNALS:
    void tabsChanged();

private:
    void save();
    void endNormally();

    QString m_folder;
    QPointer<TabModel> m_tabs;
    QStringList m_leftOver;
    QTimer m_saveSoon;
};
