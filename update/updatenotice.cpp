#include "update/updatenotice.h"

#include "config/logging.h"

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
    if (auto *existing = content->findChild<QQuickItem *>(QStringLiteral("updateNotice"),
                                                          Qt::FindDirectChildrenOnly)) {
        existing->setProperty("version", version);
        existing->setVisible(true);
        return;
    }
    // Compiled here, when first needed, not at start-up.
    QQmlComponent component(engine, QUrl(QStringLiteral("qrc:/panels/UpdateNotice.qml")));
    QObject *object = component.beginCreate(engine->rootContext());
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item) {
        qCWarning(lcUpdate).noquote() << component.errorString();
        delete object;
        return;
    }
    // Owned by the window's content, whose edges it keeps to.
    item->setParent(content);
    item->setParentItem(content);
    item->setProperty("version", version);
    component.completeCreate();
}

} // namespace UpdateNotice
