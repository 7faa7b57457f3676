#include "windowharness.h"

#include "app/appinit.h"
#include "browser/tabmodel.h"
#include "config/appdir.h"

#include <QFile>
#include <QJSValue>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

WindowHarness::WindowHarness(const QUrl &startUrl) : WindowHarness(startConfig(startUrl)) { }

WindowHarness::WindowHarness(const QByteArray &config)
{
    QFile file(AppDir::filePath(QStringLiteral("config.dll")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
        return;
    file.close();
    // Pages' answers arrive at the probe; the engine must not collect it.
    QQmlEngine::setObjectOwnership(&m_probe, QQmlEngine::CppOwnership);
    AppInit::getInstance()->init(&m_engine);
    AppInit::getInstance()->loadWindow(&m_engine);
    if (m_engine.rootObjects().size() == 1)
        m_root = m_engine.rootObjects().constFirst();
}

// The sign-up form of the address stands for itself, so no index service is asked.
QByteArray WindowHarness::startConfig(const QUrl &startUrl)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hallinfo>\n    <server url=\"" + startUrl.toEncoded()
            + "\" path=\"register\"/>\n</hallinfo>\n";
}

QQuickWindow *WindowHarness::window() const
{
    return qobject_cast<QQuickWindow *>(m_root);
}

TabModel *WindowHarness::tabModel() const
{
    return m_root ? m_root->findChild<TabModel *>() : nullptr;
}

int WindowHarness::tabCount() const
{
    const TabModel *tabs = tabModel();
    return tabs ? tabs->count() : 0;
}

QString WindowHarness::tabTitle(int row) const
{
    const TabModel *tabs = tabModel();
    return tabs ? tabs->data(tabs->index(row), TabModel::TitleRole).toString() : QString();
}

QString WindowHarness::tabUrl(int row) const
{
    const TabModel *tabs = tabModel();
    return tabs ? tabs->data(tabs->index(row), TabModel::UrlRole).toString() : QString();
}

void WindowHarness::addTab(const QString &title, const QVariant &url)
{
    QMetaObject::invokeMethod(m_root, "addTab", Q_ARG(QVariant, title), Q_ARG(QVariant, url),
                              Q_ARG(QVariant, QVariant()));
}

void WindowHarness::closeTab(int row)
{
    if (TabModel *tabs = tabModel())
        tabs->remove(row);
}

int WindowHarness::currentIndex() const
{
    const QObject *navBar = byId(QStringLiteral("navBar"));
    return navBar ? navBar->property("currentIndex").toInt() : -1;
}

void WindowHarness::setCurrentIndex(int index)
{
    if (QObject *navBar = byId(QStringLiteral("navBar")))
        navBar->setProperty("currentIndex", index);
}

QQuickItem *WindowHarness::tabButton(int row) const
{
    QQuickItem *tab = nullptr;
    if (QObject *navBar = byId(QStringLiteral("navBar")))
        QMetaObject::invokeMethod(navBar, "itemAt", Q_RETURN_ARG(QQuickItem *, tab), Q_ARG(int, row));
    return tab;
}

TabView WindowHarness::currentView() const
{
    return TabView(m_root ? qobject_cast<QQuickItem *>(m_root->property("currentView").value<QObject *>())
                          : nullptr);
}

TabView WindowHarness::view(int row) const
{
    QQuickItem *view = nullptr;
    if (QObject *repeater = byId(QStringLiteral("webEngineViewRepeater")))
        QMetaObject::invokeMethod(repeater, "itemAt", Q_RETURN_ARG(QQuickItem *, view), Q_ARG(int, row));
    return TabView(view);
}

bool WindowHarness::waitForCurrentView() const
{
    return QTest::qWaitFor([this] { return currentView().isLoaded(); }, 20000);
}

QVariant WindowHarness::runJavaScript(const QString &script)
{
    QQuickItem *view = currentView().item();
    if (!view)
        return QStringLiteral("<no view>");
    const int before = m_probe.answers;
    const QJSValue answer = m_engine.newQObject(&m_probe).property(QStringLiteral("put"));
    QMetaObject::invokeMethod(view, "runJavaScript", Q_ARG(QString, script), Q_ARG(QJSValue, answer));
    if (!QTest::qWaitFor([&] { return m_probe.answers > before; }, 10000))
        return QStringLiteral("<no answer>");
    return m_probe.result;
}

bool WindowHarness::load(const QUrl &url)
{
    currentView().setUrl(url);
    // The view's own url changes at once; the document tells when it has arrived.
    return QTest::qWaitFor(
            [&] {
                return runJavaScript(QStringLiteral("location.href + ' ' + document.readyState")).toString()
                        == url.toString() + QStringLiteral(" complete");
            },
            15000);
}

QObject *WindowHarness::byId(const QString &id) const
{
    const QQmlContext *context = m_root ? qmlContext(m_root) : nullptr;
    QObject *object = context ? context->objectForName(id) : nullptr;
    if (!object)
        qWarning() << "The window has no" << id;
    return object;
}

QQuickItem *WindowHarness::itemById(const QString &id) const
{
    return qobject_cast<QQuickItem *>(byId(id));
}

QObject *WindowHarness::made(const QString &id) const
{
    QVariant item;
    if (QObject *loader = byId(id))
        QMetaObject::invokeMethod(loader, "get", Q_RETURN_ARG(QVariant, item));
    return item.value<QObject *>();
}

QObject *WindowHarness::madeSoFar(const QString &id) const
{
    const QObject *loader = byId(id);
    return loader ? loader->property("item").value<QObject *>() : nullptr;
}

QPoint WindowHarness::inWindow(QQuickItem *item, const QPointF &point)
{
    return item->mapToScene(point).toPoint();
}

QPoint WindowHarness::centreOf(QQuickItem *item)
{
    return item ? inWindow(item, QPointF(item->width() / 2, item->height() / 2)) : QPoint();
}
