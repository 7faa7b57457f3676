#include "browser/tabsession.h"

#include "browser/tabmodel.h"
#include "config/appdir.h"
#include "config/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

namespace {

const QString addressesFile = QStringLiteral("tabs.txt");
const QString runningMark = QStringLiteral("running");
constexpr qint64 maxFileSize = (TabSession::maxTabs + 1) * (TabSession::maxAddressLength + 1);

} // namespace

TabSession::TabSession(QObject *parent) : TabSession(AppDir::filePath(QStringLiteral("session")), parent) { }

TabSession::TabSession(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder)
{
    const QDir dir(m_folder);
    if (QFile::exists(dir.filePath(runningMark))) {
        QFile file(dir.filePath(addressesFile));
        if (file.size() <= maxFileSize && file.open(QIODevice::ReadOnly))
            m_leftOver = readable(file.readAll());
        qCInfo(lcBrowser).noquote() << QStringLiteral("the last session ended abnormally; %1 tabs come back")
                                               .arg(m_leftOver.size());
    }
    QFile mark(dir.filePath(runningMark));
    if (!dir.mkpath(QStringLiteral(".")) || !mark.open(QIODevice::WriteOnly))
        qCWarning(lcBrowser).noquote() << "cannot mark the session running in" << m_folder;
    // "A few times a second" at most, however fast pages navigate.
    m_saveSoon.setSingleShot(true);
    m_saveSoon.setInterval(300);
    connect(&m_saveSoon, &QTimer::timeout, this, &TabSession::save);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &TabSession::endNormally);
}

void TabSession::setTabs(TabModel *tabs)
{
    if (m_tabs == tabs)
        return;
    if (m_tabs)
        disconnect(m_tabs, nullptr, this, nullptr);
    m_tabs = tabs;
    if (m_tabs) {
        const auto changed = [this] { m_saveSoon.start(); };
        connect(m_tabs, &QAbstractItemModel::rowsInserted, this, changed);
        connect(m_tabs, &QAbstractItemModel::rowsRemoved, this, changed);
        connect(m_tabs, &QAbstractItemModel::dataChanged, this, changed);
    }
    Q_EMIT tabsChanged();
}

QStringList TabSession::readable(const QByteArray &file)
{
    QStringList addresses;
    const QList<QByteArray> lines = file.split('\n');
    for (qsizetype row = 1; row < lines.size() && addresses.size() < maxTabs; ++row) {
        const QByteArray line = lines.at(row).trimmed();
        if (line.isEmpty() || line.size() > maxAddressLength)
            continue;
        const QUrl address = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (address.isValid()
            && (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https")))
            addresses << address.toString(QUrl::FullyEncoded);
    }
    return addresses;
}

void TabSession::save()
{
    if (!m_tabs)
        return;
    QByteArray text;
    for (int row = 0; row < m_tabs->count(); ++row) {
        const QModelIndex index = m_tabs->index(row);
        QString address = m_tabs->data(index, TabModel::AddressRole).toString();
        if (address.isEmpty())
            address = m_tabs->data(index, TabModel::UrlRole).toString();
        text += QUrl(address).toEncoded().left(maxAddressLength) + '\n';
    }
    QSaveFile file(QDir(m_folder).filePath(addressesFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        qCWarning(lcBrowser).noquote() << "cannot write" << file.fileName();
}

void TabSession::endNormally()
{
    m_saveSoon.stop();
    const QDir dir(m_folder);
    QFile::remove(dir.filePath(addressesFile));
    QFile::remove(dir.filePath(runningMark));
}
