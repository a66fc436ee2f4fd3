// The set-up of a run started from the desktop program, with scripted
// dialogs, real files in temporary folders and a settings store of its own.
#include "batch/image_list.h"
#include "batch/output_options.h"
#include "batch/run_setup.h"
#include "core/settings.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "script/commands.h"
#include "script/script.h"
#include "tests/batch/scripted_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::MakeRandomDIB;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;

namespace {

constexpr int kBMP = 1, kPNG = 19, kTIF = 25, kQZM = 32;

std::string ReadText(const fs::path& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}
void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}
void WriteImage(const fs::path& p, uint32_t seed) {
    KOwnedHandle dib(MakeRandomDIB(9, 7, 24, seed));
    ASSERT_EQ(WriteImageFile(p.string(), dib.get(), kBMP, 1, DefaultOutputOptions()), KERV_OK);
}
std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    if (!fs::exists(dir)) return names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Dialogs answered from the test: nullopt cancels.
struct ScriptedUi : RunSetupUi {
    std::optional<InputChoice> input;
    // Applied to the proposal the output dialog opens with.
    std::optional<std::function<void(OutputSettings*)>> output;
    int inputAsked = 0, outputAsked = 0;
    InputDialogStart inputStart;
    OutputSettings proposal;
    std::vector<std::string> messages;

    bool chooseInput(const InputDialogStart& start, InputChoice* choice) override {
        ++inputAsked;
        inputStart = start;
        if (!input) return false;
        *choice = *input;
        return true;
    }
    bool chooseOutput(OutputSettings* s) override {
        ++outputAsked;
        proposal = *s;
        if (!output) return false;
        (*output)(s);
        return true;
    }
    void showMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
};

struct Setup : ::testing::Test {
    TempDir root;
    fs::path in = root / "in", out = root / "out", tmp = root / "tmp";
    SettingsStore store{root / "Brellix.conf"};
    CScript script;
    ScriptedUi ui;
    RunSetup setup;
    std::string oldTmp;

    void SetUp() override {
        fs::create_directories(in);
        fs::create_directories(tmp);
        // Temporary lists go where the test can see them.
        if (const char* t = getenv("TMPDIR")) oldTmp = t;
        setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTmp.c_str(), 1);
    }

    CScriptCommand* Add(int id) {
        return script.InsertCommand(std::make_unique<CScriptCommand>(id), -1);
    }
    CScriptCommand* AddOutput(int id, int subType, const std::string& folder) {
        CScriptCommand* c = Add(CMD_SET_OUTPUT_OPTIONS);
        c->m_nParam[0] = id - 1;
        c->m_nParam[1] = subType;
        c->m_nParam[2] = 150 | (1 << 16);
        c->m_nParam[3] = 77;
        c->m_nParam[4] = (3 << 8) | 9;
        c->m_strParam[0] = folder;
        return c;
    }
    CScriptCommand* AddInput(const std::string& list, int showErrors, int useScript) {
        CScriptCommand* c = Add(CMD_SET_INPUT_OPTIONS);
        c->m_strParam[0] = list;
        c->m_nParam[0] = showErrors;
        c->m_nParam[1] = useScript;
        return c;
    }
    InputChoice Picked(std::vector<std::string> names, bool showErrors = false) {
        InputChoice c;
        c.folder = in.string();
        c.names = std::move(names);
        c.filterIndex = 3;
        c.showErrors = showErrors;
        return c;
    }
    void OutputTo(int id, int subType) {
        ui.output = [this, id, subType](OutputSettings* s) {
            s->id = id;
            s->subType = subType;
            s->folder = out.string();
            s->options.dpi = 600;
            s->options.compression = 42;
        };
    }
    bool Run() { return SetUpInteractiveRun(script, root.path().string(), ui, store, &setup); }
    std::string StoredFile() const {
        return fs::exists(root / "Brellix.conf") ? ReadText(root / "Brellix.conf") : "";
    }
};

// ---- The "Select All" pattern ----

struct PatternCase {
    const char* name;
    const char* typed;
    const char* extension;
    const char* pattern;
};
void PrintTo(const PatternCase& c, std::ostream* os) {
    *os << c.name;
}
class SelectAll : public ::testing::TestWithParam<PatternCase> {};
TEST_P(SelectAll, TakesTypedNameElseTheFilter) {
    EXPECT_EQ(SelectAllPattern(GetParam().typed, GetParam().extension), GetParam().pattern);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, SelectAll,
    ::testing::Values(PatternCase{"AllFilesFilter", "", "", "*.*"},
                      PatternCase{"FormatFilter", "", "tif", "*.tif"},
                      PatternCase{"TypedNameWins", "img_0??.jpg", "tif", "img_0??.jpg"},
                      PatternCase{"TypedNameWithAllFiles", "a*", "", "a*"}),
    [](const ::testing::TestParamInfo<PatternCase>& p) { return std::string(p.param.name); });

// ---- The output proposal ----

TEST_F(Setup, FirstRunWithoutOutputCommandProposesQzmInTheHomeFolder) {
    const OutputProposal p = ProposeOutput(script, root.path().string(), false, store);
    EXPECT_TRUE(p.showDialog);
    EXPECT_EQ(p.settings.id, kQZM);
    EXPECT_EQ(p.settings.subType, 0);
    EXPECT_EQ(p.settings.folder, WithoutTrailingSlash(HomeFolder()));
    EXPECT_FALSE(p.settings.retainDirectory);
    EXPECT_EQ(p.settings.options.dpi, 300);
    EXPECT_EQ(p.settings.options.transparencyType, 1);
}

TEST_F(Setup, RememberedFormatFolderAndSubTypeAreProposed) {
    store.Set(setting::OutID, kTIF);
    store.Set(setting::OutputDir, (out / "").string());
    StoreSubType(&store, kTIF, 9); // beyond the list: the last one
    const OutputProposal p = ProposeOutput(script, root.path().string(), false, store);
    EXPECT_EQ(p.settings.id, kTIF);
    EXPECT_EQ(p.settings.subType, FindOutputFormat(kTIF)->subTypeCount - 1);
    EXPECT_EQ(p.settings.folder, out.string());
}

TEST_F(Setup, UnknownRememberedFormatFallsBackToTheDefault) {
    store.Set(setting::OutID, 99);
    EXPECT_EQ(ProposeOutput(script, root.path().string(), false, store).settings.id, kQZM);
}

TEST_F(Setup, ScriptOutputKeepsItsDetailsOnlyWhenAskedTo) {
    AddOutput(kPNG, 1, "sub/dir")->m_nParam[5] = 1;
    const OutputProposal mine = ProposeOutput(script, root.path().string(), true, store);
    EXPECT_FALSE(mine.showDialog);
    EXPECT_EQ(mine.settings.id, kPNG);
    EXPECT_EQ(mine.settings.subType, 1);
    EXPECT_EQ(mine.settings.folder, (root / "sub/dir").string());
    EXPECT_TRUE(mine.settings.retainDirectory);
    EXPECT_EQ(mine.settings.options.dpi, 150);
    EXPECT_EQ(mine.settings.options.maintainDPI, 1);
    EXPECT_EQ(mine.settings.options.compression, 77);
    EXPECT_EQ(mine.settings.options.transparencyType, 3);
    EXPECT_EQ(mine.settings.options.transparencyIndex, 9);

    const OutputProposal dialog = ProposeOutput(script, root.path().string(), false, store);
    EXPECT_TRUE(dialog.showDialog);
    EXPECT_EQ(dialog.settings.id, kPNG);
    EXPECT_EQ(dialog.settings.subType, 1);
    EXPECT_EQ(dialog.settings.folder, (root / "sub/dir").string());
    const OutputOptions defaults;
    EXPECT_EQ(dialog.settings.options.dpi, defaults.dpi);
    EXPECT_EQ(dialog.settings.options.maintainDPI, defaults.maintainDPI);
    EXPECT_EQ(dialog.settings.options.compression, defaults.compression);
    EXPECT_EQ(dialog.settings.options.transparencyType, defaults.transparencyType);
}

// ---- The whole set-up ----

TEST_F(Setup, CancelledInputDialogChangesNothing) {
    EXPECT_FALSE(Run());
    EXPECT_EQ(ui.inputAsked, 1);
    EXPECT_EQ(ui.outputAsked, 0);
    EXPECT_EQ(StoredFile(), "");
    EXPECT_TRUE(FilesIn(tmp).empty());
}

TEST_F(Setup, CancelledOutputDialogChangesNothing) {
    ui.input = Picked({"a.bmp"});
    EXPECT_FALSE(Run());
    EXPECT_EQ(ui.outputAsked, 1);
    EXPECT_EQ(StoredFile(), "");
    EXPECT_TRUE(FilesIn(tmp).empty());
}

TEST_F(Setup, InputDialogStartsFromTheRememberedValues) {
    store.Set(setting::BatchOpenDir, in.string());
    store.Set(setting::BatchOpenIndex, 5);
    store.Set(setting::InterruptOnErr, 1);
    Run();
    EXPECT_EQ(ui.inputStart.folder, in.string());
    EXPECT_EQ(ui.inputStart.filterIndex, 5);
    EXPECT_TRUE(ui.inputStart.showErrors);
    EXPECT_FALSE(ui.inputStart.scriptHasOutput);
    AddOutput(kPNG, 0, out.string());
    Run();
    EXPECT_TRUE(ui.inputStart.scriptHasOutput);
}

TEST_F(Setup, PickedFilesMakeANameListAndTheChoicesAreRemembered) {
    ui.input = Picked({"b one.bmp", "a.bmp", "bad\nname.bmp"}, /*showErrors=*/true);
    OutputTo(kTIF, 3);
    ASSERT_TRUE(Run());
    const BatchRunState& s = setup.state;
    EXPECT_FALSE(setup.print);
    EXPECT_EQ(s.listMode, 0);
    EXPECT_EQ(s.inputFolder, in.string());
    EXPECT_TRUE(IsTemporaryListName(s.batchListPath));
    EXPECT_EQ(fs::path(s.batchListPath).parent_path(), tmp);
    EXPECT_EQ(ReadText(s.batchListPath), std::string("b one.bmp\0a.bmp\0", 16));
    EXPECT_TRUE(s.deleteListAfterRun);
    EXPECT_FALSE(s.unattended);
    EXPECT_FALSE(s.headerSkip);
    EXPECT_EQ(s.commandLineMode, 0);
    EXPECT_EQ(s.output.id, kTIF);
    EXPECT_EQ(s.output.subType, 3);
    EXPECT_EQ(s.output.folder, out.string());

    // Saved, so the next dialogs (and the next program) read them back.
    SettingsStore again(root / "Brellix.conf");
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.Get(setting::InterruptOnErr), 1);
    EXPECT_EQ(again.Get(setting::BatchOpenDir), in.string());
    EXPECT_EQ(again.Get(setting::BatchOpenIndex), 3);
    EXPECT_EQ(again.Get(setting::OutID), kTIF);
    EXPECT_EQ(again.Get(setting::OutputDir), out.string());
    EXPECT_EQ(StoredSubType(again, kTIF), 3);
    EXPECT_EQ(again.Get(setting::OutDPI), 600);
    EXPECT_EQ(again.Get(setting::OutCompression), 42);
    EXPECT_EQ(again.Get(setting::OutTransType), 1);
    const OutputProposal next = ProposeOutput(script, root.path().string(), false, again);
    EXPECT_EQ(next.settings.id, kTIF);
    EXPECT_EQ(next.settings.subType, 3);
    EXPECT_EQ(next.settings.folder, out.string());
    fs::remove(s.batchListPath);
}

TEST_F(Setup, SelectAllMakesThePatternsList) {
    WriteText(in / "x.png", "");
    WriteText(in / "y.PNG", "");
    WriteText(in / "z.bmp", "");
    InputChoice c;
    c.folder = (in / "").string();
    c.pattern = "*.png";
    ui.input = c;
    OutputTo(kBMP, 1);
    ASSERT_TRUE(Run());
    EXPECT_EQ(setup.state.inputFolder, in.string());
    EXPECT_EQ(ReadText(setup.state.batchListPath), std::string("x.png\0y.PNG\0", 12));
    EXPECT_TRUE(setup.state.unattended);
    fs::remove(setup.state.batchListPath);
}

TEST_F(Setup, ScriptOutputSettingsSkipTheOutputDialogAndScriptRun) {
    AddOutput(kPNG, 0, (root / "made" / "here").string());
    InputChoice c = Picked({"a.bmp"});
    c.useScriptOutput = true;
    ui.input = c;
    ASSERT_TRUE(Run());
    EXPECT_EQ(ui.outputAsked, 0);
    EXPECT_TRUE(fs::is_directory(root / "made" / "here"));
    EXPECT_EQ(setup.state.output.options.dpi, 150);
    SettingsStore again(root / "Brellix.conf");
    ASSERT_TRUE(again.Load());
    EXPECT_FALSE(again.GetRaw("ScriptRun", "OutDPI").has_value());
    EXPECT_FALSE(again.GetRaw("BatchDialog", "OutID").has_value());
    EXPECT_EQ(again.Get(setting::InterruptOnErr), 0);
    fs::remove(setup.state.batchListPath);
}

TEST_F(Setup, ScriptOutputFolderThatCannotBeMadeStopsWithAMessage) {
    WriteText(root / "afile", "x");
    AddOutput(kPNG, 0, (root / "afile" / "below").string());
    InputChoice c = Picked({"a.bmp"});
    c.useScriptOutput = true;
    ui.input = c;
    EXPECT_FALSE(Run());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind("The output folder '" + (root / "afile" / "below").string() +
                                       "' could not be created because ",
                                   0),
              0u)
        << ui.messages[0];
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(StoredFile(), "");
}

TEST_F(Setup, InputOptionsCommandTakesItsImageListWithoutTheInputDialog) {
    const std::string a = (in / "a.bmp").string(), b = (in / "b.bmp").string();
    WriteText(in / "list.brl", "BRL\r\n" + a + "\r\n" + b + "\r\n");
    AddOutput(kPNG, 0, out.string());
    AddInput("in/list.brl", /*showErrors=*/0, /*useScript=*/0);
    ASSERT_TRUE(Run());
    EXPECT_EQ(ui.inputAsked, 0);
    EXPECT_EQ(ui.outputAsked, 0);
    EXPECT_EQ(setup.state.listMode, 1);
    EXPECT_EQ(setup.state.inputFolder, "");
    EXPECT_TRUE(setup.state.unattended);
    EXPECT_EQ(ReadText(setup.state.batchListPath), a + "\r\n" + b + "\r\n");
    fs::remove(setup.state.batchListPath);
}

TEST_F(Setup, InputOptionsCommandCanAskForTheOutputDialog) {
    WriteText(in / "list.brl", "BRL\r\n" + (in / "a.bmp").string() + "\r\n");
    AddOutput(kPNG, 0, out.string());
    AddInput((in / "list.brl").string(), /*showErrors=*/1, /*useScript=*/1);
    OutputTo(kBMP, 2);
    ASSERT_TRUE(Run());
    EXPECT_EQ(ui.inputAsked, 0);
    EXPECT_EQ(ui.outputAsked, 1);
    EXPECT_EQ(ui.proposal.id, kPNG); // the script's format, offered
    EXPECT_FALSE(setup.state.unattended);
    EXPECT_EQ(setup.state.output.id, kBMP);
    fs::remove(setup.state.batchListPath);
}

struct ListFailure {
    const char* name;
    const char* listName; // "" for none
    size_t size;          // bytes of the list file; 0: no file
    const char* messageStart;
};
void PrintTo(const ListFailure& c, std::ostream* os) {
    *os << c.name;
}
class InputOptionsListFailures : public Setup, public ::testing::WithParamInterface<ListFailure> {};
TEST_P(InputOptionsListFailures, StopTheSetUpWithTheirMessage) {
    const ListFailure& c = GetParam();
    const fs::path list = in / "l.brl";
    if (c.size) WriteText(list, "BRL\r\n" + std::string(c.size - 5, 'x'));
    AddOutput(kPNG, 0, out.string());
    AddInput(*c.listName ? list.string() : "", 0, 0);
    EXPECT_FALSE(Run());
    ASSERT_EQ(ui.messages.size(), 1u);
    std::string want = c.messageStart;
    if (want.find("%s") != std::string::npos) want.replace(want.find("%s"), 2, list.string());
    EXPECT_EQ(ui.messages[0].rfind(want, 0), 0u) << ui.messages[0];
    EXPECT_TRUE(FilesIn(tmp).empty());
    EXPECT_EQ(ui.inputAsked + ui.outputAsked, 0);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, InputOptionsListFailures,
    ::testing::Values(ListFailure{"NoListNamed", "", 0, "Must supply an Image List file."},
                      ListFailure{"ListMissing", "l", 0,
                                  "The image list file '%s' could not be opened."},
                      ListFailure{"ListTooLarge", "l", 256001,
                                  "The image list file '%s' is too large.  Please reduce the "
                                  "number of images to process so that the file is less than "
                                  "250KB."}),
    [](const ::testing::TestParamInfo<ListFailure>& p) { return std::string(p.param.name); });

TEST_F(Setup, ListOfTheLargestSizeIsAccepted) {
    WriteText(in / "l.brl", "BRL\r\n" + std::string(256000 - 5, 'x'));
    AddOutput(kPNG, 0, out.string());
    AddInput((in / "l.brl").string(), 0, 0);
    ASSERT_TRUE(Run()) << (ui.messages.empty() ? "" : ui.messages[0]);
    fs::remove(setup.state.batchListPath);
}

TEST_F(Setup, PrintScriptsNeedNoOutputSettings) {
    Add(CMD_PRINT);
    ui.input = Picked({"a.bmp"});
    ASSERT_TRUE(Run());
    EXPECT_TRUE(setup.print);
    EXPECT_EQ(ui.outputAsked, 0);
    fs::remove(setup.state.batchListPath);
}

TEST_F(Setup, PrintWithInputOptionsGoesStraightToThePrintRun) {
    WriteText(in / "list.brl", "BRL\r\n" + (in / "a.bmp").string() + "\r\n");
    Add(CMD_PRINT);
    AddInput((in / "list.brl").string(), 0, 1);
    ASSERT_TRUE(Run());
    EXPECT_TRUE(setup.print);
    EXPECT_EQ(ui.inputAsked + ui.outputAsked, 0);
    fs::remove(setup.state.batchListPath);
}

// The state the set-up makes is one the runner takes as it is.
TEST_F(Setup, MadeStateRunsAndTheListIsDeletedAfterwards) {
    brellix::test::LeakCheck leaks;
    WriteImage(in / "one.bmp", 1);
    WriteImage(in / "two.bmp", 2);
    Add(CMD_MIRROR);
    ui.input = Picked({"one.bmp", "two.bmp"});
    OutputTo(kPNG, 0);
    ASSERT_TRUE(Run());
    ScriptedWindow window;
    BatchRunner runner(script, window, setup.state);
    ASSERT_EQ(runner.RunConversion(), 1);
    EXPECT_EQ(runner.successCount(), 2);
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"one.png", "two.png"}));
    EXPECT_TRUE(FilesIn(tmp).empty());
}

} // namespace
