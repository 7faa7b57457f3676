// Renders the program's images into the folder given as the only argument:
// the application icon qtweb.ico and the two navigation images.
#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

QImage canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A window of four panes on a rounded blue tile.
QImage renderIcon(int size)
{
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, QColor("#4f8ff7"));
    tile.setColorAt(1, QColor("#1a5fd0"));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);

    const QRectF frame(s * 0.22, s * 0.2, s * 0.56, s * 0.6);
    const qreal bar = qMax<qreal>(1.0, s * 0.07);
    p.setBrush(QColor("#d3e3fd"));
    p.drawRect(frame.adjusted(bar / 2, bar / 2, -bar / 2, -bar / 2));
    p.setBrush(Qt::white);
    const qreal half = bar / 2;
    p.drawRect(QRectF(frame.left(), frame.top(), frame.width(), bar));
    p.drawRect(QRectF(frame.left(), frame.bottom() - bar, frame.width(), bar));
    p.drawRect(QRectF(frame.left(), frame.top(), bar, frame.height()));
    p.drawRect(QRectF(frame.right() - bar, frame.top(), bar, frame.height()));
    p.drawRect(QRectF(frame.center().x() - half, frame.top(), bar, frame.height()));
    p.drawRect(QRectF(frame.left(), frame.center().y() - half, frame.width(), bar));
    return image;
}

// A black chevron pointing left.
QImage renderBack()
{
    QImage image = canvas(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::black, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    QPainterPath chevron;
    chevron.moveTo(20, 6);
    chevron.lineTo(10, 16);
    chevron.lineTo(20, 26);
    p.drawPath(chevron);
    return image;
}

// A dark grey ring of eight short radial strokes with graded opacity.
QImage renderLoading()
{
    QImage image = canvas(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(16, 16);
    for (int i = 0; i < 8; ++i) {
        QColor grey("#404040");
        grey.setAlphaF(0.25 + 0.75 * i / 7.0);
        p.setPen(QPen(grey, 3.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -7), QPointF(0, -13));
        p.rotate(45);
    }
    return image;
}

// One icon directory entry's image: a 32-bit DIB with its AND mask, or PNG
// data for the 256-pixel image, as Windows expects.
QByteArray iconImageData(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    QByteArray data;
    if (size >= 256) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return data;
    }
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const int maskStride = ((size + 31) / 32) * 4;
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(32) << quint32(0)
        << quint32(size * size * 4 + maskStride * size) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    for (int y = size - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size; ++x)
            out << quint8(qBlue(line[x])) << quint8(qGreen(line[x])) << quint8(qRed(line[x]))
                << quint8(qAlpha(line[x]));
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray mask(maskStride, '\0');
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size; ++x)
            if (qAlpha(line[x]) == 0)
                mask[x / 8] = char(mask[x / 8] | (0x80 >> (x % 8)));
        out.writeRawData(mask.constData(), mask.size());
    }
    return data;
}

bool writeIcon(const QString &path, const QList<int> &sizes)
{
    QList<QByteArray> images;
    for (int size : sizes)
        images.append(iconImageData(renderIcon(size)));

    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(sizes.size());
    quint32 offset = 6 + 16 * sizes.size();
    for (int i = 0; i < sizes.size(); ++i) {
        const quint8 side = sizes[i] >= 256 ? 0 : quint8(sizes[i]);
        out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(images[i].size()) << offset;
        offset += images[i].size();
    }
    for (const QByteArray &image : images)
        out.writeRawData(image.constData(), image.size());

    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        qWarning("usage: %s FOLDER", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QList<int> iconSizes { 16, 20, 24, 30, 32, 36, 40, 48, 60, 64, 72, 128, 256 };
    const bool ok = writeIcon(folder.filePath(QStringLiteral("qtweb.ico")), iconSizes)
            && renderBack().save(folder.filePath(QStringLiteral("back.png")))
            && renderLoading().save(folder.filePath(QStringLiteral("loading.png")));
    return ok ? 0 : 1;
}
