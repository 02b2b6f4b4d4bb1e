// Draws the program's icon for the desktop at each of the hicolor theme's
// sizes, on a transparent background, into OUT/<size>x<size>/apps/arcovelo.png:
// the window's icon (an arch over a wheel) drawn again at every size, so that
// no size is an enlargement of a smaller picture. Run at build time.
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

// The picture in the window icon's 32 x 32 units.
constexpr double kUnits = 32.0;
constexpr QPointF kCentre(16.0, 20.5);
const QColor kArch(51, 102, 153);
const QColor kWheel(30, 60, 90);

QImage DrawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kUnits, size / kUnits);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kArch, 4.0, Qt::SolidLine, Qt::FlatCap));
    const double arch = 13.5;
    painter.drawArc(QRectF(kCentre.x() - arch, kCentre.y() - arch, 2 * arch, 2 * arch), 0, 180 * 16);
    painter.setPen(QPen(kWheel, 3.0));
    painter.drawEllipse(kCentre, 5.0, 5.0);
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons OUTPUT-FOLDER\n");
        return 2;
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QString::fromLocal8Bit(argv[1]) + QString("/%1x%1/apps").arg(size);
        if (!QDir().mkpath(folder) || !DrawIcon(size).save(folder + "/arcovelo.png", "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
