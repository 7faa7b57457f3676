#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The window's tabs, one row each, in the order of the strip: the title the tab
// shows and the address its view was opened with. The address is kept as the
// text it was given, whether the caller had a url value or text (a page's
// new-window request leaves it empty); navigation in the view does not change it.
// Which tab is selected is the strip's business, not the model's.
class TabModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        TitleRole = Qt::UserRole + 1,
        UrlRole,
        AddressRole, // what the view shows now, after navigation; empty before its first
    };

    explicit TabModel(QObject *parent = nullptr);

    int count() const { return m_tabs.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Adds a tab at the end.
    Q_INVOKABLE void append(const QString &title, const QString &url);
    // Rows out of range are left alone.
    Q_INVOKABLE void remove(int row);
    Q_INVOKABLE void setTitle(int row, const QString &title);
    Q_INVOKABLE void setAddress(int row, const QString &address);

Q_SIGNALS:
    void countChanged();

private:
    struct Tab
    {
        QString title;
        QString url;
        QString address;
    };

    QList<Tab> m_tabs;
};
