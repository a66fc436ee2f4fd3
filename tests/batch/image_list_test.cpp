#include "batch/image_list.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brellix::test::ReadFileBytes;
using brellix::test::TempDir;

namespace {

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

std::string ReadText(const fs::path& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
}

TEST(ImageListFile, ReadsCrLfAndLfAndStopsAtEmptyLine) {
    TempDir dir;
    struct {
        const char* text;
        std::vector<std::string> want;
    } cases[] = {
        {"BRL\r\n/a/1.bmp\r\n/a/2.bmp\r\n", {"/a/1.bmp", "/a/2.bmp"}},
        {"BRL\n/a/1.bmp\n/a/2.bmp", {"/a/1.bmp", "/a/2.bmp"}},
        {"BRL\r\n/a/1.bmp\r\n\r\n/a/3.bmp\r\n", {"/a/1.bmp"}},
        {"BRL\r\n", {}},
        {"BRL", {}},
        {"BRL\r\n/a/x.bmp\r\n/a/x.bmp\r\n", {"/a/x.bmp", "/a/x.bmp"}},
    };
    for (const auto& c : cases) {
        WriteText(dir / "l.brl", c.text);
        std::vector<std::string> got{"untouched"};
        ASSERT_EQ(ReadImageListFile(dir / "l.brl", &got), ImageListStatus::Ok) << c.text;
        EXPECT_EQ(got, c.want) << c.text;
    }
}

TEST(ImageListFile, RefusesWrongHeaderAndMissingFile) {
    TempDir dir;
    std::vector<std::string> got{"kept"};
    WriteText(dir / "bad.brl", "BRLX\r\n/a.bmp\r\n");
    EXPECT_EQ(ReadImageListFile(dir / "bad.brl", &got), ImageListStatus::NotAnImageList);
    WriteText(dir / "empty.brl", "");
    EXPECT_EQ(ReadImageListFile(dir / "empty.brl", &got), ImageListStatus::NotAnImageList);
    EXPECT_EQ(ReadImageListFile(dir / "none.brl", &got), ImageListStatus::CannotOpen);
    EXPECT_EQ(got, std::vector<std::string>{"kept"});
}

TEST(ImageListFile, WritesCrLfAndRoundTrips) {
    TempDir dir;
    std::vector<std::string> paths{"/home/u/My Photos/été 1.jpg", "/x/y.png"};
    ASSERT_EQ(WriteImageListFile(dir / "l.brl", paths), ImageListStatus::Ok);
    EXPECT_EQ(ReadText(dir / "l.brl"), "BRL\r\n/home/u/My Photos/été 1.jpg\r\n/x/y.png\r\n");
    std::vector<std::string> back;
    ASSERT_EQ(ReadImageListFile(dir / "l.brl", &back), ImageListStatus::Ok);
    EXPECT_EQ(back, paths);

    // An empty list writes no file.
    ASSERT_EQ(WriteImageListFile(dir / "none.brl", {}), ImageListStatus::Ok);
    EXPECT_FALSE(fs::exists(dir / "none.brl"));
    EXPECT_EQ(WriteImageListFile(dir / "no/such/folder.brl", paths), ImageListStatus::WriteFailed);
}

TEST(ImageListFile, RunLimitIs256000Bytes) {
    TempDir dir;
    std::string body = "BRL\r\n/a.bmp\r\n";
    body.resize(kMaxImageListBytes, 'x');
    WriteText(dir / "max.brl", body);
    std::string contents;
    ASSERT_EQ(LoadImageListForRun(dir / "max.brl", &contents), ImageListStatus::Ok);
    EXPECT_EQ(contents.size(), kMaxImageListBytes - 5);
    EXPECT_EQ(contents.substr(0, 8), "/a.bmp\r\n");

    WriteText(dir / "big.brl", body + "x");
    EXPECT_EQ(LoadImageListForRun(dir / "big.brl", &contents), ImageListStatus::TooLarge);
    EXPECT_EQ(LoadImageListForRun(dir / "missing.brl", &contents), ImageListStatus::CannotOpen);
    EXPECT_EQ(LoadImageListForRun(dir.path(), &contents), ImageListStatus::CannotOpen);

    // An LF-only list keeps the first character of its first path.
    WriteText(dir / "lf.brl", "BRL\n/b.bmp\n");
    ASSERT_EQ(LoadImageListForRun(dir / "lf.brl", &contents), ImageListStatus::Ok);
    EXPECT_EQ(contents, "/b.bmp\n");
}

TEST(BatchList, LineRules) {
    using V = std::vector<std::string>;
    struct {
        std::string text;
        bool headerSkip;
        V want;
    } cases[] = {
        {"", false, {}},
        {"a\nb\n\nc\n", false, {"a", "b"}},
        {"a\r\nb\r\n", false, {"a", "b"}},
        {std::string("a\0b\0", 4), false, {"a", "b"}},
        {std::string("a\0\0b\0", 5), false, {"a"}},
        {"BRL\r\na\r\n", true, {"a"}},
        {"BRL\r\na\r\n", false, {"BRL", "a"}},
        {"a\nBRL\n", true, {"a", "BRL"}},
        {"x\ry\n", false, {"xy"}},
        {"last-without-newline", false, {"last-without-newline"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitBatchList(c.text, c.headerSkip), c.want) << c.text;
}

TEST(TemporaryBatchList, RawCopyAndNames) {
    TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string text = "/a/1.bmp\r\n/a/2.bmp\r\n";
    std::string path = MakeTemporaryBatchList(text);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::path(path).parent_path(), dir.path());
    EXPECT_EQ(fs::path(path).filename().string().substr(0, 3), "tmp");
    EXPECT_TRUE(IsTemporaryListName(path));
    EXPECT_EQ(ReadText(path), text);
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadBatchList(path, false, &lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"/a/1.bmp", "/a/2.bmp"}));

    setenv("TMPDIR", (dir / "missing").c_str(), 1);
    EXPECT_TRUE(MakeTemporaryBatchList(text).empty());
    unsetenv("TMPDIR");
}

TEST(TemporaryBatchList, PatternLeavesOutHiddenFilesAndFolders) {
    TempDir tmp, in;
    setenv("TMPDIR", tmp.path().c_str(), 1);
    for (const char* n :
         {"b.tif", "a.TIF", "c.jpg", ".hidden.tif", "noext", "with space.tif", "line\nbreak.tif"})
        WriteText(in / n, "x");
    fs::create_directory(in / "folder.tif");
    fs::create_symlink(in / "folder.tif", in / "link.tif");

    std::string p = MakeTemporaryBatchListFromPattern(in.path(), "*.tif");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(ReadText(p), std::string("a.TIF\0b.tif\0with space.tif\0", 27));

    p = MakeTemporaryBatchListFromPattern(in.path(), "*.*");
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadBatchList(p, false, &lines));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"a.TIF", "b.tif", "c.jpg", "noext", "with space.tif"}));

    p = MakeTemporaryBatchListFromPattern(in.path(), "nothing*");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(fs::file_size(p), 0u);
    unsetenv("TMPDIR");
}

TEST(Pattern, Matching) {
    struct {
        const char* name;
        const char* pattern;
        bool match;
    } cases[] = {
        {"a.tif", "*.tif", true},   {"A.TIF", "*.tif", true},
        {"a.tiff", "*.tif", false}, {"noext", "*.*", true},
        {"noext", "*", true},       {"a.b.c", "*.c", true},
        {"ab", "a?", true},         {"a", "a?", false},
        {"abc", "a*c", true},       {"abcbc", "a*bc", true},
        {"abd", "a*c", false},      {"été.jpg", "*.JPG", true},
        {"x", "", false},           {"photo 1.png", "photo*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesPattern(c.name, c.pattern), c.match) << c.name << " " << c.pattern;
}

} // namespace
