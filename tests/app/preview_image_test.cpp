// The preview image's building blocks: the built-in picture, the display
// copy and the conversion for painting.
#include "app/preview/preview_image.h"

#include "app_test_support.h"
#include "formats/dibroutines.h"
#include "imaging/resample.h"
#include "tests/support/test_support.h"

#include <QtTest>

using namespace apptest;
using brellix::test::BlockBytes;
using brellix::test::MakeRandomDIB;
using brellix::test::PixelAt;

class PreviewImageTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() { blocks_ = KML_LiveBlockCount(); }
    void cleanup() { QCOMPARE(KML_LiveBlockCount(), blocks_); }

    void builtInPaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("builtIn");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("the marker alone") << "Internal Preview" << true;
        QTest::newRow("the marker inside") << "/x/Internal Preview/y.bmp" << true;
        QTest::newRow("a file") << "/home/u/a.png" << false;
        QTest::newRow("marker in other case") << "internal preview" << false;
    }
    void builtInPaths() {
        QFETCH(QString, path);
        QTEST(IsBuiltInPreviewPath(path.toStdString()), "builtIn");
    }

    void theBuiltInPictureIsTheSampleLandscape() {
        KHANDLE builtIn = nullptr;
        QCOMPARE(LoadBuiltInPicture(&builtIn), KERV_OK);
        KOwnedHandle owned(builtIn);
        const QString sample = QFINDTESTDATA("../../samples/images/landscape.jpg");
        QVERIFY(!sample.isEmpty());
        KHANDLE read = nullptr;
        int format = 0;
        QCOMPARE(ReadImageFile(sample.toStdString(), &format, &read, nullptr, nullptr), KERV_OK);
        KOwnedHandle readOwned(read);
        int w = 0, h = 0, bits = 0;
        QVERIFY(DIBSize(builtIn, &w, &h, &bits));
        QCOMPARE(w, 320);
        QCOMPARE(h, 200);
        QCOMPARE(bits, 24);
        QCOMPARE(BlockBytes(builtIn), BlockBytes(read));
    }

    void displaySize_data() {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<bool>("scaled");
        QTest::newRow("fits") << QSize(320, 200) << QSize(400, 300) << QSize(320, 200) << false;
        QTest::newRow("exactly the box")
            << QSize(400, 300) << QSize(400, 300) << QSize(400, 300) << false;
        QTest::newRow("too wide") << QSize(800, 200) << QSize(400, 300) << QSize(400, 100) << true;
        QTest::newRow("too tall") << QSize(200, 900) << QSize(400, 300) << QSize(66, 300) << true;
        QTest::newRow("wide then still tall")
            << QSize(1000, 1000) << QSize(400, 300) << QSize(300, 300) << true;
        // 999 * 400 / 1001 = 399, then 400 * 300 / 399 = 300.
        QTest::newRow("second step from the first's result")
            << QSize(1001, 999) << QSize(400, 300) << QSize(300, 300) << true;
        QTest::newRow("a side never below 1")
            << QSize(10000, 1) << QSize(100, 100) << QSize(100, 1) << true;
        QTest::newRow("an empty box counts as 1 x 1")
            << QSize(5, 5) << QSize(0, -3) << QSize(1, 1) << true;
    }
    void displaySize() {
        QFETCH(QSize, image);
        QFETCH(QSize, box);
        QFETCH(QSize, expected);
        const DisplaySize s =
            FitDisplaySize(image.width(), image.height(), box.width(), box.height());
        QCOMPARE(QSize(s.width, s.height), expected);
        QTEST(s.scaled, "scaled");
    }

    void aFittingImageIsCopiedExactly() {
        for (int bits : {1, 4, 8, 24}) {
            KOwnedHandle image(MakeRandomDIB(33, 17, bits, 5));
            KHANDLE copy = nullptr;
            QCOMPARE(MakeDisplayCopy(image.get(), 33, 17, 24, &copy), KERV_OK);
            KOwnedHandle owned(copy);
            QVERIFY(copy != image.get());
            QCOMPARE(BlockBytes(copy), BlockBytes(image.get()));
        }
    }

    void aLargerImageIsResampledOrResized() {
        KOwnedHandle colour(MakeRandomDIB(120, 50, 24, 7));
        KHANDLE display = nullptr, reference = nullptr;
        QCOMPARE(MakeDisplayCopy(colour.get(), 60, 40, 24, &display), KERV_OK);
        QCOMPARE(ResampleDIB(nullptr, colour.get(), &reference, 60, 25), KERV_OK);
        KOwnedHandle d1(display), r1(reference);
        QCOMPARE(BlockBytes(display), BlockBytes(reference));

        KOwnedHandle indexed(MakeRandomDIB(50, 120, 8, 9));
        QCOMPARE(MakeDisplayCopy(indexed.get(), 60, 40, 24, &display), KERV_OK);
        QCOMPARE(ResizeDIB(nullptr, indexed.get(), &reference, 16, 40), KERV_OK);
        KOwnedHandle d2(display), r2(reference);
        QCOMPARE(BlockBytes(display), BlockBytes(reference));
    }

    void aScreenOfFewerBitsGetsTheStandardPalette_data() {
        QTest::addColumn<int>("imageBits");
        QTest::addColumn<int>("screen");
        QTest::addColumn<int>("shown");
        QTest::newRow("24-bit image, 8-bit screen") << 24 << 8 << 8;
        QTest::newRow("24-bit image, 4-bit screen") << 24 << 4 << 4;
        QTest::newRow("24-bit image, 1-bit screen") << 24 << 1 << 4;
        QTest::newRow("8-bit image, 8-bit screen") << 8 << 8 << 8;
        QTest::newRow("8-bit image, 4-bit screen") << 8 << 4 << 4;
        QTest::newRow("4-bit image, 8-bit screen") << 4 << 8 << 4;
        QTest::newRow("24-bit image, true-colour screen") << 24 << 24 << 24;
    }
    void aScreenOfFewerBitsGetsTheStandardPalette() {
        QFETCH(int, imageBits);
        QFETCH(int, screen);
        KOwnedHandle image(MakeRandomDIB(21, 13, imageBits, 3));
        KHANDLE display = nullptr;
        QCOMPARE(MakeDisplayCopy(image.get(), 100, 100, screen, &display), KERV_OK);
        KOwnedHandle owned(display);
        int w = 0, h = 0, bits = 0;
        QVERIFY(DIBSize(display, &w, &h, &bits));
        QCOMPARE(QSize(w, h), QSize(21, 13));
        QTEST(bits, "shown");
    }

    void aDisplayCopyFailsCleanlyWhenMemoryRunsOut() {
        // Resampled, then reduced for an 8-bit screen: every allocation of
        // both steps is made to fail in turn.
        KOwnedHandle image(MakeRandomDIB(90, 70, 24, 2));
        const std::vector<uint8_t> before = BlockBytes(image.get());
        const size_t live = KML_LiveBlockCount();
        int failures = 0;
        for (uint64_t n = 1;; ++n) {
            KML_FailNthAllocation(n);
            KHANDLE display = reinterpret_cast<KHANDLE>(1);
            const KervErrorCode code = MakeDisplayCopy(image.get(), 30, 20, 8, &display);
            KML_FailNthAllocation(0);
            KOwnedHandle owned(display);
            if (code == KERV_OK) break;
            ++failures;
            QCOMPARE(code, KERV_NO_MEMORY);
            QVERIFY(display == nullptr);
            QCOMPARE(KML_LiveBlockCount(), live);
        }
        QVERIFY(failures >= 2);
        QCOMPARE(BlockBytes(image.get()), before);
    }

    void paintingShowsEveryPixelsColour_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QSize>("size");
        for (int bits : {1, 4, 8, 24})
            for (QSize s : {QSize(1, 1), QSize(7, 3), QSize(33, 17), QSize(130, 5)})
                QTest::addRow("%d bits %dx%d", bits, s.width(), s.height()) << bits << s;
    }
    void paintingShowsEveryPixelsColour() {
        QFETCH(int, bits);
        QFETCH(QSize, size);
        KOwnedHandle dib(MakeImage(size.width(), size.height(), bits, 11));
        const QImage picture = DIBToQImage(dib.get());
        QCOMPARE(picture.size(), size);
        DIBLock d(dib.get());
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const uint32_t v = PixelAt(dib.get(), x, y);
                uint32_t rgb = v;
                if (bits != 24) {
                    const RGBQUAD e = d.palette()[v];
                    rgb = (uint32_t{e.rgbRed} << 16) | (uint32_t{e.rgbGreen} << 8) | e.rgbBlue;
                }
                QCOMPARE(picture.pixel(x, y) & 0xFFFFFFu, rgb);
            }
    }

    void anIndexPastThePaletteShowsBlack() {
        KOwnedHandle dib(AllocDIB(2, 1, 8, 2));
        {
            DIBLock d(dib.get());
            d.palette()[0] = {255, 255, 255, 0};
            d.palette()[1] = {0, 0, 255, 0};
            d.row(0)[0] = 1;
            d.row(0)[1] = 200;
        }
        const QImage picture = DIBToQImage(dib.get());
        QCOMPARE(picture.pixel(0, 0) & 0xFFFFFFu, 0xFF0000u);
        QCOMPARE(picture.pixel(1, 0) & 0xFFFFFFu, 0u);
        QVERIFY(DIBToQImage(nullptr).isNull());
    }

  private:
    size_t blocks_ = 0;
};

QTEST_MAIN(PreviewImageTest)
#include "preview_image_test.moc"
