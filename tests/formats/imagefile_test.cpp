#include "formats/codec.h"
#include "formats/dibroutines.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "tests/formats/format_test_util.h"

#include <gtest/gtest.h>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace brellix::test;
namespace fs = std::filesystem;

namespace {

KervErrorCode Read(const fs::path& p, KOwnedHandle* out, ImageFileInfo* info = nullptr, int* format = nullptr) {
    KHANDLE h = nullptr;
    const KervErrorCode e = ReadImageFile(p.string(), format, &h, nullptr, info);
    out->reset(h);
    if (e != 0) {
        EXPECT_EQ(h, nullptr);
    }
    return e;
}

int FilesIn(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file();
    return n;
}

}  // namespace

// Every sub-type of the formats this layer writes, through the files.
TEST(ImageFile, WriteThenReadEverySubType) {
    LeakCheck leaks;
    TempDir dir;
    struct Case {
        int id, sub, bits;
        bool grey;
    };
    std::vector<Case> cases;
    for (int sub = 0; sub < 3; ++sub)
        for (int bits : {1, 4, 8, 24}) {
            if (sub == 2 && (bits == 1 || bits == 24)) continue;
            cases.push_back({1, sub, bits, false});
            cases.push_back({4, sub, bits, false});
        }
    for (int sub = 0; sub < 2; ++sub) {
        cases.push_back({14, sub, 1, false});
        cases.push_back({17, sub, 8, true});
        cases.push_back({20, sub, 24, false});
    }
    cases.push_back({16, 0, 1, false});
    for (int bits : {1, 4}) cases.push_back({16, 1, bits, false});
    for (int bits : {1, 4, 8, 24}) cases.push_back({16, 2, bits, false});
    for (int sub = 0; sub < 6; ++sub) cases.push_back({24, sub, sub < 2 ? 8 : 24, false});
    cases.push_back({24, 0, 8, true});
    OutputOptions o;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " sub " << c.sub << " bits " << c.bits);
        KOwnedHandle src(MakeRandomDIB(31, 9, c.bits, uint32_t(c.id * 10 + c.sub), c.grey));
        ASSERT_EQ(CheckOutputCompatibility(c.id, c.sub, src.get()), 0);
        std::string path = (dir / "img").string();
        MakeOutputFileName(&path, c.id, false);
        ASSERT_EQ(WriteImageFile(path, src.get(), c.id, c.sub, o), 0);
        KOwnedHandle back;
        ImageFileInfo info;
        int format = 0;
        ASSERT_EQ(Read(path, &back, &info, &format), 0);
        // A .dib file carries the BMP file header, so its content names BMP.
        EXPECT_EQ(format, c.id == 4 ? 1 : FindOutputFormat(c.id)->libraryValue);
        std::vector<uint32_t> want = Colors(src.get());
        if (c.id == 24 && (c.sub == 2 || c.sub == 3))
            for (auto& v : want) {  // 16-bit TGA keeps 5 bits a channel
                auto q = [](uint32_t x) { x >>= 3; return (x << 3) | (x >> 2); };
                v = q(v >> 16 & 255) << 16 | q(v >> 8 & 255) << 8 | q(v & 255);
            }
        EXPECT_EQ(Colors(back.get()), want);
        DIBLock b(back.get());
        EXPECT_EQ(b.bitCount(), c.id == 24 && c.sub >= 2 ? 24 : c.bits);
        EXPECT_EQ(FilesIn(dir.path()), 1) << "no temporary file left";
        fs::remove(path);
    }
}

TEST(ImageFile, DepthsAreConvertedForTheFormat) {
    LeakCheck leaks;
    TempDir dir;
    OutputOptions o;
    const std::tuple<int, int, int, int> cases[] = {
        // id, sub-type, source bits, bits read back
        {14, 0, 24, 1},  // PBM: dithered to two colours
        {17, 1, 4, 8},   // PGM: grey
        {24, 1, 24, 8},  // 8-bit TGA: 256 colours
        {24, 0, 4, 8},
        {16, 0, 8, 1},   // PCX version 0 is monochrome
        {6, 3, 24, 8},   // GIF: 256 colours
        {10, 0, 4, 24},  // JPEG: true colour
        {25, 0, 8, 1},   // TIFF fax: two colours
    };
    for (const auto& [id, sub, bits, expect] : cases) {
        SCOPED_TRACE(testing::Message() << "id " << id << " from " << bits << " bits");
        KOwnedHandle src(MakeRandomDIB(20, 6, bits, 3));
        const auto before = BlockBytes(src.get());
        const fs::path p = dir / ("x." + std::string(FindOutputFormat(id)->ext));
        ASSERT_EQ(WriteImageFile(p.string(), src.get(), id, sub, o), 0);
        EXPECT_EQ(BlockBytes(src.get()), before) << "the source is never changed";
        KOwnedHandle back;
        ASSERT_EQ(Read(p, &back), 0);
        DIBLock d(back.get());
        EXPECT_EQ(d.bitCount(), expect);
        EXPECT_EQ(d.width(), 20);
    }
}

TEST(ImageFile, DetectionAndErrors) {
    LeakCheck leaks;
    TempDir dir;
    OutputOptions o;
    KOwnedHandle img(MakeRandomDIB(5, 5, 24, 1));
    // Content wins over the extension; a TGA (no signature) is found by its name.
    ASSERT_EQ(WriteImageFile((dir / "a.bmp").string(), img.get(), 1, 1, o), 0);
    fs::rename(dir / "a.bmp", dir / "a.pcx");
    ASSERT_EQ(WriteImageFile((dir / "b.tga").string(), img.get(), 24, 4, o), 0);
    KOwnedHandle h;
    int format = -1;
    EXPECT_EQ(Read(dir / "a.pcx", &h, nullptr, &format), 0);
    EXPECT_EQ(format, 1);
    EXPECT_EQ(Read(dir / "b.tga", &h, nullptr, &format), 0);
    EXPECT_EQ(format, 35);
    fs::copy(dir / "b.tga", dir / "b.dat");
    EXPECT_EQ(Read(dir / "b.dat", &h, nullptr, &format), KERV_UNKNOWN_FORMAT);
    EXPECT_EQ(format, 0);
    WriteFileBytes(dir / "c.pcd", {'P', 'C', 'D', 0});  // known, not readable yet
    EXPECT_EQ(Read(dir / "c.pcd", &h), KERV_UNKNOWN_FORMAT);
    WriteFileBytes(dir / "cut.dat", {'8', 'B', 'P', 'S', 0, 1});  // a Photoshop file, cut short
    EXPECT_EQ(Read(dir / "cut.dat", &h, nullptr, &format), KERV_CORRUPT_FILE);
    EXPECT_EQ(format, 30);
    WriteFileBytes(dir / "empty.bmp", {});
    EXPECT_EQ(Read(dir / "empty.bmp", &h), KERV_FILE_OPEN);
    EXPECT_EQ(Read(dir / "missing.bmp", &h), KERV_FILE_MISSING);
    EXPECT_EQ(Read(dir / "no" / "such" / "x.bmp", &h), KERV_FILE_MISSING);
    fs::create_directory(dir / "folder.bmp");
    EXPECT_EQ(Read(dir / "folder.bmp", &h), KERV_FILE_CHECK);
    // A damaged file keeps the decoder's code.
    auto bytes = ReadFileBytes(dir / "a.pcx");
    bytes.resize(60);
    WriteFileBytes(dir / "cut.bmp", bytes);
    EXPECT_EQ(Read(dir / "cut.bmp", &h), KERV_CORRUPT_FILE);
    if (geteuid() != 0) {
        WriteFileBytes(dir / "locked.bmp", ReadFileBytes(dir / "a.pcx"));
        chmod((dir / "locked.bmp").c_str(), 0);
        EXPECT_EQ(Read(dir / "locked.bmp", &h), KERV_FILE_OPEN);
    }
}

TEST(ImageFile, ArgumentsAndStatus) {
    TempDir dir;
    OutputOptions o;
    KOwnedHandle img(MakeRandomDIB(5, 5, 8, 1));
    ASSERT_EQ(WriteImageFile((dir / "a.bmp").string(), img.get(), 1, 1, o), 0);
    KHANDLE h = img.get();
    EXPECT_EQ(ReadImageFile((dir / "a.bmp").string(), nullptr, &h, nullptr, nullptr), KERV_INVALID_PARAM);
    EXPECT_EQ(ReadImageFile((dir / "a.bmp").string(), nullptr, nullptr, nullptr, nullptr), KERV_INVALID_PARAM);
    StatusControlBlock half;
    half.progress = [](StatusControlBlock*) { return 0; };
    h = nullptr;
    EXPECT_EQ(ReadImageFile((dir / "a.bmp").string(), nullptr, &h, &half, nullptr), KERV_INVALID_PARAM);
    std::string text;
    half.setStatusText = [&](StatusControlBlock*, const char* t) { text = t; };
    ASSERT_EQ(ReadImageFile((dir / "a.bmp").string(), nullptr, &h, &half, nullptr), 0);
    KOwnedHandle owner(h);
    EXPECT_EQ(text, "Reading " + (dir / "a.bmp").string());
    EXPECT_EQ(WriteImageFile((dir / "b.bmp").string(), img.get(), 1, 1, o, &half), 0);
    EXPECT_EQ(text, "Writing b.bmp");

    StoppingStatus stop(1);
    stop.block.setStatusText = [](StatusControlBlock*, const char*) {};
    h = nullptr;
    LeakCheck leaks;
    EXPECT_EQ(ReadImageFile((dir / "a.bmp").string(), nullptr, &h, &stop.block, nullptr), KERV_STOPPED);
    EXPECT_EQ(h, nullptr);
}

TEST(ImageFile, WriteFailuresLeaveNothingBehind) {
    LeakCheck leaks;
    TempDir dir;
    OutputOptions o;
    KOwnedHandle img(MakeRandomDIB(5, 5, 24, 1));
    EXPECT_EQ(WriteImageFile((dir / "x.bmp").string(), img.get(), 0, 0, o), KERV_INVALID_PARAM);
    EXPECT_EQ(WriteImageFile((dir / "x.bmp").string(), nullptr, 1, 0, o), KERV_INVALID_PARAM);
    for (int id : {2, 3, 5, 7, 8, 11, 12, 13, 15, 18, 22, 23, 26, 27, 28, 29, 30, 31, 33, 34})
        EXPECT_EQ(WriteImageFile((dir / "x.out").string(), img.get(), id, 0, o), KERV_FORMAT_NOT_WRITABLE) << id;
    EXPECT_EQ(WriteImageFile((dir / "nowhere" / "x.bmp").string(), img.get(), 1, 1, o), KERV_WRITE_FAILED);
    // A target that cannot be replaced keeps its contents; no temporary file stays.
    ASSERT_EQ(WriteImageFile((dir / "keep.bmp").string(), img.get(), 1, 1, o), 0);
    const auto before = ReadFileBytes(dir / "keep.bmp");
    fs::create_directory(dir / "busy.bmp");
    WriteFileBytes(dir / "busy.bmp" / "inside", {1});
    EXPECT_EQ(WriteImageFile((dir / "busy.bmp").string(), img.get(), 1, 1, o), KERV_WRITE_FAILED);
    EXPECT_EQ(FilesIn(dir.path()), 1);
    // Overwriting an existing file replaces it completely.
    KOwnedHandle small(MakeRandomDIB(2, 2, 1, 1));
    ASSERT_EQ(WriteImageFile((dir / "keep.bmp").string(), small.get(), 1, 1, o), 0);
    EXPECT_LT(ReadFileBytes(dir / "keep.bmp").size(), before.size());
    EXPECT_EQ(FilesIn(dir.path()), 1);
}

// Uncompressed bitmaps are written from the image's rows, a piece at a time:
// the file must be the encoder's bytes whatever the size, the progress must
// run to its end, and a stop between pieces must leave nothing.
TEST(ImageFile, BitmapsWrittenFromTheImage) {
    LeakCheck leaks;
    TempDir dir;
    OutputOptions o;
    struct Case {
        int w, h, bits;
    };
    // One piece; one row past a piece; several pieces with a short last one.
    for (const Case c : {Case{7, 3, 24}, Case{1024, 342, 24}, Case{1500, 2000, 8}, Case{3001, 700, 4}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits);
        KOwnedHandle img(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w)));
        ImageFileInfo info;
        info.options.variant = 11;
        info.options.compression = 1;
        EncodeRequest req;
        req.dib = img.get();
        req.info = &info;
        std::vector<uint8_t> encoded;
        ASSERT_EQ(EncodeBMP(req, &encoded), 0);

        int calls = 0;
        StatusControlBlock counting;
        counting.setStatusText = [](StatusControlBlock*, const char*) {};
        counting.progress = [&](StatusControlBlock* s) {
            ++calls;
            EXPECT_LE(s->current, s->total);
            return 0;
        };
        ASSERT_EQ(WriteImageFile((dir / "a.bmp").string(), img.get(), 1, 1, o, &counting), 0);
        const std::vector<uint8_t> file = ReadFileBytes(dir / "a.bmp");
        ASSERT_EQ(file.size(), encoded.size());
        // The resolution fields (38..45) come from the output rule, not from the request above.
        EXPECT_TRUE(std::equal(file.begin(), file.begin() + 38, encoded.begin()));
        EXPECT_TRUE(std::equal(file.begin() + 46, file.end(), encoded.begin() + 46));
        EXPECT_EQ(uint32_t(file[2] | file[3] << 8 | file[4] << 16 | uint32_t(file[5]) << 24), file.size());
        EXPECT_EQ(counting.current, counting.total) << "progress ran to its end";
        EXPECT_GE(calls, 2);

        // Asked to stop once the first piece is out: a one-piece file is
        // complete by then; a longer one is dropped, the old file stays as it
        // was and nothing else appears.
        const bool pieces = size_t(DIBLock(img.get()).stride()) * size_t(c.h) > (1u << 20);
        StoppingStatus stop(3);
        stop.block.setStatusText = [](StatusControlBlock*, const char*) {};
        KOwnedHandle other(MakeRandomDIB(c.w, c.h, c.bits, 99));
        EXPECT_EQ(WriteImageFile((dir / "a.bmp").string(), other.get(), 1, 1, o, &stop.block),
                  pieces ? KERV_STOPPED : KERV_OK);
        if (pieces) EXPECT_EQ(ReadFileBytes(dir / "a.bmp"), file);
        else EXPECT_NE(ReadFileBytes(dir / "a.bmp"), file);
        EXPECT_EQ(FilesIn(dir.path()), 1);
        fs::remove(dir / "a.bmp");
    }
}

// Big uncompressed bottom-up bitmaps are read from the file straight into
// the image; every other bitmap is read whole. Either way the result must be
// the decoder's own on the file's bytes.
struct BitmapReadCase {
    const char* name;
    int w, h, bits;
    // Changes the encoded file; may be empty.
    std::function<void(std::vector<uint8_t>&)> change;
    bool straight;  // read from the file into the image
};

void SetLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t GetLe32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

class BitmapRead : public ::testing::TestWithParam<BitmapReadCase> {};

TEST_P(BitmapRead, SameAsDecodingTheBytes) {
    const BitmapReadCase& c = GetParam();
    LeakCheck leaks;
    TempDir dir;
    std::vector<uint8_t> bytes;
    {
        KOwnedHandle img(MakeRandomDIB(c.w, c.h, c.bits, uint32_t(c.w * c.h)));
        ImageFileInfo info;
        info.options.variant = 11;
        info.options.compression = 1;
        ASSERT_EQ(EncodeBytes(EncodeBMP, img.get(), info, &bytes), 0);
    }
    if (c.change) c.change(bytes);
    const fs::path file = dir / "a.bmp";
    WriteFileBytes(file, bytes);

    KOwnedHandle expected, got;
    ImageFileInfo expectedInfo, gotInfo;
    const uint64_t allocations = KML_AllocationCount();
    const KervErrorCode want = DecodeBytes(DecodeBMP, bytes, &expected, &expectedInfo);
    // A broken file is refused before an image is made for what its header promises.
    if (want != KERV_OK) {
        EXPECT_EQ(KML_AllocationCount(), allocations);
    }
    int format = 0;
    ASSERT_EQ(Read(file, &got, &gotInfo, &format), want);
    if (want == KERV_OK) {
        EXPECT_EQ(ImageContent(got.get()), ImageContent(expected.get()));
        EXPECT_EQ(gotInfo.options.format, expectedInfo.options.format);
        EXPECT_EQ(gotInfo.options.variant, expectedInfo.options.variant);
        EXPECT_EQ(gotInfo.attributes.resolution, expectedInfo.attributes.resolution);
        EXPECT_EQ(format, 1);
    }

    // Which way it went: only the plain kind is read from the file.
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    DecodeRequest head;
    head.data = bytes.data();
    head.size = std::min<size_t>(bytes.size(), 64 * 1024);
    KHANDLE h = reinterpret_cast<KHANDLE>(1);
    const KervErrorCode direct = DecodeBMPFromFile(head, fd, bytes.size(), &h, nullptr);
    ::close(fd);
    KOwnedHandle straight(direct == KERV_OK ? h : nullptr);
    if (c.straight) {
        ASSERT_EQ(direct, KERV_OK);
        EXPECT_EQ(ImageContent(straight.get()), ImageContent(expected.get()));
    } else {
        EXPECT_EQ(direct, KERV_UNSUPPORTED_VARIANT);
        EXPECT_EQ(h, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BitmapRead,
    ::testing::Values(
        BitmapReadCase{"TrueColour", 1000, 300, 24, {}, true},
        BitmapReadCase{"OddWidthPadded", 999, 301, 24, {}, true},
        BitmapReadCase{"Palette256", 1200, 900, 8, {}, true},
        BitmapReadCase{"Palette16", 1500, 700, 4, {}, true},
        BitmapReadCase{"TwoColours", 3000, 800, 1, {}, true},
        BitmapReadCase{"PixelsFarFromTheHeaders", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) {
                           const uint32_t at = GetLe32(b, 10), gap = 100000;
                           b.insert(b.begin() + at, gap, uint8_t(0xAB));
                           SetLe32(b, 10, at + gap);
                           SetLe32(b, 2, uint32_t(b.size()));
                       },
                       true},
        BitmapReadCase{"TopDown", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { SetLe32(b, 22, uint32_t(-300)); }, false},
        BitmapReadCase{"RowsMissing", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { b.resize(b.size() - 1); }, false},
        BitmapReadCase{"HeightALie", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { SetLe32(b, 22, 60000); }, false},
        BitmapReadCase{"PixelsPastTheEnd", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { SetLe32(b, 10, uint32_t(b.size()) + 5); }, false},
        BitmapReadCase{"BitFields", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { SetLe32(b, 30, 3); }, false},
        BitmapReadCase{"HeaderNotBitmap", 1000, 300, 24,
                       [](std::vector<uint8_t>& b) { SetLe32(b, 14, 7); }, false},
        BitmapReadCase{"SmallFile", 20, 10, 24, {}, true}),
    [](const ::testing::TestParamInfo<BitmapReadCase>& i) { return std::string(i.param.name); });

// Reading from the file into the image: progress to the end, a clean stop
// between pieces, and no leak when an allocation fails.
TEST(ImageFile, BitmapsReadIntoTheImage) {
    LeakCheck leaks;
    TempDir dir;
    KOwnedHandle img(MakeRandomDIB(1500, 900, 24, 5));
    ASSERT_EQ(WriteImageFile((dir / "a.bmp").string(), img.get(), 1, 1, OutputOptions{}), 0);
    const std::string path = (dir / "a.bmp").string();

    StatusControlBlock counting;
    counting.setStatusText = [](StatusControlBlock*, const char*) {};
    counting.progress = [](StatusControlBlock* s) {
        EXPECT_LE(s->current, s->total);
        return 0;
    };
    KHANDLE h = nullptr;
    ASSERT_EQ(ReadImageFile(path, nullptr, &h, &counting, nullptr), 0);
    KOwnedHandle back(h);
    EXPECT_EQ(ImageContent(back.get()), ImageContent(img.get()));
    EXPECT_EQ(counting.current, counting.total);

    StoppingStatus stop(2);
    stop.block.setStatusText = [](StatusControlBlock*, const char*) {};
    h = nullptr;
    EXPECT_EQ(ReadImageFile(path, nullptr, &h, &stop.block, nullptr), KERV_STOPPED);
    EXPECT_EQ(h, nullptr);

    const int points = SweepAllocationFailures(nullptr, [&](KHANDLE* r) {
        *r = nullptr;
        return ReadImageFile(path, nullptr, r, nullptr, nullptr);
    });
    EXPECT_GE(points, 1);
}

TEST(ImageFile, ResolutionRule) {
    TempDir dir;
    KOwnedHandle img(MakeRandomDIB(8, 8, 24, 1));
    ImageFileInfo source;
    source.attributes = {150, 1};
    struct Case {
        int maintain;
        const ImageFileInfo* src;
        double expect;
    };
    const Case cases[] = {{0, nullptr, 300}, {1, nullptr, 72}, {1, &source, 150}};
    for (const Case& c : cases) {
        OutputOptions o;
        o.maintainDPI = c.maintain;
        o.sourceInfo = c.src;
        ASSERT_EQ(WriteImageFile((dir / "r.pcx").string(), img.get(), 16, 2, o), 0);
        KOwnedHandle back;
        ImageFileInfo info;
        ASSERT_EQ(Read(dir / "r.pcx", &back, &info), 0);
        EXPECT_EQ(info.attributes.resolutionUnit, 1);
        EXPECT_DOUBLE_EQ(info.attributes.resolution, c.expect);
    }
    // A source without resolution gives 72 too.
    ImageFileInfo none;
    OutputOptions o;
    o.maintainDPI = 1;
    o.sourceInfo = &none;
    ImageFileInfo built;
    ASSERT_TRUE(BuildOutputInfo(img.get(), 25, 2, o, &built));
    EXPECT_DOUBLE_EQ(built.attributes.resolution, 72);
    // Formats without a resolution setting keep the image's own.
    ASSERT_TRUE(BuildOutputInfo(img.get(), 1, 1, o, &built));
    EXPECT_EQ(built.attributes.resolutionUnit, 0);
    // A BMP read carries its resolution to the next write.
    {
        DIBLock d(img.get());
        d->biXPelsPerMeter = d->biYPelsPerMeter = 5906;
    }
    ASSERT_EQ(WriteImageFile((dir / "r.bmp").string(), img.get(), 1, 1, OutputOptions{}), 0);
    KOwnedHandle back;
    ImageFileInfo info;
    ASSERT_EQ(Read(dir / "r.bmp", &back, &info), 0);
    o.sourceInfo = &info;
    ASSERT_EQ(WriteImageFile((dir / "r2.pcx").string(), back.get(), 16, 2, o), 0);
    ASSERT_EQ(Read(dir / "r2.pcx", &back, &info), 0);
    EXPECT_DOUBLE_EQ(info.attributes.resolution, 150);  // 5906 per metre
}

TEST(ImageFile, MappingAndTransparencyRules) {
    KOwnedHandle pal(MakeRandomDIB(4, 4, 8, 1));  // the colour cube: white is 215
    KOwnedHandle rgb(MakeRandomDIB(4, 4, 24, 1));
    OutputOptions o;
    ImageFileInfo i;
    o.transparencyType = 2;
    o.transparentColor = RGB(255, 255, 255);
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 19, 0, o, &i));
    EXPECT_EQ(i.transparentIndex, 215);
    EXPECT_EQ(i.options.pngAlphaMode, 5);
    ASSERT_TRUE(BuildOutputInfo(rgb.get(), 19, 0, o, &i));
    EXPECT_EQ(i.transparentIndex, KERV_NO_TRANSPARENCY);
    o.transparencyType = 3;
    o.transparencyIndex = 7;
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 6, 3, o, &i));
    EXPECT_EQ(i.transparentIndex, 7);
    EXPECT_EQ(i.options.variant, 41);
    EXPECT_FALSE(i.options.interlace);
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 6, 0, o, &i));  // 87a has no transparency
    EXPECT_EQ(i.transparentIndex, KERV_NO_TRANSPARENCY);
    EXPECT_EQ(i.options.variant, 40);
    EXPECT_TRUE(i.options.interlace);
    ImageFileInfo src;
    src.transparentIndex = 12;
    o.transparencyType = 0;
    o.sourceInfo = &src;
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 19, 0, o, &i));
    EXPECT_EQ(i.transparentIndex, 12);
    src.transparentIndex = KERV_NO_TRANSPARENCY;
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 19, 0, o, &i));
    EXPECT_EQ(i.transparentIndex, KERV_NO_TRANSPARENCY);
    o.sourceInfo = nullptr;
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 19, 0, o, &i));
    EXPECT_EQ(i.transparentIndex, 7);
    o.transparencyType = 1;
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 6, 2, o, &i));
    EXPECT_EQ(i.transparentIndex, KERV_NO_TRANSPARENCY);
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 1, 1, o, &i));  // not GIF/PNG: none
    EXPECT_EQ(i.transparentIndex, KERV_NO_TRANSPARENCY);

    const std::tuple<int, int, int, int, int> map[] = {
        // id, sub-type, variant, compression, depth
        {1, 0, 10, 1, 0}, {1, 1, 11, 1, 0}, {4, 2, 11, 7, 0}, {16, 1, 81, 0, 0}, {14, 1, 91, 0, 0},
        {20, 0, 90, 0, 0}, {24, 0, 0, 2, 8}, {24, 3, 0, 1, 16}, {24, 4, 0, 2, 24}, {25, 0, 0, 3, 0},
        {25, 2, 0, 9, 0}, {25, 3, 0, 7, 0}, {10, 1, 71, 0, 0}, {9, 0, 70, 0, 0}};
    o.compression = 22;
    o.planeEncoding = 2;
    for (const auto& [id, sub, variant, compression, depth] : map) {
        ASSERT_TRUE(BuildOutputInfo(pal.get(), id, sub, o, &i));
        EXPECT_EQ(i.options.variant, variant) << id << "/" << sub;
        EXPECT_EQ(i.options.compression, compression) << id << "/" << sub;
        EXPECT_EQ(i.options.depth, depth) << id << "/" << sub;
        EXPECT_EQ(i.options.format, FindOutputFormat(id)->libraryValue);
    }
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 10, 0, o, &i));
    EXPECT_EQ(i.options.compressionFactor, 22);
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 25, 2, o, &i));
    EXPECT_EQ(i.options.planes, 2);
    ASSERT_TRUE(BuildOutputInfo(pal.get(), 25, 0, o, &i));  // fax: no planes
    EXPECT_EQ(i.options.planes, 0);
    EXPECT_FALSE(BuildOutputInfo(pal.get(), 35, 0, o, &i));
}

TEST(ImageFile, AllocationFailuresAreClean) {
    TempDir dir;
    KOwnedHandle img(MakeRandomDIB(12, 7, 24, 2));
    const std::string tga = (dir / "a.tga").string();
    // Writing an 8-bit TGA from a 24-bit image converts it first.
    const int writePoints = SweepAllocationFailures(img.get(), [&](KHANDLE* r) {
        *r = nullptr;
        return WriteImageFile(tga, img.get(), 24, 0, OutputOptions{});
    });
    EXPECT_GE(writePoints, 1);
    EXPECT_EQ(FilesIn(dir.path()), 1);
    const int readPoints = SweepAllocationFailures(nullptr, [&](KHANDLE* r) {
        *r = nullptr;
        return ReadImageFile(tga, nullptr, r, nullptr, nullptr);
    });
    EXPECT_GE(readPoints, 1);
}

// Resolution and transparency travel from a read to the next write.
TEST(ImageFile, InfoTravelsFromReadToWrite) {
    TempDir dir;
    KOwnedHandle img(MakeRandomDIB(9, 9, 8, 4));
    OutputOptions first;
    first.transparencyType = 3;
    first.transparencyIndex = 5;
    ASSERT_EQ(WriteImageFile((dir / "a.png").string(), img.get(), 19, 0, first), 0);
    KOwnedHandle back;
    ImageFileInfo info;
    ASSERT_EQ(Read(dir / "a.png", &back, &info), 0);
    EXPECT_EQ(info.transparentIndex, 5);
    OutputOptions keep;
    keep.transparencyType = 0;
    keep.sourceInfo = &info;
    ASSERT_EQ(WriteImageFile((dir / "b.png").string(), back.get(), 19, 1, keep), 0);
    KOwnedHandle again;
    ImageFileInfo info2;
    ASSERT_EQ(Read(dir / "b.png", &again, &info2), 0);
    EXPECT_EQ(info2.transparentIndex, 5);
    EXPECT_EQ(Colors(again.get()), Colors(img.get()));
}
