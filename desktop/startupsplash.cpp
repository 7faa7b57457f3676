#include "desktop/startupsplash.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QQuickWindow>
#include <QScreen>

namespace {

QPixmap splashPicture()
{
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap picture(QSize(360, 140) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(QColor(0xd3, 0xe3, 0xfd));

    QPainter painter(&picture);
    painter.setPen(QColor(0xb9, 0xb9, 0xbe));
    painter.drawRect(0, 0, 359, 139);
    painter.drawPixmap(24, 38, QGuiApplication::windowIcon().pixmap(64, 64));
    painter.setPen(QColor(0x20, 0x21, 0x24));
    QFont font = painter.font();
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(QRect(108, 38, 236, 32), Qt::AlignLeft | Qt::AlignVCenter, QObject::tr("门窗软件管理"));
    font.setPixelSize(14);
    painter.setFont(font);
    painter.drawText(QRect(108, 76, 236, 26), Qt::AlignLeft | Qt::AlignVCenter,
                     QObject::tr("正在连接服务器…"));
    return picture;
}

} // namespace

StartupSplash::StartupSplash() : m_picture(splashPicture())
{
    setFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    const QSize size = m_picture.deviceIndependentSize().toSize();
    setMinimumSize(size);
    setMaximumSize(size);
    resize(size);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setPosition(screen->geometry().center() - QRect(QPoint(), size).center());
    show();
    // Painted now, before the start-up blocks in anything.
    QCoreApplication::processEvents();
}

void StartupSplash::paintEvent(QPaintEvent *)
{
    QPainter(this).drawPixmap(0, 0, m_picture);
}

void StartupSplash::closeWhenShown(QWindow *window)
{
    auto *quickWindow = qobject_cast<QQuickWindow *>(window);
    if (!quickWindow) {
        close();
        return;
    }
    connect(quickWindow, &QQuickWindow::frameSwapped, this, &QWindow::close,
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}
