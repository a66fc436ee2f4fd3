// The batch runner on real files in temporary folders, with a scripted
// progress window.
#include "batch/batch_mode.h"
#include "batch/image_list.h"
#include "batch/output_options.h"
#include "batch/runner.h"
#include "core/settings.h"
#include "formats/imagefile.h"
#include "script/commands.h"
#include "script/script.h"
#include "tests/batch/scripted_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::ImageContent;
using brellix::test::MakeRandomDIB;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;

namespace {

constexpr int kBMP = 1, kGIF = 6, kPNG = 19;

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}
std::string ReadText(const fs::path& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}

// Writes a BMP test image; returns its content for comparisons.
std::vector<uint8_t> WriteImage(const fs::path& p, int bits, uint32_t seed) {
    KOwnedHandle dib(MakeRandomDIB(23, 17, bits, seed));
    EXPECT_EQ(WriteImageFile(p.string(), dib.get(), kBMP, 1, DefaultOutputOptions()), KERV_OK) << p;
    return ImageContent(dib.get());
}

std::vector<uint8_t> ReadContent(const fs::path& p) {
    KHANDLE dib = nullptr;
    int format = 0;
    if (ReadImageFile(p.string(), &format, &dib, nullptr, nullptr) != KERV_OK) return {};
    KOwnedHandle owned(dib);
    return ImageContent(dib);
}

std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Fixture : ::testing::Test {
    brellix::test::LeakCheck leaks; // every DIB of a run is freed
    TempDir root;
    fs::path in = root / "in", out = root / "out";
    CScript script;
    ScriptedWindow window;

    void SetUp() override { fs::create_directories(in); }

    // "Change to 16.7 Mil colors" then "Set Output Options" into out/.
    void MakeScript(int outputId, int subType, bool extraFailingCommand = false) {
        script.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
        if (extraFailingCommand) script.InsertCommand(std::make_unique<CScriptCommand>(600), -1);
        auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
        o->m_nParam[0] = outputId - 1;
        o->m_nParam[1] = subType;
        o->m_nParam[4] = 1 << 8;
        o->m_strParam[0] = out.string();
        script.InsertCommand(std::move(o), -1);
    }

    BatchRunState State(const std::string& listText, bool unattended = true) {
        BatchRunState s;
        s.batchListPath = (root / "list.txt").string();
        WriteText(s.batchListPath, listText);
        s.listMode = 1;
        s.output =
            OutputSettingsFromCommand(*script.FindCommand(CMD_SET_OUTPUT_OPTIONS), root.path());
        s.unattended = unattended;
        s.currentLogPath = (root / "CURRENT.LOG").string();
        return s;
    }

    std::string LastLine() const { return window.lines.empty() ? "" : window.lines.back(); }
};

TEST_F(Fixture, EmptyListConvertsNothing) {
    MakeScript(kPNG, 0);
    BatchRunner r(script, window, State(""));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_FALSE(window.hasPrefix("Reading "));
    ASSERT_GE(window.lines.size(), 2u);
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Batch processing complete.");
    EXPECT_EQ(LastLine(), "0  File(s) successfully converted.");
    EXPECT_EQ(window.title, LastLine());
    EXPECT_TRUE(window.finished);
    EXPECT_EQ(r.fileCount(), 0);
}

TEST_F(Fixture, ListStopsAtFirstEmptyLineAndWritesOutputs) {
    MakeScript(kPNG, 0);
    std::vector<std::vector<uint8_t>> want;
    for (int i = 0; i < 4; ++i)
        want.push_back(WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, i));
    const std::string list = (in / "f0.bmp").string() + "\r\n" + (in / "f1.bmp").string() +
                             "\r\n\r\n" + (in / "f2.bmp").string() + "\r\n";
    BatchRunner r(script, window, State(list));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(r.fileCount(), 2);
    EXPECT_EQ(r.successCount(), 2);
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"f0.png", "f1.png"}));
    EXPECT_EQ(ReadContent(out / "f0.png"), want[0]);
    EXPECT_EQ(ReadContent(out / "f1.png"), want[1]);
    EXPECT_EQ(LastLine(), "2  File(s) successfully converted.");
    EXPECT_EQ(window.count("Reading " + (in / "f0.bmp").string()), 1);
    EXPECT_EQ(window.count("Saving " + (out / "f1.png").string()), 1);
    EXPECT_EQ(window.count("Executing Script Line 2 of 2"), 2);
    EXPECT_EQ(window.count("Script Complete"), 2);
    EXPECT_EQ(window.jobRange, 2);

    // The automatic log holds the whole run with CR LF.
    std::string joined;
    for (const auto& l : window.lines)
        joined += l + "\r\n";
    EXPECT_EQ(ReadText(root / "CURRENT.LOG"), joined);
}

TEST_F(Fixture, BlocksKeptForTheNextFileAreReleasedWhenTheRunEnds) {
    MakeScript(kBMP, 0);
    std::vector<std::string> names;
    std::string list;
    for (int i = 0; i < 3; ++i) {  // 640 x 640 x 3 bytes: over a megabyte each
        KOwnedHandle dib(MakeRandomDIB(640, 640, 24, i));
        const fs::path p = in / ("big" + std::to_string(i) + ".bmp");
        ASSERT_EQ(WriteImageFile(p.string(), dib.get(), kBMP, 1, DefaultOutputOptions()), KERV_OK);
        list += p.string() + "\r\n";
        names.push_back("big" + std::to_string(i) + ".bmp");
    }
    KML_ReleaseKept();
    BatchRunner r(script, window, State(list));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(r.successCount(), 3);
    EXPECT_EQ(FilesIn(out), names);
    EXPECT_EQ(KML_KeptBytes(), 0u);
}

TEST_F(Fixture, NamesWithSpacesAndNonAscii) {
    MakeScript(kBMP, 1);
    fs::create_directories(in / "mes photos");
    const fs::path src = in / "mes photos" / "été à la plage.bmp";
    auto want = WriteImage(src, 8, 5);
    BatchRunner r(script, window, State(src.string() + "\n"));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(r.successCount(), 1);
    // "Change to 16.7 Mil colors" made it 24 bits: compare with the raised image.
    EXPECT_TRUE(fs::exists(out / "été à la plage.bmp"));
    EXPECT_EQ(window.count("Reading " + src.string()), 1);
}

TEST_F(Fixture, UnattendedRunOverwritesWithoutAsking) {
    MakeScript(kPNG, 0);
    auto want = WriteImage(in / "a.bmp", 24, 1);
    fs::create_directories(out);
    WriteText(out / "a.png", "old");
    BatchRunner r(script, window, State((in / "a.bmp").string()));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_TRUE(window.questions.empty());
    EXPECT_EQ(window.count("Output file exists. Overwriting."), 1);
    EXPECT_EQ(ReadContent(out / "a.png"), want);
    EXPECT_EQ(r.successCount(), 1);
}

struct OverwriteCase {
    const char* name;
    std::vector<OverwriteAnswer> answers;
    size_t questions;          // how many times the window is asked
    std::vector<bool> written; // which of the three outputs were replaced
    bool aborted;
};

class OverwriteAnswers : public Fixture, public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteAnswers, FollowTheRule) {
    const OverwriteCase& c = GetParam();
    MakeScript(kPNG, 0);
    fs::create_directories(out);
    std::string list;
    for (int i = 0; i < 3; ++i) {
        const std::string n = "f" + std::to_string(i);
        WriteImage(in / (n + ".bmp"), 24, i);
        WriteText(out / (n + ".png"), "old");
        list += (in / (n + ".bmp")).string() + "\n";
    }
    window.overwriteAnswers.assign(c.answers.begin(), c.answers.end());
    BatchRunner r(script, window, State(list, /*unattended=*/false));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(window.questions.size(), c.questions);
    if (!window.questions.empty()) {
        EXPECT_EQ(window.questions[0],
                  "The filename \"" + (out / "f0.png").string() +
                      "\" already exists. Do you wish to overwrite this file?");
    }
    int written = 0;
    for (int i = 0; i < 3; ++i) {
        const bool replaced = ReadText(out / ("f" + std::to_string(i) + ".png")) != "old";
        EXPECT_EQ(replaced, c.written[i]) << i;
        written += replaced;
    }
    EXPECT_EQ(r.aborted(), c.aborted);
    EXPECT_EQ(r.successCount(), written);
    if (c.aborted) {
        EXPECT_EQ(LastLine(), "User abort. Processing halted.");
    } else {
        EXPECT_EQ(window.count("Output file exists. Not overwriting."), 3 - written);
        EXPECT_EQ(window.count("Output file exists. Overwriting."), written);
    }
}

using A = OverwriteAnswer;
INSTANTIATE_TEST_SUITE_P(
    Cases, OverwriteAnswers,
    ::testing::Values(
        OverwriteCase{"YesEachTime", {A::Yes, A::Yes, A::Yes}, 3, {true, true, true}, false},
        OverwriteCase{"YesAll", {A::YesAll}, 1, {true, true, true}, false},
        OverwriteCase{"NoAll", {A::NoAll}, 1, {false, false, false}, false},
        OverwriteCase{"NoThenYesAll", {A::No, A::YesAll}, 2, {false, true, true}, false},
        OverwriteCase{"YesNoYes", {A::Yes, A::No, A::Yes}, 3, {true, false, true}, false},
        OverwriteCase{"Cancel", {A::Yes, A::Cancel}, 2, {true, false, false}, true}),
    [](const ::testing::TestParamInfo<OverwriteCase>& p) { return std::string(p.param.name); });

TEST_F(Fixture, TrueColourImageIsNotWrittenAsGif) {
    MakeScript(kGIF, 3);
    WriteImage(in / "a.bmp", 24, 1);
    BatchRunner r(script, window, State((in / "a.bmp").string()));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(window.count("The image must be 1,2,4, or 8bpp to save in this format"), 1);
    EXPECT_FALSE(fs::exists(out / "a.gif"));
    EXPECT_EQ(r.successCount(), 0);
    EXPECT_EQ(LastLine(), "0  File(s) successfully converted.");
    EXPECT_TRUE(window.messages.empty()); // unattended: logged only
}

TEST_F(Fixture, ReadFailuresAreLoggedAndSkipped) {
    MakeScript(kPNG, 0);
    WriteImage(in / "good.bmp", 24, 1);
    WriteText(in / "unknown.xyz", "this is not an image at all, just some text");
    // A bitmap cut off in the middle of its pixels.
    WriteImage(in / "damaged.bmp", 24, 3);
    fs::resize_file(in / "damaged.bmp", fs::file_size(in / "damaged.bmp") / 2);
    WriteImage(in / "locked.bmp", 24, 2);
    chmod((in / "locked.bmp").c_str(), 0);
    const bool canTestLocked = ::access((in / "locked.bmp").c_str(), R_OK) != 0; // not as root
    std::string list = (in / "missing.bmp").string() + "\n" + (in / "unknown.xyz").string() + "\n" +
                       (in / "damaged.bmp").string() + "\n" + (in / "good.bmp").string() + "\n";
    if (canTestLocked) list += (in / "locked.bmp").string() + "\n";
    BatchRunner r(script, window, State(list, /*unattended=*/false));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(window.count("The file does not exist. File skipped."), 1);
    EXPECT_EQ(window.count("Unknown format. File skipped."), 1);
    EXPECT_EQ(window.count("An error occurred. File was not converted."), 1);
    if (canTestLocked) {
        EXPECT_EQ(window.count("The file cannot be opened for reading. File skipped."), 1);
    }
    // Each skip line follows its file's "Reading" line; the catch-all line
    // is followed by the reason, indented.
    for (size_t i = 0; i + 1 < window.lines.size(); ++i) {
        if (window.lines[i] == "Reading " + (in / "missing.bmp").string()) {
            EXPECT_EQ(window.lines[i + 1], "The file does not exist. File skipped.");
        }
        if (window.lines[i] == "An error occurred. File was not converted.") {
            EXPECT_EQ(window.lines[i + 1], "  The file is damaged or truncated");
        }
    }
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"good.png"});
    EXPECT_EQ(r.successCount(), 1);
    EXPECT_EQ(window.messages.size(), canTestLocked ? 4u : 3u); // shown: not unattended
    chmod((in / "locked.bmp").c_str(), 0644);
}

TEST_F(Fixture, CommandErrorIsLoggedAndTheFileStillWritten) {
    MakeScript(kPNG, 0, /*extraFailingCommand=*/true);
    auto want = WriteImage(in / "a.bmp", 24, 3);
    BatchRunner r(script, window, State((in / "a.bmp").string()));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(
        window.count("Script Line 2 Error: The specified command has not yet been implemented"), 1);
    EXPECT_EQ(ReadContent(out / "a.png"), want);
    EXPECT_EQ(r.successCount(), 1);
}

TEST_F(Fixture, EscapeThenSkipFileGoesOnWithTheNext) {
    MakeScript(kPNG, 0);
    std::string list;
    for (int i = 0; i < 2; ++i) {
        WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, i);
        list += (in / ("f" + std::to_string(i) + ".bmp")).string() + "\n";
    }
    window.escapeAtPoll = 1;
    window.escapeAnswers = {AbortOrSkip::Skip};
    BatchRunner r(script, window, State(list));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(window.count("User pressed ESC. File skipped."), 1);
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"f1.png"});
    EXPECT_EQ(r.successCount(), 1);
    EXPECT_EQ(LastLine(), "1  File(s) successfully converted.");
}

// Abort at every poll of a three-file run: whatever the moment, the output
// folder holds only complete files, the log ends with the abort line, and
// "CURRENT.LOG" holds that log.
TEST_F(Fixture, AbortAnywhereLeavesNoPartialOutput) {
    MakeScript(kPNG, 0);
    std::string list;
    std::vector<std::vector<uint8_t>> want;
    for (int i = 0; i < 3; ++i) {
        want.push_back(WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, i));
        list += (in / ("f" + std::to_string(i) + ".bmp")).string() + "\n";
    }
    int aborts = 0;
    for (int at = 1; at < 10000; ++at) {
        fs::remove_all(out);
        fs::remove(root / "CURRENT.LOG");
        ScriptedWindow w;
        w.abortAtPoll = at;
        BatchRunner r(script, w, State(list));
        ASSERT_EQ(r.RunConversion(), 1);
        if (!r.aborted()) break;
        ++aborts;
        ASSERT_EQ(w.lines.back(), "User abort. Processing halted.") << at;
        std::string joined;
        for (const auto& l : w.lines)
            joined += l + "\r\n";
        EXPECT_EQ(ReadText(root / "CURRENT.LOG"), joined) << at;
        const auto files = FilesIn(out);
        EXPECT_EQ(static_cast<int>(files.size()), r.successCount()) << at;
        for (const auto& f : files) {
            const int index = f[1] - '0';
            EXPECT_EQ(f, "f" + std::to_string(index) + ".png") << at;
            EXPECT_EQ(ReadContent(out / f), want[index]) << at << " " << f;
        }
    }
    EXPECT_GE(aborts, 6); // at least two polls per file
}

TEST_F(Fixture, ListThatCannotBeOpened) {
    MakeScript(kPNG, 0);
    BatchRunState s = State("");
    s.batchListPath = (root / "gone.txt").string();
    BatchRunner r(script, window, s);
    EXPECT_EQ(r.RunConversion(), 0);
    EXPECT_EQ(window.messages, std::vector<std::string>{"Unable to open the image list file."});
    s.batchListPath = (root / "gonetmp").string();
    ScriptedWindow w2;
    BatchRunner r2(script, w2, s);
    EXPECT_EQ(r2.RunConversion(), 0);
    ASSERT_EQ(w2.messages.size(), 1u);
    EXPECT_EQ(w2.messages[0].substr(0, 34), "A Temporary file could not be crea");
}

TEST_F(Fixture, MissingWatermarkIsReportedOnceAtTheStart) {
    MakeScript(kPNG, 0);
    auto mark = std::make_unique<CScriptCommand>(CMD_OVERLAY_WATERMARK);
    mark->m_strParam[0] = (root / "no-such-mark.png").string();
    script.InsertCommand(std::move(mark), 0);
    for (int i = 0; i < 2; ++i)
        WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, i);
    BatchRunner r(script, window,
                  State((in / "f0.bmp").string() + "\n" + (in / "f1.bmp").string() + "\n"));
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(window.lines[0], "Loading Watermak " + (root / "no-such-mark.png").string());
    EXPECT_EQ(window.count("An error occurred. The file was not read successfully."), 1);
    EXPECT_EQ(window.lines[2], "  " + ErrorCodeToText(KERV_FILE_MISSING));
    // The overlay fails for every file; the files are still written.
    int lineErrors = 0;
    for (const auto& l : window.lines)
        lineErrors += l.rfind("Script Line 2 Error: ", 0) == 0;
    EXPECT_EQ(lineErrors, 2);
    EXPECT_EQ(r.successCount(), 2);
}

// ---- Command-line set-up, run in-process ----

struct ModeFixture : Fixture {
    void SaveScript(const fs::path& p) {
        std::string message;
        ASSERT_TRUE(script.Save(p.string(), &message)) << message;
    }
};

TEST_F(ModeFixture, ImageListHeaderIsSkipped) {
    MakeScript(kPNG, 0);
    WriteImage(in / "a.bmp", 24, 1);
    WriteImage(in / "b.bmp", 24, 2);
    ASSERT_EQ(WriteImageListFile((root / "l.brl").string(),
                                 {(in / "a.bmp").string(), (in / "b.bmp").string()}),
              ImageListStatus::Ok);
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"s.ksc", "-r", "-@", (root / "l.brl").string()}, &cl));
    BatchModeResult res = RunBatchMode(script, cl, window, root.path(), "");
    EXPECT_EQ(res.outcome, BatchModeResult::Ran);
    EXPECT_EQ(res.files, 2);
    EXPECT_EQ(res.done, 2);
    EXPECT_EQ(ExitStatusFor(res), 0);
    EXPECT_FALSE(window.hasPrefix("Reading BRL"));
}

TEST_F(ModeFixture, RelativePatternIsResolvedAgainstTheCurrentFolder) {
    MakeScript(kPNG, 0);
    WriteImage(in / "a.bmp", 24, 1);
    WriteImage(in / "b.BMP", 24, 2);
    WriteText(in / "notes.txt", "x");
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"s.ksc", "-r", "in/*.bmp", "-l", "run.log"}, &cl));
    setenv("TMPDIR", root.path().c_str(), 1);
    BatchModeResult res = RunBatchMode(script, cl, window, root.path(), "");
    unsetenv("TMPDIR");
    EXPECT_EQ(res.files, 2);
    EXPECT_EQ(res.done, 2);
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(window.count("Reading " + (in / "a.bmp").string()), 1);
    // The log went to the -l path; the temporary list is gone.
    EXPECT_TRUE(fs::exists(root / "run.log"));
    for (const auto& f : FilesIn(root.path()))
        EXPECT_NE(f.rfind("tmpbrl", 0), 0u) << f;
}

TEST_F(ModeFixture, SetupFailures) {
    // No "Set Output Options" and not a print script.
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_FLIP), -1);
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"s.ksc", "-r"}, &cl));
    BatchModeResult res = RunBatchMode(script, cl, window, root.path(), "");
    EXPECT_EQ(ExitStatusFor(res), 2);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].substr(0, 60),
              "The specified script does not include a \"Set Output Options\"");

    // "Set Input Options" naming a list that is too large, or missing.
    CScript s2;
    s2.InsertCommand(std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS), -1);
    auto input = std::make_unique<CScriptCommand>(CMD_SET_INPUT_OPTIONS);
    input->m_strParam[0] = (root / "big.brl").string();
    s2.InsertCommand(std::move(input), -1);
    WriteText(root / "big.brl", "BRL\r\n" + std::string(kMaxImageListBytes, 'x'));
    ScriptedWindow w2;
    EXPECT_EQ(ExitStatusFor(RunBatchMode(s2, cl, w2, root.path(), "")), 2);
    ASSERT_EQ(w2.messages.size(), 1u);
    EXPECT_EQ(w2.messages[0], "The image list file '" + (root / "big.brl").string() +
                                  "' is too large.  Please reduce the number of images to process "
                                  "so that the file is less than 250KB.");
    fs::remove(root / "big.brl");
    ScriptedWindow w3;
    EXPECT_EQ(ExitStatusFor(RunBatchMode(s2, cl, w3, root.path(), "")), 2);
    EXPECT_EQ(w3.messages,
              std::vector<std::string>{"The image list file '" + (root / "big.brl").string() +
                                       "' could not be opened."});
}

TEST_F(ModeFixture, SetInputOptionsListIsUsedAndDecidesErrorDisplay) {
    MakeScript(kGIF, 3); // 24-bit input: refused, which shows whether errors are displayed
    WriteImage(in / "a.bmp", 24, 1);
    auto input = std::make_unique<CScriptCommand>(CMD_SET_INPUT_OPTIONS);
    input->m_strParam[0] = (root / "l.brl").string();
    input->m_nParam[0] = 1; // display error messages
    script.InsertCommand(std::move(input), -1);
    WriteText(root / "l.brl", "BRL\n" + (in / "a.bmp").string() + "\n");
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"s.ksc", "-r", "*.nothing"}, &cl));
    BatchModeResult res = RunBatchMode(script, cl, window, root.path(), "");
    EXPECT_EQ(res.files, 1);
    EXPECT_EQ(ExitStatusFor(res), 1);
    EXPECT_EQ(window.messages,
              std::vector<std::string>{"The image must be 1,2,4, or 8bpp to save in this format"});
}

TEST(OutputOptionsSlots, UnpackTheCommand) {
    CScriptCommand c(CMD_SET_OUTPUT_OPTIONS);
    c.m_nParam[0] = 9; // identifier 10, JPG
    c.m_nParam[1] = 1;
    c.m_nParam[2] = (1 << 16) | 150; // maintain DPI, 150
    c.m_nParam[3] = 40;
    c.m_nParam[4] = (3 << 8) | 7; // palette entry 7
    c.m_nParam[5] = 1;
    c.m_nParam[6] = 2;
    c.m_nParam[7] = 2;
    c.m_strParam[0] = "rel/out/";
    c.m_crColor[0] = 0x123456;
    OutputSettings s = OutputSettingsFromCommand(c, "/base");
    EXPECT_EQ(s.id, 10);
    EXPECT_EQ(s.subType, 1);
    EXPECT_EQ(s.folder, "/base/rel/out");
    EXPECT_TRUE(s.retainDirectory);
    EXPECT_EQ(s.options.dpi, 150);
    EXPECT_EQ(s.options.maintainDPI, 1);
    EXPECT_EQ(s.options.compression, 40);
    EXPECT_EQ(s.options.transparencyType, 3);
    EXPECT_EQ(s.options.transparencyIndex, 7);
    EXPECT_EQ(s.options.qzmVersion, 2);
    EXPECT_EQ(s.options.planeEncoding, 2);
    EXPECT_EQ(s.options.transparentColor, 0x123456u);

    // Unset slots take the defaults: identifier 1, 300 dpi, compression 15.
    CScriptCommand fresh(CMD_SET_OUTPUT_OPTIONS);
    OutputSettings d = OutputSettingsFromCommand(fresh, "/base");
    EXPECT_EQ(d.id, 1);
    EXPECT_EQ(d.subType, 0);
    EXPECT_EQ(d.options.dpi, 300);
    EXPECT_EQ(d.options.maintainDPI, 0);
    EXPECT_EQ(d.options.compression, 15);
    EXPECT_EQ(d.options.transparencyType, 0);
    EXPECT_FALSE(d.retainDirectory);
    EXPECT_EQ(d.folder, WithoutTrailingSlash(HomeFolder()));
}

} // namespace

namespace {

TEST_F(ModeFixture, PrintScriptRunsAsAPrintBatch) {
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_PRINT), -1);
    WriteImage(in / "a.bmp", 24, 1);
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"p.ksc", "-r", (in / "a.bmp").string()}, &cl));
    setenv("TMPDIR", root.path().c_str(), 1);
    BatchModeResult res = RunBatchMode(script, cl, window, root.path(), "");
    unsetenv("TMPDIR");
    EXPECT_TRUE(res.print);
    EXPECT_EQ(res.outcome, BatchModeResult::Ran);
    EXPECT_EQ(res.files, 1);
    EXPECT_FALSE(window.hasPrefix("Saving "));
    EXPECT_EQ(window.count("Script Complete"), 1);
    // Printing is not available yet: the page fails and is not counted.
    EXPECT_TRUE(window.hasPrefix("Script Line 1 Error: "));
    EXPECT_EQ(res.done, 0);
    EXPECT_EQ(LastLine(), "0  File(s) successfully printed.");
    EXPECT_EQ(ExitStatusFor(res), 1);
}

// Stands in for the colour-reduction code's builder: records what the scan
// hands it and makes a fixed palette.
struct RecordingBuilder : OptimumPaletteBuilder {
    int colours = 0, images = 0;
    KervErrorCode begin(int c, int, int) override {
        colours = c;
        return KERV_OK;
    }
    KervErrorCode addImage(KHANDLE dib, StatusControlBlock*) override {
        images += dib != nullptr;
        return KERV_OK;
    }
    KervErrorCode finish(RGBQUAD* palette, int* count) override {
        for (int i = 0; i < 16; ++i)
            palette[i] = {uint8_t(i * 16), 0, 0, 0};
        *count = 16;
        return KERV_OK;
    }
};

TEST_F(Fixture, OptimumPaletteScanComesBeforeTheConversion) {
    MakeScript(kPNG, 0);
    auto opt = std::make_unique<CScriptCommand>(CMD_OPTIMIZED_PALETTE);
    opt->m_nParam[0] = 200;
    script.InsertCommand(std::move(opt), 0);
    WriteImage(in / "a.bmp", 24, 1);
    WriteImage(in / "b.bmp", 24, 2);
    RecordingBuilder builder;
    BatchRunner r(script, window,
                  State((in / "a.bmp").string() + "\n" + (in / "missing.bmp").string() + "\n" +
                        (in / "b.bmp").string() + "\n"),
                  &builder);
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_EQ(builder.colours, 200);
    EXPECT_EQ(builder.images, 2);
    ASSERT_GE(window.lines.size(), 5u);
    EXPECT_EQ(window.lines[0], "Gathering Data For Optimum Palette...");
    EXPECT_EQ(window.lines[1], "Scanning " + (in / "a.bmp").string());
    EXPECT_EQ(window.lines[2], "Scanning " + (in / "missing.bmp").string());
    EXPECT_EQ(window.lines[3], "The file does not exist. File skipped.");
    EXPECT_EQ(window.lines[5], "Generating Palette...16 Colors Found");
    EXPECT_EQ(window.lines[6], "Reading " + (in / "a.bmp").string());
    EXPECT_EQ(r.fileCount(), 3);
}

TEST_F(Fixture, AbortDuringTheScanEndsTheRun) {
    MakeScript(kPNG, 0);
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_OPTIMIZED_PALETTE), 0);
    WriteImage(in / "a.bmp", 24, 1);
    RecordingBuilder builder;
    window.abortAtPoll = 1;
    BatchRunner r(script, window, State((in / "a.bmp").string()), &builder);
    ASSERT_EQ(r.RunConversion(), 1);
    EXPECT_TRUE(r.aborted());
    EXPECT_EQ(LastLine(), "User abort. Processing halted.");
    EXPECT_FALSE(window.hasPrefix("Reading "));
    EXPECT_FALSE(fs::exists(out));
}

} // namespace

namespace {

// With retain-directory and the input's own format, the output is the input
// file: it is replaced only when the overwrite rule allows it.
TEST_F(Fixture, InputIsReplacedOnlyWhenTheAnswerAllowsIt) {
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_MIRROR), -1);
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = kBMP - 1;
    o->m_nParam[1] = 1;
    o->m_nParam[5] = 1; // retain directory
    script.InsertCommand(std::move(o), -1);
    const fs::path src = in / "a.bmp";
    WriteImage(src, 24, 9);
    const auto before = ReadFileBytes(src);

    window.overwriteAnswers = {OverwriteAnswer::No};
    BatchRunner refused(script, window, State(src.string(), /*unattended=*/false));
    ASSERT_EQ(refused.RunConversion(), 1);
    EXPECT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(ReadFileBytes(src), before);
    EXPECT_EQ(refused.successCount(), 0);
    EXPECT_FALSE(fs::exists(out));

    ScriptedWindow yes;
    yes.overwriteAnswers = {OverwriteAnswer::Yes};
    BatchRunner allowed(script, yes, State(src.string(), /*unattended=*/false));
    ASSERT_EQ(allowed.RunConversion(), 1);
    EXPECT_EQ(allowed.successCount(), 1);
    EXPECT_NE(ReadFileBytes(src), before);
    EXPECT_EQ(FilesIn(in), std::vector<std::string>{"a.bmp"}); // no temporary file left
}

} // namespace

// A colour map file that is missing, or too short for the map asked for,
// fails the standard-palette reduction of every file with its own code; the
// run goes on and each file is still written as the earlier commands left it.
TEST_F(Fixture, MissingOrShortColourMapIsLoggedPerFile) {
    MakeScript(kPNG, 0);
    auto reduce = std::make_unique<CScriptCommand>(CMD_TO_256_COLORS);
    reduce->m_nParam[0] = 2;  // standard palette
    reduce->m_nParam[1] = 0;  // nearest colour: reads the map
    reduce->m_nParam[2] = 0;
    reduce->m_nParam[3] = 0;
    script.InsertCommand(std::move(reduce), -1);  // line 3, after "Set Output Options"
    for (int i = 0; i < 2; ++i) WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, i);
    const std::string list = (in / "f0.bmp").string() + "\n" + (in / "f1.bmp").string() + "\n";

    const fs::path data = root / "data";
    fs::create_directories(data);
    const char* before = std::getenv("BRELLIX_DATA_DIR");
    const std::string saved = before ? before : "";
    struct Restore {
        std::string value;
        bool had;
        ~Restore() { had ? setenv("BRELLIX_DATA_DIR", value.c_str(), 1) : unsetenv("BRELLIX_DATA_DIR"); }
    } restore{saved, before != nullptr};
    setenv("BRELLIX_DATA_DIR", data.c_str(), 1);

    const struct {
        const char* name;
        size_t bytes;  // of KCD.DAT; SIZE_MAX for none
        KervErrorCode code;
    } cases[] = {{"missing", SIZE_MAX, KERV_NO_COLOR_TABLE},
                 {"only the 16-colour map", 32768, KERV_FILE_READ}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(data / "KCD.DAT");
        if (c.bytes != SIZE_MAX) brellix::test::WriteFileBytes(data / "KCD.DAT", std::vector<uint8_t>(c.bytes, 0));
        window.lines.clear();
        fs::remove_all(out);
        BatchRunner r(script, window, State(list));
        ASSERT_EQ(r.RunConversion(), 1);
        EXPECT_EQ(window.count("Script Line 3 Error: " + ErrorCodeToText(c.code)), 2);
        EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"f0.png", "f1.png"}));
        EXPECT_EQ(r.successCount(), 2);
    }
}

// ---- Several files at a time ----

namespace {

// What a run leaves: the log as shown, the questions and messages, the
// count, and every output file's bytes.
struct RunRecord {
    std::vector<std::string> lines, questions, messages;
    int success = 0;
    std::map<std::string, std::vector<uint8_t>> outputs;
    bool operator==(const RunRecord&) const = default;
};

struct ParallelCase {
    const char* name;
    int jobs;
    bool unattended;
    bool existingOutputs;                 // outputs there before the run
    std::vector<OverwriteAnswer> answers; // for the overwrite questions
};

class ParallelRuns : public ::testing::TestWithParam<ParallelCase> {};

// Eight inputs: good ones, a missing file, one that is not an image, a
// truncated bitmap, and two inputs that write the same output (a.bmp and
// a.tga both give a.png), so the second must find the first's output.
RunRecord RunOnce(const fs::path& root, int jobs, bool unattended, bool existingOutputs,
                  const std::vector<OverwriteAnswer>& answers) {
    const fs::path in = root / "in", out = root / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    std::string list;
    const auto add = [&](const fs::path& p) { list += p.string() + "\n"; };
    for (int i = 0; i < 4; ++i) add(in / ("f" + std::to_string(i) + ".bmp"));
    add(in / "missing.bmp");
    add(in / "text.bmp");
    add(in / "cut.bmp");
    add(in / "a.bmp");
    add(in / "a.tga");
    if (existingOutputs)
        for (const char* name : {"f0.png", "f2.png", "f3.png", "a.png"}) WriteText(out / name, "old");

    CScript script;
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), -1);
    script.InsertCommand(std::make_unique<CScriptCommand>(CMD_MIRROR), -1);
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = kPNG - 1;
    o->m_nParam[1] = 0;
    o->m_nParam[4] = 1 << 8;
    o->m_strParam[0] = out.string();
    script.InsertCommand(std::move(o), -1);

    BatchRunState s;
    s.batchListPath = (root / "list.txt").string();
    WriteText(s.batchListPath, list);
    s.listMode = 1;
    s.output = OutputSettingsFromCommand(*script.FindCommand(CMD_SET_OUTPUT_OPTIONS), root.string());
    s.unattended = unattended;
    s.currentLogPath = (root / "CURRENT.LOG").string();
    s.jobs = jobs;
    ScriptedWindow window;
    window.overwriteAnswers.assign(answers.begin(), answers.end());
    BatchRunner r(script, window, s);
    EXPECT_EQ(r.RunConversion(), 1);
    RunRecord rec{window.lines, window.questions, window.messages, r.successCount(), {}};
    for (const auto& name : FilesIn(out)) rec.outputs[name] = ReadFileBytes(out / name);
    // CURRENT.LOG holds the shown log.
    std::string crlf;
    for (const auto& l : window.lines) crlf += l + "\r\n";
    EXPECT_EQ(ReadText(root / "CURRENT.LOG"), crlf);
    return rec;
}

TEST_P(ParallelRuns, LeaveWhatOneAtATimeLeaves) {
    brellix::test::LeakCheck leaks;
    const ParallelCase& c = GetParam();
    TempDir root;
    const fs::path in = root / "in";
    fs::create_directories(in);
    for (int i = 0; i < 4; ++i) WriteImage(in / ("f" + std::to_string(i) + ".bmp"), 24, uint32_t(i));
    WriteText(in / "text.bmp", "not an image at all");
    WriteImage(in / "cut.bmp", 8, 9);
    fs::resize_file(in / "cut.bmp", fs::file_size(in / "cut.bmp") / 2);
    WriteImage(in / "a.bmp", 24, 11);
    {
        KOwnedHandle dib(MakeRandomDIB(19, 13, 24, 12));
        ASSERT_EQ(WriteImageFile((in / "a.tga").string(), dib.get(), 24, 0, DefaultOutputOptions()),
                  KERV_OK);
    }
    const RunRecord one = RunOnce(root.path(), 1, c.unattended, c.existingOutputs, c.answers);
    const RunRecord many = RunOnce(root.path(), c.jobs, c.unattended, c.existingOutputs, c.answers);
    EXPECT_EQ(many.lines, one.lines);
    EXPECT_EQ(many.questions, one.questions);
    EXPECT_EQ(many.messages, one.messages);
    EXPECT_EQ(many.success, one.success);
    EXPECT_EQ(many.outputs, one.outputs);
    // The second writer of a.png found the first one's output.
    EXPECT_GE(std::count(one.lines.begin(), one.lines.end(), "Output file exists. Overwriting.") +
                  std::count(one.lines.begin(), one.lines.end(), "Output file exists. Not overwriting."),
              1);
}

using A = OverwriteAnswer;
INSTANTIATE_TEST_SUITE_P(
    Jobs, ParallelRuns,
    ::testing::Values(ParallelCase{"TwoUnattended", 2, true, false, {}},
                      ParallelCase{"ThreeUnattended", 3, true, false, {}},
                      ParallelCase{"EightUnattended", 8, true, false, {}},
                      ParallelCase{"ThreeOverExistingOutputs", 3, true, true, {}},
                      ParallelCase{"TwoAskingYesNoYesAll", 2, false, true, {A::Yes, A::No, A::YesAll}},
                      ParallelCase{"EightAskingNoAll", 8, false, true, {A::No, A::NoAll}},
                      ParallelCase{"ThreeAskingThenCancel", 3, false, true, {A::Yes, A::Cancel}},
                      ParallelCase{"TwoShowingErrors", 2, false, false, {}}),
    [](const ::testing::TestParamInfo<ParallelCase>& p) { return std::string(p.param.name); });

} // namespace

// An abort in the middle of a parallel run: every file converted by then is
// complete and counted, the abort is logged once, at the end.
TEST_F(Fixture, AbortDuringAParallelRunLeavesOnlyWholeFiles) {
    MakeScript(kPNG, 0);
    std::string list;
    for (int i = 0; i < 30; ++i) {
        const fs::path p = in / ("f" + std::to_string(i) + ".bmp");
        KOwnedHandle dib(MakeRandomDIB(600, 400, 24, uint32_t(i)));
        ASSERT_EQ(WriteImageFile(p.string(), dib.get(), kBMP, 1, DefaultOutputOptions()), KERV_OK);
        list += p.string() + "\n";
    }
    // The main thread polls while it waits for the next file in turn: the
    // first poll comes long before 30 files are done; later ones may not.
    for (int abortAt : {1, 2, 3}) {
        SCOPED_TRACE(abortAt);
        fs::remove_all(out);
        window = ScriptedWindow();
        window.abortAtPoll = abortAt;
        BatchRunState s = State(list);
        s.jobs = 3;
        BatchRunner r(script, window, s);
        ASSERT_EQ(r.RunConversion(), 1);
        if (abortAt == 1) {
            EXPECT_TRUE(r.aborted());
        }
        if (!r.aborted()) {
            EXPECT_EQ(r.successCount(), 30);
            continue;
        }
        EXPECT_EQ(window.count("User abort. Processing halted."), 1);
        ASSERT_FALSE(window.lines.empty());
        EXPECT_EQ(window.lines.back(), "User abort. Processing halted.");
        const auto written = FilesIn(out);
        EXPECT_EQ(int(written.size()), r.successCount());
        for (const auto& name : written) EXPECT_FALSE(ReadContent(out / name).empty()) << name;
        // Each counted file's lines are all there, ending with its saving line.
        int saving = 0;
        for (const auto& l : window.lines) saving += l.rfind("Saving ", 0) == 0;
        EXPECT_EQ(saving, r.successCount());
    }
}

TEST(ScriptCarriesStateAcrossFiles, NoiseAndThePalettesAppliedToEveryFile) {
    const struct {
        const char* name;
        int32_t id;
        int32_t p0;
        bool carries;
    } cases[] = {{"noise", CMD_ADD_NOISE, 1, true},
                 {"gathered palette", CMD_OPTIMIZED_PALETTE, 256, true},
                 {"new palette, nearest", CMD_APPLY_PALETTE, 0, true},
                 {"new palette, diffused", CMD_APPLY_PALETTE, 1, true},
                 {"new palette, indexes kept", CMD_APPLY_PALETTE, 2, false},
                 {"own palette of 256 colours", CMD_TO_256_COLORS, 0, false},
                 {"blur", CMD_BLUR, 0, false}};
    for (const auto& c : cases) {
        CScript s;
        s.InsertCommand(std::make_unique<CScriptCommand>(CMD_FLIP), -1);
        auto cmd = std::make_unique<CScriptCommand>(c.id);
        cmd->m_nParam[0] = c.p0;
        s.InsertCommand(std::move(cmd), -1);
        EXPECT_EQ(ScriptCarriesStateAcrossFiles(s), c.carries) << c.name;
    }
}
