// libFuzzer target for the BMP decoder and encoder, and for reading a BMP's
// rows from the file straight into the image, which must give exactly what
// decoding the bytes gives whenever it accepts a file.
#include "fuzz/formats/decoder_fuzz.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// The image's header, palette and pixels, for comparing two decodes.
std::vector<uint8_t> Bytes(KHANDLE h) {
    DIBLock d(h);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(d.header());
    return std::vector<uint8_t>(p, p + DIBTotalBytes(d.header()));
}

void FuzzFromFile(const uint8_t* data, size_t size) {
    const size_t live = KML_LiveBlockCount();
    const int fd = memfd_create("bmp", MFD_CLOEXEC);
    if (fd < 0) return;
    if (size && write(fd, data, size) != ssize_t(size)) {
        close(fd);
        return;
    }
    DecodeRequest head;
    head.data = data;
    head.size = std::min<size_t>(size, 64 * 1024);
    KHANDLE direct = nullptr;
    const KervErrorCode e = DecodeBMPFromFile(head, fd, size, &direct, nullptr);
    close(fd);
    if (e == KERV_OK) {
        if (!direct) std::abort();
        DecodeRequest whole;
        whole.data = data;
        whole.size = size;
        KHANDLE decoded = nullptr;
        if (DecodeBMP(whole, &decoded, nullptr) != KERV_OK || Bytes(decoded) != Bytes(direct)) std::abort();
        KML_GlobalFree(decoded);
        KML_GlobalFree(direct);
    } else if (direct || (e != KERV_UNSUPPORTED_VARIANT && e != KERV_NO_MEMORY)) {
        std::abort();
    }
    if (KML_LiveBlockCount() != live) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A few bytes of run-length data may describe a huge blank image; a
    // 16 MB limit keeps the runs fast.
    FuzzDecoder(data, size, DecodeBMP, EncodeBMP, uint64_t{16} << 20);
    FuzzFromFile(data, size);
    return 0;
}
