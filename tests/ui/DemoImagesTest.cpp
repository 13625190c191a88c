// The pictures of the synthetic caches decode with Qt's image readers, at
// their size, with the pattern and transparency they are meant to show.
#include "support/DemoImages.h"

#include "UiTestSupport.h"

#include <QImage>

using namespace oriel;

namespace {

QImage Decode(const std::string& bytes, const char* format)
{
    return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), int(bytes.size()), format);
}

} // namespace

class DemoImagesTest : public QObject {
    Q_OBJECT
private slots:
    void PngHasItsSizeAPatternAndTransparentCorners();
    void GifHasItsSizeAndAPatternAcrossManyClearCodes();
    void JpegTilesHaveTheirColours();
};

void DemoImagesTest::PngHasItsSizeAPatternAndTransparentCorners()
{
    const QImage image = Decode(test::MakePatternPng(120, 80, 0x00336699), "PNG");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(120, 80));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(119, 79)), 0);
    QCOMPARE(qAlpha(image.pixel(60, 40)), 255);
    QVERIFY(image.pixel(30, 40) != image.pixel(90, 40));
}

void DemoImagesTest::GifHasItsSizeAndAPatternAcrossManyClearCodes()
{
    // 128 x 128 pixels need 64 clear codes: a wrong bit order or table
    // reset garbles every pixel after the first run.
    const QImage image = Decode(test::MakePatternGif(128, 128, 0x00CC8844), "GIF");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(image.pixel(0, 0) != image.pixel(127, 127));
    // The pattern is symmetric about the diagonal, in every run of codes.
    int mismatches = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < y; ++x)
            mismatches += image.pixel(x, y) != image.pixel(y, x);
    }
    QCOMPARE(mismatches, 0);
}

void DemoImagesTest::JpegTilesHaveTheirColours()
{
    // 12 x 9 tiles: the DC differences run through most categories of the
    // code table, and a wrong code or stuffing byte shifts every later tile.
    const uint32_t seed = 0x0020C0F0;
    const QImage image = Decode(test::MakeMosaicJpeg(12, 9, seed), "JPG");
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(96, 72));
    for (int by = 0; by < 9; ++by) {
        for (int bx = 0; bx < 12; ++bx) {
            const QRgb got = image.pixel(bx * 8 + 4, by * 8 + 4);
            const uint32_t want = test::MosaicTileRgb(uint16_t(bx), uint16_t(by), 12, 9, seed);
            const int channels[3][2] = {{qRed(got), int(want >> 16)},
                                        {qGreen(got), int((want >> 8) & 0xFF)},
                                        {qBlue(got), int(want & 0xFF)}};
            for (const auto& [a, b] : channels)
                QVERIFY2(std::abs(a - b) <= 4, qPrintable(QString("tile %1,%2: %3 vs %4").arg(bx).arg(by).arg(a).arg(b)));
        }
    }
}

ORIEL_UI_TEST_MAIN(DemoImagesTest)
#include "DemoImagesTest.moc"
