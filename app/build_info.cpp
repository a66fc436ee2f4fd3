#include "app/build_info.h"

#include "app/main_strings.h"
#include "core/errors.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

// Calls f(line) for every line of text.
template <class F> void ForEachLine(std::string_view text, F f) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        f(text.substr(at, end - at));
        at = end + 1;
    }
}

std::string SizeLine(int id, uint64_t kilobytes) {
    const SizeText s = SizeInUnits(kilobytes);
    return FormatString(id, s.value, s.unit);
}

} // namespace

SizeText SizeInUnits(uint64_t kilobytes) {
    if (kilobytes >= 1024) return {kilobytes / 1024, LoadString(appids::UnitMB)};
    return {kilobytes, LoadString(appids::UnitKB)};
}

uint64_t MeminfoField(std::string_view meminfo, std::string_view field) {
    uint64_t value = 0;
    ForEachLine(meminfo, [&](std::string_view line) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.substr(0, colon) != field) return;
        value = std::strtoull(std::string(line.substr(colon + 1)).c_str(), nullptr, 10);
    });
    return value;
}

std::string CpuModelName(std::string_view cpuinfo) {
    std::string name;
    ForEachLine(cpuinfo, [&](std::string_view line) {
        const size_t colon = line.find(':');
        if (!name.empty() || colon == std::string_view::npos) return;
        if (Trim(line.substr(0, colon)) == "model name") name = Trim(line.substr(colon + 1));
    });
    return name;
}

std::string OsPrettyName(std::string_view osRelease) {
    std::string name;
    ForEachLine(osRelease, [&](std::string_view line) {
        constexpr std::string_view key = "PRETTY_NAME=";
        if (line.substr(0, key.size()) != key) return;
        std::string value = Trim(line.substr(key.size()));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        name = value;
    });
    return name;
}

bool ParseKernelVersion(std::string_view release, int* major, int* minor) {
    const std::string text(release);
    char* end = nullptr;
    const long a = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '.') return false;
    const char* second = end + 1;
    const long b = std::strtol(second, &end, 10);
    if (end == second) return false;
    *major = static_cast<int>(a);
    *minor = static_cast<int>(b);
    return true;
}

SystemFacts GatherSystemFacts(int bitsPerPixel, int storedDepth, int screenWidth,
                              int screenHeight) {
    SystemFacts f;
    f.buildDate = std::string(__DATE__) + " " + __TIME__;
#ifdef NDEBUG
    f.releaseBuild = true;
#else
    f.releaseBuild = false;
#endif
    f.processor = CpuModelName(ReadFile("/proc/cpuinfo"));
    utsname u{};
    const bool haveUname = ::uname(&u) == 0;
    if (f.processor.empty() && haveUname) f.processor = u.machine;

    const std::string meminfo = ReadFile("/proc/meminfo");
    f.totalPhysicalKB = MeminfoField(meminfo, "MemTotal");
    f.availablePhysicalKB = MeminfoField(meminfo, "MemAvailable");
    f.totalPagingKB = MeminfoField(meminfo, "SwapTotal");
    f.availablePagingKB = MeminfoField(meminfo, "SwapFree");
    if (f.totalPhysicalKB > 0 && f.availablePhysicalKB <= f.totalPhysicalKB)
        f.memoryLoad = (f.totalPhysicalKB - f.availablePhysicalKB) * 100 / f.totalPhysicalKB;

    const char* tmp = std::getenv("TMPDIR");
    struct statvfs fs {};
    if (::statvfs(tmp && *tmp ? tmp : "/tmp", &fs) == 0)
        f.tempFreeKB = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize / 1024;

    f.bitsPerPixel = bitsPerPixel;
    f.storedDepth = storedDepth;
    f.screenWidth = screenWidth;
    f.screenHeight = screenHeight;
    if (haveUname) {
        f.osName = u.sysname;
        ParseKernelVersion(u.release, &f.osMajor, &f.osMinor);
    }
    f.osInfo = OsPrettyName(ReadFile("/etc/os-release"));
    return f;
}

std::vector<std::string> BuildInformationLines(const SystemFacts& f) {
    using namespace appids;
    std::vector<std::string> lines;
    lines.push_back(LoadString(BuildDate) + f.buildDate);
    lines.push_back(LoadString(BuildMode) + LoadString(f.releaseBuild ? BuildRelease : BuildDebug));
    lines.push_back(LoadString(TargetProcessor) + f.processor);
    lines.push_back(LoadString(MemoryDriveStatus));
    lines.push_back(FormatString(MemoryLoad, f.memoryLoad));
    lines.push_back(SizeLine(TotalPhysical, f.totalPhysicalKB));
    lines.push_back(SizeLine(AvailablePhysical, f.availablePhysicalKB));
    lines.push_back(SizeLine(TotalPaging, f.totalPagingKB));
    lines.push_back(SizeLine(AvailablePaging, f.availablePagingKB));
    lines.push_back(SizeLine(TempFreeSpace, f.tempFreeKB));
    lines.push_back(LoadString(VideoDriver));
    lines.push_back(FormatString(BitsPerPixel, f.bitsPerPixel));
    const int shift = f.bitsPerPixel >= 0 && f.bitsPerPixel < 64 ? f.bitsPerPixel : 0;
    lines.push_back(FormatString(NumberOfColors, uint64_t{1} << shift));
    lines.push_back(FormatString(DIBOutput, f.storedDepth));
    if (f.bitsPerPixel <= 8)
        lines.push_back(FormatString(PaletteSize, 1 << f.bitsPerPixel));
    else
        lines.push_back(LoadString(PaletteSizeNone));
    lines.push_back(FormatString(Resolution, f.screenWidth, f.screenHeight));
    lines.push_back(LoadString(OperatingSystemInfo));
    lines.push_back(LoadString(OperatingSystem) + f.osName);
    lines.push_back(FormatString(OSVersion, f.osMajor, f.osMinor));
    lines.push_back(FormatString(AdditionalInfo, f.osInfo));
    return lines;
}
