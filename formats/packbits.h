// The two compressions the layered formats share: PackBits runs (per row)
// and zlib's deflate (per plane or per layer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

// Unpacks PackBits data into exactly n bytes: a header byte h of 0..127 is
// followed by h + 1 literal bytes, -1..-127 by one byte repeated 1 - h times,
// -128 is skipped. False when the data ends first or a run reaches past n.
// *used (may be null) receives the number of source bytes consumed.
bool UnpackBits(const uint8_t* src, size_t srcLen, uint8_t* dst, size_t n, size_t* used = nullptr);

// Appends n bytes as PackBits: runs of 3 or more equal bytes as repeats,
// everything else as literals, no packet longer than 128 bytes.
void PackBits(const uint8_t* src, size_t n, std::vector<uint8_t>* out);

// The fewest bytes PackBits can describe n bytes in: two per 128.
constexpr uint64_t PackBitsMinimumSize(uint64_t n) {
    return 2 * ((n + 127) / 128);
}

// Deflate never expands data by more than this factor (a run of 258 bytes
// in a quarter of a byte, at best).
inline constexpr uint64_t kDeflateMaxRatio = 1032;

// Reads a zlib stream a piece at a time.
class Inflater {
  public:
    Inflater(const uint8_t* src, size_t size);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    // Exactly n more bytes; false when the stream is damaged or ends first
    // (and from then on).
    bool Read(uint8_t* dst, size_t n);

  private:
    struct State;
    State* s_;
};

// Writes one zlib stream a piece at a time, appending to `out`.
class Deflater {
  public:
    Deflater(int level, std::vector<uint8_t>* out);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    bool Write(const uint8_t* src, size_t n);
    // Ends the stream; false when zlib failed at any point.
    bool Finish();

  private:
    bool Run(const uint8_t* src, size_t n, int flush);
    struct State;
    State* s_;
    std::vector<uint8_t>* out_;
};

} // namespace codec
