#include "batch/batch_log.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
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

} // namespace
