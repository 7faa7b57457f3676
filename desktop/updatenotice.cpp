#include "desktop/updatenotice.h"

#include <QDebug>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

namespace UpdateNotice {

void show(QQmlEngine *engine, QQuickWindow *window, const QString &version)
{
    if (!engine || !window)
        return;
    QQuickItem *content = window->contentItem();
    if (QObject *existing =
                content->findChild<QObject *>(QStringLiteral("updateNotice"), Qt::FindDirectChildrenOnly)) {
        existing->setProperty("version", version);
        return;
    }
    // Compiled here, when first needed, not at start-up.
    QQmlComponent component(engine, QUrl(QStringLiteral("qrc:/panels/UpdateNotice.qml")));
    QObject *object = component.createWithInitialProperties({ { QStringLiteral("version"), version } });
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item) {
        qWarning().noquote() << component.errorString();
        delete object;
        return;
    }
    // Owned by the window's content, whose anchors it uses.
    item->setParent(content);
    item->setParentItem(content);
}

} // namespace UpdateNotice
