#include "batch/cmdline.h"

#include <cctype>

namespace {

bool HasWildcard(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

bool IsSwitchName(std::string_view s) {
    if (s.size() != 1) return false;
    return s[0] == '@' || std::string_view("leinrLEINR").find(s[0]) != std::string_view::npos;
}

} // namespace

bool CommandLine::parseParam(std::string_view text, bool isSwitch, bool isLast) {
    auto refuse = [this](Invalid why) {
        lastInvalid = why;
        return false;
    };
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
            default:
                return refuse(Invalid::UnknownSwitch);
            }
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
        case AfterPlain:
            if (!inputSpec.empty()) return refuse(Invalid::SecondSpec);
            if (!imageListPath.empty()) return refuse(Invalid::SpecWithList);
            inputSpec = text;
            allFiles = false;
            break;
        }
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
