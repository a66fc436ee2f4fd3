#include "batch/cmdline.h"

#include <cctype>

namespace {

bool HasWildcard(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

bool IsSwitchName(std::string_view s) {
    if (s.size() != 1) return false;
    return s[0] == '@' || std::string_view("leinrjLEINRJ").find(s[0]) != std::string_view::npos;
}

// A whole number with an optional sign; false for anything else or a value
// beyond int.
bool ParseNumber(std::string_view s, long long* out) {
    size_t i = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) i = 1;
    if (i == s.size() || s.size() - i > 9) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = negative ? -v : v;
    return true;
}

// What follows "-j" is its value when it starts like a number ("4", "-3").
bool StartsLikeNumber(std::string_view s) {
    const size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
    return i < s.size() && s[i] >= '0' && s[i] <= '9';
}

} // namespace

bool CommandLine::parseParam(std::string_view text, bool isSwitch, bool isLast) {
    auto refuse = [this](Invalid why) {
        lastInvalid = why;
        return false;
    };
    auto takeJobs = [&](std::string_view value) {
        long long n = 0;
        if (!ParseNumber(value, &n) || n < 0 || n > kMaxJobs) return refuse(Invalid::BadJobs);
        jobs = static_cast<int>(n);
        return true;
    };
    if (state == MayTakeJobs) {
        state = AfterPlain;
        const std::string value = isSwitch ? "-" + std::string(text) : std::string(text);
        if (StartsLikeNumber(value)) return takeJobs(value);
        jobs = 0;  // "-j" alone: one worker per processor
    }
    if (state == ExpectShard) {
        // K/N with 0 <= K < N.
        state = AfterPlain;
        const size_t slash = text.find('/');
        long long k = 0, n = 0;
        if (isSwitch || slash == std::string_view::npos || !ParseNumber(text.substr(0, slash), &k) ||
            !ParseNumber(text.substr(slash + 1), &n) || n < 1 || k < 0 || k >= n)
            return refuse(Invalid::BadShard);
        shardIndex = static_cast<int>(k);
        shardCount = static_cast<int>(n);
        return true;
    }
    // The long switch "--shard K/N" (or "--shard=K/N").
    if (isSwitch && (text == "-shard" || text.rfind("-shard=", 0) == 0)) {
        if (state != AfterPlain)
            return refuse(state == ExpectScript ? Invalid::SwitchBeforeScript : Invalid::Unfinished);
        state = ExpectShard;
        if (text.size() > 6) return parseParam(text.substr(7), false, isLast);
        return isLast ? refuse(Invalid::BadShard) : true;
    }
    if (isSwitch) {
        // Switches only follow the script or a value.
        if (state != AfterPlain)
            return refuse(state == ExpectScript ? Invalid::SwitchBeforeScript
                                                : Invalid::Unfinished);
        if (text == "@") {
            if (!imageListPath.empty()) return refuse(Invalid::ListTwice);
            if (!inputSpec.empty()) return refuse(Invalid::ListWithSpec);
            state = ExpectImageList;
        } else if (text.size() == 1) {
            switch (std::tolower(static_cast<unsigned char>(text[0]))) {
            case 'l':
                if (!logPath.empty()) return refuse(Invalid::LogTwice);
                state = ExpectLogPath;
                break;
            case 'e':
                showErrors = true;
                break;
            case 'i':
                minimise = true;
                break;
            case 'n':
                keepOpen = true;
                break;
            case 'r':
                mode = RunRequested;
                break;
            case 'j':
                state = MayTakeJobs;
                break;
            default:
                return refuse(Invalid::UnknownSwitch);
            }
        } else if ((text[0] == 'j' || text[0] == 'J') && state == AfterPlain) {
            // "-j4": the number written against the switch.
            return takeJobs(text.substr(1));
        } else {
            return refuse(Invalid::UnknownSwitch);
        }
    } else {
        switch (state) {
        case ExpectScript:
            if (HasWildcard(text)) return refuse(Invalid::Wildcard);
            scriptPath = text;
            if (mode == Nothing) mode = ScriptGiven;
            break;
        case ExpectImageList:
            if (HasWildcard(text)) return refuse(Invalid::Wildcard);
            imageListPath = text;
            allFiles = false;
            break;
        case ExpectLogPath:
            if (HasWildcard(text)) return refuse(Invalid::Wildcard);
            logPath = text;
            break;
        case MayTakeJobs:
        case ExpectShard:  // handled above
        case AfterPlain:
            if (!inputSpec.empty()) return refuse(Invalid::SecondSpec);
            if (!imageListPath.empty()) return refuse(Invalid::SpecWithList);
            inputSpec = text;
            allFiles = false;
            break;
        }
        state = AfterPlain;
    }
    if (isLast && state == MayTakeJobs) {
        jobs = 0;
        state = AfterPlain;
    }
    if (isLast && (state == ExpectImageList || state == ExpectLogPath))
        return refuse(Invalid::Unfinished);
    return true;
}

SplitArgument SplitCommandArgument(std::string_view arg) {
    if (!arg.empty() && arg[0] == '-') return {true, arg.substr(1)};
    // Absolute paths begin with "/": only "/x" with x a switch name is a switch.
    if (arg.size() == 2 && arg[0] == '/' && IsSwitchName(arg.substr(1)))
        return {true, arg.substr(1)};
    return {false, arg};
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* cl) {
    for (size_t i = 0; i < args.size(); ++i) {
        const SplitArgument a = SplitCommandArgument(args[i]);
        if (!cl->parseParam(a.text, a.isSwitch, i + 1 == args.size())) return false;
    }
    return true;
}

std::string ScriptPathWithExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (path.find('.', nameStart) == std::string::npos) return path + ".ksc";
    return path;
}

bool IsImageListName(std::string_view path) {
    if (path.size() < 4) return false;
    std::string_view ext = path.substr(path.size() - 4);
    return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'b' &&
           std::tolower(static_cast<unsigned char>(ext[2])) == 'r' &&
           std::tolower(static_cast<unsigned char>(ext[3])) == 'l';
}
