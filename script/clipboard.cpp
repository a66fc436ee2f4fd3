// The clipboard record of one command ("KBM Script Command").
//
//   0   4  ID             44  8  F0 F1
//   4  40  P0..P9         52  8  C0 C1
//  60      S0, zero-terminated, then S1, zero-terminated
#include "script/script.h"

#include <bit>
#include <cstring>

namespace {

constexpr size_t kFixedBytes = 60;
// The clipboard block is four bytes larger than the record.
constexpr size_t kSpareBytes = 4;

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

size_t RecordBytes(const CScriptCommand& c) {
    return kFixedBytes + c.m_strParam[0].size() + 1 + c.m_strParam[1].size() + 1;
}

void Fill(const CScriptCommand& c, uint8_t* p) {
    Put32(p, static_cast<uint32_t>(c.m_nID));
    for (int i = 0; i < 10; ++i) Put32(p + 4 + 4 * i, static_cast<uint32_t>(c.m_nParam[i]));
    for (int i = 0; i < 2; ++i) Put32(p + 44 + 4 * i, std::bit_cast<uint32_t>(c.m_fParam[i]));
    for (int i = 0; i < 2; ++i) Put32(p + 52 + 4 * i, c.m_crColor[i]);
    uint8_t* s = p + kFixedBytes;
    for (const std::string& text : c.m_strParam) {
        std::memcpy(s, text.data(), text.size());
        s[text.size()] = 0;
        s += text.size() + 1;
    }
}

}  // namespace

std::vector<uint8_t> EncodeClipboardRecord(const CScriptCommand& command) {
    std::vector<uint8_t> out(RecordBytes(command));
    Fill(command, out.data());
    return out;
}

KHANDLE MakeClipboardBlock(const CScriptCommand& command) {
    KOwnedHandle block(KML_GlobalAlloc(KMEM_MOVEABLE | KMEM_DDESHARE,
                                       RecordBytes(command) + kSpareBytes));
    if (!block) return nullptr;
    KLock lock(block.get());
    if (!lock) return nullptr;
    Fill(command, lock.get());
    lock.unlock();
    return block.release();
}

bool DecodeClipboardRecord(std::span<const uint8_t> bytes, CScriptCommand& command) {
    if (bytes.size() < kFixedBytes) return false;
    const uint8_t* p = bytes.data();
    std::string strings[2];
    size_t at = kFixedBytes;
    for (std::string& s : strings) {
        const void* end = at < bytes.size() ? std::memchr(p + at, 0, bytes.size() - at) : nullptr;
        if (!end) return false;
        const size_t len = static_cast<size_t>(static_cast<const uint8_t*>(end) - (p + at));
        s.assign(reinterpret_cast<const char*>(p + at), len);
        at += len + 1;
    }
    command.m_nID = static_cast<int32_t>(Get32(p));
    for (int i = 0; i < 10; ++i) command.m_nParam[i] = static_cast<int32_t>(Get32(p + 4 + 4 * i));
    for (int i = 0; i < 2; ++i) command.m_fParam[i] = std::bit_cast<float>(Get32(p + 44 + 4 * i));
    for (int i = 0; i < 2; ++i) command.m_crColor[i] = Get32(p + 52 + 4 * i);
    command.m_strParam[0] = std::move(strings[0]);
    command.m_strParam[1] = std::move(strings[1]);
    return true;
}
