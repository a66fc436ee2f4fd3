// Palette replacement and the two palette file readers.
//
// The readers load the file's bytes (the text form only its first few
// kilobytes, the RIFF form the whole file up to a cap) and hand them to the
// parsers, which the fuzz targets drive directly. Both parsers read through
// a cursor that refuses to go past the bytes it was given.
#include "imaging/palette.h"

#include "imaging/checks.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace imaging_checks;

// ---- Palette replacement ----

KervErrorCode ReplacePaletteDIB(KHANDLE source, KHANDLE* result, uint32_t count,
                                const RGBQUAD* palette) {
    if (!SlotGiven(result)) return KERV_INVALID_PARAM;
    if (!SourceGiven(source) || !palette) return KERV_INVALID_PARAM;
    {
        DIBLock src(source);
        if (!src) return KERV_INVALID_PARAM;
        if (DIBPaletteEntries(src.header()) != count) return KERV_PALETTE_MISMATCH;
    }
    KHANDLE copy = nullptr;
    if (const KervErrorCode rc = CopyDIB(source, &copy); rc != KERV_OK) return rc;
    KOwnedHandle owner(copy);
    {
        DIBLock dst(copy);
        if (!dst) return KERV_NO_MEMORY;
        std::memcpy(dst.palette(), palette, count * sizeof(RGBQUAD));
    }
    *result = owner.release();
    return KERV_OK;
}

namespace {

// ---- Reading bytes ----

// Reads forward through bytes in memory; a read that would pass the end
// fails and moves nothing. Skipping is a seek: it may go to the end but
// never beyond.
class Cursor {
  public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    bool Read(uint8_t* out, size_t n) {
        if (size_ - pos_ < n) return false;
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool Byte(uint8_t& out) { return Read(&out, 1); }
    void Skip(size_t n) { pos_ += std::min(n, size_ - pos_); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline uint8_t Upper(uint8_t c) {
    return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c;
}

bool SameLetters(const uint8_t* got, const char* want, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (Upper(got[i]) != Upper(uint8_t(want[i]))) return false;
    return true;
}

inline bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// ---- The text form ----

enum class Field { Ok, Short, Malformed };

// One number of an entry line and the byte that ends it: an optional '-'
// and one to three digits, then `end`.
Field ReadNumber(Cursor& in, uint8_t end, uint8_t& value) {
    int number = 0, digits = 0;
    bool negative = false, first = true;
    for (;; first = false) {
        uint8_t c;
        if (!in.Byte(c)) return Field::Short;
        if (c == end) break;
        if (c == '-' && first) {
            negative = true;
        } else if (IsDigit(c) && digits < 3) {
            number = number * 10 + (c - '0');
            ++digits;
        } else {
            return Field::Malformed;
        }
    }
    if (digits == 0) return Field::Malformed;
    value = negative ? 0 : uint8_t(std::min(number, 255));
    return Field::Ok;
}

KervErrorCode ParseText(Cursor& in, RGBQUAD* palette, uint16_t* count) {
    uint8_t signature[10];
    if (!in.Read(signature, sizeof signature)) return KERV_FILE_READ;
    if (!SameLetters(signature, "KERV-PAL", 8)) return KERV_BAD_PALETTE_FILE;
    uint8_t version[6];
    if (!in.Read(version, sizeof version)) return KERV_FILE_READ;
    if (!SameLetters(version, "0100", 4)) return KERV_PALETTE_VERSION;

    // "16" CR LF or "256" CR LF, told apart by the third byte.
    uint8_t text[3];
    if (!in.Read(text, sizeof text)) return KERV_FILE_READ;
    const size_t digits = text[2] == '\r' ? 2 : 3;
    in.Skip(digits == 2 ? 1 : 2);
    uint32_t entries = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (!IsDigit(text[i])) return KERV_PALETTE_COUNT;
        entries = entries * 10 + uint32_t(text[i] - '0');
    }
    if (entries != 16 && entries != 256) return KERV_PALETTE_COUNT;

    *count = uint16_t(entries);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t rgb[3] = {0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            const Field f = ReadNumber(in, c < 2 ? ' ' : '\r', rgb[c]);
            if (f == Field::Short) return KERV_FILE_READ;
            if (f == Field::Malformed) return KERV_BAD_PALETTE_FILE;
        }
        in.Skip(1);
        palette[i] = RGBQUAD{rgb[2], rgb[1], rgb[0], 0};
    }
    return KERV_OK;
}

// ---- The RIFF form ----

inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

// A chunk's body [begin, begin + size); size as the file states it.
struct Chunk {
    uint64_t begin = 0, size = 0;
};

// The first chunk in [from, to) whose id is `id` (and, when `form` is
// given, whose body starts with that form type). Chunks are padded to an
// even size. to must not exceed the data's size.
bool FindChunk(const uint8_t* data, uint64_t from, uint64_t to, const char* id, const char* form,
               Chunk& found) {
    for (uint64_t pos = from; to >= pos + 8;) {
        const uint8_t* header = data + pos;
        const uint64_t size = Le32(header + 4);
        if (std::memcmp(header, id, 4) == 0 &&
            (!form || (to >= pos + 12 && std::memcmp(header + 8, form, 4) == 0))) {
            found = {pos + 8, size};
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

KervErrorCode ParseRiff(const uint8_t* data, size_t size, RGBQUAD* palette, uint16_t* count) {
    Chunk riff, body;
    if (!FindChunk(data, 0, size, "RIFF", "PAL ", riff)) return KERV_BAD_PALETTE_FILE;
    // A RIFF size that claims more than the file holds is searched up to
    // the end of the file.
    const uint64_t riffEnd = std::min<uint64_t>(riff.begin + riff.size, size);
    if (!FindChunk(data, riff.begin + 4, riffEnd, "data", nullptr, body))
        return KERV_BAD_PALETTE_FILE;
    if (body.begin + body.size > size) return KERV_FILE_READ;

    const uint8_t* p = data + body.begin;
    if (body.size < 4 || body.size % 4 != 0) return KERV_PALETTE_COUNT;
    const uint32_t entries = Le16(p + 2);
    if (entries < 1 || entries > 256) return KERV_PALETTE_COUNT;
    if (4 + 4 * uint64_t{entries} > body.size) return KERV_PALETTE_COUNT;

    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = p + 4 + 4 * i;
        palette[i] = RGBQUAD{e[2], e[1], e[0], 0};
    }
    const uint32_t reported = entries <= 16 ? 16 : 256;
    for (uint32_t i = entries; i < reported; ++i)
        palette[i] = RGBQUAD{0, 0, 0, 0};
    *count = uint16_t(reported);
    return KERV_OK;
}

// ---- Files ----

class FileDescriptor {
  public:
    explicit FileDescriptor(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Opens a regular file (or anything readable that is not a folder); 201
// when that cannot be done.
KervErrorCode OpenForReading(const std::string& path, FileDescriptor& fd, struct stat& st) {
    if (path.empty() || fd.get() < 0) return KERV_FILE_OPEN;
    if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return KERV_FILE_OPEN;
    return KERV_OK;
}

// Reads up to `room` bytes; false on a read error.
bool ReadUpTo(int fd, uint8_t* out, size_t room, size_t& got) {
    got = 0;
    while (got < room) {
        const ssize_t n = ::read(fd, out + got, room - got);
        if (n < 0) return false;
        if (n == 0) break;
        got += size_t(n);
    }
    return true;
}

// Only this much of a text palette is ever looked at: 10 + 6 + 5 bytes of
// head and 256 lines of at most 16 bytes.
constexpr size_t kTextPaletteMostBytes = 21 + 256 * 16;

KervErrorCode Fail(KervErrorCode rc, uint16_t* count) {
    if (rc != KERV_OK) *count = 0;
    return rc;
}

} // namespace

KervErrorCode ParsePaletteText(const uint8_t* data, size_t size, RGBQUAD* palette,
                               uint16_t* count) {
    if (!palette || !count) return KERV_INVALID_PARAM;
    Cursor in(data, size);
    return Fail(ParseText(in, palette, count), count);
}

KervErrorCode ParseRiffPalette(const uint8_t* data, size_t size, RGBQUAD* palette,
                               uint16_t* count) {
    if (!palette || !count) return KERV_INVALID_PARAM;
    if (!data) size = 0;
    return Fail(ParseRiff(data, size, palette, count), count);
}

KervErrorCode ReadPaletteFile(const std::string& path, RGBQUAD* palette, uint16_t* count) {
    if (!palette || !count) return KERV_INVALID_PARAM;
    FileDescriptor fd(path);
    struct stat st {};
    if (const KervErrorCode rc = OpenForReading(path, fd, st); rc != KERV_OK)
        return Fail(rc, count);
    uint8_t bytes[kTextPaletteMostBytes];
    size_t got = 0;
    if (!ReadUpTo(fd.get(), bytes, sizeof bytes, got)) return Fail(KERV_FILE_READ, count);
    return ParsePaletteText(bytes, got, palette, count);
}

KervErrorCode ReadRiffPaletteFile(const std::string& path, RGBQUAD* palette, uint16_t* count) {
    if (!palette || !count) return KERV_INVALID_PARAM;
    FileDescriptor fd(path);
    struct stat st {};
    if (const KervErrorCode rc = OpenForReading(path, fd, st); rc != KERV_OK)
        return Fail(rc, count);
    if (st.st_size < 0 || uint64_t(st.st_size) > kMaxRiffPaletteFileBytes)
        return Fail(KERV_BAD_PALETTE_FILE, count);
    const size_t size = size_t(st.st_size);
    KBuffer work;
    if (!work.allocate(size, KMEM_MOVEABLE)) return Fail(KERV_NO_MEMORY, count);
    size_t got = 0;
    if (!ReadUpTo(fd.get(), work.data(), size, got)) return Fail(KERV_FILE_READ, count);
    return ParseRiffPalette(work.data(), got, palette, count);
}
