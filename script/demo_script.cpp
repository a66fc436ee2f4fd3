// The built-in demonstration script, carried as the bytes of a script file
// whose first 18 bytes (the signature) are zero. It is loaded exactly like a
// user's file: the signature is put back, the bytes go to a temporary file and
// CScript::Load reads that.
#include "script/script.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr int32_t U = PARAM_UNSET;
constexpr float UF = PARAM_UNSET_FLOAT;

struct DemoCommand {
    int32_t id;
    int32_t p[10];
    float f[2];
    const char* s0;
    const char* s1;
    uint32_t c[2];
};

constexpr uint32_t kWhite = 0x00FFFFFF;

// Twenty commands that run on any image: a tour of the tone, geometry and
// filter commands, ending with PNG output into the folder "brellix-demo".
constexpr DemoCommand kDemo[] = {
    {CMD_TO_TRUE_COLOR, {U, U, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_RESIZE, {6, 0, 640, 480, 0, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_BRIGHTNESS_CONTRAST, {10, 5, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_RED_GREEN_BLUE, {5, 0, -5, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_HIGHLIGHT_MIDTONE_SHADOW, {95, 50, 5, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_GAMMA, {U, U, U, U, U, U, U, U, U, U}, {1.2f, UF}, "", "", {0, 0}},
    {CMD_HUE_SATURATION_LUM, {0, 10, 0, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_UNSHARPEN, {10, 2, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_FLIP, {U, U, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_MIRROR, {U, U, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_ROTATE, {0, 1, 0, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_ROTATE, {5, 3, 1, U, U, U, U, U, U, U}, {UF, UF}, "", "", {kWhite, 0}},
    {CMD_ROTATE, {5, 3, 0, U, U, U, U, U, U, U}, {UF, UF}, "", "", {kWhite, 0}},
    {CMD_SHARPEN, {U, U, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_ADD_NOISE, {1, 5, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_SOFTEN, {U, U, U, U, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_CROP, {0, U, U, 8, 8, 8, 8, 0, 0, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_ADD_BORDERS, {10, 10, 10, 10, 1, U, U, U, U, U}, {UF, UF}, "", "", {kWhite, 0}},
    {CMD_TO_256_COLORS, {0, 2, 0, 1, U, U, U, U, U, U}, {UF, UF}, "", "", {0, 0}},
    {CMD_SET_OUTPUT_OPTIONS, {18, 0, 300, 15, 0, 0, 1, 1, U, U}, {UF, UF}, "brellix-demo", "",
     {0, 0}},
};
static_assert(std::size(kDemo) == 20);

constexpr size_t Length(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

constexpr size_t DemoBytes() {
    size_t n = SCRIPT_HEADER_BYTES;
    for (const DemoCommand& c : kDemo) n += SCRIPT_RECORD_MIN_BYTES + Length(c.s0) + Length(c.s1);
    return n;
}

template <size_t N> class Writer {
  public:
    constexpr void u8(uint8_t v) { out[at++] = v; }
    constexpr void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    }
    constexpr void text(const char* s) {
        u32(static_cast<uint32_t>(Length(s)));
        for (size_t i = 0; s[i]; ++i) u8(static_cast<uint8_t>(s[i]));
    }
    std::array<uint8_t, N> out{};
    size_t at = 0;
};

constexpr std::array<uint8_t, DemoBytes()> BuildDemo() {
    Writer<DemoBytes()> w;
    w.at = 18;  // the signature stays zero
    w.u8(static_cast<uint8_t>(SCRIPT_MAJOR_VERSION));
    w.u8(static_cast<uint8_t>(SCRIPT_MINOR_VERSION));
    w.u32(static_cast<uint32_t>(std::size(kDemo)));
    for (const DemoCommand& c : kDemo) {
        w.u32(static_cast<uint32_t>(c.id));
        for (int32_t p : c.p) w.u32(static_cast<uint32_t>(p));
        for (float f : c.f) w.u32(std::bit_cast<uint32_t>(f));
        w.text(c.s0);
        w.text(c.s1);
        for (uint32_t col : c.c) w.u32(col);
    }
    return w.out;
}

constexpr std::array<uint8_t, DemoBytes()> kDemoData = BuildDemo();

constexpr KervErrorCode kNoTempFile = 200;

}  // namespace

std::span<const uint8_t> DemoScriptData() { return kDemoData; }

KervErrorCode LoadDemoScript(CScript& script, std::string* message) {
    KOwnedHandle block(KML_GlobalAlloc(KMEM_MOVEABLE, kDemoData.size()));
    if (!block) return KERV_NO_MEMORY;
    KLock bytes(block.get());
    if (!bytes) return KERV_NO_MEMORY;
    std::memcpy(bytes.get(), kDemoData.data(), kDemoData.size());
    std::memcpy(bytes.get(), SCRIPT_SIGNATURE, 17);  // the 18th byte is already zero

    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) return kNoTempFile;
    std::string name = (dir / "tmpXXXXXX.tmp").string();
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) return kNoTempFile;
    size_t done = 0;
    while (done < kDemoData.size()) {
        const ssize_t n = write(fd, bytes.get() + done, kDemoData.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    bytes.unlock();
    block.reset();
    const bool loaded = done == kDemoData.size() && script.Load(name, nullptr, message);
    std::remove(name.c_str());
    return loaded ? KERV_OK : KERV_FILE_READ;
}
