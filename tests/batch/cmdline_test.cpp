#include "batch/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using V = std::vector<std::string>;

struct Case {
    const char* name;
    V args;
    bool valid;
};

class CommandLineValidity : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineValidity, AcceptsOrRefuses) {
    CommandLine cl;
    EXPECT_EQ(ParseCommandLine(GetParam().args, &cl), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineValidity,
    ::testing::Values(Case{"ScriptOnly", {"a.ksc"}, true}, Case{"NoArguments", {}, true},
                      Case{"RunBeforeScript", {"/r", "a.ksc"}, false},
                      Case{"DashRunBeforeScript", {"-r", "a.ksc"}, false},
                      Case{"FullExample", {"a.ksc", "/r", "/e", "/l", "log.txt", "*.tif"}, true},
                      Case{"UpperCaseSwitches", {"a.ksc", "/R", "-E", "-I", "/N"}, true},
                      Case{"AtLastIsUnfinished", {"a.ksc", "/@"}, false},
                      Case{"LogLastIsUnfinished", {"a.ksc", "-l"}, false},
                      Case{"ListThenSpec", {"a.ksc", "-@", "x.brl", "*.tif"}, false},
                      Case{"SpecThenList", {"a.ksc", "*.tif", "-@", "x.brl"}, false},
                      Case{"ListTwice", {"a.ksc", "-@", "x.brl", "-@", "y.brl"}, false},
                      Case{"LogTwice", {"a.ksc", "-l", "a.log", "-l", "b.log"}, false},
                      Case{"TwoSpecs", {"a.ksc", "a.jpg", "b.jpg"}, false},
                      Case{"WildcardScript", {"*.ksc"}, false},
                      Case{"QuestionMarkScript", {"a?.ksc"}, false},
                      Case{"WildcardList", {"a.ksc", "-@", "*.brl"}, false},
                      Case{"WildcardLog", {"a.ksc", "-l", "x?.log"}, false},
                      Case{"UnknownSwitch", {"a.ksc", "-x"}, false},
                      Case{"LongDashSwitch", {"a.ksc", "-run"}, false},
                      Case{"EmptyDashSwitch", {"a.ksc", "-"}, false},
                      Case{"SwitchInsteadOfListValue", {"a.ksc", "-@", "-r", "x.brl"}, false},
                      Case{"SwitchAfterValueIsFine", {"a.ksc", "-l", "x.log", "-r"}, true},
                      Case{
                          "AbsolutePathsArePlain", {"/home/u/a.ksc", "-r", "/data/in/*.png"}, true},
                      Case{"SlashLongWordIsPath", {"a.ksc", "/rr"}, true},
                      Case{"SlashAloneIsPath", {"a.ksc", "/"}, true},
                      Case{"AbsoluteListPath", {"a.ksc", "-@", "/tmp/x.brl", "-r"}, true}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

TEST(CommandLine, FillsTheRecord) {
    CommandLine cl;
    ASSERT_TRUE(ParseCommandLine({"s.ksc", "/r", "/e", "/l", "out.log", "*.tif", "-i", "-n"}, &cl));
    EXPECT_EQ(cl.scriptPath, "s.ksc");
    EXPECT_EQ(cl.inputSpec, "*.tif");
    EXPECT_EQ(cl.logPath, "out.log");
    EXPECT_TRUE(cl.imageListPath.empty());
    EXPECT_TRUE(cl.showErrors);
    EXPECT_TRUE(cl.minimise);
    EXPECT_TRUE(cl.keepOpen);
    EXPECT_FALSE(cl.allFiles);
    EXPECT_EQ(cl.mode, CommandLine::RunRequested);
    EXPECT_EQ(cl.state, CommandLine::AfterPlain);
}

TEST(CommandLine, DefaultsAndModes) {
    CommandLine none;
    EXPECT_TRUE(ParseCommandLine({}, &none));
    EXPECT_EQ(none.mode, CommandLine::Nothing);
    EXPECT_TRUE(none.allFiles);

    CommandLine open;
    ASSERT_TRUE(ParseCommandLine({"s"}, &open));
    EXPECT_EQ(open.mode, CommandLine::ScriptGiven);
    EXPECT_TRUE(open.allFiles);
    EXPECT_FALSE(open.showErrors);

    // "r" before the script's own arguments still runs.
    CommandLine run;
    ASSERT_TRUE(ParseCommandLine({"s", "-r", "-@", "l.brl"}, &run));
    EXPECT_EQ(run.mode, CommandLine::RunRequested);
    EXPECT_EQ(run.imageListPath, "l.brl");
    EXPECT_FALSE(run.allFiles);
}

TEST(CommandLine, SlashRule) {
    struct {
        const char* arg;
        bool isSwitch;
        const char* text;
    } cases[] = {
        {"/r", true, "r"},     {"/R", true, "R"},       {"/@", true, "@"}, {"/l", true, "l"},
        {"/x", false, "/x"},   {"/tmp", false, "/tmp"}, {"-x", true, "x"}, {"-", true, ""},
        {"-tmp", true, "tmp"}, {"a/b", false, "a/b"},   {"/", false, "/"}, {"/e", true, "e"},
    };
    for (const auto& c : cases) {
        SplitArgument s = SplitCommandArgument(c.arg);
        EXPECT_EQ(s.isSwitch, c.isSwitch) << c.arg;
        EXPECT_EQ(s.text, c.text) << c.arg;
    }
}

TEST(CommandLine, ReasonForSecondSpec) {
    CommandLine cl;
    EXPECT_FALSE(ParseCommandLine({"s", "a.jpg", "b.jpg"}, &cl));
    EXPECT_EQ(cl.lastInvalid, CommandLine::Invalid::SecondSpec);
}

TEST(CommandLine, ScriptExtension) {
    EXPECT_EQ(ScriptPathWithExtension("demo"), "demo.ksc");
    EXPECT_EQ(ScriptPathWithExtension("demo.ksc"), "demo.ksc");
    EXPECT_EQ(ScriptPathWithExtension("demo.txt"), "demo.txt");
    EXPECT_EQ(ScriptPathWithExtension("my.dir/demo"), "my.dir/demo.ksc");
    EXPECT_EQ(ScriptPathWithExtension("/a.b/c.d/e"), "/a.b/c.d/e.ksc");
}

TEST(CommandLine, ImageListNames) {
    EXPECT_TRUE(IsImageListName("x.brl"));
    EXPECT_TRUE(IsImageListName("/a/X.BRL"));
    EXPECT_TRUE(IsImageListName("x.Brl"));
    EXPECT_FALSE(IsImageListName("x.ksc"));
    EXPECT_FALSE(IsImageListName("brl"));
    EXPECT_FALSE(IsImageListName("xbrl"));
}

} // namespace

#include "batch/batch_mode.h"

namespace {

TEST(CommandLine, InputSpecFolders) {
    struct {
        const char* input;
        const char* folder;
        const char* pattern;
    } cases[] = {
        {"*.tif", "/work/here", "*.tif"},
        {"in/*.tif", "/work/here/in", "*.tif"},
        {"./in/a b.png", "/work/here/in", "a b.png"},
        {"/data/x/*.jpg", "/data/x", "*.jpg"},
        {"/top.bmp", "/", "top.bmp"},
        {"../up/*.*", "/work/here/../up", "*.*"},
    };
    for (const auto& c : cases) {
        std::string folder, pattern;
        ResolveInputPattern(c.input, "/work/here", &folder, &pattern);
        EXPECT_EQ(folder, c.folder) << c.input;
        EXPECT_EQ(pattern, c.pattern) << c.input;
    }
}

} // namespace
