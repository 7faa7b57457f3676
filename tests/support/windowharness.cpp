#include "windowharness.h"

#include "app/appinit.h"
#include "config/appdir.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQmlContext>
#include <QQmlExpression>
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
    m_engine.rootContext()->setContextProperty(QStringLiteral("probe"), &m_probe);
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

QVariant WindowHarness::eval(const QString &expression) const
{
    QQmlExpression qmlExpression(qmlContext(m_root), m_root, expression);
    const QVariant value = qmlExpression.evaluate();
    if (qmlExpression.hasError())
        qWarning() << "QML expression failed:" << expression << qmlExpression.error().toString();
    return value;
}

QQuickWindow *WindowHarness::window() const
{
    return qobject_cast<QQuickWindow *>(m_root);
}

QQuickItem *WindowHarness::item(const QString &expression) const
{
    return qobject_cast<QQuickItem *>(eval(expression).value<QObject *>());
}

bool WindowHarness::waitForCurrentView() const
{
    return QTest::qWaitFor(
            [this] {
                return eval(QStringLiteral("!currentView.loading && currentView.loadProgress === 100"))
                        .toBool();
            },
            20000);
}

QVariant WindowHarness::runJavaScript(const QString &script)
{
    const int before = m_probe.answers;
    eval(QStringLiteral("currentView.runJavaScript(%1, function(r) { probe.put(r) })")
                 .arg(QString::fromUtf8(QJsonDocument(QJsonArray { script }).toJson(QJsonDocument::Compact))
                              .mid(1)
                              .chopped(1)));
    if (!QTest::qWaitFor([&] { return m_probe.answers > before; }, 10000))
        return QStringLiteral("<no answer>");
    return m_probe.result;
}

bool WindowHarness::load(const QUrl &url)
{
    eval(QStringLiteral("currentView.url = '%1'").arg(url.toString()));
    // The view's own url changes at once; the document tells when it has arrived.
    return QTest::qWaitFor(
            [&] {
                return runJavaScript(QStringLiteral("location.href + ' ' + document.readyState")).toString()
                        == url.toString() + QStringLiteral(" complete");
            },
            15000);
}

QPoint WindowHarness::inWindow(QQuickItem *item, const QPointF &point)
{
    return item->mapToScene(point).toPoint();
}

QPoint WindowHarness::centreOf(const QString &itemExpression) const
{
    QQuickItem *target = item(itemExpression);
    return target ? inWindow(target, QPointF(target->width() / 2, target->height() / 2)) : QPoint();
}
