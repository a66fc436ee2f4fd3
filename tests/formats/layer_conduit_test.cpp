#include "formats/layer_conduit.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace brellix::test;

namespace {

class BlendTablesEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(InitBlendTables(), 0); }
};
testing::Environment* const kTables = testing::AddGlobalTestEnvironment(new BlendTablesEnvironment);

KHANDLE Copy(KHANDLE h) {
    KHANDLE c = nullptr;
    return CopyDIB(h, &c) == 0 ? c : nullptr;
}

SLayerData Layer(KHANDLE image, int left, int top) {
    SLayerData l;
    l.image = image;
    DIBLock d(image);
    l.rect = {left, top, left + d.width(), top + d.height()};
    return l;
}

LayeredFileInfo RgbFile(int w, int h, uint8_t background = 0) {
    LayeredFileInfo f;
    f.width = w, f.height = h, f.bitCount = 24, f.background = background;
    return f;
}

// ---- The canvas ----

struct CanvasCase {
    const char* name;
    int fileBits;
    uint32_t paletteCount;
    uint8_t background;
    int wantBits;
    uint32_t wantEntries;
};

class ConduitCanvas : public testing::TestWithParam<CanvasCase> {};

TEST_P(ConduitCanvas, ComesFromTheFileWithTheFirstLayer) {
    const CanvasCase& c = GetParam();
    LeakCheck leaks;
    LayeredFileInfo f;
    f.width = 13, f.height = 5, f.bitCount = c.fileBits, f.background = c.background;
    f.paletteCount = c.paletteCount;
    for (uint32_t i = 0; i < 256; ++i)
        f.palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
    LayerConduit conduit(f);
    SLayerData hidden = Layer(MakeRandomDIB(3, 3, c.wantBits, 1), 0, 0);
    hidden.flags = 0; // not composited, but it still makes the canvas
    ASSERT_EQ(conduit.AddLayer(&hidden), 0);
    EXPECT_EQ(hidden.image, nullptr);
    KHANDLE out = nullptr;
    ASSERT_EQ(conduit.Finish(&out), 0);
    KOwnedHandle canvas(out);
    DIBLock d(canvas.get());
    ASSERT_TRUE(d);
    EXPECT_EQ(d.width(), 13);
    EXPECT_EQ(d.height(), 5);
    EXPECT_EQ(d.bitCount(), c.wantBits);
    EXPECT_EQ(d->biClrUsed, c.wantEntries);
    EXPECT_EQ(std::memcmp(d.palette(), f.palette, 4 * c.wantEntries), 0);
    for (int y = 0; y < 5; ++y) {
        const uint8_t* row = DIBRowFromTop(d.header(), y);
        for (uint32_t i = 0; i < (13u * c.wantBits + 7) / 8; ++i)
            ASSERT_EQ(row[i], c.background);
    }
}

const CanvasCase kCanvasCases[] = {
    {"TrueColourBlack", 24, 0, 0, 24, 0},
    {"DeeperFilesAre24Bits", 48, 0, 200, 24, 0},
    {"EightBitsWithItsPalette", 8, 256, 255, 8, 256},
    {"ShortPaletteKeptShort", 8, 40, 7, 8, 40},
    {"FourBitsFullPaletteByDefault", 4, 0, 0x33, 4, 16},
    {"OneBit", 1, 2, 0xFF, 1, 2},
};

INSTANTIATE_TEST_SUITE_P(LayerConduit, ConduitCanvas, testing::ValuesIn(kCanvasCases),
                         [](const testing::TestParamInfo<CanvasCase>& i) { return i.param.name; });

struct ResolutionCase {
    const char* name;
    double value;
    int32_t unit;
    int32_t want;
};

class ConduitResolution : public testing::TestWithParam<ResolutionCase> {};

// x 0.39370078740157477 per inch, then x 100 + 0.5, truncated:
//  300 dpi: 118.11023... -> 11811.52 -> 11811;  72 dpi: 2834.6456 + 0.5 -> 2835.
TEST_P(ConduitResolution, BecomesPixelsPerMetre) {
    const ResolutionCase& c = GetParam();
    SGraphicAttributes a;
    a.resolution = c.value, a.resolutionUnit = c.unit;
    EXPECT_EQ(LayerCanvasPelsPerMeter(a), c.want);
    LayeredFileInfo f = RgbFile(2, 2);
    f.attributes = a;
    LayerConduit conduit(f);
    KHANDLE out = nullptr;
    ASSERT_EQ(conduit.Finish(&out), 0);
    KOwnedHandle canvas(out);
    DIBLock d(canvas.get());
    EXPECT_EQ(d->biXPelsPerMeter, c.want);
    EXPECT_EQ(d->biYPelsPerMeter, c.want);
}

const ResolutionCase kResolutions[] = {
    {"PerInch300", 300, 1, 11811},
    {"PerInch72", 72, 1, 2835},
    {"PerCentimetre", 118.11, 2, 11811},
    {"PerCentimetreRoundsUp", 28.345, 2, 2835},
    {"NoUnit", 300, 0, 0},
    {"UnknownUnit", 300, 3, 0},
    {"Zero", 0, 1, 0},
    {"Negative", -72, 2, 0},
};

INSTANTIATE_TEST_SUITE_P(LayerConduit, ConduitResolution, testing::ValuesIn(kResolutions),
                         [](const testing::TestParamInfo<ResolutionCase>& i) {
                             return i.param.name;
                         });

// ---- Which layers are used ----

TEST(LayerConduit, CompositesOnlyVisibleImageLayers) {
    LeakCheck leaks;
    KOwnedHandle a(MakeRandomDIB(6, 4, 24, 2)), b(MakeRandomDIB(3, 3, 24, 3)),
        c(MakeRandomDIB(4, 2, 24, 4)), hidden(MakeRandomDIB(6, 4, 24, 5)),
        group(MakeRandomDIB(6, 4, 24, 6));
    // The expected canvas: a white 8 x 5 canvas with its mask, and a, b, c as
    // CompositeLayer places them.
    KOwnedHandle want(AllocDIB(8, 5, 24, 0)), wantCover(AllocDIB(8, 5, 8, 256));
    {
        DIBLock d(want.get());
        std::memset(d.bits(), 255, d->biSizeImage);
    }
    ASSERT_EQ(CompositeLayer(want.get(), wantCover.get(), a.get(), nullptr, 255, 0, {1, 1, 7, 5},
                             false, nullptr),
              0);
    ASSERT_EQ(CompositeLayer(want.get(), wantCover.get(), b.get(), nullptr, 100, 8, {-1, 3, 2, 6},
                             false, nullptr),
              0);
    ASSERT_EQ(CompositeLayer(want.get(), wantCover.get(), c.get(), nullptr, 255, 16, {5, 0, 9, 2},
                             false, nullptr),
              0);

    LayerConduit conduit(RgbFile(8, 5, 255));
    struct Feed {
        KHANDLE image;
        int left, top;
        int type;
        uint32_t flags;
        uint8_t opacity, mode;
    };
    const Feed feeds[] = {
        {a.get(), 1, 1, 0, kLayerVisible, 255, 0},
        {hidden.get(), 0, 0, 0, 0, 255, 0},
        {b.get(), -1, 3, 1, kLayerVisible | 0x10, 100, 8},
        {group.get(), 0, 0, 3, kLayerVisible, 255, 0},
        {group.get(), 0, 0, -1, kLayerVisible, 255, 0},
        {c.get(), 5, 0, 2, kLayerVisible, 255, 16},
    };
    for (const Feed& f : feeds) {
        SLayerData l = Layer(Copy(f.image), f.left, f.top);
        l.type = f.type, l.flags = f.flags, l.opacity = f.opacity, l.blendMode = f.mode;
        const size_t live = KML_LiveBlockCount();
        ASSERT_EQ(conduit.AddLayer(&l), 0);
        EXPECT_EQ(l.image, nullptr);
        EXPECT_EQ(KML_LiveBlockCount() + 1, live + (f.image == a.get() ? 2 : 0))
            << "the layer is freed (the first one made the canvas and its mask)";
    }
    // An empty rectangle paints nothing either.
    SLayerData empty = Layer(Copy(a.get()), 0, 0);
    empty.rect.right = empty.rect.left;
    ASSERT_EQ(conduit.AddLayer(&empty), 0);
    KHANDLE out = nullptr;
    ASSERT_EQ(conduit.Finish(&out), 0);
    KOwnedHandle got(out);
    EXPECT_EQ(BlockBytes(got.get()), BlockBytes(want.get()));
}

TEST(LayerConduit, StopTakingDataFreesLaterLayersUnused) {
    LeakCheck leaks;
    LayerConduit conduit(RgbFile(4, 4, 9));
    conduit.StopTakingData();
    SLayerData l = Layer(MakeRandomDIB(4, 4, 24, 7), 0, 0);
    l.mask = MakeRandomDIB(4, 4, 8, 8, true);
    l.maskFlags = kLayerMaskEnabled;
    ASSERT_EQ(conduit.AddLayer(&l), 0);
    EXPECT_EQ(l.image, nullptr);
    EXPECT_EQ(l.mask, nullptr);
    KHANDLE out = nullptr;
    ASSERT_EQ(conduit.Finish(&out), 0);
    KOwnedHandle canvas(out);
    for (const auto& row : PixelRows(canvas.get()))
        for (uint32_t v : row)
            ASSERT_EQ(v, 0x090909u);
}

TEST(LayerConduit, AConduitDroppedHalfWayLeavesNothing) {
    LeakCheck leaks;
    LayerConduit conduit(RgbFile(40, 30));
    SLayerData l = Layer(MakeRandomDIB(9, 9, 24, 9), 3, 3);
    ASSERT_EQ(conduit.AddLayer(&l), 0);
}

// ---- Masks ----

TEST(PlaceLayerMask, PlacesByTheRectanglesWithTheDefaultOutside) {
    // Layer 4 x 3 at (10, 20); mask 3 x 2 at (11, 19), default 7:
    //   layer row 0 is mask row 1, layer columns 1..3 are mask columns 0..2.
    SLayerData l = Layer(MakeRandomDIB(4, 3, 24, 10), 10, 20);
    l.mask = FromRows(8, {{1, 2, 3}, {4, 5, 6}}, true);
    l.maskRect = {11, 19, 14, 21};
    l.maskDefault = 7;
    l.maskFlags = kLayerMaskEnabled;
    KHANDLE placed = nullptr;
    ASSERT_EQ(PlaceLayerMask(l, &placed), 0);
    KOwnedHandle p(placed);
    EXPECT_EQ(PixelRows(p.get()), (Rows{{7, 4, 5, 6}, {7, 7, 7, 7}, {7, 7, 7, 7}}));
    l.maskFlags |= kLayerMaskInverted;
    ASSERT_EQ(PlaceLayerMask(l, &placed), 0);
    p.reset(placed);
    EXPECT_EQ(PixelRows(p.get()),
              (Rows{{248, 251, 250, 249}, {248, 248, 248, 248}, {248, 248, 248, 248}}));
    l.maskFlags = 0; // disabled: no mask at all
    ASSERT_EQ(PlaceLayerMask(l, &placed), 0);
    EXPECT_EQ(placed, nullptr);
    FreeLayer(&l);
}

TEST(PlaceLayerMask, FarAwayAndLargerMasksAreCut) {
    struct Case {
        const char* name;
        LayerRect maskRect;
        Rows want;
    };
    const Case cases[] = {
        {"far left", {INT32_MIN, 0, 0, 0}, {{9, 9}, {9, 9}}},
        {"far below", {0, INT32_MAX, 0, 0}, {{9, 9}, {9, 9}}},
        {"larger, from its middle", {-1, -1, 3, 3}, {{6, 7}, {10, 11}}},
    };
    for (const Case& c : cases) {
        SLayerData l = Layer(MakeRandomDIB(2, 2, 24, 11), 0, 0);
        l.mask = FromRows(8, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}}, true);
        l.maskRect = c.maskRect;
        l.maskDefault = 9;
        l.maskFlags = kLayerMaskEnabled;
        KHANDLE placed = nullptr;
        ASSERT_EQ(PlaceLayerMask(l, &placed), 0) << c.name;
        KOwnedHandle p(placed);
        EXPECT_EQ(PixelRows(p.get()), c.want) << c.name;
        FreeLayer(&l);
    }
}

TEST(LayerConduit, AppliesAnEnabledMaskWhereItIsPlaced) {
    LeakCheck leaks;
    KOwnedHandle base(MakeRandomDIB(9, 7, 24, 19));
    KOwnedHandle image(MakeRandomDIB(5, 4, 24, 12));
    KOwnedHandle mask(MakeRandomDIB(3, 6, 8, 13, true));
    // The expectation: the mask placed by hand, then composited over a base layer.
    SLayerData probe = Layer(Copy(image.get()), 2, 1);
    probe.mask = Copy(mask.get());
    probe.maskRect = {3, 0, 6, 6};
    probe.maskDefault = 40;
    probe.maskFlags = kLayerMaskEnabled;
    KHANDLE placed = nullptr;
    ASSERT_EQ(PlaceLayerMask(probe, &placed), 0);
    KOwnedHandle placedOwner(placed);
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "enabled" : "disabled");
        KOwnedHandle want(AllocDIB(9, 7, 24, 0)), wantCover(AllocDIB(9, 7, 8, 256));
        ASSERT_EQ(CompositeLayer(want.get(), wantCover.get(), base.get(), nullptr, 255, 0,
                                 {0, 0, 9, 7}, false, nullptr),
                  0);
        ASSERT_EQ(CompositeLayer(want.get(), wantCover.get(), image.get(),
                                 enabled ? placed : nullptr, 230, 7, probe.rect, false, nullptr),
                  0);
        LayerConduit conduit(RgbFile(9, 7));
        SLayerData first = Layer(Copy(base.get()), 0, 0);
        ASSERT_EQ(conduit.AddLayer(&first), 0);
        SLayerData l = Layer(Copy(image.get()), 2, 1);
        l.mask = Copy(mask.get());
        l.maskRect = probe.maskRect;
        l.maskDefault = 40;
        l.maskFlags = enabled ? kLayerMaskEnabled : 0;
        l.opacity = 230, l.blendMode = 7;
        ASSERT_EQ(conduit.AddLayer(&l), 0);
        KHANDLE out = nullptr;
        ASSERT_EQ(conduit.Finish(&out), 0);
        KOwnedHandle got(out);
        EXPECT_EQ(BlockBytes(got.get()), BlockBytes(want.get()));
    }
    FreeLayer(&probe);
}

TEST(LayerConduit, RefusesAMaskThatIsNotLevels) {
    LeakCheck leaks;
    LayerConduit conduit(RgbFile(4, 4));
    SLayerData l = Layer(MakeRandomDIB(4, 4, 24, 14), 1, 1);
    l.mask = MakeRandomDIB(4, 4, 24, 15);
    l.maskFlags = kLayerMaskEnabled;
    EXPECT_EQ(conduit.AddLayer(&l), KERV_INVALID_PARAM);
    EXPECT_EQ(l.image, nullptr) << "freed also on failure";
    EXPECT_EQ(l.mask, nullptr);
}

TEST(LayerConduit, RefusesACanvasItCannotMake) {
    struct Case {
        const char* name;
        int w, h, bits;
        KervErrorCode want;
    };
    for (const Case& c : {Case{"no width", 0, 5, 24, KERV_CORRUPT_FILE},
                          Case{"negative height", 5, -5, 24, KERV_CORRUPT_FILE},
                          Case{"too wide", 70000, 5, 24, KERV_IMAGE_TOO_LARGE},
                          Case{"two bits", 5, 5, 2, KERV_INVALID_PARAM}}) {
        LeakCheck leaks;
        LayeredFileInfo f = RgbFile(c.w, c.h);
        f.bitCount = c.bits;
        LayerConduit conduit(f);
        SLayerData l = Layer(MakeRandomDIB(2, 2, 24, 16), 0, 0);
        EXPECT_EQ(conduit.AddLayer(&l), c.want) << c.name;
        EXPECT_EQ(l.image, nullptr) << c.name;
        KHANDLE out = reinterpret_cast<KHANDLE>(1);
        EXPECT_EQ(conduit.Finish(&out), c.want) << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
    }
}

TEST(LayerConduit, EveryAllocationFailureIsOutOfMemoryWithoutLeaks) {
    KOwnedHandle rgb(MakeRandomDIB(7, 5, 24, 17)), mask(MakeRandomDIB(9, 9, 8, 18, true));
    auto flatten = [&](KHANDLE* result) -> KervErrorCode {
        *result = nullptr;
        LayeredFileInfo f;
        f.width = 8, f.height = 6, f.bitCount = 8, f.paletteCount = 256;
        for (int i = 0; i < 256; ++i)
            f.palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        LayerConduit conduit(f);
        // A true colour layer on a grey canvas, with a mask to place.
        SLayerData l;
        l.image = Copy(rgb.get());
        l.mask = Copy(mask.get());
        if (!l.image || !l.mask) {
            FreeLayer(&l);
            return KERV_NO_MEMORY;
        }
        l.rect = {1, -1, 8, 4};
        l.maskRect = {0, -2, 9, 7};
        l.maskFlags = kLayerMaskEnabled;
        l.blendMode = kBlendOverlay;
        if (KervErrorCode e = conduit.AddLayer(&l)) return e;
        return conduit.Finish(result);
    };
    EXPECT_GE(SweepAllocationFailures(rgb.get(), flatten), 6);
}

} // namespace
