// The image list editor's model, its verification pass and its remembered
// values; a list it saves, run by the console program.
#include "batch/image_list_model.h"

#include "core/settings.h"
#include "formats/imagefile.h"
#include "script/commands.h"
#include "script/script.h"
#include "tests/batch/run_batch.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::MakeRandomDIB;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;
using V = std::vector<std::string>;

namespace {

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

std::string ReadText(const fs::path& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}

std::string PathIn(const TempDir& dir, const char* name) {
    return (dir / name).string();
}

// "name | folder" for each item, in list order.
V Rows(const ImageListModel& m) {
    V rows;
    for (const auto& it : m.items())
        rows.push_back(it.name + " | " + m.folders()[it.folder].text);
    return rows;
}

// "folder:count" for each folder entry.
V Folders(const ImageListModel& m) {
    V out;
    for (const auto& f : m.folders())
        out.push_back(f.text + ":" + std::to_string(f.count));
    return out;
}

TEST(ImagePathSplit, FolderAndNameRoundTrip) {
    struct {
        const char* name;
        const char* path;
        const char* folder;
        const char* file;
    } cases[] = {
        {"linux path", "/home/u/a.png", "/home/u", "a.png"},
        {"root", "/a.png", "/", "a.png"},
        {"colon and backslash are name characters here", "/p/12:30 a\\b.png", "/p",
         "12:30 a\\b.png"},
        {"windows path", "C:\\pics\\x.bmp", "C:\\pics", "x.bmp"},
        {"windows drive root", "C:\\x.bmp", "C:\\", "x.bmp"},
        {"drive without separator", "D:x.bmp", "D:\\", "x.bmp"},
        {"no folder", "x.bmp", ".", "x.bmp"},
        {"colon not a drive", "12:30.png", ".", "12:30.png"},
        {"utf-8 and spaces", "/home/u/My Photos/été 1.jpg", "/home/u/My Photos", "été 1.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImagePath p = SplitImagePath(c.path);
        EXPECT_EQ(p.folder, c.folder);
        EXPECT_EQ(p.name, c.file);
        const std::string joined = JoinImagePath(p.folder, p.name);
        // Only "D:x.bmp" changes: it is written with the drive's root.
        EXPECT_EQ(joined, std::string(c.path) == "D:x.bmp" ? "D:\\x.bmp" : c.path);
    }
    EXPECT_EQ(SplitImagePath("./x.bmp").folder, ".");
    EXPECT_EQ(JoinImagePath("/", "x.bmp"), "/x.bmp");
}

TEST(ImageListModel, AddSkipsDuplicatesWithoutCaseOpenKeepsThem) {
    TempDir dir;
    ImageListModel m;
    EXPECT_EQ(m.Add({"/a/x.png", "/a/y.png", "/b/x.png"}, true), 3u);
    EXPECT_TRUE(m.modified());
    // Again, in other case, and twice within one call: nothing or one added.
    EXPECT_EQ(m.Add({"/a/x.png", "/A/X.PNG", "/c/z.png", "/c/Z.png"}, true), 1u);
    EXPECT_EQ(Rows(m), (V{"x.png | /a", "y.png | /a", "x.png | /b", "z.png | /c"}));
    EXPECT_EQ(Folders(m), (V{"/a:2", "/b:1", "/c:1"}));
    // A line break cannot be written to a list.
    EXPECT_EQ(m.Add({"/a/new\nline.png", "", "/a/cr\r.png"}, false), 0u);

    WriteText(dir / "twice.brl", "BRL\r\n/a/x.png\r\n/a/x.png\r\n/a/X.png\r\n");
    ASSERT_EQ(m.Open(dir / "twice.brl"), ImageListStatus::Ok);
    EXPECT_EQ(Rows(m), (V{"x.png | /a", "x.png | /a", "X.png | /a"}));
    EXPECT_EQ(Folders(m), (V{"/a:3"}));
    EXPECT_FALSE(m.modified());
    EXPECT_EQ(m.fileName(), (dir / "twice.brl").string());

    // Import skips what is there already, and the duplicates within the file.
    WriteText(dir / "more.brl", "BRL\r\n/A/x.PNG\r\n/d/n.png\r\n/d/n.png\r\n");
    size_t added = 0;
    ASSERT_EQ(m.Import(dir / "more.brl", &added), ImageListStatus::Ok);
    EXPECT_EQ(added, 1u);
    EXPECT_EQ(Rows(m).back(), "n.png | /d");
    EXPECT_TRUE(m.modified());
    EXPECT_EQ(m.fileName(), (dir / "twice.brl").string());
}

TEST(ImageListModel, FolderEntriesKeepCaseApart) {
    ImageListModel m;
    m.Add({"/Photos/a.png", "/photos/b.png"}, true);
    EXPECT_EQ(Folders(m), (V{"/Photos:1", "/photos:1"}));
    EXPECT_EQ(m.Paths(), (V{"/Photos/a.png", "/photos/b.png"}));
}

TEST(ImageListModel, FailedReadsLeaveTheListAlone) {
    TempDir dir;
    WriteText(dir / "bad.brl", "BRX\r\n/a/x.png\r\n");
    struct {
        const char* name;
        fs::path path;
        ImageListStatus want;
    } cases[] = {
        {"missing file", dir / "missing.brl", ImageListStatus::CannotOpen},
        {"a folder", dir.path(), ImageListStatus::CannotOpen},
        {"wrong first line", dir / "bad.brl", ImageListStatus::NotAnImageList},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageListModel m;
        m.Add({"/keep/me.png"}, true);
        EXPECT_EQ(m.Open(c.path), c.want);
        EXPECT_EQ(m.Import(c.path), c.want);
        EXPECT_EQ(m.Paths(), V{"/keep/me.png"});
        EXPECT_TRUE(m.modified());
        EXPECT_EQ(m.fileName(), "");
    }
}

TEST(ImageListModel, BinaryGarbageIsRefusedOrReadSafely) {
    TempDir dir;
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(rng() % 2000, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        // Half of them get a valid first line, so the garbage is parsed.
        if (round % 2) bytes = "BRL\r\n" + bytes;
        WriteText(dir / "g.brl", bytes);
        ImageListModel m;
        const ImageListStatus s = m.Open(dir / "g.brl");
        if (round % 2 == 0) {
            EXPECT_EQ(s, ImageListStatus::NotAnImageList) << round;
            EXPECT_TRUE(m.items().empty());
            continue;
        }
        ASSERT_EQ(s, ImageListStatus::Ok) << round;
        // Whatever was read is written back to the same lines.
        for (const std::string& p : m.Paths())
            EXPECT_EQ(p.find_first_of("\r\n"), std::string::npos);
        if (m.items().empty()) continue;
        ASSERT_EQ(m.Save(dir / "back.brl"), ImageListStatus::Ok);
        V back;
        ASSERT_EQ(ReadImageListFile(dir / "back.brl", &back), ImageListStatus::Ok);
        EXPECT_EQ(back.size(), m.items().size());
    }
}

TEST(ImageListModel, SaveWritesWholeFileWithCrLf) {
    TempDir dir;
    ImageListModel m;
    m.Add({"/p/b.png", "/p/a.png", "C:\\win\\c.bmp"}, true);
    ASSERT_EQ(m.Save(dir / "l.brl"), ImageListStatus::Ok);
    EXPECT_EQ(ReadText(dir / "l.brl"), "BRL\r\n/p/b.png\r\n/p/a.png\r\nC:\\win\\c.bmp\r\n");
    EXPECT_FALSE(m.modified());
    EXPECT_EQ(m.fileName(), (dir / "l.brl").string());
    // Written whole: a shorter list leaves nothing of the longer one.
    m.Remove({0, 2});
    ASSERT_EQ(m.Save(dir / "l.brl"), ImageListStatus::Ok);
    EXPECT_EQ(ReadText(dir / "l.brl"), "BRL\r\n/p/a.png\r\n");
    EXPECT_EQ(m.Save(dir / "no/such/l.brl"), ImageListStatus::WriteFailed);
    EXPECT_EQ(m.fileName(), (dir / "l.brl").string());
}

TEST(ImageListModel, DeleteDropsEmptyFolders) {
    ImageListModel m;
    m.Add({"/a/1.png", "/b/2.png", "/a/3.png", "/c/4.png"}, true);
    m.SetModified(false);
    m.Remove({1, 3, 1, 99});
    EXPECT_EQ(Rows(m), (V{"1.png | /a", "3.png | /a"}));
    EXPECT_EQ(Folders(m), V{"/a:2"});
    EXPECT_TRUE(m.modified());
    m.SetModified(false);
    m.Remove({});
    EXPECT_FALSE(m.modified());
}

TEST(ImageListModel, SortsByEitherColumnWithoutCaseAndReverses) {
    ImageListModel m;
    m.Add({"/b/Apple.png", "/a/banana.png", "/A/apple.png", "/c/Cherry.png", "/a/apple.png"},
          false);
    struct {
        const char* name;
        ImageListModel::SortKey key;
        bool descending;
        V want;
    } cases[] = {
        {"name then folder", ImageListModel::SortKey::Name, false,
         {"apple.png | /A", "apple.png | /a", "Apple.png | /b", "banana.png | /a",
          "Cherry.png | /c"}},
        {"name reversed", ImageListModel::SortKey::Name, true,
         {"Cherry.png | /c", "banana.png | /a", "Apple.png | /b", "apple.png | /A",
          "apple.png | /a"}},
        {"folder then name", ImageListModel::SortKey::Folder, false,
         {"apple.png | /A", "apple.png | /a", "banana.png | /a", "Apple.png | /b",
          "Cherry.png | /c"}},
        {"folder reversed", ImageListModel::SortKey::Folder, true,
         {"Cherry.png | /c", "Apple.png | /b", "banana.png | /a", "apple.png | /A",
          "apple.png | /a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m.Sort(c.key, c.descending);
        EXPECT_EQ(Rows(m), c.want);
    }
}

TEST(ImageListModel, ChangeFolderRewritesSubFoldersAndMerges) {
    struct {
        const char* name;
        V paths;
        const char* missing;
        const char* newRoot;
        V want;
    } cases[] = {
        {"folder and its sub-folders, not its look-alikes",
         {"/old/a.png", "/old/sub/b.png", "/older/c.png", "/x/d.png"},
         "/old",
         "/new",
         {"/new/a.png", "/new/sub/b.png", "/older/c.png", "/x/d.png"}},
        {"into the root", {"/old/a.png", "/old/s/b.png"}, "/old", "/", {"/a.png", "/s/b.png"}},
        {"a windows list moved here",
         {"C:\\pics\\a.bmp", "C:\\pics\\2001\\b.bmp", "C:\\other\\c.bmp"},
         "C:\\pics",
         "/home/u/pics",
         {"/home/u/pics/a.bmp", "/home/u/pics/2001/b.bmp", "C:\\other\\c.bmp"}},
        {"a windows drive root", {"D:\\a.bmp", "D:\\s\\b.bmp"}, "D:\\", "/mnt/d",
         {"/mnt/d/a.bmp", "/mnt/d/s/b.bmp"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageListModel m;
        m.Add(c.paths, false);
        m.SetModified(false);
        size_t f = 0;
        while (m.folders()[f].text != c.missing)
            ++f;
        m.ChangeFolder(f, c.newRoot);
        EXPECT_EQ(m.Paths(), c.want);
        EXPECT_TRUE(m.modified());
    }

    // A folder renamed onto one the list already has: one entry.
    ImageListModel m;
    m.Add({"/old/a.png", "/new/b.png", "/old/c.png"}, false);
    const size_t at = m.ChangeFolder(0, "/new");
    EXPECT_EQ(Folders(m), V{"/new:3"});
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(m.Paths(), (V{"/new/a.png", "/new/b.png", "/new/c.png"}));
}

// ---- Verification pass ----

// Answers the folder-error dialog from a queue and records the pass.
class ScriptedHost : public VerifyHost {
  public:
    std::deque<FolderChoice> choices;
    V missing;  // folders asked about
    V verified; // "Verifying" texts
    int range = -1;
    int lastPosition = 0;
    std::function<bool()> abort = [] { return false; };

    void Preparing(int r) override { range = r; }
    void Verifying(const std::string& text, int position) override {
        verified.push_back(text);
        EXPECT_GT(position, lastPosition);
        EXPECT_LE(position, range);
        lastPosition = position;
    }
    bool AbortRequested() override { return abort(); }
    FolderChoice FolderMissing(const std::string& folder) override {
        missing.push_back(folder);
        if (choices.empty()) return {FolderChoice::Abort, ""};
        FolderChoice c = choices.front();
        choices.pop_front();
        return c;
    }
};

class Verify : public ::testing::Test {
  protected:
    TempDir dir;
    std::string P(const std::string& rel) const { return (dir / rel).string(); }
    void Touch(const std::string& rel) {
        fs::create_directories((dir / rel).parent_path());
        WriteText(dir / rel, "x");
    }
};

TEST_F(Verify, RenamedFolderChangedOnceForItAndItsSubFolders) {
    Touch("new/a.png");
    Touch("new/sub/b.png");
    Touch("new/sub/deeper/c.png");
    Touch("keep/d.png");
    ImageListModel m;
    m.Add({P("old/a.png"), P("keep/d.png"), P("old/sub/b.png"), P("old/sub/deeper/c.png")}, true);
    m.SetModified(false);
    ScriptedHost host;
    host.choices = {{FolderChoice::Change, P("new") + "/"}};
    EXPECT_EQ(VerifyImageList(m, host), VerifyOutcome::Completed);
    // Asked once: the sub-folders were rewritten with it.
    EXPECT_EQ(host.missing, V{P("old")});
    EXPECT_EQ(m.Paths(),
              (V{P("new/a.png"), P("keep/d.png"), P("new/sub/b.png"), P("new/sub/deeper/c.png")}));
    EXPECT_TRUE(m.modified());
    EXPECT_EQ(host.range, 4 + 4);
    EXPECT_EQ(host.verified.front(), P("old"));
    EXPECT_EQ(host.verified.back(), P("new/sub/deeper/c.png"));
}

TEST_F(Verify, DeleteRemovesIgnoreKeepsRetryAsksAgainAbortStops) {
    Touch("here/ok.png");
    const V list{P("gone/a.png"), P("here/ok.png"), P("gone/s/b.png"), P("lost/c.png"),
                 P("here/missing.png")};
    struct {
        const char* name;
        std::deque<FolderChoice> choices;
        VerifyOutcome outcome;
        V asked;
        V want;
        bool modified;
    } cases[] = {
        {"delete both missing folders",
         {{FolderChoice::Delete, ""}, {FolderChoice::Delete, ""}},
         VerifyOutcome::Completed,
         {P("gone"), P("lost")},
         {P("here/ok.png")},
         true},
        {"ignore keeps their items, the missing file in a found folder goes",
         {{FolderChoice::Ignore, ""}, {FolderChoice::Ignore, ""}},
         VerifyOutcome::Completed,
         {P("gone"), P("lost")},
         {P("gone/a.png"), P("here/ok.png"), P("gone/s/b.png"), P("lost/c.png")},
         true},
        {"retry asks again",
         {{FolderChoice::Retry, ""}, {FolderChoice::Ignore, ""}, {FolderChoice::Delete, ""}},
         VerifyOutcome::Completed,
         {P("gone"), P("gone"), P("lost")},
         {P("gone/a.png"), P("here/ok.png"), P("gone/s/b.png")},
         true},
        {"change to a folder that does not exist asks again",
         {{FolderChoice::Change, P("nowhere")}, {FolderChoice::Abort, ""}},
         VerifyOutcome::Aborted,
         {P("gone"), P("gone")},
         list,
         false},
        {"abort keeps what was done", {{FolderChoice::Delete, ""}},
         VerifyOutcome::Aborted,
         {P("gone"), P("lost")},
         {P("here/ok.png"), P("lost/c.png"), P("here/missing.png")},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageListModel m;
        m.Add(list, true);
        m.SetModified(false);
        ScriptedHost host;
        host.choices = c.choices;
        EXPECT_EQ(VerifyImageList(m, host), c.outcome);
        EXPECT_EQ(host.missing, c.asked);
        EXPECT_EQ(m.Paths(), c.want);
        EXPECT_EQ(m.modified(), c.modified);
        for (const auto& f : m.folders())
            EXPECT_GT(f.count, 0) << f.text;
    }
}

TEST_F(Verify, DeleteReachesItemsAlreadyPassed) {
    // Deleting a folder also removes the items of its sub-folders that came
    // earlier in the list.
    ImageListModel m;
    m.Add({P("gone/s/b.png"), P("gone/a.png"), P("gone/s/c.png")}, true);
    ScriptedHost host;
    host.choices = {{FolderChoice::Ignore, ""}, {FolderChoice::Delete, ""}};
    EXPECT_EQ(VerifyImageList(m, host), VerifyOutcome::Completed);
    EXPECT_EQ(host.missing, (V{P("gone/s"), P("gone")}));
    EXPECT_TRUE(m.items().empty());
    EXPECT_TRUE(m.folders().empty());
}

TEST_F(Verify, FilesThatCannotBeOpenedAreRemoved) {
    Touch("in/ok.png");
    Touch("in/locked.png");
    fs::create_directories(dir / "in/folder.png");
    ASSERT_EQ(mkfifo(P("in/pipe.png").c_str(), 0600), 0);
    fs::permissions(dir / "in/locked.png", fs::perms::none);
    const bool rootReads = FileOpens(P("in/locked.png")); // root opens it all the same
    ImageListModel m;
    m.Add({P("in/ok.png"), P("in/none.png"), P("in/locked.png"), P("in/folder.png"),
           P("in/pipe.png")},
          true);
    m.SetModified(false);
    ScriptedHost host;
    EXPECT_EQ(VerifyImageList(m, host), VerifyOutcome::Completed);
    V want{P("in/ok.png")};
    if (rootReads) want.push_back(P("in/locked.png"));
    want.push_back(P("in/pipe.png")); // a FIFO opens: it is not refused as missing
    EXPECT_EQ(m.Paths(), want);
    EXPECT_TRUE(m.modified());
    EXPECT_TRUE(host.missing.empty());
    fs::permissions(dir / "in/locked.png", fs::perms::owner_all);
}

TEST_F(Verify, EscapeEndsThePassAtOnce) {
    Touch("in/ok.png");
    // Escape goes down after `when` steps: the folder, then each file.
    for (size_t when : {0, 1, 2, 3}) {
        SCOPED_TRACE(when);
        ImageListModel m;
        m.Add({P("in/ok.png"), P("in/none1.png"), P("in/none2.png")}, true);
        m.SetModified(false);
        ScriptedHost host;
        host.abort = [&] { return host.verified.size() >= when; };
        EXPECT_EQ(VerifyImageList(m, host), VerifyOutcome::Aborted);
        EXPECT_EQ(host.verified.size(), when);
        // The third step found none1.png missing; none2.png was never looked at.
        EXPECT_EQ(m.items().size(), when == 3 ? 2u : 3u);
    }
}

TEST_F(Verify, IgnoredFoldersAreNotOpened) {
    Touch("in/ok.png");
    ImageListModel m;
    m.Add({P("gone/x.png"), P("in/ok.png"), P("gone/sub/y.png")}, true);
    ScriptedHost host;
    host.choices = {{FolderChoice::Ignore, ""}};
    EXPECT_EQ(VerifyImageList(m, host), VerifyOutcome::Completed);
    EXPECT_EQ(host.verified, (V{P("gone"), P("in"), P("in/ok.png")}));
}

// ---- Remembered values ----

TEST(ImageListSettings, RecentListsAfterTheDialog) {
    struct {
        const char* name;
        std::string chosen;
        V entries;
        V want;
    } cases[] = {
        {"new name goes first", "/n.brl", {"/a.brl", "/b.brl", "/c.brl", "/d.brl"},
         {"/n.brl", "/a.brl", "/b.brl", "/c.brl"}},
        {"a recent one moves up", "/c.brl", {"/a.brl", "/b.brl", "/c.brl", "/d.brl"},
         {"/c.brl", "/a.brl", "/b.brl", "/d.brl"}},
        {"unused entries cleared", "/a.brl", {"/a.brl"}, {"/a.brl", "", "", ""}},
        {"an empty text is stored as it is", "", {"/a.brl", "/b.brl"}, {"", "/a.brl", "/b.brl", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RecentImageListsAfter(c.chosen, c.entries), c.want);
    }

    TempDir dir;
    SettingsStore store(dir / "Brellix.conf");
    StoreRecentImageLists(store, {"/n.brl", "/a.brl", "", ""});
    EXPECT_EQ(store.Serialize(), "[ImageList]\nFile0=/n.brl\nFile1=/a.brl\nFile2=\nFile3=\n");
    EXPECT_EQ(LoadRecentImageLists(store), (V{"/n.brl", "/a.brl"}));
}

TEST(ImageListSettings, VerifyFoldersKeepFifteenMostRecentFirst) {
    V recent;
    for (int i = 0; i < 20; ++i)
        recent = PushRecentFolder(recent, "/f" + std::to_string(i));
    ASSERT_EQ(recent.size(), 15u);
    EXPECT_EQ(recent.front(), "/f19");
    EXPECT_EQ(recent.back(), "/f5");
    recent = PushRecentFolder(recent, "/f10");
    EXPECT_EQ(recent.size(), 15u);
    EXPECT_EQ(recent[0], "/f10");
    EXPECT_EQ(recent[1], "/f19");
    EXPECT_EQ(std::count(recent.begin(), recent.end(), "/f10"), 1);

    TempDir dir;
    SettingsStore store(dir / "Brellix.conf");
    StoreVerifyFolders(store, {"/x", "/y"});
    EXPECT_EQ(store.GetText("ImageList", "VerifyFolder0", "?"), "/x");
    EXPECT_EQ(store.GetText("ImageList", "VerifyFolder14", "?"), "");
    EXPECT_EQ(LoadVerifyFolders(store), (V{"/x", "/y"}));
    StoreVerifyFolders(store, recent);
    EXPECT_EQ(LoadVerifyFolders(store), recent);
}

// ---- The console program reads what the editor writes ----

TEST(ImageListConsole, ListSavedByTheEditorIsRunWithAt) {
    TempDir dir;
    fs::create_directories(dir / "My Photos/12:30");
    const V inputs{(dir / "My Photos/été.bmp").string(), (dir / "My Photos/12:30/b.bmp").string(),
                   (dir / "c.bmp").string()};
    for (size_t i = 0; i < inputs.size(); ++i) {
        KOwnedHandle dib(MakeRandomDIB(9, 7, 24, static_cast<uint32_t>(i)));
        ASSERT_EQ(WriteImageFile(inputs[i], dib.get(), 1, 1, OutputOptions{}), KERV_OK);
    }
    CScript s;
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 18; // PNG
    o->m_nParam[1] = 0;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "s.ksc").string(), &message)) << message;

    ImageListModel m;
    // The third is added twice; the list holds it once.
    ASSERT_EQ(m.Add({inputs[0], inputs[1], inputs[2], inputs[2]}, true), 3u);
    ASSERT_EQ(m.Save((dir / "list.brl").string()), ImageListStatus::Ok);

    const batchtest::Result r = batchtest::RunBatch({"s.ksc", "-r", "-@", "list.brl"}, dir.path());
    const std::string& out = r.out;
    ASSERT_EQ(r.status, 0) << out;
    for (const std::string& in : inputs)
        EXPECT_NE(out.find("Reading " + in + "\n"), std::string::npos) << in << "\n" << out;
    EXPECT_NE(out.find("3  File(s) successfully converted."), std::string::npos) << out;
    for (const char* name : {"été.png", "b.png", "c.png"})
        EXPECT_TRUE(fs::exists(dir / "out" / name)) << name;
}

TEST(ImageListConsole, EmptyLineInTheMiddleEndsTheList) {
    TempDir dir;
    KOwnedHandle dib(MakeRandomDIB(5, 5, 24, 1));
    for (const char* n : {"a.bmp", "b.bmp", "c.bmp"})
        ASSERT_EQ(WriteImageFile((dir / n).string(), dib.get(), 1, 1, OutputOptions{}), KERV_OK);
    WriteText(dir / "l.brl", "BRL\r\n" + PathIn(dir, "a.bmp") + "\r\n" + PathIn(dir, "b.bmp") + "\r\n\r\n" +
                                 PathIn(dir, "c.bmp") + "\r\n");
    // The editor loads the lines before the empty one...
    ImageListModel m;
    ASSERT_EQ(m.Open(dir / "l.brl"), ImageListStatus::Ok);
    EXPECT_EQ(m.Paths(), (V{PathIn(dir, "a.bmp"), PathIn(dir, "b.bmp")}));
    // ...and so does a run.
    CScript s;
    auto o = std::make_unique<CScriptCommand>(CMD_SET_OUTPUT_OPTIONS);
    o->m_nParam[0] = 18;
    o->m_nParam[1] = 0;
    o->m_strParam[0] = "out";
    s.InsertCommand(std::move(o), -1);
    std::string message;
    ASSERT_TRUE(s.Save((dir / "s.ksc").string(), &message)) << message;
    const batchtest::Result r = batchtest::RunBatch({"s.ksc", "-r", "-@", "l.brl"}, dir.path());
    const std::string& out = r.out;
    ASSERT_EQ(r.status, 0) << out;
    EXPECT_NE(out.find("2  File(s) successfully converted."), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "out/c.png"));
}

} // namespace
