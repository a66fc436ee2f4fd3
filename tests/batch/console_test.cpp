// The console program itself: arguments, exit status, standard output and
// error, Ctrl-C.
#include "batch/image_list.h"
#include "core/random.h"
#include "formats/imagefile.h"
#include "imaging/depth.h"
#include "imaging/noise.h"
#include "script/commands.h"
#include "script/script.h"
#include "tests/batch/run_batch.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::MakeRandomDIB;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;
using batchtest::Result;
using batchtest::RunBatch;

namespace {

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

void WriteImage(const fs::path& p, int w, int h, uint32_t seed) {
    KOwnedHandle dib(MakeRandomDIB(w, h, 24, seed));
    ASSERT_EQ(WriteImageFile(p.string(), dib.get(), 1, 1, OutputOptions{}), KERV_OK);
}

// "Change to 16.7 Mil colors", "Mirror Image", "Set Output Options" (PNG, out/).
void WriteScript(const fs::path& p, int outputId = 19, bool withOutput = true) {
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_MIRROR), -1);
    if (withOutput) {
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = outputId - 1;
        o->m_nParam[1] = outputId == 6 ? 3 : 0;
        o->m_strParam[0] = "out";
        s.InsertCommand(std::move(o), -1);
    }
    std::string message;
    ASSERT_TRUE(s.Save(p.string(), &message)) << message;
}

int CountLines(const std::string& text, const std::string& line) {
    int n = 0;
    size_t pos = 0;
    while ((pos = text.find(line + "\n", pos)) != std::string::npos)
        ++n, pos += line.size();
    return n;
}

TEST(Console, HelpAndVersion) {
    TempDir dir;
    Result h = RunBatch({"--help"}, dir.path());
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("Usage: brellix-batch"), std::string::npos);
    Result v = RunBatch({"--version"}, dir.path());
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("brellix-batch ", 0), 0u);
    Result none = RunBatch({}, dir.path());
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("Usage:"), std::string::npos);
}

TEST(Console, InvalidCommandLines) {
    TempDir dir;
    const std::string msg =
        "An invalid set of command line parameters was specified.  Please refer to the printed or "
        "online documentation for assistance.";
    for (const auto& args : std::vector<std::vector<std::string>>{{"/r", "demo"},
                                                                  {"demo", "/@"},
                                                                  {"demo", "-@", "l.brl", "*.bmp"},
                                                                  {"demo", "-x"},
                                                                  {"demo", "a.bmp", "b.bmp"}}) {
        Result r = RunBatch(args, dir.path());
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
        EXPECT_NE(r.err.find(msg), std::string::npos) << r.err;
    }
    // Two plain names are what an unquoted pattern becomes: a hint says so.
    EXPECT_NE(RunBatch({"demo", "a.bmp", "b.bmp"}, dir.path()).err.find("quote"),
              std::string::npos);
}

TEST(Console, ListsTheScriptWithoutRun) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    Result r = RunBatch({"demo"}, dir.path()); // ".ksc" is added
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1. Change to 16.7 Mil colors (24 bit)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2. Mirror Image"), std::string::npos);
    EXPECT_NE(r.out.find("3. Set Output Options"), std::string::npos);
    EXPECT_NE(r.out.find("File Type:"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out"));

    Result missing = RunBatch({"nosuch", "-r"}, dir.path());
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("The script could not be loaded because No such file or directory"),
              std::string::npos)
        << missing.err;
}

TEST(Console, RunsAndReportsItsExitStatus) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    fs::create_directories(dir / "in");
    WriteImage(dir / "in/a 1.bmp", 20, 10, 1);
    WriteImage(dir / "in/b.bmp", 20, 10, 2);

    Result r = RunBatch({"demo", "-r", "in/*.bmp", "-l", "run.log"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out/a 1.png"));
    EXPECT_TRUE(fs::exists(dir / "out/b.png"));
    EXPECT_NE(r.out.find("Reading " + (dir / "in/a 1.bmp").string() + "\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("2  File(s) successfully converted.\n"), std::string::npos);
    EXPECT_NE(r.err.find("Processing File 1 of 2"), std::string::npos);
    // The -l log and CURRENT.LOG hold the same CR LF text as the output.
    auto log = ReadFileBytes(dir / "run.log");
    std::string logText(log.begin(), log.end()), crlf;
    for (char c : r.out)
        c == '\n' ? crlf += "\r\n" : crlf += c;
    EXPECT_EQ(logText, crlf);
    auto current = ReadFileBytes(dir / "state/brellix/CURRENT.LOG");
    EXPECT_EQ(std::string(current.begin(), current.end()), crlf);
    // The run's details were recorded.
    auto conf = ReadFileBytes(dir / "config/Brellix.conf");
    EXPECT_NE(std::string(conf.begin(), conf.end()).find("[ScriptRun]"), std::string::npos);

    // 24 bits as GIF: nothing written, status 1; with -e the error goes to stderr.
    WriteScript(dir / "gif.ksc", 6);
    Result g = RunBatch({"gif.ksc", "-r", "-e", "in/b.bmp"}, dir.path());
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(CountLines(g.out, "The image must be 1,2,4, or 8bpp to save in this format"), 1);
    EXPECT_NE(g.err.find("The image must be 1,2,4, or 8bpp"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out/b.gif"));

    // No "Set Output Options": refused.
    WriteScript(dir / "noout.ksc", 19, false);
    Result n = RunBatch({"noout.ksc", "-r"}, dir.path());
    EXPECT_EQ(n.status, 2);
    EXPECT_NE(n.err.find("does not include a \"Set Output Options\" command"), std::string::npos);
}

TEST(Console, EmptyAndHeaderOnlyLists) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    WriteText(dir / "empty.brl", "BRL\r\n");
    Result r = RunBatch({"demo", "-r", "-@", "empty.brl"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Reading"), std::string::npos);
    EXPECT_NE(r.out.find("0  File(s) successfully converted."), std::string::npos);

    // Given as the script, an image list is listed.
    WriteText(dir / "two.brl", "BRL\r\n/x/a.bmp\r\n/x/b.bmp\r\n");
    Result l = RunBatch({"two.brl"}, dir.path());
    EXPECT_EQ(l.status, 0);
    EXPECT_NE(l.out.find("  /x/b.bmp\n"), std::string::npos);
}

class CtrlC : public ::testing::TestWithParam<const char*> {};

// One file at a time, and several.
TEST_P(CtrlC, AbortsCleanly) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    fs::create_directories(dir / "in");
    for (int i = 0; i < 40; ++i)
        WriteImage(dir / "in" / ("f" + std::to_string(100 + i) + ".bmp"), 600, 400, i);
    Result r = RunBatch({"demo", "-r", "in/*.bmp", "-j", GetParam()}, dir.path(), "Reading ");
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("User abort. Processing halted.\n"), std::string::npos);
    EXPECT_EQ(r.out.find("User abort. Processing halted."), r.out.rfind("User abort. Processing halted."));
    EXPECT_EQ(r.out.find("File(s) successfully converted"), std::string::npos);
    // Only complete files in the output folder, and the log saved.
    if (fs::exists(dir / "out"))
        for (const auto& e : fs::directory_iterator(dir / "out")) {
            KHANDLE dib = nullptr;
            int format = 0;
            EXPECT_EQ(ReadImageFile(e.path().string(), &format, &dib, nullptr, nullptr), KERV_OK)
                << e.path();
            KML_GlobalFree(dib);
            EXPECT_EQ(e.path().extension(), ".png") << e.path();
        }
    auto log = ReadFileBytes(dir / "state/brellix/CURRENT.LOG");
    EXPECT_NE(std::string(log.begin(), log.end()).find("User abort. Processing halted.\r\n"),
              std::string::npos);
    // No temporary batch list is left behind.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind("tmpbrl", 0), 0u) << e.path();
}

INSTANTIATE_TEST_SUITE_P(Jobs, CtrlC, ::testing::Values("1", "3"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param[0] == '1' ? "OneAtATime" : "ThreeAtATime");
                         });

// The resize command over the sample images shipped with the program: every
// output has the size the mode asks for, whatever the input's format and depth.
TEST(Console, ResizesTheSampleImages) {
    TempDir dir;
    std::vector<fs::path> samples;
    for (const auto& e : fs::directory_iterator(BRELLIX_SAMPLE_IMAGES))
        samples.push_back(e.path());
    ASSERT_GE(samples.size(), 8u);

    const struct {
        const char* name;
        int32_t mode, width, height;
    } runs[] = {{"width", 6, 64, 0}, {"box", 8, 120, 90}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        CScript s;
        auto resize = std::make_unique<CScriptCommand>(CMD_RESIZE);
        resize->m_nParam[0] = run.mode;
        resize->m_nParam[1] = 0;
        resize->m_nParam[2] = run.width;
        resize->m_nParam[3] = run.height;
        resize->m_nParam[4] = 0;
        resize->m_crColor[0] = RGB(0, 0, 255);
        s.InsertCommand(std::move(resize), -1);
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = 18;  // PNG
        o->m_nParam[1] = 0;
        o->m_strParam[0] = run.name;
        s.InsertCommand(std::move(o), -1);
        std::string message;
        ASSERT_TRUE(s.Save((dir / "resize.ksc").string(), &message)) << message;

        const std::string pattern = std::string(BRELLIX_SAMPLE_IMAGES) + "/*.*";
        Result r = RunBatch({"resize.ksc", "-r", pattern}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(std::to_string(samples.size()) + "  File(s) successfully converted."),
                  std::string::npos)
            << r.out;
        for (const fs::path& in : samples) {
            SCOPED_TRACE(in.filename().string());
            KHANDLE source = nullptr, output = nullptr;
            int format = 0;
            ASSERT_EQ(ReadImageFile(in.string(), &format, &source, nullptr, nullptr), KERV_OK);
            const fs::path out = dir / run.name / (in.stem().string() + ".png");
            ASSERT_EQ(ReadImageFile(out.string(), &format, &output, nullptr, nullptr), KERV_OK);
            uint16_t w = 0, h = 0, ow = 0, oh = 0;
            GetDIBStats(source, &w, &h, nullptr, nullptr);
            GetDIBStats(output, &ow, &oh, nullptr, nullptr);
            EXPECT_EQ(ow, run.width);
            EXPECT_EQ(oh, run.mode == 8 ? run.height : h * run.width / w);
            KML_GlobalFree(source);
            KML_GlobalFree(output);
        }
    }
}

} // namespace

namespace {

// A bitmap header for width x height at 24 bits, with only `pixels` bytes of
// pixel data behind it.
std::vector<uint8_t> LyingBitmap(int32_t width, int32_t height, size_t pixels) {
    std::vector<uint8_t> b(54 + pixels, 0x5A);
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put(2, static_cast<uint32_t>(b.size()), 4);
    put(6, 0, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<uint32_t>(width), 4);
    put(22, static_cast<uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(30, 0, 4);
    put(34, 0, 4);
    put(38, 2835, 4), put(42, 2835, 4), put(46, 0, 4), put(50, 0, 4);
    return b;
}

} // namespace

// A file that cannot be read is reported with the reason under the line that
// says it was not converted, and the run goes on.
TEST(Console, SaysWhyAFileWasNotConverted) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    fs::create_directories(dir / "in");
    {
        KOwnedHandle dib(MakeRandomDIB(64, 48, 24, 7));
        ASSERT_EQ(WriteImageFile((dir / "in/cut.jpg").string(), dib.get(), 10, 0, OutputOptions{}),
                  KERV_OK);
        fs::resize_file(dir / "in/cut.jpg", fs::file_size(dir / "in/cut.jpg") / 2);
    }
    brellix::test::WriteFileBytes(dir / "in/lying.bmp", LyingBitmap(20000, 20000, 300));
    WriteImage(dir / "in/good.bmp", 8, 6, 3);

    Result r = RunBatch({"demo", "-r", "in/*.*"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(fs::exists(dir / "out/good.png"));
    for (const char* name : {"cut.jpg", "lying.bmp"}) {
        SCOPED_TRACE(name);
        const std::string reading = "Reading " + (dir / "in" / name).string() + "\n";
        const size_t at = r.out.find(reading);
        ASSERT_NE(at, std::string::npos) << r.out;
        const std::string expected = "An error occurred. File was not converted.\n"
                                     "  The file is damaged or truncated\n";
        EXPECT_EQ(r.out.substr(at + reading.size(), expected.size()), expected);
    }
    EXPECT_NE(r.out.find("1  File(s) successfully converted.\n"), std::string::npos) << r.out;
}

// Noise comes from the program's generator, seeded once at start-up: two runs
// of the same script on the same files write the same bytes, and the files
// get the noise of one generator running on from file to file.
TEST(Console, NoiseIsTheSameOnEveryRun) {
    TempDir dir;
    fs::create_directories(dir / "in");
    WriteImage(dir / "in/a.bmp", 21, 9, 1);
    WriteImage(dir / "in/b.bmp", 13, 17, 2);
    for (const char* folder : {"run1", "run2"}) {
        CScript s;
        auto noise = std::make_unique<CScriptCommand>(CMD_ADD_NOISE);
        noise->m_nParam[0] = 1; // uniform
        noise->m_nParam[1] = 40;
        s.InsertCommand(std::move(noise), -1);
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = 0; // BMP
        o->m_nParam[1] = 1;
        o->m_strParam[0] = folder;
        s.InsertCommand(std::move(o), -1);
        std::string message;
        ASSERT_TRUE(s.Save((dir / (std::string(folder) + ".ksc")).string(), &message)) << message;
        Result r = RunBatch({std::string(folder) + ".ksc", "-r", "in/*.bmp"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    for (const char* name : {"a.bmp", "b.bmp"})
        EXPECT_EQ(ReadFileBytes(dir / "run1" / name), ReadFileBytes(dir / "run2" / name)) << name;

    // The same noise made here: the generator seeded with 1, the start-up's
    // 128 x 128 draws for the blend tables, then the two files in list order.
    KervSrand(1);
    for (int i = 0; i < 128 * 128; ++i) KervRand();
    for (const char* name : {"a.bmp", "b.bmp"}) {
        SCOPED_TRACE(name);
        KHANDLE source = nullptr, written = nullptr, noisy = nullptr;
        int format = 0;
        ASSERT_EQ(ReadImageFile((dir / "in" / name).string(), &format, &source, nullptr, nullptr), 0);
        ASSERT_EQ(ReadImageFile((dir / "run1" / name).string(), &format, &written, nullptr, nullptr), 0);
        ASSERT_EQ(AddNoiseDIB(nullptr, source, &noisy, 1, 40), 0);
        EXPECT_EQ(brellix::test::ImageContent(written), brellix::test::ImageContent(noisy));
        for (KHANDLE h : {source, written, noisy}) KML_GlobalFree(h);
    }
}

// "Apply Fully Optimized Palette" gathers one palette from every file of the
// run first, then reduces every file to it.
TEST(Console, OneOptimizedPaletteForTheWholeRun) {
    TempDir dir;
    CScript s;
    auto opt = std::make_unique<CScriptCommand>(CMD_OPTIMIZED_PALETTE);
    opt->m_nParam[0] = 64;  // colours
    opt->m_nParam[1] = 0;   // no Windows colours
    opt->m_nParam[2] = 1;   // error diffusion
    opt->m_nParam[3] = 0;
    opt->m_nParam[4] = 0;   // median cut
    s.InsertCommand(std::move(opt), -1);
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 0;  // BMP, which keeps the whole colour table
    o->m_nParam[1] = 1;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "opt.ksc").string(), &message)) << message;

    std::vector<fs::path> samples;
    for (const auto& e : fs::directory_iterator(BRELLIX_SAMPLE_IMAGES)) samples.push_back(e.path());
    std::sort(samples.begin(), samples.end());
    const std::string pattern = std::string(BRELLIX_SAMPLE_IMAGES) + "/*.*";
    Result r = RunBatch({"opt.ksc", "-r", pattern}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // The scan comes first: one "Scanning" line per file, then the palette.
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(r.out.substr(at, nl - at));
    ASSERT_GT(lines.size(), samples.size() + 2);
    EXPECT_EQ(lines[0], "Gathering Data For Optimum Palette...");
    for (size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(lines[1 + i], "Scanning " + samples[i].string());
    EXPECT_EQ(lines[1 + samples.size()], "Generating Palette...64 Colors Found");
    EXPECT_EQ(lines[2 + samples.size()], "Reading " + samples[0].string());

    // Every output is an 8-bit image with the same colour table.
    std::vector<uint8_t> first;
    for (const fs::path& in : samples) {
        SCOPED_TRACE(in.filename().string());
        KHANDLE out = nullptr;
        int format = 0;
        ASSERT_EQ(ReadImageFile((dir / "out" / (in.stem().string() + ".bmp")).string(), &format,
                                &out, nullptr, nullptr),
                  KERV_OK);
        KOwnedHandle owner(out);
        DIBLock d(out);
        ASSERT_EQ(d.bitCount(), 8);
        const auto* table = reinterpret_cast<const uint8_t*>(d.palette());
        const std::vector<uint8_t> colours(table, table + 4 * 64);
        if (first.empty()) first = colours;
        EXPECT_EQ(colours, first);
    }
}

// The watermark of the samples over every sample image, in the bottom-right
// corner: each output differs from its input only where the badge lies, and
// the badge's magenta surround is left out.
TEST(Console, WatermarksTheSampleImages) {
    TempDir dir;
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
    auto mark = std::make_unique<CScriptCommand>(CMD_OVERLAY_WATERMARK);
    mark->m_strParam[0] = BRELLIX_SAMPLE_WATERMARK;
    mark->m_nParam[0] = 100;  // centre at the bottom ...
    mark->m_nParam[1] = 100;  // ... right corner, moved inside
    mark->m_nParam[2] = 100;  // opaque
    mark->m_nParam[3] = 0;
    mark->m_nParam[4] = 10;   // tolerance
    mark->m_nParam[5] = 1;    // leave out the transparent colour
    mark->m_crColor[0] = RGB(255, 0, 255);
    s.InsertCommand(std::move(mark), -1);
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 18;  // PNG
    o->m_nParam[1] = 0;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "mark.ksc").string(), &message)) << message;

    const std::string pattern = std::string(BRELLIX_SAMPLE_IMAGES) + "/*.*";
    Result r = RunBatch({"mark.ksc", "-r", pattern}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Loading Watermak " + std::string(BRELLIX_SAMPLE_WATERMARK) + "\n", 0), 0u);

    KHANDLE badge = nullptr;
    int format = 0;
    ASSERT_EQ(ReadImageFile(BRELLIX_SAMPLE_WATERMARK, &format, &badge, nullptr, nullptr), KERV_OK);
    KOwnedHandle badgeOwner(badge);
    for (const auto& e : fs::directory_iterator(BRELLIX_SAMPLE_IMAGES)) {
        SCOPED_TRACE(e.path().filename().string());
        KHANDLE in = nullptr, raised = nullptr, out = nullptr;
        ASSERT_EQ(ReadImageFile(e.path().string(), &format, &in, nullptr, nullptr), KERV_OK);
        KOwnedHandle inOwner(in);
        uint16_t w = 0, h = 0, bits = 0;
        GetDIBStats(in, &w, &h, &bits, nullptr);
        if (bits != 24) {
            ASSERT_EQ(IncreaseDepthDIB(nullptr, in, &raised, 24), 0);
            inOwner.reset(raised);
            in = raised;
        }
        const fs::path outPath = dir / "out" / (e.path().stem().string() + ".png");
        ASSERT_EQ(ReadImageFile(outPath.string(), &format, &out, nullptr, nullptr), KERV_OK);
        KOwnedHandle outOwner(out);
        // The badge sits against the bottom-right corner.
        const int left = w - 72, top = h - 72;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t before = brellix::test::PixelAt(in, x, y);
                const uint32_t after = brellix::test::PixelAt(out, x, y);
                const bool inBadge = x >= left && y >= top;
                const uint32_t b = inBadge ? brellix::test::PixelAt(badge, x - left, y - top) : 0;
                const bool surround = b == 0xFF00FF;
                ASSERT_EQ(after, inBadge && !surround ? b : before) << x << "," << y;
            }
    }
}

// Colour and tone commands chained over every sample image, whatever its
// format and depth: each output is the greyscale the chain ends in, and its
// tones run from black to white after the histogram is stretched.
TEST(Console, ChainsToneCommandsOverTheSamples) {
    TempDir dir;
    CScript s;
    const auto add = [&s](int32_t id, std::vector<int32_t> slots, float f0 = -650000.0f) {
        auto c = std::make_unique<CScriptCommand>(id);
        for (size_t i = 0; i < slots.size(); ++i) c->m_nParam[i] = slots[i];
        c->m_fParam[0] = f0;
        s.InsertCommand(std::move(c), -1);
    };
    add(CMD_BRIGHTNESS_CONTRAST, {10, 25});
    add(CMD_HUE_SATURATION_LUM, {20, -30, 5});
    add(CMD_GAMMA, {}, 1.4f);
    add(CMD_COLORIZE, {120, 90});
    add(CMD_GREYSCALE, {});
    add(CMD_STRETCH_HISTOGRAM, {});
    add(CMD_POSTERIZE, {4});
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 18;  // PNG
    o->m_nParam[1] = 0;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "tones.ksc").string(), &message)) << message;

    std::vector<fs::path> samples;
    for (const auto& e : fs::directory_iterator(BRELLIX_SAMPLE_IMAGES)) samples.push_back(e.path());
    const std::string pattern = std::string(BRELLIX_SAMPLE_IMAGES) + "/*.*";
    Result r = RunBatch({"tones.ksc", "-r", pattern}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
    for (const fs::path& in : samples) {
        SCOPED_TRACE(in.filename().string());
        KHANDLE out = nullptr;
        int format = 0;
        ASSERT_EQ(ReadImageFile((dir / "out" / (in.stem().string() + ".png")).string(), &format, &out,
                                nullptr, nullptr),
                  KERV_OK);
        KOwnedHandle owner(out);
        EXPECT_TRUE(IsDIBGreyScaled(out));
        uint16_t w = 0, h = 0;
        GetDIBStats(out, &w, &h, nullptr, nullptr);
        int lo = 255, hi = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = int(brellix::test::PixelAt(out, x, y));
                lo = std::min(lo, v), hi = std::max(hi, v);
                ASSERT_EQ(v % 17, 0) << "four bits a channel, repeated down the byte";
            }
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 255);
    }
}

// Converting several files at a time changes nothing the user sees: the
// outputs, standard output, CURRENT.LOG and the exit status are those of one
// at a time, over the samples and files that fail.
TEST(Console, SeveralAtATimeIsOneAtATime) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    fs::create_directories(dir / "in");
    for (const auto& e : fs::directory_iterator(BRELLIX_SAMPLE_IMAGES))
        fs::copy_file(e.path(), dir / "in" / e.path().filename());
    WriteText(dir / "in/zz-not-an-image.png", "text, not pixels");
    fs::copy_file(dir / "in/landscape.jpg", dir / "in/zz-cut.jpg");
    fs::resize_file(dir / "in/zz-cut.jpg", fs::file_size(dir / "in/zz-cut.jpg") / 3);

    struct Outcome {
        int status;
        std::string out, currentLog;
        std::map<std::string, std::vector<uint8_t>> files;
    };
    const auto run = [&](const std::string& jobs) {
        fs::remove_all(dir / "out");
        std::vector<std::string> args{"demo", "-r", "in/*.*"};
        if (!jobs.empty()) args.insert(args.end(), {"-j", jobs});
        Result r = RunBatch(args, dir.path());
        Outcome o{r.status, r.out, {}, {}};
        const auto log = ReadFileBytes(dir / "state/brellix/CURRENT.LOG");
        o.currentLog.assign(log.begin(), log.end());
        for (const auto& e : fs::directory_iterator(dir / "out"))
            o.files[e.path().filename().string()] = ReadFileBytes(e.path());
        return o;
    };
    const Outcome one = run("");
    EXPECT_EQ(one.status, 1);  // the two broken files
    EXPECT_EQ(one.files.size(), 9u);
    for (const char* jobs : {"2", "3", "8", "0"}) {
        SCOPED_TRACE(jobs);
        const Outcome many = run(jobs);
        EXPECT_EQ(many.status, one.status);
        EXPECT_EQ(many.out, one.out);
        EXPECT_EQ(many.currentLog, one.currentLog);
        EXPECT_EQ(many.files, one.files);
    }
}

// N runs, each with --shard K/N, convert the files of one run exactly once.
TEST(Console, ShardsCoverTheBatchOnce) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    fs::create_directories(dir / "in");
    for (int i = 0; i < 5; ++i) WriteImage(dir / "in" / ("f" + std::to_string(i) + ".bmp"), 9, 7, uint32_t(i));

    Result all = RunBatch({"demo", "-r", "in/*.bmp"}, dir.path());
    ASSERT_EQ(all.status, 0) << all.out << all.err;
    std::map<std::string, std::vector<uint8_t>> want;
    for (const auto& e : fs::directory_iterator(dir / "out"))
        want[e.path().filename().string()] = ReadFileBytes(e.path());
    ASSERT_EQ(want.size(), 5u);

    for (int n : {1, 2, 3, 7}) {
        SCOPED_TRACE(n);
        fs::remove_all(dir / "out");
        std::map<std::string, int> savedBy;  // output name -> runs that wrote it
        for (int k = 0; k < n; ++k) {
            const std::string shard = std::to_string(k) + "/" + std::to_string(n);
            Result r = RunBatch({"demo", "-r", "in/*.bmp", "--shard", shard}, dir.path());
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            for (size_t at = 0; (at = r.out.find("Saving ", at)) != std::string::npos; ++at) {
                const size_t end = r.out.find('\n', at);
                const std::string path = r.out.substr(at + 7, end - at - 7);
                ++savedBy[fs::path(path).filename().string()];
            }
            // A shard's count is its own share.
            const int share = (5 - k + n - 1) / n;
            EXPECT_NE(r.out.find(std::to_string(share) + "  File(s) successfully converted."),
                      std::string::npos)
                << r.out;
        }
        std::map<std::string, std::vector<uint8_t>> got;
        for (const auto& e : fs::directory_iterator(dir / "out"))
            got[e.path().filename().string()] = ReadFileBytes(e.path());
        EXPECT_EQ(got, want);
        for (const auto& [name, runs] : savedBy) EXPECT_EQ(runs, 1) << name;
        EXPECT_EQ(savedBy.size(), 5u);
    }
}

// A script with noise runs one file at a time whatever -j says, and says so.
TEST(Console, NoiseScriptsRunOneAtATime) {
    TempDir dir;
    fs::create_directories(dir / "in");
    for (int i = 0; i < 4; ++i) WriteImage(dir / "in" / ("f" + std::to_string(i) + ".bmp"), 15, 9, uint32_t(i));
    CScript s;
    auto noise = std::make_unique<CScriptCommand>(CMD_ADD_NOISE);
    noise->m_nParam[0] = 0;
    noise->m_nParam[1] = 60;
    s.InsertCommand(std::move(noise), -1);
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 0;
    o->m_nParam[1] = 1;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "noise.ksc").string(), &message)) << message;
    std::map<std::string, std::vector<uint8_t>> first;
    for (const char* jobs : {"1", "3"}) {
        fs::remove_all(dir / "out");
        Result r = RunBatch({"noise.ksc", "-r", "in/*.bmp", "-j", jobs}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("converted one at a time") != std::string::npos, std::string(jobs) == "3")
            << r.err;
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::directory_iterator(dir / "out"))
            files[e.path().filename().string()] = ReadFileBytes(e.path());
        if (first.empty()) first = files;
        EXPECT_EQ(files, first);
    }
}

TEST(Console, WorkSwitchesRefuseGarbage) {
    TempDir dir;
    WriteScript(dir / "demo.ksc");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {{{"demo", "-r", "-j", "1025"}, "-j takes"},
                 {{"demo", "-r", "-j", "-2"}, "-j takes"},
                 {{"demo", "-r", "-jfast"}, "-j takes"},
                 {{"demo", "-r", "--shard", "2/2"}, "--shard takes"},
                 {{"demo", "-r", "--shard", "0/0"}, "--shard takes"},
                 {{"demo", "-r", "--shard", "x"}, "--shard takes"}};
    for (const auto& c : cases) {
        Result r = RunBatch(c.args, dir.path());
        EXPECT_EQ(r.status, 2) << c.args[3];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

// Killed outright at any moment, a run leaves complete outputs only, and no
// temporary files: outputs are written unnamed and named when complete.
TEST(Console, KilledRunsLeaveNothingBehind) {
    TempDir dir;
    // Large bitmaps to bitmaps: most of a run is spent writing.
    WriteScript(dir / "demo.ksc", /*outputId=*/1);
    fs::create_directories(dir / "in");
    for (int i = 0; i < 8; ++i)
        WriteImage(dir / "in" / ("f" + std::to_string(10 + i) + ".bmp"), 1600, 1200, uint32_t(i));
    // How long a whole run takes here (the quicker of two), to spread the
    // kills over its first part, where files are being written.
    int64_t whole = INT64_MAX;
    for (int i = 0; i < 2; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(RunBatch({"demo", "-r", "in/*.bmp"}, dir.path()).status, 0);
        whole = std::min<int64_t>(whole, std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::steady_clock::now() - t0)
                                             .count());
    }
    whole = whole * 6 / 10;
    uint32_t seed = 12345;
    int killedMidway = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        SCOPED_TRACE(attempt);
        fs::remove_all(dir / "out");
        seed = seed * 1103515245u + 12345u;
        const auto delay = std::chrono::microseconds((seed >> 8) % uint32_t(std::max<int64_t>(whole, 1)));
        const pid_t pid = fork();
        if (pid == 0) {
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1), dup2(devnull, 2);
            if (chdir(dir.path().c_str()) != 0) _exit(99);
            setenv("BRELLIX_CONFIG", (dir / "config/Brellix.conf").c_str(), 1);
            setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
            const char* args[] = {BRELLIX_BATCH_PATH, "demo", "-r", "in/*.bmp",
                                  attempt % 2 ? "-j" : "-r", attempt % 2 ? "2" : "-r", nullptr};
            execv(BRELLIX_BATCH_PATH, const_cast<char**>(args));
            _exit(98);
        }
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
        int st = 0;
        waitpid(pid, &st, 0);
        if (WIFSIGNALED(st)) ++killedMidway;
        if (!fs::exists(dir / "out")) continue;
        for (const auto& e : fs::directory_iterator(dir / "out")) {
            const std::string name = e.path().filename().string();
            EXPECT_EQ(name.rfind("tmp", 0), std::string::npos) << name;
            KHANDLE dib = nullptr;
            int format = 0;
            EXPECT_EQ(ReadImageFile(e.path().string(), &format, &dib, nullptr, nullptr), KERV_OK) << name;
            KML_GlobalFree(dib);
        }
    }
    EXPECT_GE(killedMidway, 8);
}

// The watermark is loaded once, before the files are shared out, and each
// file's own palette is made on its own thread: several at a time gives what
// one at a time gives. A gathered palette makes the run go one at a time.
TEST(Console, WatermarksAndPalettesSeveralAtATime) {
    TempDir dir;
    const auto save = [&](const char* name, bool gathered) {
        CScript s;
        if (gathered) {
            auto opt = std::make_unique<CScriptCommand>(CMD_OPTIMIZED_PALETTE);
            for (int i : {0, 1, 2, 3, 4}) opt->m_nParam[size_t(i)] = std::array{48, 0, 1, 0, 1}[size_t(i)];
            s.InsertCommand(std::move(opt), -1);
        }
        s.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
        auto mark = std::make_unique<CScriptCommand>(CMD_OVERLAY_WATERMARK);
        mark->m_strParam[0] = BRELLIX_SAMPLE_WATERMARK;
        for (int i : {0, 1, 2, 3, 4, 5})
            mark->m_nParam[size_t(i)] = std::array{30, 60, 80, 0, 10, 1}[size_t(i)];
        mark->m_crColor[0] = RGB(255, 0, 255);
        s.InsertCommand(std::move(mark), -1);
        if (!gathered) {
            auto own = std::make_unique<CScriptCommand>(CMD_TO_256_COLORS);
            for (int i : {0, 1, 2, 3}) own->m_nParam[size_t(i)] = std::array{1, 2, 0, 0}[size_t(i)];
            s.InsertCommand(std::move(own), -1);
        }
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = 0;  // BMP
        o->m_nParam[1] = 1;
        o->m_strParam[0] = "out";
        s.InsertCommand(std::move(o), -1);
        std::string message;
        ASSERT_TRUE(s.Save((dir / name).string(), &message)) << message;
    };
    save("own.ksc", false);
    save("gathered.ksc", true);
    const std::string pattern = std::string(BRELLIX_SAMPLE_IMAGES) + "/*.*";
    for (const char* script : {"own.ksc", "gathered.ksc"}) {
        std::map<std::string, std::vector<uint8_t>> first;
        std::string firstOut;
        for (const char* jobs : {"1", "3"}) {
            SCOPED_TRACE(std::string(script) + " -j " + jobs);
            fs::remove_all(dir / "out");
            Result r = RunBatch({script, "-r", pattern, "-j", jobs}, dir.path());
            ASSERT_EQ(r.status, 0) << r.out << r.err;
            const bool oneAtATime = std::string(script) == "gathered.ksc" && std::string(jobs) == "3";
            EXPECT_EQ(r.err.find("converted one at a time") != std::string::npos, oneAtATime) << r.err;
            std::map<std::string, std::vector<uint8_t>> files;
            for (const auto& e : fs::directory_iterator(dir / "out"))
                files[e.path().filename().string()] = ReadFileBytes(e.path());
            if (first.empty()) {
                first = files;
                firstOut = r.out;
                ASSERT_EQ(files.size(), 9u);
            }
            EXPECT_EQ(files, first);
            EXPECT_EQ(r.out, firstOut);
        }
    }
}
