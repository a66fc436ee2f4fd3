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

namespace {

// The console's own switches: what each spelling gives, or why it is refused.
struct WorkCase {
    const char* name;
    V args;
    bool valid;
    int jobs, shardIndex, shardCount;
    CommandLine::Invalid why;
    const char* inputSpec;
};

class WorkSwitches : public ::testing::TestWithParam<WorkCase> {};

TEST_P(WorkSwitches, ParseAsDocumented) {
    const WorkCase& c = GetParam();
    CommandLine cl;
    ASSERT_EQ(ParseCommandLine(c.args, &cl), c.valid);
    if (!c.valid) {
        EXPECT_EQ(cl.lastInvalid, c.why);
        return;
    }
    EXPECT_EQ(cl.jobs, c.jobs);
    EXPECT_EQ(cl.shardIndex, c.shardIndex);
    EXPECT_EQ(cl.shardCount, c.shardCount);
    EXPECT_EQ(cl.inputSpec, c.inputSpec);
}

using I = CommandLine::Invalid;
INSTANTIATE_TEST_SUITE_P(
    Cases, WorkSwitches,
    ::testing::Values(
        WorkCase{"Default", {"a.ksc", "-r"}, true, 1, 0, 1, I::None, ""},
        WorkCase{"JobsNumber", {"a.ksc", "-r", "-j", "3", "*.png"}, true, 3, 0, 1, I::None, "*.png"},
        WorkCase{"JobsAttached", {"a.ksc", "-j8", "-r"}, true, 8, 0, 1, I::None, ""},
        WorkCase{"JobsSlash", {"a.ksc", "/j", "2", "/r"}, true, 2, 0, 1, I::None, ""},
        WorkCase{"JobsZero", {"a.ksc", "-j", "0"}, true, 0, 0, 1, I::None, ""},
        WorkCase{"JobsMost", {"a.ksc", "-j", "1024"}, true, 1024, 0, 1, I::None, ""},
        WorkCase{"JobsAloneLast", {"a.ksc", "-r", "-j"}, true, 0, 0, 1, I::None, ""},
        WorkCase{"JobsAloneBeforeSwitch", {"a.ksc", "-j", "-r"}, true, 0, 0, 1, I::None, ""},
        WorkCase{"JobsAloneBeforePattern", {"a.ksc", "-j", "*.png"}, true, 0, 0, 1, I::None, "*.png"},
        WorkCase{"JobsTooMany", {"a.ksc", "-j", "1025"}, false, 0, 0, 0, I::BadJobs, ""},
        WorkCase{"JobsHuge", {"a.ksc", "-j", "99999999999999"}, false, 0, 0, 0, I::BadJobs, ""},
        WorkCase{"JobsNegative", {"a.ksc", "-j", "-3"}, false, 0, 0, 0, I::BadJobs, ""},
        WorkCase{"JobsGarbageAttached", {"a.ksc", "-jx"}, false, 0, 0, 0, I::BadJobs, ""},
        WorkCase{"JobsNumberThenGarbage", {"a.ksc", "-j", "4x"}, false, 0, 0, 0, I::BadJobs, ""},
        WorkCase{"Shard", {"a.ksc", "--shard", "1/3", "-r"}, true, 1, 1, 3, I::None, ""},
        WorkCase{"ShardEquals", {"a.ksc", "-r", "--shard=0/1"}, true, 1, 0, 1, I::None, ""},
        WorkCase{"ShardLastOfSeven", {"a.ksc", "--shard", "6/7"}, true, 1, 6, 7, I::None, ""},
        WorkCase{"ShardIndexTooBig", {"a.ksc", "--shard", "3/3"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardOfNone", {"a.ksc", "--shard", "0/0"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardNegative", {"a.ksc", "--shard", "-1/3"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardGarbage", {"a.ksc", "--shard", "two/3"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardWithoutSlash", {"a.ksc", "--shard", "2"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardMissing", {"a.ksc", "--shard"}, false, 0, 0, 0, I::BadShard, ""},
        WorkCase{"ShardBeforeScript", {"--shard", "0/2", "a.ksc"}, false, 0, 0, 0,
                 I::SwitchBeforeScript, ""}),
    [](const ::testing::TestParamInfo<WorkCase>& p) { return std::string(p.param.name); });

} // namespace
