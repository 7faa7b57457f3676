#include "testwindow.h"

#include "app/appdir.h"
#include "app/appinit.h"

#include <QFile>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

TestWindow::TestWindow(const QUrl &startUrl)
{
    // The sign-up form of the address stands for itself, so no index service is asked.
    const QByteArray config = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hallinfo>\n    <server url=\""
            + startUrl.toEncoded() + "\" path=\"register\"/>\n</hallinfo>\n";
    QFile file(AppDir::filePath(QStringLiteral("config.dll")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
        return;
    file.close();
    AppInit::getInstance()->init(&m_engine);
    AppInit::getInstance()->loadWindow(&m_engine);
    if (!m_engine.rootObjects().isEmpty())
        m_root = m_engine.rootObjects().constFirst();
}

QVariant TestWindow::eval(const QString &expression) const
{
    QQmlExpression qmlExpression(qmlContext(m_root), m_root, expression);
    const QVariant value = qmlExpression.evaluate();
    if (qmlExpression.hasError())
        qWarning() << "QML expression failed:" << expression << qmlExpression.error().toString();
    return value;
}

QQuickWindow *TestWindow::window() const
{
    return qobject_cast<QQuickWindow *>(m_root);
}

QQuickItem *TestWindow::item(const QString &expression) const
{
    return qobject_cast<QQuickItem *>(eval(expression).value<QObject *>());
}

bool TestWindow::waitForCurrentView() const
{
    return QTest::qWaitFor(
            [this] {
                return eval(QStringLiteral("!currentView.loading && currentView.loadProgress === 100"))
                        .toBool();
            },
            20000);
}

QPoint TestWindow::inWindow(QQuickItem *item, const QPointF &point)
{
    return item->mapToScene(point).toPoint();
}

QPoint TestWindow::centreOf(const QString &itemExpression) const
{
    QQuickItem *target = item(itemExpression);
    return target ? inWindow(target, QPointF(target->width() / 2, target->height() / 2)) : QPoint();
}
