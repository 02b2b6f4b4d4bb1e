#include "Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

QImage BannerBitmap()
{
    QImage banner(259, 47, QImage::Format_RGB888);
    QPainter p(&banner);
    QLinearGradient sky(0, 0, 259, 0);
    sky.setColorAt(0, QColor(255, 255, 255));
    sky.setColorAt(1, QColor(51, 102, 153));
    p.fillRect(banner.rect(), sky);
    // An arc over a wheel: the program's mark.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255), 3));
    p.drawArc(QRect(206, 8, 40, 40), 0, 180 * 16);
    p.drawEllipse(QPoint(226, 32), 9, 9);
    QFont font("DejaVu Sans");
    font.setPixelSize(22);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(30, 60, 90));
    p.drawText(QRect(70, 6, 130, 34), Qt::AlignRight | Qt::AlignVCenter, "Arcovelo");
    return banner;
}

QImage FolderGlyph()
{
    // The sixteen colours of the classic palette; index 7 is the silver background.
    static const QRgb palette16[16] = {0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
                                       0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                                       0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
    static const char* rows[19] = {
        "...................", "...................", "...................", "...................",
        "..KKKK.............", ".KYWYWK............", "KYWYWYWKKKKKKK.....", "KWYWYWYWYWYWYK.....",
        "KYWYWYWYWYWYWK.....", "KWYWYWKKKKKKKKKKK..", "KYWYWKYYYYYYYYYYK..", "KWYWKYYYYYYYYYYK...",
        "KYWKYYYYYYYYYYYK...", "KWKYYYYYYYYYYYK....", "KKYYYYYYYYYYYYK....", "KKKKKKKKKKKKKK.....",
        "...................", "...................", "..................."};
    QImage glyph(19, 19, QImage::Format_Indexed8);
    glyph.setColorTable(QList<QRgb>(std::begin(palette16), std::end(palette16)));
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 19; ++x) {
            const char c = rows[y][x];
            glyph.setPixel(x, y, c == 'K' ? 0 : c == 'Y' ? 11 : c == 'W' ? 15 : 7);
        }
    return glyph;
}
