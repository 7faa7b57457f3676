#include "browser/tabmodel.h"

TabModel::TabModel(QObject *parent) : QAbstractListModel(parent) { }

int TabModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant TabModel::data(const QModelIndex &index, int role) const
{
    if (index.parent().isValid() || index.row() < 0 || index.row() >= count())
        return QVariant();
    const Tab &tab = m_tabs.at(index.row());
    switch (role) {
    case TitleRole:
        return tab.title;
    case UrlRole:
        return tab.url;
    case AddressRole:
        return tab.address;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> TabModel::roleNames() const
{
    return { { TitleRole, "title" }, { UrlRole, "url" }, { AddressRole, "address" } };
}

void TabModel::append(const QString &title, const QString &url)
{
    beginInsertRows(QModelIndex(), count(), count());
    m_tabs.append({ title, url, QString() });
    endInsertRows();
    Q_EMIT countChanged();
}

void TabModel::remove(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_tabs.removeAt(row);
    endRemoveRows();
    Q_EMIT countChanged();
}

void TabModel::setTitle(int row, const QString &title)
{
    if (row < 0 || row >= count() || m_tabs.at(row).title == title)
        return;
    m_tabs[row].title = title;
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, { TitleRole });
}

void TabModel::setAddress(int row, const QString &address)
{
    if (row < 0 || row >= count() || m_tabs.at(row).address == address)
        return;
    m_tabs[row].address = address;
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, { AddressRole });
}
