#include "batch/batch_log.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;

namespace {

std::string ReadText(const fs::path& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}

TEST(BatchLog, LinesAppendAndObservers) {
    BatchLog log;
    std::vector<std::string> added, changed;
    log.onLineAdded = [&](const std::string& s) { added.push_back(s); };
    log.onLastLineChanged = [&](const std::string& s) { changed.push_back(s); };
    log.add("Generating Palette...");
    log.appendToLast("256 Colors Found");
    log.addString(6019);
    log.addString(999999); // no such entry: nothing added
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Generating Palette...256 Colors Found",
                                                     "Script Complete"}));
    EXPECT_EQ(added, (std::vector<std::string>{"Generating Palette...", "Script Complete"}));
    EXPECT_EQ(changed, (std::vector<std::string>{"Generating Palette...256 Colors Found"}));

    BatchLog empty;
    empty.appendToLast("x");
    EXPECT_EQ(empty.lines(), std::vector<std::string>{"x"});
}

TEST(BatchLog, SavesWithCrLf) {
    TempDir dir;
    BatchLog log;
    std::string reason;
    ASSERT_TRUE(log.save(dir / "empty.log", &reason));
    EXPECT_TRUE(fs::exists(dir / "empty.log"));
    EXPECT_EQ(fs::file_size(dir / "empty.log"), 0u);

    log.add("Reading /a/été.bmp");
    log.add("");
    log.add("Script Complete");
    ASSERT_TRUE(log.save(dir / "x.log"));
    EXPECT_EQ(ReadText(dir / "x.log"), "Reading /a/été.bmp\r\n\r\nScript Complete\r\n");

    // Saving again replaces the old contents.
    BatchLog shorter;
    shorter.add("one");
    ASSERT_TRUE(shorter.save(dir / "x.log"));
    EXPECT_EQ(ReadText(dir / "x.log"), "one\r\n");

    EXPECT_FALSE(log.save(dir / "no/such/x.log", &reason));
    EXPECT_EQ(reason, "No such file or directory");
}

TEST(BatchLog, StateFolderIsCreated) {
    TempDir dir;
    const char* old = std::getenv("XDG_STATE_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_STATE_HOME", (dir / "deep/state").c_str(), 1);
    EXPECT_EQ(StateFolder(), (dir / "deep/state/brellix").string());
    EXPECT_TRUE(fs::is_directory(dir / "deep/state/brellix"));
    EXPECT_EQ(CurrentLogPath(), (dir / "deep/state/brellix/CURRENT.LOG").string());

    // A file where the folder should be: no state folder, with a reason.
    std::string reason;
    setenv("XDG_STATE_HOME", (dir / "deep/state/brellix/CURRENT.LOG").c_str(), 1);
    {
        BatchLog l;
        ASSERT_TRUE(l.save(dir / "deep/state/brellix/CURRENT.LOG"));
    }
    EXPECT_TRUE(StateFolder(&reason).empty());
    EXPECT_FALSE(reason.empty());
    if (old)
        setenv("XDG_STATE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

// A change to the log or the file, a new line, then a save through the mirror; after every step the
// file must read exactly as BatchLog::save would have written it.
struct MirrorCase {
    const char* name;
    // Changes the log or the file between saves; step counts from 0.
    std::function<void(BatchLog&, const fs::path& file, int step)> between;
};

class LogFileMirrorTest : public ::testing::TestWithParam<MirrorCase> {};

TEST_P(LogFileMirrorTest, FileMatchesAWholeSave) {
    TempDir dir;
    const fs::path file = dir / "CURRENT.LOG", whole = dir / "whole.log";
    BatchLog log;
    LogFileMirror mirror;
    for (int step = 0; step < 6; ++step) {
        GetParam().between(log, file, step);
        log.add("Reading /in/photo" + std::to_string(step) + ".bmp");
        std::string reason;
        ASSERT_TRUE(mirror.save(log, file, &reason)) << "step " << step << ": " << reason;
        ASSERT_TRUE(log.save(whole));
        ASSERT_EQ(ReadText(file), ReadText(whole)) << "step " << step;
    }
}

void Nothing(BatchLog&, const fs::path&, int) {}

INSTANTIATE_TEST_SUITE_P(
    Steps, LogFileMirrorTest,
    ::testing::Values(
        MirrorCase{"LinesOnly", Nothing},
        MirrorCase{"LastSavedLineGrows",
                   [](BatchLog& log, const fs::path&, int step) {
                       if (step % 2 == 1) log.appendToLast("256 Colors Found");
                   }},
        MirrorCase{"LineGrowsThenMoreLines",
                   [](BatchLog& log, const fs::path&, int step) {
                       if (step < 1) return;
                       log.appendToLast("...done");
                       log.add("");
                       log.add("Saving /out/x.bmp");
                   }},
        MirrorCase{"LogCleared",
                   [](BatchLog& log, const fs::path&, int step) {
                       if (step != 3) return;
                       log.clear();
                       for (int i = 0; i < 9; ++i) log.add("after clear " + std::to_string(i));
                   }},
        MirrorCase{"FileReplacedByAnother",
                   [](BatchLog&, const fs::path& file, int step) {
                       if (step != 2) return;
                       const fs::path other = file.parent_path() / "other";
                       std::ofstream(other) << "another run's log, much longer than ours so far\r\n";
                       fs::rename(other, file);
                   }},
        MirrorCase{"FileTruncatedByAnother",
                   [](BatchLog&, const fs::path& file, int step) {
                       if (step == 2) fs::resize_file(file, 3);
                   }},
        MirrorCase{"FileDeleted",
                   [](BatchLog&, const fs::path& file, int step) {
                       if (step == 3) fs::remove(file);
                   }},
        MirrorCase{"FileGrownByAnother",
                   [](BatchLog&, const fs::path& file, int step) {
                       if (step == 1) std::ofstream(file, std::ios::app) << "intruder\r\n";
                   }}),
    [](const ::testing::TestParamInfo<MirrorCase>& c) { return std::string(c.param.name); });

TEST(LogFileMirror, FailuresAndAnotherPath) {
    TempDir dir;
    BatchLog log;
    LogFileMirror mirror;
    log.add("one");
    std::string reason;
    EXPECT_FALSE(mirror.save(log, dir / "no/such/CURRENT.LOG", &reason));
    EXPECT_EQ(reason, "No such file or directory");

    // A read-only file: refused each time, and written once it is writable.
    const fs::path file = dir / "CURRENT.LOG";
    std::ofstream(file) << "old";
    fs::permissions(file, fs::perms::owner_read);
    if (::access(file.c_str(), W_OK) != 0) { // root writes anyway
        EXPECT_FALSE(mirror.save(log, file));
        log.add("two");
        EXPECT_FALSE(mirror.save(log, file));
        EXPECT_EQ(ReadText(file), "old");
    } else {
        log.add("two");
    }
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(mirror.save(log, file));
    EXPECT_EQ(ReadText(file), "one\r\ntwo\r\n");

    // Another path starts a whole file there and leaves the first alone.
    log.add("three");
    ASSERT_TRUE(mirror.save(log, dir / "second.log"));
    EXPECT_EQ(ReadText(dir / "second.log"), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(ReadText(file), "one\r\ntwo\r\n");
}

} // namespace
