#include "formats/codec.h"
#include "formats/imagefile.h"
#include "tests/formats/composite_reference.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
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

// ---- A Photoshop writer of the test's own, from the published layout ----

void Be16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(uint8_t(v >> 8));
    o.push_back(uint8_t(v));
}
void Be32(std::vector<uint8_t>& o, uint32_t v) {
    Be16(o, v >> 16);
    Be16(o, v & 0xFFFF);
}
void Bytes(std::vector<uint8_t>& o, const std::vector<uint8_t>& b) {
    o.insert(o.end(), b.begin(), b.end());
}
void Text(std::vector<uint8_t>& o, const char* s) {
    o.insert(o.end(), s, s + std::strlen(s));
}

// PackBits the simple way: runs of two or more as repeats, the rest one
// literal packet of up to 128.
std::vector<uint8_t> Pack(const uint8_t* p, size_t n) {
    std::vector<uint8_t> o;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && p[i + run] == p[i])
            ++run;
        if (run >= 2) {
            o.push_back(uint8_t(257 - run));
            o.push_back(p[i]);
            i += run;
        } else {
            size_t lit = 1;
            while (i + lit < n && lit < 128 && !(i + lit + 1 < n && p[i + lit] == p[i + lit + 1]))
                ++lit;
            o.push_back(uint8_t(lit - 1));
            o.insert(o.end(), p + i, p + i + lit);
            i += lit;
        }
    }
    return o;
}

std::vector<uint8_t> Zip(const std::vector<uint8_t>& raw) {
    uLongf n = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(n);
    EXPECT_EQ(compress2(z.data(), &n, raw.data(), uLong(raw.size()), 6), Z_OK);
    z.resize(n);
    return z;
}

// A plane of samples, rows from the top; 16-bit samples big-endian.
struct Plane {
    uint32_t w = 0, h = 0;
    int bytes = 1; // per sample
    std::vector<uint8_t> v;
    size_t row() const { return size_t(w) * size_t(bytes); }
};

// The rows of a plane with `compression`: (counts, data) for PackBits.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> Encode(const Plane& p, int compression) {
    std::vector<uint8_t> counts, data;
    if (compression == 1) {
        for (uint32_t y = 0; y < p.h; ++y) {
            const auto packed = Pack(p.v.data() + y * p.row(), p.row());
            Be16(counts, uint32_t(packed.size()));
            Bytes(data, packed);
        }
    } else if (compression == 0) {
        data = p.v;
    } else {
        std::vector<uint8_t> raw = p.v;
        if (compression == 3)
            for (uint32_t y = 0; y < p.h; ++y) {
                uint8_t* r = raw.data() + y * p.row();
                if (p.bytes == 1) {
                    for (size_t x = p.w; x-- > 1;)
                        r[x] = uint8_t(r[x] - r[x - 1]);
                } else {
                    for (size_t x = p.w; x-- > 1;) {
                        const uint16_t d = uint16_t((r[2 * x] << 8 | r[2 * x + 1]) -
                                                    (r[2 * x - 2] << 8 | r[2 * x - 1]));
                        r[2 * x] = uint8_t(d >> 8), r[2 * x + 1] = uint8_t(d);
                    }
                }
            }
        data = Zip(raw);
    }
    return {counts, data};
}

struct TChannel {
    int16_t id;
    Plane plane;
    int compression = 1;
};

struct TLayer {
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    std::vector<TChannel> channels;
    std::string key = "norm";
    uint8_t opacity = 255, flags = 0;
    bool mask = false;
    int32_t maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
    uint8_t maskDefault = 0, maskFlags = 0;
    std::vector<uint8_t> ranges;
    int sectionType = -1;            // an "lsct" block when not -1
    std::vector<uint8_t> recordTail; // extra bytes inside the record, tests of hostile files
};

struct TDoc {
    int mode = 3, depth = 8;
    uint32_t w = 1, h = 1;
    uint32_t channels = 0; // 0: as the mode needs
    std::vector<uint8_t> colourData;
    double dpi = 0;
    std::vector<TLayer> layers;
    bool lr16 = false;         // layers in an "Lr16" block
    std::vector<Plane> merged; // empty: a blank merged image
    int mergedCompression = 1;
};

std::vector<uint8_t> LayerInfo(const TDoc& d) {
    std::vector<uint8_t> o;
    Be16(o, uint32_t(d.layers.size()));
    std::vector<std::vector<uint8_t>> channelData;
    for (const TLayer& l : d.layers) {
        Be32(o, uint32_t(l.top)), Be32(o, uint32_t(l.left)), Be32(o, uint32_t(l.bottom)),
            Be32(o, uint32_t(l.right));
        Be16(o, uint32_t(l.channels.size()));
        for (const TChannel& c : l.channels) {
            std::vector<uint8_t> cd;
            Be16(cd, uint32_t(c.compression));
            auto [counts, data] = Encode(c.plane, c.compression);
            Bytes(cd, counts), Bytes(cd, data);
            Be16(o, uint16_t(c.id));
            Be32(o, uint32_t(cd.size()));
            channelData.push_back(cd);
        }
        Text(o, "8BIM");
        Text(o, l.key.c_str());
        o.push_back(l.opacity), o.push_back(0), o.push_back(l.flags), o.push_back(0);
        std::vector<uint8_t> extra;
        if (l.mask) {
            Be32(extra, 20);
            Be32(extra, uint32_t(l.maskTop)), Be32(extra, uint32_t(l.maskLeft));
            Be32(extra, uint32_t(l.maskBottom)), Be32(extra, uint32_t(l.maskRight));
            extra.push_back(l.maskDefault), extra.push_back(l.maskFlags), extra.push_back(0),
                extra.push_back(0);
        } else {
            Be32(extra, 0);
        }
        Be32(extra, uint32_t(l.ranges.size()));
        Bytes(extra, l.ranges);
        const uint8_t name[4] = {3, 'L', 'y', 'r'};
        extra.insert(extra.end(), name, name + 4);
        if (l.sectionType >= 0) {
            Text(extra, "8BIMlsct");
            Be32(extra, 4);
            Be32(extra, uint32_t(l.sectionType));
        }
        Bytes(extra, l.recordTail);
        Be32(o, uint32_t(extra.size()));
        Bytes(o, extra);
    }
    for (const auto& cd : channelData)
        Bytes(o, cd);
    if (o.size() & 1) o.push_back(0);
    return o;
}

std::vector<uint8_t> BuildPsd(const TDoc& d) {
    std::vector<uint8_t> o;
    Text(o, "8BPS");
    Be16(o, 1);
    o.insert(o.end(), 6, 0);
    const uint32_t planes = d.mode == 3 ? 3 : 1;
    Be16(o, d.channels ? d.channels : planes);
    Be32(o, d.h), Be32(o, d.w);
    Be16(o, uint32_t(d.depth)), Be16(o, uint32_t(d.mode));
    Be32(o, uint32_t(d.colourData.size()));
    Bytes(o, d.colourData);
    std::vector<uint8_t> res;
    if (d.dpi > 0) {
        Text(res, "8BIM");
        Be16(res, 0x03ED), Be16(res, 0);
        Be32(res, 16);
        for (int i = 0; i < 2; ++i)
            Be32(res, uint32_t(d.dpi * 65536)), Be16(res, 1), Be16(res, 1);
    }
    Be32(o, uint32_t(res.size()));
    Bytes(o, res);
    std::vector<uint8_t> lm;
    if (!d.layers.empty()) {
        const auto info = LayerInfo(d);
        if (d.lr16) {
            Be32(lm, 0); // no 8-bit layer info
            Be32(lm, 0); // no global mask
            Text(lm, "8BIMLr16");
            Be32(lm, uint32_t(info.size()));
            Bytes(lm, info);
        } else {
            Be32(lm, uint32_t(info.size()));
            Bytes(lm, info);
            Be32(lm, 0);
        }
    }
    Be32(o, uint32_t(lm.size()));
    Bytes(o, lm);
    // The merged image.
    const uint32_t channels = d.channels ? d.channels : planes;
    const int bytes = d.depth == 16 ? 2 : 1;
    std::vector<Plane> merged = d.merged;
    while (merged.size() < channels) {
        Plane blank{d.depth == 1 ? (d.w + 7) / 8 : d.w, d.h, bytes, {}};
        blank.v.assign(blank.row() * d.h, 0);
        merged.push_back(blank);
    }
    Be16(o, uint32_t(d.mergedCompression));
    if (d.mergedCompression == 1) {
        std::vector<uint8_t> data;
        for (const Plane& p : merged) {
            auto [counts, packed] = Encode(p, 1);
            Bytes(o, counts);
            Bytes(data, packed);
        }
        Bytes(o, data);
    } else if (d.mergedCompression == 0) {
        for (const Plane& p : merged)
            Bytes(o, p.v);
    } else {
        Plane all = merged[0];
        for (size_t i = 1; i < merged.size(); ++i)
            Bytes(all.v, merged[i].v);
        all.h *= uint32_t(merged.size());
        Bytes(o, Encode(all, d.mergedCompression).second);
    }
    return o;
}

// ---- Pictures ----

Plane RandomPlane(uint32_t w, uint32_t h, uint32_t seed, int bytes = 1) {
    Plane p{w, h, bytes, {}};
    std::mt19937 rng(seed);
    for (size_t i = 0; i < p.row() * h; ++i)
        p.v.push_back(uint8_t(rng() % 3 == 0 ? 77 : rng()));
    return p;
}

// 8-bit values of a plane (16-bit samples rounded).
int Sample(const Plane& p, uint32_t x, uint32_t y) {
    if (p.bytes == 1) return p.v[y * p.row() + x];
    const int v = p.v[y * p.row() + 2 * x] << 8 | p.v[y * p.row() + 2 * x + 1];
    return (v + 128) / 257;
}

// The layer's colour planes as a reference image (blue, green, red).
Img ImgOfPlanes(const std::vector<const Plane*>& rgb) {
    Img img{int(rgb[0]->w), int(rgb[0]->h), int(rgb.size()), {}};
    for (uint32_t y = 0; y < rgb[0]->h; ++y)
        for (uint32_t x = 0; x < rgb[0]->w; ++x)
            for (int k = 0; k < img.ch; ++k)
                img.v.push_back(Sample(*rgb[size_t(img.ch - 1 - k)], x, y));
    return img;
}

Img ImgOfPlane(const Plane& p) {
    return ImgOfPlanes({&p});
}

// A layer of random colour channels (and alpha, when asked) at (left, top).
TLayer RandomLayer(int planes, int32_t left, int32_t top, uint32_t w, uint32_t h, uint32_t seed,
                   bool alpha, int compression = 1, int bytes = 1) {
    TLayer l;
    l.left = left, l.top = top, l.right = left + int32_t(w), l.bottom = top + int32_t(h);
    for (int c = 0; c < planes; ++c)
        l.channels.push_back(
            {int16_t(c), RandomPlane(w, h, seed + uint32_t(c), bytes), compression});
    if (alpha) l.channels.push_back({-1, RandomPlane(w, h, seed + 9, bytes), compression});
    return l;
}

const Plane* ChannelPlane(const TLayer& l, int id) {
    for (const TChannel& c : l.channels)
        if (c.id == id) return &c.plane;
    return nullptr;
}

Img LayerImg(const TLayer& l, int planes) {
    std::vector<const Plane*> p;
    for (int c = 0; c < planes; ++c)
        p.push_back(ChannelPlane(l, c));
    return ImgOfPlanes(p);
}

KervErrorCode Decode(const std::vector<uint8_t>& file, KOwnedHandle* out,
                     ImageFileInfo* info = nullptr) {
    return DecodeBytes(DecodePSD, file, out, info);
}

// ---- Files that ImageMagick writes ----

struct MagickCase {
    const char* name;
    bool grey;
    const char* options; // compression and depth of the written file
    int alpha;           // 0 none, 1 all or nothing, 2 any level
};

class ImageMagickFiles : public testing::TestWithParam<MagickCase> {};

TEST_P(ImageMagickFiles, FlattenToTheirLayers) {
    if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    const MagickCase& c = GetParam();
    LeakCheck leaks;
    TempDir dir;
    const int bits = c.grey ? 8 : 24, chs = c.grey ? 1 : 3;
    const int W = 23, H = 17;
    struct Where {
        int left, top, w, h;
    };
    // Inside, cut at the top left, cut at the bottom right, and wholly outside.
    const Where where[] = {{3, 2, 9, 7}, {-4, -3, 11, 8}, {15, 12, 13, 9}, {30, 1, 4, 4}};
    auto writePnm = [&](KHANDLE dib, const std::string& name) {
        ImageFileInfo info;
        info.options.format = dib == nullptr ? 29 : (IsDIBGreyScaled(dib) ? 25 : 29);
        info.options.variant = 91;
        std::vector<uint8_t> bytes;
        ASSERT_EQ(EncodeBytes(EncodePXM, dib, info, &bytes), 0);
        WriteFileBytes(dir / name, bytes);
    };
    KOwnedHandle base(MakeRandomDIB(W, H, bits, 1, c.grey));
    writePnm(base.get(), c.grey ? "base.pgm" : "base.ppm");
    std::string cmd =
        "cd " + Q(dir.path()) + " && /usr/bin/convert " + (c.grey ? "base.pgm" : "base.ppm");
    std::vector<KOwnedHandle> images, masks;
    for (size_t i = 0; i < std::size(where); ++i) {
        const Where& w = where[i];
        images.emplace_back(MakeRandomDIB(w.w, w.h, bits, uint32_t(10 + i), c.grey));
        const std::string n = std::to_string(i);
        writePnm(images.back().get(), "l" + n + (c.grey ? ".pgm" : ".ppm"));
        std::string layerFile = "l" + n + (c.grey ? ".pgm" : ".ppm");
        if (c.alpha) {
            masks.emplace_back(MakeRandomDIB(w.w, w.h, 8, uint32_t(20 + i), true));
            if (c.alpha == 1) {
                DIBLock m(masks.back().get());
                for (size_t k = 0; k < m->biSizeImage; ++k)
                    m.bits()[k] = m.bits()[k] < 100 ? 0 : 255;
            }
            writePnm(masks.back().get(), "a" + n + ".pgm");
            ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && /usr/bin/convert " + layerFile + " a" + n +
                            ".pgm -alpha off -compose CopyOpacity -composite l" + n + ".png"),
                      0);
            layerFile = "l" + n + ".png";
        }
        char page[64];
        std::snprintf(page, sizeof page, " -page %+d%+d ", w.left, w.top);
        cmd += page + layerFile;
    }
    cmd += std::string(" ") + c.options + " out.psd";
    ASSERT_EQ(Shell(cmd), 0) << cmd;

    std::vector<RefLayer> layers;
    std::vector<Img> maskImgs(std::size(where));
    for (size_t i = 0; i < std::size(where); ++i) {
        RefLayer l;
        l.image = ImgOf(images[i].get());
        if (c.alpha) {
            maskImgs[i] = ImgOf(masks[i].get());
            l.mask = &maskImgs[i];
        }
        l.p.left = where[i].left, l.p.top = where[i].top;
        layers.push_back(l);
    }
    const Img want = Flatten(W, H, chs, 255, layers);
    KOwnedHandle got;
    int format = 0;
    KHANDLE h = nullptr;
    ASSERT_EQ(ReadImageFile((dir / "out.psd").string(), &format, &h, nullptr, nullptr), 0);
    got.reset(h);
    EXPECT_EQ(format, 30);
    EXPECT_EQ(IsDIBGreyScaled(got.get()), c.grey);
    EXPECT_EQ(ImgOf(got.get()).v, want.v);
}

const MagickCase kMagickCases[] = {
    {"RgbPackBits", false, "-compress RLE", 0},
    {"RgbRaw", false, "-compress None", 0},
    {"RgbDeflateAlpha", false, "", 2},
    {"RgbPackBitsCutAlpha", false, "-compress RLE", 1},
    {"Rgb16BitsAlpha", false, "-depth 16", 2},
    {"GreyPackBitsAlpha", true, "-compress RLE", 2},
    {"Grey16Bits", true, "-depth 16 -compress RLE", 0},
};

INSTANTIATE_TEST_SUITE_P(PsdCodec, ImageMagickFiles, testing::ValuesIn(kMagickCases),
                         [](const testing::TestParamInfo<MagickCase>& i) { return i.param.name; });

// ---- Layer records ----

// Base layer and one layer over it, by the reference.
struct RecordCase {
    const char* name;
    void (*edit)(TLayer& top, Placement& p, bool& composited);
};

class LayerRecords : public testing::TestWithParam<RecordCase> {};

TEST_P(LayerRecords, ComeThroughToTheCompositing) {
    const RecordCase& rc = GetParam();
    LeakCheck leaks;
    TDoc d;
    d.w = 19, d.h = 13;
    d.layers.push_back(RandomLayer(3, 0, 0, 19, 13, 100, false));
    d.layers.push_back(RandomLayer(3, 4, -2, 12, 9, 200, true));
    TLayer& top = d.layers.back();
    top.opacity = 200;
    Placement p;
    p.left = 4, p.top = -2, p.opacity = 200;
    bool composited = true;
    rc.edit(top, p, composited);
    std::vector<RefLayer> ref(1);
    ref[0].image = LayerImg(d.layers[0], 3);
    Img alpha = ImgOfPlane(*ChannelPlane(top, -1));
    if (composited) {
        RefLayer l;
        l.image = LayerImg(top, 3);
        l.mask = &alpha;
        l.p = p;
        ref.push_back(l);
    }
    const Img want = Flatten(19, 13, 3, 255, ref);
    KOwnedHandle got;
    ASSERT_EQ(Decode(BuildPsd(d), &got), 0);
    EXPECT_EQ(ImgOf(got.get()).v, want.v);
}

const uint8_t kRanges[40] = {0,  0,  255, 255, 30, 60, 200, 230, // grey: underneath
                             10, 90, 160, 250, 0,  0,  255, 255, // red: the layer's
                             0,  0,  255, 255, 0,  0,  255, 255, 0, 0, 255, 255,
                             0,  0,  255, 255, 0,  0,  255, 255, 0, 0, 255, 255};

const RecordCase kRecordCases[] = {
    {"Normal", [](TLayer&, Placement&, bool&) {}},
    {"Multiply", [](TLayer& l, Placement& p, bool&) { l.key = "mul ", p.mode = 7; }},
    {"Hue", [](TLayer& l, Placement& p, bool&) { l.key = "hue ", p.mode = 3; }},
    {"ColorBurn", [](TLayer& l, Placement& p, bool&) { l.key = "idiv", p.mode = 15; }},
    {"UnknownKeyIsNormal", [](TLayer& l, Placement&, bool&) { l.key = "lLit"; }},
    {"PassThroughIsNormal", [](TLayer& l, Placement&, bool&) { l.key = "pass"; }},
    {"HiddenIsLeftOut", [](TLayer& l, Placement&, bool& c) { l.flags = 0x02, c = false; }},
    {"GroupMarkerIsLeftOut", [](TLayer& l, Placement&, bool& c) { l.sectionType = 3, c = false; }},
    {"IrrelevantPixelsAreLeftOut",
     [](TLayer& l, Placement&, bool& c) { l.flags = 0x18, c = false; }},
    {"ProtectedTransparencyStillShows", [](TLayer& l, Placement&, bool&) { l.flags = 0x01; }},
    {"BlendRanges",
     [](TLayer& l, Placement& p, bool&) {
         l.ranges.assign(kRanges, kRanges + 40);
         p.ranges = kRanges;
     }},
    {"ThreePairsOfRanges", // the missing pairs pass everything
     [](TLayer& l, Placement& p, bool&) {
         l.ranges.assign(kRanges, kRanges + 24);
         p.ranges = kRanges;
     }},
    {"DeflatedChannels",
     [](TLayer& l, Placement&, bool&) {
         for (auto& c : l.channels)
             c.compression = 2;
     }},
    {"PredictedChannels",
     [](TLayer& l, Placement&, bool&) {
         for (auto& c : l.channels)
             c.compression = 3;
     }},
    {"RawChannels",
     [](TLayer& l, Placement&, bool&) {
         for (auto& c : l.channels)
             c.compression = 0;
     }},
};

INSTANTIATE_TEST_SUITE_P(PsdCodec, LayerRecords, testing::ValuesIn(kRecordCases),
                         [](const testing::TestParamInfo<RecordCase>& i) { return i.param.name; });

TEST(PsdCodec, EveryBlendKeyNamesItsMode) {
    const char* keys[] = {"norm", "dark", "lite", "hue ", "sat ", "colr", "lum ", "mul ", "scrn",
                          "diss", "over", "hLit", "sLit", "diff", "div ", "idiv", "smud"};
    for (int mode = 0; mode < 17; ++mode) {
        TDoc d;
        d.w = 9, d.h = 5;
        d.layers.push_back(RandomLayer(3, 0, 0, 9, 5, 300, false));
        d.layers.push_back(RandomLayer(3, 0, 0, 9, 5, 400, false));
        d.layers.back().key = keys[mode];
        d.layers.back().opacity = 170;
        std::vector<RefLayer> ref(2);
        ref[0].image = LayerImg(d.layers[0], 3);
        ref[1].image = LayerImg(d.layers[1], 3);
        ref[1].p.mode = mode, ref[1].p.opacity = 170;
        KOwnedHandle got;
        ASSERT_EQ(Decode(BuildPsd(d), &got), 0) << keys[mode];
        EXPECT_EQ(ImgOf(got.get()).v, Flatten(9, 5, 3, 255, ref).v) << keys[mode];
    }
}

// The user mask (-2): its own rectangle and default, multiplied into the
// transparency, disabled (flag bit 1) or inverted (bit 2).
TEST(PsdCodec, UserMasks) {
    struct Case {
        const char* name;
        bool alpha;
        uint8_t flags;
        bool applied;
    };
    for (const Case& c :
         {Case{"alone", false, 0, true}, Case{"with transparency", true, 0, true},
          Case{"disabled", true, 0x02, false}, Case{"inverted", false, 0x04, true}}) {
        SCOPED_TRACE(c.name);
        LeakCheck leaks;
        TDoc d;
        d.w = 16, d.h = 10;
        d.layers.push_back(RandomLayer(3, 0, 0, 16, 10, 500, false));
        TLayer top = RandomLayer(3, 2, 1, 10, 7, 600, c.alpha);
        // A mask 6 x 12 at (5, -1): larger than the layer downwards, narrower across.
        top.mask = true;
        top.maskLeft = 5, top.maskTop = -1, top.maskRight = 11, top.maskBottom = 11;
        top.maskDefault = 30, top.maskFlags = c.flags;
        const Plane user = RandomPlane(6, 12, 700);
        top.channels.push_back({-2, user, 1});
        d.layers.push_back(top);
        // The mask by hand, in the layer's frame.
        Img mask{10, 7, 1, {}};
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 10; ++x) {
                const int mx = x + 2 - 5, my = y + 1 + 1;
                int u = (mx >= 0 && mx < 6 && my >= 0 && my < 12)
                            ? user.v[size_t(my) * 6 + size_t(mx)]
                            : 30;
                if (c.flags & 0x04) u = 255 - u;
                int a = c.alpha ? ChannelPlane(top, -1)->v[size_t(y) * 10 + size_t(x)] : 255;
                if (c.applied) a = (a * u + 128) / 255;
                mask.v.push_back(a);
            }
        std::vector<RefLayer> ref(2);
        ref[0].image = LayerImg(d.layers[0], 3);
        ref[1].image = LayerImg(top, 3);
        ref[1].p.left = 2, ref[1].p.top = 1;
        ref[1].mask = &mask;
        KOwnedHandle got;
        ASSERT_EQ(Decode(BuildPsd(d), &got), 0);
        EXPECT_EQ(ImgOf(got.get()).v, Flatten(16, 10, 3, 255, ref).v);
    }
}

// ---- Documents without layers, and the document's own facts ----

TEST(PsdCodec, MergedImagesOfEveryMode) {
    struct Case {
        const char* name;
        int mode, depth, compression;
        uint32_t channels;
    };
    const Case cases[] = {
        {"RgbPackBits", 3, 8, 1, 3}, {"RgbRawWithAlpha", 3, 8, 0, 4},
        {"RgbDeflate", 3, 8, 2, 3},  {"Rgb16Predicted", 3, 16, 3, 3},
        {"Grey", 1, 8, 1, 1},        {"Grey16Raw", 1, 16, 0, 1},
        {"Indexed", 2, 8, 1, 1},     {"Bitmap", 0, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LeakCheck leaks;
        TDoc d;
        d.mode = c.mode, d.depth = c.depth, d.w = 37, d.h = 5, d.channels = c.channels;
        d.mergedCompression = c.compression;
        const int bytes = c.depth == 16 ? 2 : 1;
        for (uint32_t i = 0; i < c.channels; ++i)
            d.merged.push_back(RandomPlane(c.depth == 1 ? 5 : 37, 5, 800 + i, bytes));
        if (c.mode == 2) d.colourData = RandomPlane(768, 1, 900).v;
        KOwnedHandle got;
        ASSERT_EQ(Decode(BuildPsd(d), &got), 0);
        std::vector<uint32_t> want;
        for (uint32_t y = 0; y < 5; ++y)
            for (uint32_t x = 0; x < 37; ++x) {
                if (c.mode == 0) {
                    const bool black = (d.merged[0].v[y * 5 + x / 8] >> (7 - x % 8)) & 1;
                    want.push_back(black ? 0 : 0xFFFFFF);
                } else if (c.mode == 2) {
                    const int i = Sample(d.merged[0], x, y);
                    want.push_back(uint32_t(d.colourData[size_t(i)]) << 16 |
                                   uint32_t(d.colourData[256 + size_t(i)]) << 8 |
                                   d.colourData[512 + size_t(i)]);
                } else if (c.mode == 1) {
                    want.push_back(uint32_t(Sample(d.merged[0], x, y)) * 0x010101u);
                } else {
                    want.push_back(uint32_t(Sample(d.merged[0], x, y)) << 16 |
                                   uint32_t(Sample(d.merged[1], x, y)) << 8 |
                                   uint32_t(Sample(d.merged[2], x, y)));
                }
            }
        EXPECT_EQ(Colors(got.get()), want);
        DIBLock dl(got.get());
        EXPECT_EQ(dl.bitCount(), c.mode == 3 ? 24 : c.mode == 0 ? 1 : 8);
        EXPECT_EQ(IsDIBGreyScaled(got.get()), c.mode == 1);
    }
}

TEST(PsdCodec, SixteenBitLayersInTheirOwnBlock) {
    TDoc d;
    d.depth = 16, d.w = 14, d.h = 6, d.lr16 = true;
    d.layers.push_back(RandomLayer(3, 0, 0, 14, 6, 1000, false, 1, 2));
    d.layers.push_back(RandomLayer(3, 5, 2, 7, 7, 1100, true, 3, 2));
    std::vector<RefLayer> ref(2);
    ref[0].image = LayerImg(d.layers[0], 3);
    ref[1].image = LayerImg(d.layers[1], 3);
    const Img alpha = ImgOfPlane(*ChannelPlane(d.layers[1], -1));
    ref[1].mask = &alpha;
    ref[1].p.left = 5, ref[1].p.top = 2;
    KOwnedHandle got;
    ASSERT_EQ(Decode(BuildPsd(d), &got), 0);
    EXPECT_EQ(ImgOf(got.get()).v, Flatten(14, 6, 3, 255, ref).v);
}

TEST(PsdCodec, ResolutionReachesTheImage) {
    for (bool layered : {false, true}) {
        TDoc d;
        d.w = 4, d.h = 3, d.dpi = 300;
        if (layered) d.layers.push_back(RandomLayer(3, 0, 0, 4, 3, 1200, false));
        KOwnedHandle got;
        ImageFileInfo info;
        ASSERT_EQ(Decode(BuildPsd(d), &got, &info), 0);
        EXPECT_EQ(info.attributes.resolutionUnit, 1);
        EXPECT_DOUBLE_EQ(info.attributes.resolution, 300.0);
        EXPECT_EQ(info.options.format, 30);
        DIBLock dl(got.get());
        EXPECT_EQ(dl->biXPelsPerMeter, 11811) << "300 x 0.3937... x 100 + 0.5";
    }
}

// ---- Writing ----

TEST(PsdCodec, FlatFilesReadBackHereAndInImageMagick) {
    const bool haveMagick = HaveTool("/usr/bin/convert");
    TempDir dir;
    // ImageMagick 6.9.11 refuses every indexed document, those it writes
    // itself included; such a build checks only the others.
    const bool magickReadsIndexed =
        haveMagick && Shell("cd " + Q(dir.path()) +
                            " && /usr/bin/convert -size 2x2 xc:red -type Palette probe.psd"
                            " && /usr/bin/identify probe.psd >/dev/null") == 0;
    struct Case {
        const char* name;
        int bits;
        bool grey;
    };
    for (const Case& c : {Case{"Rgb", 24, false}, Case{"Grey", 8, true}, Case{"Indexed", 8, false},
                          Case{"SixteenColours", 4, false}, Case{"TwoColours", 1, false}}) {
        SCOPED_TRACE(c.name);
        LeakCheck leaks;
        KOwnedHandle src(c.bits == 24 || c.grey ? MakeRandomDIB(41, 7, c.bits, 1300, c.grey)
                                                : MakeRandomPaletteDIB(41, 7, c.bits, 1300));
        {
            DIBLock d(src.get());
            d->biXPelsPerMeter = d->biYPelsPerMeter = 2835;
        }
        ImageFileInfo info;
        info.options.format = 30;
        std::vector<uint8_t> file;
        ASSERT_EQ(EncodeBytes(EncodePSD, src.get(), info, &file), 0);
        KOwnedHandle back;
        ImageFileInfo backInfo;
        ASSERT_EQ(Decode(file, &back, &backInfo), 0);
        EXPECT_EQ(Colors(back.get()), Colors(src.get()));
        EXPECT_EQ(IsDIBGreyScaled(back.get()), c.grey);
        EXPECT_NEAR(backInfo.attributes.resolution, 72.0, 0.01);
        if (!haveMagick || (c.bits != 24 && !c.grey && !magickReadsIndexed)) continue;
        WriteFileBytes(dir / "flat.psd", file);
        ASSERT_EQ(Shell("cd " + Q(dir.path()) + " && /usr/bin/convert flat.psd -depth 8 out.ppm"),
                  0);
        EXPECT_EQ(ColorsOfPnmFile(dir / "out.ppm"), Colors(src.get()));
    }
}

TEST(PsdCodec, WritingStopsWhenAsked) {
    KOwnedHandle src(MakeRandomDIB(9, 4, 24, 1400));
    ImageFileInfo info;
    EncodeRequest req;
    req.dib = src.get();
    req.info = &info;
    StoppingStatus stop(3);
    req.status = &stop.block;
    std::vector<uint8_t> out;
    EXPECT_EQ(EncodePSD(req, &out), KERV_STOPPED);
}

// ---- Hostile files ----

struct HostileCase {
    const char* name;
    std::vector<uint8_t> (*make)();
    KervErrorCode want;
};

class HostileFiles : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileFiles, AreRefusedWithoutFaultsOrHugeBlocks) {
    const HostileCase& c = GetParam();
    LeakCheck leaks;
    const std::vector<uint8_t> file = c.make();
    const uint64_t before = KML_AllocationCount();
    KOwnedHandle got;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Decode(file, &got), c.want);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    if (c.want != 0) {
        EXPECT_LE(KML_AllocationCount() - before, 64u) << "a refused file allocates little";
    }
}

TDoc TwoLayers() {
    TDoc d;
    d.w = 12, d.h = 8;
    d.layers.push_back(RandomLayer(3, 0, 0, 12, 8, 1500, false));
    d.layers.push_back(RandomLayer(3, 3, 3, 5, 4, 1600, true));
    return d;
}

const HostileCase kHostile[] = {
    {"RightLeftOfLeft",
     [] {
         TDoc d = TwoLayers();
         d.layers[1].right = d.layers[1].left - 1;
         return BuildPsd(d);
     },
     KERV_CORRUPT_FILE},
    {"FarOutsideTheCanvas",
     [] {
         TDoc d = TwoLayers();
         TLayer& l = d.layers[1];
         l.left += 2000000000, l.right += 2000000000, l.top -= 2000000000, l.bottom -= 2000000000;
         return BuildPsd(d);
     },
     0},
    {"HugeDocument",
     [] {
         TDoc d;
         d.w = 300000, d.h = 300000;
         d.merged.assign(3, Plane{1, 1, 1, {0}});
         return BuildPsd(d);
     },
     KERV_IMAGE_TOO_LARGE},
    {"LyingDocumentSize", // 20000 x 20000 with almost no merged data
     [] {
         TDoc d = TwoLayers();
         auto f = BuildPsd(d);
         const uint8_t big[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20};
         std::memcpy(f.data() + 14, big, 8);
         return f;
     },
     KERV_CORRUPT_FILE},
    {"LyingLayerSize", // a 20000 x 20000 layer in a few bytes
     [] {
         TDoc d = TwoLayers();
         d.layers[1].right = 20003, d.layers[1].bottom = 20003;
         return BuildPsd(d);
     },
     KERV_CORRUPT_FILE},
    {"LayerWiderThanAnyImage",
     [] {
         TDoc d = TwoLayers();
         d.layers[1].right = 70003;
         return BuildPsd(d);
     },
     KERV_IMAGE_TOO_LARGE},
    {"CutShort",
     [] {
         auto f = BuildPsd(TwoLayers());
         f.resize(f.size() - 300);
         return f;
     },
     KERV_CORRUPT_FILE},
    {"ChannelLengthPastTheEnd",
     [] {
         auto f = BuildPsd(TwoLayers());
         // Header 26, three section lengths, the layer info length and the
         // layer count: the first record at 44; its first channel's length at 64.
         f[64] = 0x7F;
         return f;
     },
     KERV_CORRUPT_FILE},
    {"UnknownCompression",
     [] {
         TDoc d = TwoLayers();
         d.layers[1].channels[0].compression = 9;
         return BuildPsd(d);
     },
     KERV_UNSUPPORTED_VARIANT},
    {"ThirtyThousandLayers",
     [] {
         TDoc d;
         d.w = 64, d.h = 64;
         TLayer l = RandomLayer(3, 0, 0, 1, 1, 1700, false);
         for (int i = 0; i < 30000; ++i) {
             l.left = i % 64, l.top = (i / 64) % 64, l.right = l.left + 1, l.bottom = l.top + 1;
             d.layers.push_back(l);
         }
         return BuildPsd(d);
     },
     0},
    {"TooManyChannels",
     [] {
         TDoc d = TwoLayers();
         while (d.layers[1].channels.size() < 57)
             d.layers[1].channels.push_back(d.layers[1].channels[0]);
         return BuildPsd(d);
     },
     KERV_CORRUPT_FILE},
    {"LargeFormat",
     [] {
         auto f = BuildPsd(TwoLayers());
         f[5] = 2;
         return f;
     },
     KERV_UNSUPPORTED_VARIANT},
    {"Cmyk",
     [] {
         auto f = BuildPsd(TwoLayers());
         f[25] = 4;
         return f;
     },
     KERV_UNSUPPORTED_VARIANT},
    {"NotPhotoshop",
     [] {
         auto f = BuildPsd(TwoLayers());
         f[0] = '9';
         return f;
     },
     KERV_CORRUPT_FILE},
    {"RowCountsPastTheChannel",
     [] {
         TDoc d = TwoLayers();
         d.layers[0].channels[0].compression = 1;
         auto f = BuildPsd(d);
         // The first channel's first row count, made huge.
         const std::string s(f.begin(), f.end());
         const size_t records = s.find("Lyr", s.find("Lyr") + 1) + 3;
         f[records + 2] = 0x7F, f[records + 3] = 0xFF;
         return f;
     },
     KERV_CORRUPT_FILE},
    {"IndexedWithoutPalette",
     [] {
         TDoc d;
         d.mode = 2, d.w = 3, d.h = 3;
         d.colourData.assign(100, 0);
         return BuildPsd(d);
     },
     KERV_CORRUPT_FILE},
};

INSTANTIATE_TEST_SUITE_P(PsdCodec, HostileFiles, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<HostileCase>& i) { return i.param.name; });

// Found by reading the record code: a tagged block claiming more bytes than
// the record has left. The group-marker type must not be read from the next
// record (whose top, 65536, would make it a marker).
TEST(PsdCodec, ABlockCutShortAtTheRecordsEndIsNotReadPastIt) {
    TDoc d;
    d.w = 6, d.h = 4;
    d.layers.push_back(RandomLayer(3, 0, 0, 6, 4, 2100, false));
    const uint8_t tail[] = {'8', 'B', 'I', 'M', 'l', 's', 'c', 't', 0, 0, 0, 4, 0, 0};
    d.layers[0].recordTail.assign(tail, tail + sizeof tail);
    d.layers.push_back(RandomLayer(3, 0, 65536, 2, 2, 2200, false));
    std::vector<RefLayer> ref(1);
    ref[0].image = LayerImg(d.layers[0], 3);
    KOwnedHandle got;
    ASSERT_EQ(Decode(BuildPsd(d), &got), 0);
    EXPECT_EQ(ImgOf(got.get()).v, Flatten(6, 4, 3, 255, ref).v);
}

TEST(PsdCodec, TruncatedFilesNeverCrash) {
    LeakCheck leaks;
    for (bool layered : {false, true}) {
        TDoc d = TwoLayers();
        if (!layered) d.layers.clear();
        d.merged = {RandomPlane(12, 8, 1800), RandomPlane(12, 8, 1801), RandomPlane(12, 8, 1802)};
        const auto file = BuildPsd(d);
        for (size_t n = 0; n < file.size(); ++n) {
            KOwnedHandle got;
            const KervErrorCode e =
                Decode(std::vector<uint8_t>(file.begin(), file.begin() + long(n)), &got);
            if (!layered) {
                EXPECT_NE(e, 0) << "cut at " << n;
            }
        }
    }
}

// ---- The contract ----

std::vector<uint8_t> ContractFile() {
    TDoc d = TwoLayers();
    d.layers[1].key = "over";
    d.layers[1].mask = true;
    d.layers[1].maskLeft = 1, d.layers[1].maskTop = 1, d.layers[1].maskRight = 6,
    d.layers[1].maskBottom = 5;
    d.layers[1].channels.push_back({-2, RandomPlane(5, 4, 1900), 2});
    d.layers.push_back(RandomLayer(3, -2, 4, 6, 6, 2000, true, 3));
    return BuildPsd(d);
}

TEST(PsdCodec, EveryAllocationFailureIsOutOfMemory) {
    const auto file = ContractFile();
    KOwnedHandle any(MakeRandomDIB(2, 2, 24, 1));
    auto op = [&](KHANDLE* result) {
        DecodeRequest req;
        req.data = file.data(), req.size = file.size();
        return DecodePSD(req, result, nullptr);
    };
    EXPECT_GE(SweepAllocationFailures(any.get(), op), 10);
}

TEST(PsdCodec, StopsAtEveryProgressPoint) {
    const auto file = ContractFile();
    KOwnedHandle any(MakeRandomDIB(2, 2, 24, 1));
    auto op = [&](StatusControlBlock* s, KHANDLE* result) {
        DecodeRequest req;
        req.data = file.data(), req.size = file.size(), req.status = s;
        return DecodePSD(req, result, nullptr);
    };
    EXPECT_EQ(SweepStops(any.get(), op), 4)
        << "one stop before each of the three layers, and at the start";
    EXPECT_EQ(RecordProgress(op), UnitProgress(3));
}

} // namespace
