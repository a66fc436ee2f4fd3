// The command line of a batch run:
//
//   brellix-batch SCRIPT [PATTERN | @ LIST] [l LOG] [e] [i] [n] [r]
//
// with each switch written "-x" or "/x". An argument that begins with "-" is
// always a switch. One that begins with "/" is a switch only when what
// follows is exactly one switch name ("/r", "/@"); any other is a path.
// Names are compared without case, except "@".
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CommandLine {
    enum State {
        ExpectScript = 0,
        AfterPlain = 1,
        ExpectImageList = 2,
        ExpectLogPath = 3,
        // After "-j": a number, or anything else (which then means "-j 0").
        MayTakeJobs = 4,
        ExpectShard = 5
    };
    enum Mode { Nothing = 0, ScriptGiven = 1, RunRequested = 2 };
    enum class Invalid {
        None,
        Wildcard,
        SwitchBeforeScript,
        UnknownSwitch,
        ListTwice,
        ListWithSpec,
        LogTwice,
        SecondSpec,
        SpecWithList,
        Unfinished,
        BadJobs,
        BadShard
    };

    std::string scriptPath;
    std::string inputSpec;
    std::string imageListPath;
    std::string logPath;
    bool showErrors = false;
    bool minimise = false;
    bool keepOpen = false;
    bool allFiles = true;
    // The console program's own switches. "-j N": files converted at a time
    // (0: one per processor); "--shard K/N": only the files whose position in
    // the list, counted from 0, is K modulo N.
    int jobs = 1;
    int shardIndex = 0;
    int shardCount = 1;
    Mode mode = Nothing;
    State state = ExpectScript;
    // Why the last refused argument was refused, for a hint beside the
    // fixed message.
    Invalid lastInvalid = Invalid::None;

    // One argument, without its switch character. False when it is invalid.
    bool parseParam(std::string_view text, bool isSwitch, bool isLast);
};

// The most files a run converts at a time.
inline constexpr int kMaxJobs = 1024;

// Splits an argument into switch flag and text, applying the "/" rule above.
struct SplitArgument {
    bool isSwitch;
    std::string_view text;
};
SplitArgument SplitCommandArgument(std::string_view arg);

// Parses every argument (argv[1..]). False at the first invalid one.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* cl);

// The script path as the run uses it: ".ksc" appended when its file-name
// part contains no ".".
std::string ScriptPathWithExtension(const std::string& path);

// True when the name ends in ".brl", in any case.
bool IsImageListName(std::string_view path);
