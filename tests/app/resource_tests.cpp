// The program's sounds and pictures are what they claim to be.
#include "Pictures.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace {

quint32 U32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 U16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

struct Wave {
    quint16 format = 0, channels = 0, bits = 0;
    quint32 rate = 0, dataBytes = 0, factSamples = 0;
    bool list = false;
};

// Walks the RIFF chunks; fails the test on any malformed one.
Wave ParseWave(const QByteArray& b)
{
    Wave w;
    EXPECT_EQ(b.left(4), "RIFF");
    EXPECT_EQ(U32(b, 4), quint32(b.size() - 8));
    EXPECT_EQ(b.mid(8, 4), "WAVE");
    int at = 12;
    while (at + 8 <= b.size()) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = U32(b, at + 4);
        EXPECT_LE(at + 8 + int(size), b.size()) << id.toStdString();
        if (id == "fmt ") {
            w.format = U16(b, at + 8);
            w.channels = U16(b, at + 10);
            w.rate = U32(b, at + 12);
            w.bits = U16(b, at + 22);
        } else if (id == "fact") {
            w.factSamples = U32(b, at + 8);
        } else if (id == "data") {
            w.dataBytes = size;
        } else if (id == "LIST") {
            w.list = b.mid(at + 8, 4) == "INFO";
        }
        at += 8 + int(size) + int(size % 2);
    }
    return w;
}

TEST(Resources, theFiveSoundsAreMonoSixteenBitPcmOfTheirSizes)
{
    const struct {
        const char* name;
        quint32 rate, bytes;
    } table[] = {{"ENC_001", 22050, 4862}, {"ENC_002", 22050, 4270}, {"ENC_003", 22050, 14776},
                 {"ENC_004", 22050, 174},  {"ENC_005", 44100, 46792}};
    for (const auto& t : table) {
        const QByteArray bytes = SoundResource(t.name);
        ASSERT_FALSE(bytes.isEmpty()) << t.name;
        const Wave w = ParseWave(bytes);
        EXPECT_EQ(w.format, 1) << t.name;
        EXPECT_EQ(w.channels, 1);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.rate, t.rate);
        EXPECT_EQ(w.dataBytes, t.bytes);
        EXPECT_EQ(w.factSamples, t.bytes / 2);
        EXPECT_EQ(w.list, std::string(t.name) == "ENC_005");
    }
}

TEST(Resources, theBannerAndGlyphHaveTheirSizesAndDepths)
{
    const QByteArray banner = PictureResource("banner.bmp");
    ASSERT_EQ(banner.left(2), "BM");
    EXPECT_EQ(U32(banner, 18), 259u);
    EXPECT_EQ(U32(banner, 22), 47u);
    EXPECT_EQ(U16(banner, 28), 24);
    const QByteArray glyph = PictureResource("folder.bmp");
    EXPECT_EQ(U32(glyph, 18), 19u);
    EXPECT_EQ(U32(glyph, 22), 19u);
    EXPECT_EQ(U16(glyph, 28), 4) << "16 colours";
    const QImage image = FolderGlyph();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(192, 192, 192)) << "silver background";
    EXPECT_EQ(BannerBitmap().size(), QSize(259, 47));
    EXPECT_FALSE(ApplicationIcon().isNull());
}

}  // namespace
