// The window's pictures and the program's sounds, drawn and synthesised for
// Arcovelo by tools/make_resources.py and embedded through resources.qrc.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

// 259 x 47, 24 bits per pixel.
QImage BannerBitmap();
// 19 x 19, 16 colours, an open folder on silver (192, 192, 192).
QImage FolderGlyph();
QIcon ApplicationIcon();
// The WAVE resource ENC_001 .. ENC_005, as stored.
QByteArray SoundResource(const QString& name);
// The raw bytes of a picture resource ("banner.bmp", "folder.bmp", ...).
QByteArray PictureResource(const QString& name);
