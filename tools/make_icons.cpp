// Draws the program's icon for the desktop at the hicolor theme's sizes: the
// window's own 32 x 32 icon scaled, pixel for pixel, to
// OUT/<size>x<size>/apps/arcovelo.png. Run at build time.
#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons ICON.bmp OUTPUT-FOLDER\n");
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull()) {
        std::fprintf(stderr, "make_icons: cannot read %s\n", argv[1]);
        return 1;
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QString::fromLocal8Bit(argv[2]) + QString("/%1x%1/apps").arg(size);
        const QImage scaled = icon.scaled(size, size, Qt::IgnoreAspectRatio,
                                          size % 32 == 0 ? Qt::FastTransformation : Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) || !scaled.save(folder + "/arcovelo.png", "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
