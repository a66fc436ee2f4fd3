// Script files (.ksc): CScript::Load and CScript::Save.
//
//   offset 0   18  "KERV Batch Script" and a zero
//          18   1  major version (signed), written as 1
//          19   1  minor version (signed), written as 2
//          20   4  count of command records
//          24      records, back to back:
//                  ID, P0..P9 (int32), F0 F1 (float32),
//                  S0 and S1 (int32 length, then the bytes, no terminator),
//                  C0 C1 (COLORREF)
// All little-endian. Nothing follows the last record.
//
// The format has no lengths or checks of its own, so the reader trusts
// nothing: a count the file cannot hold, a negative string length, or one
// longer than the rest of the file refuses the file as "not a script"; strings
// are read in bounded chunks so no allocation exceeds what was actually read.
#include "script/script.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The system's reason for a file error, as the messages show it.
std::string Reason(int err) {
    std::string r = std::strerror(err);
    if (r.size() > 254) r.resize(254);
    return r;
}

void SetMessage(std::string* message, std::string text) {
    if (message) *message = std::move(text);
}

enum class ReadResult { Ok, Truncated, Failed };

// Reads from a file whose size may be known (regular files), remembering the
// first error.
class Reader {
  public:
    explicit Reader(std::FILE* f) : f_(f) {
        struct stat st {};
        if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0) {
            known_ = true;
            size_ = static_cast<uint64_t>(st.st_size);
        }
    }
    ReadResult read(void* dst, size_t n) {
        const size_t got = std::fread(dst, 1, n, f_);
        pos_ += got;
        if (got == n) return ReadResult::Ok;
        if (std::ferror(f_)) {
            error_ = errno ? errno : EIO;
            return ReadResult::Failed;
        }
        return ReadResult::Truncated;
    }
    template <class T> ReadResult value(T& out) {
        uint8_t b[sizeof(T)];
        const ReadResult r = read(b, sizeof b);
        if (r != ReadResult::Ok) return r;
        std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>, int32_t, T>> u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<decltype(u)>(uint64_t{b[i]} << (8 * i));
        out = std::bit_cast<T>(u);
        return ReadResult::Ok;
    }
    // Bytes left, when the size is known; otherwise "as many as needed".
    uint64_t remaining() const { return known_ ? (size_ > pos_ ? size_ - pos_ : 0) : UINT64_MAX; }
    int error() const { return error_; }

  private:
    std::FILE* f_;
    bool known_ = false;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
    int error_ = 0;
};

ReadResult ReadString(Reader& in, std::string& out) {
    int32_t len = 0;
    if (ReadResult r = in.value(len); r != ReadResult::Ok) return r;
    if (len < 0 || static_cast<uint64_t>(len) > in.remaining()) return ReadResult::Truncated;
    out.clear();
    size_t left = static_cast<size_t>(len);
    while (left > 0) {
        const size_t chunk = std::min<size_t>(left, 64 * 1024);
        const size_t at = out.size();
        out.resize(at + chunk);
        if (ReadResult r = in.read(out.data() + at, chunk); r != ReadResult::Ok) return r;
        left -= chunk;
    }
    return ReadResult::Ok;
}

ReadResult ReadRecord(Reader& in, CScriptCommand& c) {
    ReadResult r = in.value(c.m_nID);
    for (int32_t& p : c.m_nParam)
        if (r == ReadResult::Ok) r = in.value(p);
    for (float& f : c.m_fParam)
        if (r == ReadResult::Ok) r = in.value(f);
    for (std::string& s : c.m_strParam)
        if (r == ReadResult::Ok) r = ReadString(in, s);
    for (COLORREF& col : c.m_crColor)
        if (r == ReadResult::Ok) r = in.value(col);
    return r;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool CScript::Load(const std::string& path, bool* olderVersion, std::string* message) {
    errno = 0;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        SetMessage(message, FormatString(IDS_SCRIPT_LOAD_FAILED, Reason(errno ? errno : ENOENT)));
        return false;
    }
    Reader in(f.get());
    const auto fail = [&](ReadResult r) {
        if (r == ReadResult::Failed)
            SetMessage(message, FormatString(IDS_SCRIPT_LOAD_FAILED, Reason(in.error())));
        else
            SetMessage(message, LoadString(IDS_NOT_A_SCRIPT));
        return false;
    };

    char signature[18];
    if (ReadResult r = in.read(signature, sizeof signature); r != ReadResult::Ok) return fail(r);
    if (std::memcmp(signature, SCRIPT_SIGNATURE, sizeof signature) != 0)
        return fail(ReadResult::Truncated);

    int8_t version[2];
    if (ReadResult r = in.read(version, 2); r != ReadResult::Ok) return fail(r);
    const int8_t major = version[0], minor = version[1];
    if (major > SCRIPT_MAJOR_VERSION || (major == SCRIPT_MAJOR_VERSION && minor > SCRIPT_MINOR_VERSION)) {
        SetMessage(message, LoadString(IDS_SCRIPT_TOO_NEW));
        return false;
    }
    if (minor < SCRIPT_MINOR_VERSION && olderVersion) *olderVersion = true;

    int32_t count = 0;
    if (ReadResult r = in.value(count); r != ReadResult::Ok) return fail(r);
    if (count > 0 && static_cast<uint64_t>(count) > in.remaining() / SCRIPT_RECORD_MIN_BYTES)
        return fail(ReadResult::Truncated);

    // Parsed apart first: a damaged file leaves the script as it was; after a
    // read error the commands read so far are kept.
    std::vector<std::unique_ptr<CScriptCommand>> read;
    ReadResult status = ReadResult::Ok;
    for (int32_t i = 0; i < count; ++i) {
        auto c = std::make_unique<CScriptCommand>();
        status = ReadRecord(in, *c);
        if (status != ReadResult::Ok) break;
        read.push_back(std::move(c));
    }
    if (status == ReadResult::Truncated) return fail(status);
    for (auto& c : read) m_commands.push_back(c.release());
    if (status == ReadResult::Failed) return fail(status);
    return true;
}

bool CScript::Save(const std::string& path, std::string* message) const {
    std::vector<uint8_t> out(SCRIPT_SIGNATURE, SCRIPT_SIGNATURE + sizeof SCRIPT_SIGNATURE);
    out.push_back(static_cast<uint8_t>(SCRIPT_MAJOR_VERSION));
    out.push_back(static_cast<uint8_t>(SCRIPT_MINOR_VERSION));
    Put32(out, static_cast<uint32_t>(GetCount()));
    for (const CScriptCommand* c : m_commands) {
        Put32(out, static_cast<uint32_t>(c->m_nID));
        for (int32_t p : c->m_nParam) Put32(out, static_cast<uint32_t>(p));
        for (float fl : c->m_fParam) Put32(out, std::bit_cast<uint32_t>(fl));
        for (const std::string& s : c->m_strParam) {
            Put32(out, static_cast<uint32_t>(s.size()));
            out.insert(out.end(), s.begin(), s.end());
        }
        for (COLORREF col : c->m_crColor) Put32(out, col);
    }

    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        SetMessage(message, FormatString(IDS_SCRIPT_SAVE_FAILED, Reason(errno ? errno : EIO)));
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    int err = written ? 0 : (errno ? errno : EIO);
    if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
    if (!written || err != 0) {
        SetMessage(message, FormatString(IDS_SCRIPT_SAVE_FAILED, Reason(err ? err : EIO)));
        return false;
    }
    return true;
}
