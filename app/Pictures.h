// The window's pictures, drawn for Arcovelo: the banner and the folder glyph.
#pragma once

#include <QImage>

// 259 x 47, 24 bits per pixel.
QImage BannerBitmap();
// 19 x 19, 16 colours, an open folder on silver (192, 192, 192).
QImage FolderGlyph();
