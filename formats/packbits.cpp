#include "formats/packbits.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace codec {

bool UnpackBits(const uint8_t* src, size_t srcLen, uint8_t* dst, size_t n, size_t* used) {
    size_t i = 0, o = 0;
    while (o < n) {
        if (i >= srcLen) return false;
        const int h = static_cast<int8_t>(src[i++]);
        if (h >= 0) {
            const size_t k = size_t(h) + 1;
            if (k > srcLen - i || k > n - o) return false;
            std::memcpy(dst + o, src + i, k);
            i += k, o += k;
        } else if (h != -128) {
            const size_t k = size_t(1 - h);
            if (i >= srcLen || k > n - o) return false;
            std::memset(dst + o, src[i++], k);
            o += k;
        }
    }
    if (used) *used = i;
    return true;
}

void PackBits(const uint8_t* src, size_t n, std::vector<uint8_t>* out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && src[i + run] == src[i])
            ++run;
        if (run >= 3) {
            out->push_back(static_cast<uint8_t>(257 - run));
            out->push_back(src[i]);
            i += run;
            continue;
        }
        // Literals up to the next run of three.
        size_t lit = 0;
        while (i + lit < n && lit < 128) {
            if (i + lit + 2 < n && src[i + lit] == src[i + lit + 1] &&
                src[i + lit] == src[i + lit + 2])
                break;
            ++lit;
        }
        out->push_back(static_cast<uint8_t>(lit - 1));
        out->insert(out->end(), src + i, src + i + lit);
        i += lit;
    }
}

struct Inflater::State {
    z_stream z{};
    bool ok = false;
    size_t inLeft = 0;
};

Inflater::Inflater(const uint8_t* src, size_t size) : s_(new State) {
    s_->ok = inflateInit(&s_->z) == Z_OK;
    s_->z.next_in = const_cast<Bytef*>(src);
    s_->inLeft = size;
}

Inflater::~Inflater() {
    inflateEnd(&s_->z);
    delete s_;
}

bool Inflater::Read(uint8_t* dst, size_t n) {
    z_stream& z = s_->z;
    z.next_out = dst;
    while (s_->ok && n > 0) {
        const uInt inChunk = uInt(std::min<size_t>(s_->inLeft, UINT_MAX / 2));
        const uInt outChunk = uInt(std::min<size_t>(n, UINT_MAX / 2));
        z.avail_in = inChunk;
        z.avail_out = outChunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        s_->inLeft -= inChunk - z.avail_in;
        n -= outChunk - z.avail_out;
        const bool progressed = z.avail_in != inChunk || z.avail_out != outChunk;
        if (n > 0 && (rc == Z_STREAM_END || (rc != Z_OK && rc != Z_BUF_ERROR) || !progressed))
            s_->ok = false;
    }
    return s_->ok;
}

struct Deflater::State {
    z_stream z{};
    bool ok = false;
};

Deflater::Deflater(int level, std::vector<uint8_t>* out) : s_(new State), out_(out) {
    s_->ok = deflateInit(&s_->z, level) == Z_OK;
}

Deflater::~Deflater() {
    deflateEnd(&s_->z);
    delete s_;
}

bool Deflater::Run(const uint8_t* src, size_t n, int flush) {
    z_stream& z = s_->z;
    z.next_in = const_cast<Bytef*>(src);
    uint8_t buf[16384];
    for (;;) {
        const uInt inChunk = uInt(std::min<size_t>(n, UINT_MAX / 2));
        z.avail_in = inChunk;
        z.next_out = buf;
        z.avail_out = sizeof buf;
        const int rc = deflate(&z, inChunk == n ? flush : Z_NO_FLUSH);
        n -= inChunk - z.avail_in;
        out_->insert(out_->end(), buf, buf + (sizeof buf - z.avail_out));
        if (rc == Z_STREAM_ERROR) return s_->ok = false;
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (n == 0 && z.avail_out != 0)) return true;
    }
}

bool Deflater::Write(const uint8_t* src, size_t n) {
    return s_->ok && (n == 0 || Run(src, n, Z_NO_FLUSH));
}

bool Deflater::Finish() {
    return s_->ok && Run(nullptr, 0, Z_FINISH);
}

} // namespace codec
