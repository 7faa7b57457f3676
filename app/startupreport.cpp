#include "app/startupreport.h"

#include "config/logging.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>

namespace StartupReport {

namespace {

QString graphicsApi(QQuickWindow *window)
{
    const QSGRendererInterface *renderer = window->rendererInterface();
    switch (renderer ? renderer->graphicsApi() : QSGRendererInterface::Unknown) {
    case QSGRendererInterface::Software:
        return QStringLiteral("Qt Quick's software backend");
    case QSGRendererInterface::OpenGL:
        return QStringLiteral("OpenGL");
    case QSGRendererInterface::Direct3D11:
        return QStringLiteral("Direct3D 11");
    case QSGRendererInterface::Vulkan:
        return QStringLiteral("Vulkan");
    case QSGRendererInterface::Null:
        return QStringLiteral("nothing (a headless test)");
    default:
        return QStringLiteral("another graphics API");
    }
}

} // namespace

QString graphicsLevel(const QByteArray &fromEnvironment)
{
    if (fromEnvironment.isNull())
        return QStringLiteral("graphics level not set (started without the launcher)");
    if (fromEnvironment.size() == 1 && fromEnvironment[0] >= '0' && fromEnvironment[0] <= '3')
        return QStringLiteral("graphics level ") + QLatin1Char(fromEnvironment[0]);
    return QStringLiteral("graphics level not understood, drawn as Qt chooses");
}

void logWhenShown(QQuickWindow *window)
{
    if (!window)
        return;
    QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [window] {
                qCInfo(lcStartup).noquote()
                        << QStringLiteral(
                                   "Qt %1, Chromium %2, drawn with %3, %4, QTWEBENGINE_CHROMIUM_FLAGS: %5")
                                   .arg(QString::fromLatin1(qVersion()),
                                        QString::fromLatin1(qWebEngineChromiumVersion()), graphicsApi(window),
                                        graphicsLevel(qgetenv("FENESTRA_GRAPHICS_LEVEL")),
                                        QString::fromLocal8Bit(
                                                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").left(512)));
            },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

} // namespace StartupReport
