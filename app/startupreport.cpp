#include "app/startupreport.h"

#include "config/logging.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
// Qt's RHI headers are public from Qt 6.6 on, though not every distribution installs them.
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0) && __has_include(<rhi/qrhi.h>)
#include <rhi/qrhi.h>
#define FENESTRA_KNOWS_ADAPTER
#endif

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

// The graphics card the window draws on, as Qt Quick chose it; the web engine
// draws on the same one.
QString adapter(QQuickWindow *window)
{
#ifdef FENESTRA_KNOWS_ADAPTER
    const QRhi *rhi = window->rhi();
    if (!rhi)
        return QStringLiteral("no graphics adapter");
    const QRhiDriverInfo info = rhi->driverInfo();
    const char *kind = info.deviceType == QRhiDriverInfo::IntegratedDevice ? "integrated"
            : info.deviceType == QRhiDriverInfo::DiscreteDevice            ? "discrete"
            : info.deviceType == QRhiDriverInfo::CpuDevice                 ? "drawn by the processor"
                                                                           : "of an unknown kind";
    return QStringLiteral("adapter %1 (vendor 0x%2, device 0x%3, %4)")
            .arg(QString::fromUtf8(info.deviceName.left(200)).simplified())
            .arg(info.vendorId, 4, 16, QLatin1Char('0'))
            .arg(info.deviceId, 4, 16, QLatin1Char('0'))
            .arg(QLatin1String(kind));
#else
    Q_UNUSED(window);
    return QStringLiteral("adapter not told by this build");
#endif
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
                        << QStringLiteral("Qt %1, Chromium %2, drawn with %3, %4, %5, "
                                          "QTWEBENGINE_CHROMIUM_FLAGS: %6")
                                   .arg(QString::fromLatin1(qVersion()),
                                        QString::fromLatin1(qWebEngineChromiumVersion()), graphicsApi(window),
                                        adapter(window), graphicsLevel(qgetenv("FENESTRA_GRAPHICS_LEVEL")),
                                        QString::fromLocal8Bit(
                                                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").left(512)));
            },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

} // namespace StartupReport
