// CScript::Load on arbitrary bytes. The bytes go into an in-memory file
// (memfd) opened by path, so the real reader runs. Every accepted script is
// saved and loaded again: the second load must succeed and give the same
// bytes, and descriptions must be buildable for every command.
#include "script/script.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

int MemFile() {
    static int fd = memfd_create("script_load_fuzz", 0);
    return fd;
}

std::string PathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool Fill(int fd, const uint8_t* data, size_t size) {
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> Contents(int fd) {
    std::vector<uint8_t> out(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    if (pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = MemFile();
    if (fd < 0 || !Fill(fd, data, size)) return 0;
    CScript script;
    bool older = false;
    std::string message;
    if (!script.Load(PathOf(fd), &older, &message)) {
        if (message.empty() || script.GetCount() != 0) std::abort();
        return 0;
    }
    for (int i = 0; i < script.GetCount(); ++i) {
        std::string text;
        script.GetCommandDescription(i, text);
    }
    if (!script.Save(PathOf(fd), &message)) std::abort();
    const std::vector<uint8_t> saved = Contents(fd);
    CScript again;
    if (!again.Load(PathOf(fd), nullptr, &message) || again.GetCount() != script.GetCount())
        std::abort();
    if (!again.Save(PathOf(fd), &message) || Contents(fd) != saved) std::abort();
    return 0;
}
