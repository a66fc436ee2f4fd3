#include "core/settings.h"
#include "formats/codec_qzm.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "tests/formats/composite_reference.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace brellix::test;
using namespace brellix::test::ref;

namespace {

class BlendTablesEnvironment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(InitBlendTables(), 0); }
};
testing::Environment* const kTables = testing::AddGlobalTestEnvironment(new BlendTablesEnvironment);

KHANDLE Copy(KHANDLE h) {
    KHANDLE c = nullptr;
    return h && CopyDIB(h, &c) == 0 ? c : nullptr;
}

// Layers the tests own (freed at scope end), and what the writer borrows.
struct OwnedLayers {
    std::vector<SLayerData> layers;
    ~OwnedLayers() {
        for (SLayerData& l : layers)
            FreeLayer(&l);
    }
};

// ---- A document of several layers, with every field in use ----

struct Kind {
    const char* name;
    int bits;
    bool grey;
};

QzmDocument DocumentFor(const Kind& k, int compression, int version) {
    QzmDocument doc;
    doc.width = 29, doc.height = 13, doc.bitCount = k.bits;
    doc.background = 0x5A;
    doc.compression = compression, doc.version = version;
    doc.attributes.resolution = 118.11, doc.attributes.resolutionUnit = 2;
    if (k.bits != 24) {
        doc.paletteCount = k.bits == 1 ? 2 : 256;
        std::mt19937 rng(7);
        for (uint32_t i = 0; i < doc.paletteCount; ++i)
            doc.palette[i] = k.grey ? RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0}
                                    : RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    }
    return doc;
}

void MakeLayers(const Kind& k, OwnedLayers* out) {
    struct Plan {
        int left, top, w, h;
        int type;
        uint32_t flags;
        uint8_t opacity, mode;
        bool mask, maskOn, inverted;
    };
    const Plan plans[] = {
        {0, 0, 29, 13, 0, kLayerVisible, 255, kBlendNormal, false, false, false},
        {-3, 2, 12, 9, 1, kLayerVisible, 180, kBlendScreen, true, true, false},
        {20, -4, 15, 8, 2, kLayerVisible, 255, kBlendSoftLight, true, true, true},
        {5, 5, 6, 6, 0, 0, 255, kBlendNormal, false, false, false}, // hidden
        {1, 1, 4, 4, 9, kLayerVisible, 255, kBlendNormal, false, false,
         false}, // not an image layer
        {8, 3, 10, 7, 0, kLayerVisible, 140, kBlendHardLight, true, false,
         false},                                                      // mask switched off
        {2, 7, 9, 5, 0, kLayerVisible, 230, 40, false, false, false}, // unknown mode
    };
    uint32_t seed = 100;
    for (const Plan& s : plans) {
        SLayerData l;
        l.type = s.type, l.flags = s.flags, l.opacity = s.opacity, l.blendMode = s.mode;
        l.image = k.bits == 24 || k.grey ? MakeRandomDIB(s.w, s.h, k.bits, ++seed, k.grey)
                                         : MakeRandomPaletteDIB(s.w, s.h, k.bits, ++seed);
        l.rect = {s.left, s.top, s.left + s.w, s.top + s.h};
        if (s.mask) {
            l.mask = MakeRandomDIB(s.w + 3, s.h - 1, 8, ++seed, true);
            l.maskRect = {s.left - 1, s.top + 1, s.left + s.w + 2, s.top + s.h};
            l.maskDefault = 99;
            l.maskFlags =
                (s.maskOn ? kLayerMaskEnabled : 0) | (s.inverted ? kLayerMaskInverted : 0);
        }
        if (s.mode == kBlendScreen) {
            const uint8_t ranges[8] = {20, 80, 200, 240, 0, 0, 255, 255};
            std::memcpy(l.blendRanges + 8, ranges, 8);
        }
        out->layers.push_back(l);
    }
}

// The same layers flattened by the conduit directly.
KOwnedHandle FlattenDirectly(const QzmDocument& doc, const OwnedLayers& layers) {
    LayeredFileInfo f;
    f.width = doc.width, f.height = doc.height, f.bitCount = doc.bitCount;
    f.background = doc.background, f.attributes = doc.attributes;
    f.paletteCount = doc.paletteCount;
    std::memcpy(f.palette, doc.palette, sizeof f.palette);
    LayerConduit conduit(f);
    for (const SLayerData& l : layers.layers) {
        SLayerData c = l;
        c.image = Copy(l.image);
        c.mask = Copy(l.mask);
        EXPECT_EQ(conduit.AddLayer(&c), 0);
    }
    KHANDLE out = nullptr;
    EXPECT_EQ(conduit.Finish(&out), 0);
    return KOwnedHandle(out);
}

// The reference flattening, from the formulas (24 bits and greyscale).
Img FlattenByReference(const QzmDocument& doc, const OwnedLayers& layers, std::vector<Img>& masks) {
    std::vector<RefLayer> ref;
    masks.reserve(layers.layers.size());
    for (const SLayerData& l : layers.layers) {
        if (l.type > 2 || !(l.flags & kLayerVisible)) continue;
        RefLayer r;
        r.image = ImgOf(l.image);
        r.p.left = l.rect.left, r.p.top = l.rect.top, r.p.opacity = l.opacity,
        r.p.mode = l.blendMode;
        r.p.ranges = l.blendRanges;
        if (l.mask && (l.maskFlags & kLayerMaskEnabled)) {
            KHANDLE placed = nullptr;
            EXPECT_EQ(PlaceLayerMask(l, &placed), 0);
            masks.push_back(ImgOf(placed));
            KML_GlobalFree(placed);
            r.mask = &masks.back();
        }
        ref.push_back(r);
    }
    return Flatten(doc.width, doc.height, doc.bitCount == 24 ? 3 : 1, doc.background, ref);
}

struct RoundTripCase {
    Kind kind;
    int compression;
    int version;
};

class LayeredRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(LayeredRoundTrip, FlattensAsTheLayersDo) {
    const RoundTripCase& c = GetParam();
    LeakCheck leaks;
    OwnedLayers layers;
    MakeLayers(c.kind, &layers);
    const QzmDocument doc = DocumentFor(c.kind, c.compression, c.version);
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeQZMLayers(doc, layers.layers, nullptr, &file), 0);
    KOwnedHandle got;
    ImageFileInfo info;
    ASSERT_EQ(DecodeBytes(DecodeQZM, file, &got, &info), 0);
    EXPECT_EQ(info.options.format, 31);
    EXPECT_EQ(info.options.version, c.version);
    EXPECT_EQ(info.options.compression, c.compression);
    EXPECT_EQ(info.attributes.resolutionUnit, 2);
    EXPECT_DOUBLE_EQ(info.attributes.resolution, 118.11);
    const KOwnedHandle want = FlattenDirectly(doc, layers);
    EXPECT_EQ(BlockBytes(got.get()), BlockBytes(want.get()));
    if (c.kind.bits == 24 || c.kind.grey) {
        std::vector<Img> masks;
        EXPECT_EQ(ImgOf(got.get()).v, FlattenByReference(doc, layers, masks).v);
    }
    DIBLock d(got.get());
    EXPECT_EQ(d->biXPelsPerMeter, 11811);
}

std::vector<RoundTripCase> RoundTripCases() {
    const Kind kinds[] = {
        {"Rgb", 24, false}, {"Grey", 8, true}, {"Palette", 8, false}, {"TwoColours", 1, false}};
    std::vector<RoundTripCase> v;
    for (const Kind& k : kinds)
        for (int compression : {kQzmPackBits, kQzmDeflate, kQzmUncompressed})
            for (int version : {3, 4, 5})
                v.push_back({k, compression, version});
    return v;
}

INSTANTIATE_TEST_SUITE_P(QzmCodec, LayeredRoundTrip, testing::ValuesIn(RoundTripCases()),
                         [](const testing::TestParamInfo<RoundTripCase>& i) {
                             const char* comp = i.param.compression == kQzmPackBits  ? "PackBits"
                                                : i.param.compression == kQzmDeflate ? "Deflate"
                                                                                     : "Plain";
                             return std::string(i.param.kind.name) + "_" + comp + "_Version" +
                                    std::to_string(i.param.version + 2);
                         });

// ---- Through the files, as a batch writes and reads them ----

TEST(QzmCodec, EverySubTypeAndVersionThroughTheFiles) {
    TempDir dir;
    for (int sub = 0; sub < 3; ++sub)
        for (int stored : {0, 1, 2})
            for (int bits : {1, 4, 8, 24}) {
                SCOPED_TRACE(testing::Message() << "sub-type " << sub << ", version setting "
                                                << stored << ", " << bits << " bits");
                LeakCheck leaks;
                KOwnedHandle src(
                    bits == 24 ? MakeRandomDIB(33, 9, 24, uint32_t(sub * 10 + bits))
                               : MakeRandomPaletteDIB(33, 9, bits, uint32_t(sub * 10 + bits)));
                OutputOptions o;
                o.qzmVersion = stored;
                o.dpi = 300;
                const std::string path = (dir / "out.qzm").string();
                ASSERT_EQ(WriteImageFile(path, src.get(), 32, sub, o), 0);
                KHANDLE h = nullptr;
                ImageFileInfo info;
                int format = 0;
                ASSERT_EQ(ReadImageFile(path, &format, &h, nullptr, &info), 0);
                KOwnedHandle back(h);
                EXPECT_EQ(format, 31);
                EXPECT_EQ(Colors(back.get()), Colors(src.get()));
                DIBLock d(back.get());
                EXPECT_EQ(d.bitCount(), bits == 4 ? 8 : bits) << "4-bit images are stored with 8";
                EXPECT_EQ(d->biXPelsPerMeter, 11811);
                const int codes[] = {4, 3, 5};
                EXPECT_EQ(info.options.version, codes[stored]);
                const int compressions[] = {7, 8, 1};
                EXPECT_EQ(info.options.compression, compressions[sub]);
            }
}

TEST(QzmCodec, EncodingSettingsChooseCompressionAndVersion) {
    SettingsStore store;
    FormatOptions o;
    ASSERT_EQ(LoadFormatSettings(store, "Encoding", 31, &o), 0);
    EXPECT_EQ(o.compression, 7);
    EXPECT_EQ(o.version, 4);
    store.SetInt("Encoding", "QZMCompression", 8);
    store.SetInt("Encoding", "QZMVersion", 5);
    ImageFileInfo info;
    ASSERT_EQ(LoadFormatSettings(store, "Encoding", 31, &info.options), 0);
    KOwnedHandle src(MakeRandomDIB(6, 5, 24, 2));
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodeQZM, src.get(), info, &file), 0);
    KOwnedHandle back;
    ImageFileInfo found;
    ASSERT_EQ(DecodeBytes(DecodeQZM, file, &back, &found), 0);
    EXPECT_EQ(found.options.compression, 8);
    EXPECT_EQ(found.options.version, 5);
    EXPECT_EQ(Colors(back.get()), Colors(src.get()));
}

TEST(QzmCodec, IndexesPastAShortPaletteShowTheLastEntry) {
    QzmDocument doc;
    doc.width = 4, doc.height = 1, doc.bitCount = 8, doc.background = 9;
    doc.paletteCount = 4;
    for (uint32_t i = 0; i < 4; ++i)
        doc.palette[i] = {uint8_t(10 * i), 0, 0, 0};
    SLayerData layer;
    layer.image = FromRows(8, {{0, 2, 200}});
    layer.rect = {1, 0, 0, 0};
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeQZMLayers(doc, std::span<const SLayerData>(&layer, 1), nullptr, &file), 0);
    FreeLayer(&layer);
    KOwnedHandle got;
    ASSERT_EQ(DecodeBytes(DecodeQZM, file, &got), 0);
    EXPECT_EQ(PixelRows(got.get()), (Rows{{3, 0, 2, 3}})) << "background 9 and index 200 become 3";
}

TEST(QzmCodec, FoundByItsContents) {
    TempDir dir;
    KOwnedHandle src(MakeRandomDIB(5, 4, 24, 1));
    ImageFileInfo info;
    std::vector<uint8_t> file;
    ASSERT_EQ(EncodeBytes(EncodeQZM, src.get(), info, &file), 0);
    EXPECT_EQ(ImageTypeByContent(file.data(), file.size()), 31);
    WriteFileBytes(dir / "picture.dat", file);
    KHANDLE h = nullptr;
    int format = 0;
    ASSERT_EQ(ReadImageFile((dir / "picture.dat").string(), &format, &h, nullptr, nullptr), 0);
    KOwnedHandle back(h);
    EXPECT_EQ(format, 31);
    EXPECT_EQ(Colors(back.get()), Colors(src.get()));
}

// ---- Damage ----

std::vector<uint8_t> SmallLayeredFile(int compression = kQzmPackBits) {
    OwnedLayers layers;
    MakeLayers({"Rgb", 24, false}, &layers);
    for (size_t i = 3; i < layers.layers.size(); ++i)
        FreeLayer(&layers.layers[i]);
    layers.layers.resize(3);
    QzmDocument doc = DocumentFor({"Rgb", 24, false}, compression, 4);
    doc.width = 9, doc.height = 7;
    std::vector<uint8_t> file;
    EXPECT_EQ(EncodeQZMLayers(doc, layers.layers, nullptr, &file), 0);
    return file;
}

TEST(QzmCodec, EveryTruncationIsRefused) {
    LeakCheck leaks;
    for (int compression : {kQzmPackBits, kQzmDeflate, kQzmUncompressed}) {
        const auto file = SmallLayeredFile(compression);
        for (size_t n = 0; n < file.size(); ++n) {
            KOwnedHandle got;
            EXPECT_NE(DecodeBytes(DecodeQZM,
                                  std::vector<uint8_t>(file.begin(), file.begin() + long(n)), &got),
                      0)
                << compression << " cut at " << n;
        }
    }
}

TEST(QzmCodec, EveryChangedByteIsRefused) {
    LeakCheck leaks;
    const auto file = SmallLayeredFile();
    for (size_t i = 0; i < file.size(); ++i) {
        auto bad = file;
        bad[i] ^= 0x21;
        KOwnedHandle got;
        EXPECT_NE(DecodeBytes(DecodeQZM, bad, &got), 0) << "byte " << i;
    }
}

// Hostile files with their checksums made right again, so that the checks
// behind them are reached.
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void SetLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

struct Layout {
    size_t headerCrc;            // where the header's CRC is
    std::vector<size_t> records; // where each layer record starts
};

Layout LayoutOf(const std::vector<uint8_t>& f) {
    Layout l;
    const size_t entries = size_t(f[28] | f[29] << 8);
    l.headerCrc = 30 + 4 * entries + 4;
    const uint32_t count = Le32(&f[l.headerCrc - 4]);
    size_t at = l.headerCrc + 4;
    for (uint32_t i = 0; i < count; ++i) {
        l.records.push_back(at);
        at += 96 + Le32(&f[at + 84]) + Le32(&f[at + 88]);
    }
    return l;
}

// The layout is the one from before the edit: a claimed layer count is not
// to be believed here either.
void FixChecksums(std::vector<uint8_t>& f, const Layout& l) {
    SetLe32(&f[l.headerCrc], uint32_t(crc32(0, f.data(), uInt(l.headerCrc))));
    for (size_t r : l.records) {
        const size_t data = Le32(&f[r + 84]) + Le32(&f[r + 88]);
        uint32_t crc = uint32_t(crc32(0, &f[r], 92));
        crc = uint32_t(crc32(crc, &f[r + 96], uInt(data)));
        SetLe32(&f[r + 92], crc);
    }
}

struct HostileCase {
    const char* name;
    void (*edit)(std::vector<uint8_t>& f, const Layout& l);
    KervErrorCode want;
};

class HostileFiles : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileFiles, AreRefusedOrHandled) {
    const HostileCase& c = GetParam();
    LeakCheck leaks;
    auto f = SmallLayeredFile();
    const Layout layout = LayoutOf(f);
    c.edit(f, layout);
    FixChecksums(f, layout);
    const uint64_t before = KML_AllocationCount();
    KOwnedHandle got;
    EXPECT_EQ(DecodeBytes(DecodeQZM, f, &got), c.want);
    if (c.want != 0) {
        EXPECT_LE(KML_AllocationCount() - before, 16u);
    }
}

const HostileCase kHostile[] = {
    {"ForeignMagic", [](std::vector<uint8_t>& f, const Layout&) { f[1] = 'X'; }, KERV_CORRUPT_FILE},
    {"NewerContainer", [](std::vector<uint8_t>& f, const Layout&) { f[8] = 2; },
     KERV_UNSUPPORTED_VARIANT},
    {"UnknownVersionCode", [](std::vector<uint8_t>& f, const Layout&) { f[10] = 6; },
     KERV_CORRUPT_FILE},
    {"HugeCanvas",
     [](std::vector<uint8_t>& f, const Layout&) {
         SetLe32(&f[12], 300000), SetLe32(&f[16], 300000);
     },
     KERV_IMAGE_TOO_LARGE},
    {"CanvasTheFileCannotBack", // 20000 x 20000 from a few hundred bytes
     [](std::vector<uint8_t>& f, const Layout&) { SetLe32(&f[12], 20000), SetLe32(&f[16], 20000); },
     KERV_IMAGE_TOO_LARGE},
    {"ThirtyThousandLayersClaimed",
     [](std::vector<uint8_t>& f, const Layout& l) { SetLe32(&f[l.headerCrc - 4], 30000); },
     KERV_CORRUPT_FILE},
    {"RightLeftOfLeft",
     [](std::vector<uint8_t>& f, const Layout& l) {
         SetLe32(&f[l.records[1] + 16], uint32_t(-10));
     },
     KERV_CORRUPT_FILE},
    {"LayerTheDataCannotHold",
     [](std::vector<uint8_t>& f, const Layout& l) {
         SetLe32(&f[l.records[1] + 16], 20000), SetLe32(&f[l.records[1] + 20], 20000);
     },
     KERV_CORRUPT_FILE},
    {"FarOutsideTheCanvas",
     [](std::vector<uint8_t>& f, const Layout& l) {
         const int32_t shift = 2000000000;
         for (int k = 0; k < 4; ++k)
             SetLe32(&f[l.records[1] + 8 + 4 * size_t(k)],
                     uint32_t(int32_t(Le32(&f[l.records[1] + 8 + 4 * size_t(k)])) - shift));
     },
     0},
    {"MaskLargerThanTheLayer", // already so in this file: the mask is cut to the layer
     [](std::vector<uint8_t>&, const Layout&) {}, 0},
    {"UnknownBlendMode",
     [](std::vector<uint8_t>& f, const Layout& l) { f[l.records[2] + 7] = 200; }, 0},
    {"UnknownCompression",
     [](std::vector<uint8_t>& f, const Layout& l) { f[l.records[1] + 24] = 9; }, KERV_CORRUPT_FILE},
    {"PaletteLargerThanTheDepth",
     [](std::vector<uint8_t>& f, const Layout&) { f[20] = 1; }, // 24-bit file said to be 1-bit
     KERV_CORRUPT_FILE},
};

INSTANTIATE_TEST_SUITE_P(QzmCodec, HostileFiles, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<HostileCase>& i) { return i.param.name; });

// ---- Refusals and the contract ----

TEST(QzmCodec, WriterRefusesWhatTheFileCannotSay) {
    OwnedLayers layers;
    MakeLayers({"Rgb", 24, false}, &layers);
    std::vector<uint8_t> out;
    struct Case {
        const char* name;
        void (*edit)(QzmDocument&);
    };
    for (const Case& c : {Case{"four bits", [](QzmDocument& d) { d.bitCount = 4; }},
                          Case{"no width", [](QzmDocument& d) { d.width = 0; }},
                          Case{"compression 2", [](QzmDocument& d) { d.compression = 2; }},
                          Case{"version 6", [](QzmDocument& d) { d.version = 6; }},
                          Case{"palette on 24 bits", [](QzmDocument& d) { d.paletteCount = 4; }},
                          Case{"layers of another depth",
                               [](QzmDocument& d) { d.bitCount = 8, d.paletteCount = 256; }}}) {
        QzmDocument doc = DocumentFor({"Rgb", 24, false}, kQzmPackBits, 4);
        c.edit(doc);
        EXPECT_EQ(EncodeQZMLayers(doc, layers.layers, nullptr, &out), KERV_INVALID_PARAM) << c.name;
    }
}

TEST(QzmCodec, EveryAllocationFailureIsOutOfMemory) {
    const auto file = SmallLayeredFile();
    KOwnedHandle any(MakeRandomDIB(2, 2, 24, 1));
    auto op = [&](KHANDLE* result) {
        DecodeRequest req;
        req.data = file.data(), req.size = file.size();
        return DecodeQZM(req, result, nullptr);
    };
    EXPECT_GE(SweepAllocationFailures(any.get(), op), 6);
}

TEST(QzmCodec, StopsAtEveryProgressPoint) {
    const auto file = SmallLayeredFile();
    KOwnedHandle any(MakeRandomDIB(2, 2, 24, 1));
    auto op = [&](StatusControlBlock* s, KHANDLE* result) {
        DecodeRequest req;
        req.data = file.data(), req.size = file.size(), req.status = s;
        return DecodeQZM(req, result, nullptr);
    };
    EXPECT_EQ(SweepStops(any.get(), op), 4);
    EXPECT_EQ(RecordProgress(op), UnitProgress(3));
}

} // namespace
