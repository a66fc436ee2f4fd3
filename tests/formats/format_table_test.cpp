#include "core/settings.h"
#include "formats/codec_registry.h"
#include "formats/format_table.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace brellix::test;

TEST(OutputFormats, TableRowsAreConsistent) {
    ASSERT_EQ(OutputFormats().size(), 34u);
    std::set<std::string> exts;
    for (const auto& f : OutputFormats()) {
        SCOPED_TRACE(f.id);
        EXPECT_EQ(FindOutputFormat(f.id), &f);
        EXPECT_TRUE(exts.insert(f.ext).second);
        EXPECT_EQ(f.subTypeCount == 0, f.subTypeBase == 1800);
        EXPECT_EQ(f.subTypeCount == 0, f.settingsKey == nullptr);
        EXPECT_LT(f.defaultSubType, std::max(f.subTypeCount, 1));
        for (int s = 0; s < std::max(f.subTypeCount, 1); ++s) EXPECT_NE(OutputSubTypeName(f.id, s), "");
        // Writable exactly when an encoder exists.
        EXPECT_EQ(IsOutputFormatWritable(f.id), EncoderFor(f.libraryValue) != nullptr);
        if (f.settingsKey && f.id != 17) {
            EXPECT_STREQ(f.settingsKey, FormatSettingsKey(f.libraryValue));
        }
    }
    EXPECT_EQ(FindOutputFormat(0), nullptr);
    EXPECT_EQ(FindOutputFormat(35), nullptr);
}

TEST(OutputFormats, SubTypeNames) {
    const std::tuple<int, int, const char*> cases[] = {
        {1, 0, "OS/2"}, {1, 2, "Windows RLE Encoded"}, {4, 1, "Windows RGB Encoded"},
        {6, 0, "Version 87a - Interlaced"}, {6, 3, "Version 89a - Noninterlaced"},
        {10, 1, "Progressive Encoding"}, {17, 0, "Ascii Encoded"}, {24, 0, "8 Bit - Compressed"},
        {24, 5, "24 Bit - Uncompressed"}, {25, 0, "Fax - CITT 3"}, {25, 3, "Packbits Compressed"},
        {19, 1, "Interlaced"}, {32, 1, "LZ77 Compressed"}, {34, 1, "CMY"}, {2, 0, "None"},
        {21, 0, "None"}, {99, 0, "None"}};
    for (const auto& [id, sub, name] : cases) EXPECT_EQ(OutputSubTypeName(id, sub), name) << id << "/" << sub;
}

TEST(OutputFormats, StoredSubTypesAreClamped) {
    SettingsStore s;
    EXPECT_EQ(StoredSubType(s, 6), 3);   // GIF default: 89a non-interlaced
    EXPECT_EQ(StoredSubType(s, 24), 4);  // TGA default: 24 bit compressed
    s.SetInt("BatchSubTypes", "GIF", 9);
    EXPECT_EQ(StoredSubType(s, 6), 3);
    s.SetInt("BatchSubTypes", "GIF", 1);
    EXPECT_EQ(StoredSubType(s, 6), 1);
    StoreSubType(&s, 25, 4);
    EXPECT_EQ(s.GetInt("BatchSubTypes", "TIFF", -1), 4);
    EXPECT_EQ(StoredSubType(s, 2), 0);  // no sub-types
    EXPECT_EQ(ClampSubType(1, -5), 0);
}

TEST(OutputFormats, CompatibilityRules) {
    KOwnedHandle b1(MakeRandomDIB(8, 8, 1, 1)), b4(MakeRandomDIB(8, 8, 4, 1)),
        b8(MakeRandomDIB(8, 8, 8, 1)), grey(MakeRandomDIB(8, 8, 8, 1, true)),
        b24(MakeRandomDIB(8, 8, 24, 1)), mac(MakeRandomDIB(576, 720, 1, 1)),
        rle(MakeRandomDIB(256, 192, 1, 1));
    const KHANDLE all[] = {b1.get(), b4.get(), b8.get(), grey.get(), b24.get()};
    struct Rule {
        int id, sub;
        int expect[5];  // for 1, 4, 8, grey, 24 bits
    };
    const Rule rules[] = {
        {1, 2, {5010, 0, 0, 0, 5010}},      {4, 1, {0, 0, 0, 0, 0}},
        {3, 0, {5006, 5006, 0, 0, 5006}},   {6, 3, {0, 0, 0, 0, 5009}},
        {27, 0, {0, 0, 0, 0, 5009}},        {8, 0, {0, 5011, 5011, 0, 5011}},
        {10, 0, {5008, 5008, 5008, 0, 0}},  {31, 0, {5008, 5008, 5008, 0, 0}},
        {12, 0, {5012, 5012, 5012, 5012, 5012}}, {14, 1, {0, 5007, 5007, 5007, 5007}},
        {16, 0, {0, 5007, 5007, 5007, 5007}}, {16, 1, {0, 0, 5013, 5013, 5013}},
        {16, 2, {0, 0, 0, 0, 0}},           {17, 0, {5014, 5014, 5014, 0, 5014}},
        {20, 0, {5005, 5005, 5005, 5005, 0}}, {33, 1, {5005, 5005, 5005, 5005, 0}},
        {22, 0, {0, 5015, 0, 0, 0}},        {23, 0, {5017, 5017, 5017, 5017, 5017}},
        {23, 1, {5010, 0, 0, 0, 5010}},     {24, 1, {5006, 5006, 0, 0, 5006}},
        {24, 3, {5005, 5005, 5005, 5005, 0}}, {25, 0, {0, 5007, 5007, 5007, 5007}},
        {25, 2, {0, 0, 0, 0, 0}},           {19, 0, {0, 0, 0, 0, 0}},
    };
    for (const Rule& r : rules)
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(CheckOutputCompatibility(r.id, r.sub, all[i]), r.expect[i]) << r.id << "/" << r.sub << " #" << i;
    EXPECT_EQ(CheckOutputCompatibility(12, 0, mac.get()), 0);
    EXPECT_EQ(CheckOutputCompatibility(23, 0, rle.get()), 0);
}

TEST(OutputFormats, OutputFileNames) {
    const std::tuple<const char*, int, bool, const char*> cases[] = {
        {"/data/photo.tif", 10, false, "/data/photo.jpg"},
        {"/data/photo", 10, false, "/data/photo.jpg"},
        {"/data/my.folder/photo", 1, false, "/data/my.folder/photo.bmp"},
        {"/data/my.folder/photo.x.tiff", 19, false, "/data/my.folder/photo.x.png"},
        {"/data/.hidden", 6, false, "/data/.hidden.gif"},
        {"photo.jpeg", 25, false, "photo.tif"},
        {"photo.tif", 10, true, "photo.tif"},
        {"photo.jpeg", 10, true, "photo.jpg"},
        {"photo", 10, true, "photo.jpg"},
        {"photo.tif", 0, false, "photo.tif"},
    };
    for (const auto& [in, id, keep, out] : cases) {
        std::string p = in;
        MakeOutputFileName(&p, id, keep);
        EXPECT_EQ(p, out) << in;
    }
}

TEST(FormatSettings, DefaultsAndStoredValues) {
    SettingsStore s;
    FormatOptions o;
    ASSERT_EQ(LoadFormatSettings(s, "Encoding", 17, &o), 0);
    EXPECT_EQ(o.format, 17);
    EXPECT_EQ(o.compressionFactor, 15);
    EXPECT_EQ(o.variant, 70);
    ASSERT_EQ(LoadFormatSettings(s, "Encoding", 36, &o), 0);
    EXPECT_EQ(o.compression, 9);
    EXPECT_EQ(o.planes, 1);
    ASSERT_EQ(LoadFormatSettings(s, "Decoding", 8, &o), 0);
    EXPECT_EQ(o.variant, 152);
    EXPECT_FLOAT_EQ(o.pageSizeX2, 8.5f);
    EXPECT_EQ(o.returnAlpha, 1);
    EXPECT_EQ(o.resolution, 72);

    s.SetInt("Encoding", "JPGCompressionFactor", 40);
    s.SetInt("Encoding", "JPGDepth", 3);  // not a JPG option: ignored
    s.SetText("Decoding", "EPSPageSizeY2", FormatOptionText(14.25));
    s.SetInt("Decoding", "WMFReqWidth", 640);  // EMF is read with the WMF settings
    s.SetInt("Decoding", "PNGReturnAlpha", 1);  // always read
    ASSERT_EQ(LoadFormatSettings(s, "Encoding", 17, &o), 0);
    EXPECT_EQ(o.compressionFactor, 40);
    EXPECT_EQ(o.depth, 0);
    ASSERT_EQ(LoadFormatSettings(s, "Decoding", 8, &o), 0);
    EXPECT_FLOAT_EQ(o.pageSizeY2, 14.25f);
    ASSERT_EQ(LoadFormatSettings(s, "Decoding", 7, &o), 0);
    EXPECT_EQ(o.reqWidth, 640);
    EXPECT_EQ(o.reqHeight, 100);
    ASSERT_EQ(LoadFormatSettings(s, "Decoding", 28, &o), 0);
    EXPECT_EQ(o.returnAlpha, 1);
    ASSERT_EQ(LoadFormatSettings(s, "Encoding", 35, &o), 0);
    EXPECT_EQ(o.depth, 24);
    EXPECT_EQ(o.compression, 2);
    EXPECT_EQ(LoadFormatSettings(s, "Elsewhere", 1, &o), KERV_INVALID_PARAM);
    EXPECT_EQ(LoadFormatSettings(s, "Encoding", 1, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(FormatOptionText(1.0 / 3), "0.3333333333");
}

TEST(ReadableFormats, ListAndLookups) {
    for (const auto& e : ReadableFormats()) {
        EXPECT_EQ(e.enabled(), DecoderFor(e.libraryValue) != nullptr) << e.libraryValue;
        EXPECT_GE(e.extCount, 1);
    }
    EXPECT_EQ(FindReadableFormatByExtension("TIFF")->libraryValue, 36);
    EXPECT_EQ(FindReadableFormatByExtension("pnm")->libraryValue, 29);
    EXPECT_EQ(FindReadableFormatByExtension("xyz"), nullptr);
    const auto index = ReadableFormatIndex();
    ASSERT_EQ(index.size(), ReadableFormats().size());
    bool seenDisabled = false;
    for (size_t i = 0; i < index.size(); ++i) {
        if (!index[i]->enabled()) seenDisabled = true;
        EXPECT_FALSE(seenDisabled && index[i]->enabled()) << "enabled entries come first";
    }
}

TEST(ReadableFormats, DialogFilters) {
    const std::string open = OpenDialogFilter();
    EXPECT_EQ(open.rfind("All Files|*.*|BMP - Windows Bitmap|*.bmp|DIB - ", 0), 0u) << open;
    EXPECT_NE(open.find("|TIFF - Tagged Image File Format|*.tiff|"), std::string::npos);
    EXPECT_NE(open.find("|PSD - Adobe Photoshop|*.psd|"), std::string::npos);
    EXPECT_NE(open.find("|QZM - QZM Layered Image|*.qzm|"), std::string::npos);
    EXPECT_EQ(open.find("*.pcd"), std::string::npos);  // not readable yet
    const std::string save = SaveDialogFilter();
    EXPECT_NE(save.find("|TGA - Truevision Targa|*.tga|"), std::string::npos);
    EXPECT_NE(save.find("|PSD - Adobe Photoshop|*.psd|"), std::string::npos);
    EXPECT_NE(save.find("|QZM - QZM Layered Image|*.qzm|"), std::string::npos);
    EXPECT_EQ(save.find("*.wpg"), std::string::npos);  // not writable yet
    EXPECT_EQ(save.back(), '|');
}
