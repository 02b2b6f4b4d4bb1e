#include "Pictures.h"

#include <QFile>

// Resources of a static library are registered by hand, once (outside any
// namespace, as the registration function is declared where it is named).
static void EnsureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)registered;
}

namespace {

QByteArray ReadResource(const QString& path)
{
    EnsureResources();
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QImage BannerBitmap() { return QImage::fromData(PictureResource("banner.bmp"), "BMP"); }
QImage FolderGlyph() { return QImage::fromData(PictureResource("folder.bmp"), "BMP"); }
QIcon ApplicationIcon() { return QIcon(QPixmap::fromImage(QImage::fromData(PictureResource("arcovelo.bmp"), "BMP"))); }
QByteArray SoundResource(const QString& name) { return ReadResource(":/WAVE/" + name); }
QByteArray PictureResource(const QString& name) { return ReadResource(":/pictures/" + name); }
