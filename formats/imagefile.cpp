#include "formats/imagefile.h"

#include "core/errors.h"
#include "formats/codec_registry.h"
#include "formats/codec_util.h"
#include "formats/dibroutines.h"
#include "formats/format_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int IDS_READING = 1790;  // "Reading "
constexpr int IDS_WRITING = 1791;  // "Writing "

// Files from this size on are tried as BMPs whose rows can be read straight
// into the image; the first kBmpHead bytes must then hold the headers and palette.
constexpr size_t kReadRowsFrom = 256 * 1024;
constexpr size_t kBmpHead = 64 * 1024;

bool IsPnmSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The extension of the file name (after the last "/"), without the dot.
std::string Extension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start) return "";
    return path.substr(dot + 1);
}

bool PathMissing(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return false;
    return errno == ENOENT || errno == ENOTDIR;
}

// The file being read: open, then mapped whole and read-only when a decoder
// needs all of it (the decoders work on the bytes in place; mapping spares a
// copy out of the page cache).
class FileBytes {
  public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() {
        if (map_) munmap(map_, size_);
        if (fd_ >= 0) close(fd_);
    }
    // 0, 201 (cannot open, or empty), 207 (not a regular file), 211 (missing), 206.
    KervErrorCode Open(const std::string& path) {
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return PathMissing(path) ? KERV_FILE_MISSING : KERV_FILE_OPEN;
        struct stat st;
        if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return KERV_FILE_CHECK;
        if (st.st_size == 0) return KERV_FILE_OPEN;
        if (uint64_t(st.st_size) > KML_MaxBlockSize()) return KERV_IMAGE_TOO_LARGE;
        size_ = size_t(st.st_size);
        return KERV_OK;
    }
    // The first bytes of the file, up to n of them (fewer for a short file).
    bool Head(size_t n, std::vector<uint8_t>* head) const {
        head->resize(std::min(n, size_));
        head->resize(codec::ReadFullyAt(fd_, head->data(), head->size(), 0));
        return !head->empty();
    }
    KervErrorCode Map() {
        void* m = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, 0);
        if (m == MAP_FAILED) return KERV_FILE_CHECK;
        map_ = m;
        close(fd_);
        fd_ = -1;
        return KERV_OK;
    }
    int fd() const { return fd_; }
    const uint8_t* data() const { return static_cast<const uint8_t*>(map_); }
    size_t size() const { return size_; }

  private:
    int fd_ = -1;
    void* map_ = nullptr;
    size_t size_ = 0;
};

const ReadableFormatEntry* Decodable(int libraryValue) {
    const ReadableFormatEntry* e = FindReadableFormat(libraryValue);
    return (e && e->enabled() && DecoderFor(libraryValue)) ? e : nullptr;
}

KervErrorCode Decode(int libraryValue, const uint8_t* data, size_t size, StatusControlBlock* status,
                     KHANDLE* dib, ImageFileInfo* info) {
    DecodeRequest req;
    req.data = data;
    req.size = size;
    req.status = status;
    LoadFormatSettings("Decoding", libraryValue, &req.options);
    *info = ImageFileInfo{};
    const KervErrorCode e = DecoderFor(libraryValue)(req, dib, info);
    if (e != KERV_OK && *dib) {  // a decoder must not leave an image behind on failure
        KML_GlobalFree(*dib);
        *dib = nullptr;
    }
    if (e == KERV_OK) info->options.format = libraryValue;
    return e;
}

// The process's file-creation mask, read once before any thread starts
// (reading it means setting it, which must not race with files being made).
const mode_t kUmask = [] {
    const mode_t m = umask(0);
    umask(m);
    return m;
}();

// What a file is made of: bytes, then optionally rows sent straight from a
// locked image (an uncompressed BMP's pixels), with the progress of sending them.
struct FileContents {
    const std::vector<uint8_t>* bytes = nullptr;
    const uint8_t* rows = nullptr;
    uint32_t rowBytes = 0;
    int32_t rowCount = 0;
    StatusControlBlock* status = nullptr;
};

bool WriteAll(int fd, const uint8_t* p, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// 0, KERV_WRITE_FAILED, or KERV_STOPPED when the progress callback asked.
KervErrorCode WriteContents(int fd, const FileContents& c) {
    if (!WriteAll(fd, c.bytes->data(), c.bytes->size())) return KERV_WRITE_FAILED;
    if (c.rowCount <= 0) return KERV_OK;
    // Rows go out in pieces of about 1 MiB, each one a chance to report and stop.
    const uint32_t rowsPerMiB = (1u << 20) / std::max(1u, c.rowBytes);
    const int32_t perPiece = int32_t(std::clamp<uint32_t>(rowsPerMiB, 1, uint32_t(c.rowCount)));
    ProgressReporter progress(c.status);
    progress.begin(c.rowCount);
    for (int32_t r = 0; r < c.rowCount; r += perPiece) {
        if (progress.step(r)) return KERV_STOPPED;
        const int32_t n = std::min(perPiece, c.rowCount - r);
        if (!WriteAll(fd, c.rows + size_t(r) * c.rowBytes, size_t(n) * c.rowBytes)) return KERV_WRITE_FAILED;
    }
    progress.end();
    return KERV_OK;
}

// A name for a temporary file in dir: "tmp", six characters, "tmp".
std::string TemporaryName(const std::string& dir, unsigned attempt) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t x = (uint64_t(getpid()) << 32) ^ uint64_t(reinterpret_cast<uintptr_t>(&attempt)) ^
                 (uint64_t(attempt) * 0x9E3779B97F4A7C15ull) ^ uint64_t(time(nullptr));
    std::string name = dir + "/tmp";
    for (int i = 0; i < 6; ++i, x /= 36) name += kChars[x % 36];
    return name + "tmp";
}

// The file is written unnamed (O_TMPFILE) and given its name only when
// complete, so a run killed meanwhile leaves nothing behind. Over an existing
// file it is named "tmp......tmp" first and renamed over the target (a link
// cannot replace a file). false when the folder cannot do this (file systems
// without unnamed files, no /proc): the caller falls back.
bool WriteUnnamed(const std::string& dir, const std::string& path, const FileContents& contents,
                  KervErrorCode* result) {
#ifdef O_TMPFILE
    const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    *result = WriteContents(fd, contents);
    if (*result != KERV_OK) {
        close(fd);
        return true;
    }
    *result = KERV_WRITE_FAILED;
    if (linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (close(fd) == 0) *result = KERV_OK;
        return true;
    }
    if (errno != EEXIST) {
        close(fd);
        return errno == ENOENT ? false : true;  // no /proc: fall back
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = TemporaryName(dir, attempt);
        if (linkat(AT_FDCWD, self, AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            break;
        }
        const bool ok = std::rename(temporary.c_str(), path.c_str()) == 0;
        if (!ok) std::remove(temporary.c_str());
        if (close(fd) == 0 && ok) *result = KERV_OK;
        return true;
    }
    close(fd);
    return true;
#else
    (void)dir, (void)path, (void)contents, (void)result;
    return false;
#endif
}

// Writes bytes to a file in the target's folder that takes the target's name
// only once it is complete: a failed or stopped write never leaves a
// half-written output, and never touches the file that was there.
KervErrorCode WriteAtomically(const std::string& path, const FileContents& contents) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    KervErrorCode result = KERV_WRITE_FAILED;
    if (WriteUnnamed(dir, path, contents, &result)) return result;

    std::string tmpl = dir + "/tmpXXXXXXtmp";
    const int fd = mkstemps(tmpl.data(), 3);
    if (fd < 0) return KERV_WRITE_FAILED;
    result = WriteContents(fd, contents);
    // Files get the permissions a new file would (the temporary one is 0600).
    if (result == KERV_OK && fchmod(fd, 0666 & ~kUmask) != 0) result = KERV_WRITE_FAILED;
    if (close(fd) != 0 && result == KERV_OK) result = KERV_WRITE_FAILED;
    if (result == KERV_OK && std::rename(tmpl.c_str(), path.c_str()) != 0) result = KERV_WRITE_FAILED;
    if (result != KERV_OK) std::remove(tmpl.c_str());
    return result;
}

}  // namespace

int ImageTypeByContent(const uint8_t* p, size_t n) {
    auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(p, sig, len) == 0; };
    if (starts("BM", 2)) return 1;
    if (starts("\x89PNG\r\n\x1a\n", 8)) return 28;
    if (starts("\xFF\xD8\xFF", 3)) return 17;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return 10;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return 36;
    if (starts("8BPS", 4)) return 30;
    if (starts("\x89QZM\r\n\x1a\n", 8)) return 31;
    if (n >= 3 && p[0] == 'P' && p[1] >= '1' && p[1] <= '6' && (IsPnmSpace(p[2]) || p[2] == '#')) {
        const int kind = (p[1] - '1') % 3;
        return kind == 0 ? 22 : kind == 1 ? 25 : 29;
    }
    if (n >= 128 && p[0] == 0x0A && p[1] <= 5 && p[1] != 1 && p[2] <= 1 &&
        (p[3] == 1 || p[3] == 2 || p[3] == 4 || p[3] == 8))
        return 24;
    // TGA has no signature at the start; version 2 files end with one.
    if (n >= 18 + 26 && std::memcmp(p + n - 18, "TRUEVISION-XFILE.", 17) == 0) return 35;
    return 0;
}

KervErrorCode ReadImageFile(const std::string& path, int* format, KHANDLE* dib,
                            StatusControlBlock* status, ImageFileInfo* info) {
    if (format) *format = 0;
    if (!dib || *dib) return KERV_INVALID_PARAM;
    if (status && (!status->progress || !status->setStatusText)) return KERV_INVALID_PARAM;
    if (status) status->setStatusText(status, (LoadString(IDS_READING) + path).c_str());

    FileBytes file;
    if (KervErrorCode e = file.Open(path)) return e;
    // A big uncompressed BMP goes from the file straight into the image:
    // mapping it, then copying it, costs as much again, and more when
    // several threads map and unmap at once.
    if (file.size() >= kReadRowsFrom && Decodable(1)) {
        std::vector<uint8_t> head;
        if (file.Head(kBmpHead, &head) && ImageTypeByContent(head.data(), head.size()) == 1) {
            DecodeRequest req;
            req.data = head.data();
            req.size = head.size();
            req.status = status;
            LoadFormatSettings("Decoding", 1, &req.options);
            ImageFileInfo found;
            const KervErrorCode e = DecodeBMPFromFile(req, file.fd(), file.size(), dib, &found);
            if (e == KERV_OK) {
                found.options.format = 1;
                if (format) *format = 1;
                if (info) *info = found;
                return KERV_OK;
            }
            if (e == KERV_STOPPED || e == KERV_NO_MEMORY) return e;
        }
    }
    if (KervErrorCode e = file.Map()) return e;
    const uint8_t* data = file.data();
    const size_t size = file.size();

    // Contents first, then the extension.
    int value = ImageTypeByContent(data, size);
    if (!Decodable(value)) value = 0;
    const std::string ext = Extension(path);
    const ReadableFormatEntry* byExt = FindReadableFormatByExtension(ext);
    if (value == 0 && byExt && Decodable(byExt->libraryValue)) value = byExt->libraryValue;
    if (value == 0) return KERV_UNKNOWN_FORMAT;
    if (format) *format = value;

    ImageFileInfo found;
    KervErrorCode e = Decode(value, data, size, status, dib, &found);
    // A file whose contents fooled the detection may still be what its
    // extension says.
    if (e != KERV_OK && e != KERV_STOPPED && e != KERV_NO_MEMORY && byExt &&
        byExt->libraryValue != value && DecoderFor(byExt->libraryValue) != DecoderFor(value) &&
        Decodable(byExt->libraryValue)) {
        const KervErrorCode e2 = Decode(byExt->libraryValue, data, size, status, dib, &found);
        if (e2 == KERV_OK) {
            value = byExt->libraryValue;
            if (format) *format = value;
        }
        e = e2 == KERV_OK ? KERV_OK : e;
    }
    if (e == KERV_OK) {
        if (info) *info = found;
        return KERV_OK;
    }
    if (e == KERV_STOPPED || e == KERV_INVALID_PARAM || e == KERV_NO_MEMORY) return e;
    if (PathMissing(path)) return KERV_FILE_MISSING;
    if (access(path.c_str(), R_OK) != 0) return KERV_FILE_OPEN;
    return e;
}

bool BuildOutputInfo(KHANDLE dib, int id, int subType, const OutputOptions& o, ImageFileInfo* info) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f || !info) return false;
    *info = ImageFileInfo{};
    info->transparentIndex = KERV_NO_TRANSPARENCY;
    FormatOptions& opt = info->options;
    opt.format = f->libraryValue;
    switch (id) {
    case 1:
    case 4:
        opt.variant = subType == 0 ? 10 : 11;
        opt.compression = subType == 2 ? 7 : 1;
        break;
    case 5:
    case 29:
    case 30:
        opt.monochrome = subType == 0 || subType == 1;
        opt.preview = subType == 1 || subType == 3;
        break;
    case 6:
        opt.variant = subType <= 1 ? 40 : 41;
        opt.interlace = subType == 0 || subType == 2;
        break;
    case 7:
    case 11: opt.compression = subType == 0 ? 2 : 1; break;
    case 9:
    case 10:
        opt.variant = subType == 1 ? 71 : 70;
        opt.compressionFactor = int16_t(o.compression);
        break;
    case 12: opt.header = subType == 1; break;
    case 14:
    case 17:
    case 20: opt.variant = subType == 1 ? 91 : 90; break;
    case 16: opt.variant = subType == 1 ? 81 : subType == 2 ? 82 : 80; break;
    case 19: opt.interlace = subType == 1; break;  // the "Interlaced" sub-type
    case 23: opt.variant = subType == 1 ? 101 : 100; break;
    case 24:
        opt.compression = (subType == 0 || subType == 2 || subType == 4) ? 2 : 1;
        opt.depth = subType <= 1 ? 8 : subType <= 3 ? 16 : 24;
        break;
    case 25: {
        static constexpr int kTif[] = {3, 5, 9, 7, 1};
        opt.compression = kTif[ClampSubType(25, subType)];
        opt.planes = o.planeEncoding;
        break;
    }
    case 27: opt.variant = subType == 1 ? 131 : subType == 2 ? 132 : 130; break;
    case 31:
        opt.compression = subType == 0 ? 2 : 1;
        opt.compressionFactor = int16_t(o.compression);
        break;
    case 32: {
        static constexpr int kQzm[] = {7, 8, 1};
        opt.compression = kQzm[ClampSubType(32, subType)];
        opt.version = o.qzmVersion == 0 ? 4 : o.qzmVersion == 2 ? 5 : 3;
        break;
    }
    case 33:
    case 34: opt.planes = subType == 1 ? 3 : 2; break;
    default: break;
    }

    // Resolution, for the formats whose options page sets it.
    if (id == 9 || id == 10 || id == 16 || id == 25 || id == 27 || id == 32) {
        SGraphicAttributes& a = info->attributes;
        if (!o.maintainDPI) {
            a.resolution = o.dpi;
            a.resolutionUnit = 1;
        } else if (o.sourceInfo && o.sourceInfo->attributes.resolutionUnit != 0 &&
                   o.sourceInfo->attributes.resolution > 0) {
            a = o.sourceInfo->attributes;
        } else {
            a.resolution = 72.0;
            a.resolutionUnit = 1;
        }
    }

    // Transparency, for GIF and PNG.
    if (id == 6 || id == 19) {
        uint16_t index = KERV_NO_TRANSPARENCY;
        if (o.transparencyType == 0 && o.sourceInfo) {
            // The source file's own index; the same as the copy the batch
            // runner leaves in transparencyIndex, but it can say "none".
            index = o.sourceInfo->transparentIndex;
        } else if (o.transparencyType == 0 || o.transparencyType == 3) {
            if (o.transparencyIndex >= 0 && o.transparencyIndex <= 255) index = uint16_t(o.transparencyIndex);
        } else if (o.transparencyType == 2 && dib) {
            uint8_t r = GetRValue(o.transparentColor), g = GetGValue(o.transparentColor),
                    b = GetBValue(o.transparentColor);
            const int16_t found = LocateColorInPal(dib, &r, &g, &b, false);
            if (found >= 0 && found <= 255) index = uint16_t(found);
        }
        info->transparentIndex = index;
    }

    // Per-format adjustments.
    if ((f->libraryValue == 1 || f->libraryValue == 6) && opt.variant == 10) opt.compression = 1;
    if (f->libraryValue == 10) {
        if (opt.variant == 40) info->transparentIndex = KERV_NO_TRANSPARENCY;  // 87a has none
        else opt.variant = 41;
    }
    if (f->libraryValue == 28) opt.pngAlphaMode = 5;
    if (f->libraryValue == 36 && (opt.compression == 3 || opt.compression == 5)) opt.planes = 0;
    return true;
}

KervErrorCode WriteImageFile(const std::string& path, KHANDLE dib, int id, int subType,
                             const OutputOptions& options, StatusControlBlock* status) {
    const OutputFormatEntry* f = FindOutputFormat(id);
    if (!f || !dib || path.empty()) return KERV_INVALID_PARAM;
    if (!IsOutputFormatWritable(id)) return KERV_FORMAT_NOT_WRITABLE;
    const EncodeFunc encoder = EncoderFor(f->libraryValue);
    if (!encoder) return KERV_FORMAT_NOT_WRITABLE;
    {
        DIBLock d(dib);
        if (!d || !IsUsableDIB(d.header(), KML_GlobalSize(dib))) return KERV_INVALID_PARAM;
    }
    ImageFileInfo info;
    BuildOutputInfo(dib, id, subType, options, &info);
    if (status && status->setStatusText) {
        const size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        status->setStatusText(status, (LoadString(IDS_WRITING) + name).c_str());
    }

    KHANDLE converted = nullptr;
    if (KervErrorCode e = ConvertForEncoder(nullptr, dib, f->libraryValue, info.options, &converted)) return e;
    KOwnedHandle convertedOwner(converted);
    EncodeRequest req;
    req.dib = converted ? converted : dib;
    req.info = &info;
    req.status = status;
    if (encoder == EncodeBMP) {
        // An uncompressed BMP's pixels are the image's rows: they are written
        // from the image, not copied into a buffer first.
        DIBLock keep(req.dib);
        EncodedBMP parts;
        if (KervErrorCode e = EncodeBMPParts(req, &parts)) return e;
        FileContents contents{&parts.head, parts.rows, parts.rowBytes, parts.rowCount, status};
        return WriteAtomically(path, contents);
    }
    std::vector<uint8_t> bytes;
    if (KervErrorCode e = encoder(req, &bytes)) return e;
    convertedOwner.reset();
    return WriteAtomically(path, FileContents{&bytes});
}
