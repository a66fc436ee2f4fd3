// The build information list of the about box ("Kerv Brellix Build
// Information"): how the program was built and what it runs on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SystemFacts {
    std::string buildDate; // date and time of the build
    bool releaseBuild = true;
    std::string processor;
    // Memory and disk sizes in kilobytes; the load index in percent of the
    // physical memory in use. Paging memory is the swap space.
    uint64_t memoryLoad = 0;
    uint64_t totalPhysicalKB = 0, availablePhysicalKB = 0;
    uint64_t totalPagingKB = 0, availablePagingKB = 0;
    uint64_t tempFreeKB = 0; // free space of the temporary folder's file system
    int bitsPerPixel = 24;   // the screen's
    int storedDepth = 24;    // StoredScreenDepth of it
    int screenWidth = 0, screenHeight = 0;
    std::string osName; // uname's system name
    int osMajor = 0, osMinor = 0;
    std::string osInfo; // the distribution's name
};

// The facts of this build and machine; the screen's come from the caller.
SystemFacts GatherSystemFacts(int bitsPerPixel, int storedDepth, int screenWidth, int screenHeight);

// The list's lines, in order, each as the string table writes it (label and
// value separated by tabs).
std::vector<std::string> BuildInformationLines(const SystemFacts& facts);

// A size for the list: megabytes from 1024 KB on, kilobytes below.
struct SizeText {
    uint64_t value;
    std::string unit;
};
SizeText SizeInUnits(uint64_t kilobytes);

// Parsers of the system's text files, for GatherSystemFacts.
// "MemTotal:  16318484 kB" lines -> kilobytes of the named field (0 if absent).
uint64_t MeminfoField(std::string_view meminfo, std::string_view field);
// The first "model name" of /proc/cpuinfo; "" if none.
std::string CpuModelName(std::string_view cpuinfo);
// PRETTY_NAME of /etc/os-release, without quotes; "" if none.
std::string OsPrettyName(std::string_view osRelease);
// "6.1.0-18-amd64" -> 6, 1; false when the text does not start so.
bool ParseKernelVersion(std::string_view release, int* major, int* minor);
