// Optimized palettes: a palette fitted to the colours of one image or of a
// whole set of images.
//
// An accumulator runs in three steps: begin (choose the algorithm and the
// number of colours), add images (any number, any mix of 1, 4, 8 and 24
// bits), generate (write the palette and release everything). Two
// algorithms:
//   median cut  a histogram of 15-bit colours (5 bits a channel) split into
//               boxes, each box's colours averaged into one entry;
//   octree      a colour tree of at most K leaves, reduced after every
//               inserted colour, each leaf's pixels averaged into one entry.
// Palettes are arrays of {blue, green, red, 0} entries with room for 256.
//
// Images are only read. Pixels are taken in stored order: bottom row first,
// left to right (the octree's choices depend on that order). A palette
// image contributes the colour of each pixel's entry; an index beyond the
// image's colour table counts as black.
//
// Codes: 0; 101 bad arguments or nothing begun; 102 out of memory. No status
// block: adding and generating report no progress.
#pragma once

#include "core/dib.h"

#include <array>
#include <cstdint>
#include <optional>

inline constexpr uint8_t kPaletteMedianCut = 0;
inline constexpr uint8_t kPaletteOctree = 1;
// What generating answers when nothing was begun.
inline constexpr uint16_t kNoPaletteBegun = 0xFFFF;

// The 20 colours a 256-colour Windows display reserves: ten for the start
// of a palette, ten for its end.
extern const RGBQUAD kWindowsSystemColors[20];

// One palette being built. The process-wide functions below drive one
// static instance; code that needs a palette of its own (one image's, while
// a batch run gathers another) runs a private one.
class PaletteAccumulator {
  public:
    PaletteAccumulator() = default;
    ~PaletteAccumulator() { Discard(); }
    PaletteAccumulator(const PaletteAccumulator&) = delete;
    PaletteAccumulator& operator=(const PaletteAccumulator&) = delete;

    // Discards whatever was being built and starts anew, even when the new
    // arguments are refused (the accumulator is then idle). kind 0 median
    // cut, 1 octree; colourCount K 1..256, at most 236 when the caller will
    // ask for the Windows colours (withWindowsColors); depth 0..8, the level
    // of the octree's finest leaves (callers pass 8; the median cut ignores
    // it). 101 for anything else; 102 when the median cut's histogram
    // cannot be had.
    KervErrorCode Begin(uint8_t kind, uint16_t colourCount, uint8_t depth,
                        bool withWindowsColors = false);

    // Counts the image's pixels. 101 when nothing is begun, for a null or
    // unlockable handle or a block that does not hold the DIB its header
    // describes. A depth other than 1, 4, 8 or 24 adds nothing and gives 0.
    //
    // The octree takes its nodes from pool blocks of the memory manager.
    // When one cannot be had the answer is 102: the colours inserted so far
    // (part of this image, perhaps) stay in the tree, which remains whole,
    // and the accumulator stays usable. The median cut never allocates here;
    // its 32-bit counters stop at 2^32 - 1 rather than wrap.
    KervErrorCode AddImage(KHANDLE dib);

    // Writes the palette and returns the number of generated entries,
    // kNoPaletteBegun when nothing is begun; the accumulator is idle
    // afterwards whatever the outcome.
    //
    // Median cut: with n distinct 15-bit colours and n <= K, the n colours in
    // key order (each 5-bit value c widened to c * 8 + c / 4) and entries
    // n..K-1 black, count n; otherwise K entries, one per box. Octree: one
    // entry per leaf (depth first, children in order), count = leaves; 0 when
    // the tree holds more than K leaves.
    //
    // With includeWindowsColors and a count C of at most 236, the generated
    // entries move up ten places and the system colours take entries 0..9
    // and C+10..C+19; the count returned stays C. Above 236 nothing is
    // placed. A null palette writes nothing and gives 0.
    uint16_t Generate(RGBQUAD* palette, bool includeWindowsColors);

    // Back to idle, every block freed.
    void Discard();
    bool Begun() const { return state_ != State::Idle; }

  private:
    struct Node;
    static constexpr int kMaxLevels = 9;      // levels 0..8
    static constexpr int kMaxPoolBlocks = 16; // far more than K <= 256 leaves need

    enum class State { Idle, MedianCut, Octree };

    KervErrorCode CountMedianCut(const BITMAPINFOHEADER* h);
    KervErrorCode InsertOctree(const BITMAPINFOHEADER* h);
    KervErrorCode Insert24(const BITMAPINFOHEADER* h);
    template <int Bits> KervErrorCode InsertIndexed(const BITMAPINFOHEADER* h);
    uint16_t GenerateMedianCut(RGBQUAD* palette);
    uint16_t GenerateOctree(RGBQUAD* palette);

    // Octree plumbing.
    bool Reserve(); // room for one more insertion's nodes
    Node* NewNode(int level);
    void FreeNode(Node* n);
    // Inserts a colour with a weight; *leaf is the leaf that holds it now,
    // or null when folds may have moved it.
    bool Insert(uint8_t red, uint8_t green, uint8_t blue, uint64_t pixels, Node** leaf);
    // A colour's leaf stays its leaf until the next fold: recently inserted
    // colours skip the walk down the tree.
    struct LeafCache {
        Node* leaf = nullptr;
        uint64_t folds = 0;
        uint32_t key = 0;
    };
    bool InsertCached(LeafCache& entry, uint32_t key, uint8_t red, uint8_t green, uint8_t blue,
                      uint64_t pixels);
    static void AddToLeaf(Node* n, uint8_t red, uint8_t green, uint8_t blue, uint64_t pixels);
    bool Reduce();
    void Walk(const Node* n, RGBQUAD* palette, uint16_t& count) const;

    State state_ = State::Idle;
    uint16_t colours_ = 0;
    int depth_ = 8;

    // Median cut: the counters followed by room for the key list.
    std::optional<KBuffer> histogram_;
    uint64_t counted_ = 0; // pixels counted so far (decides when counters may saturate)

    // Octree.
    Node* root_ = nullptr;
    uint32_t leaves_ = 0;
    std::array<Node*, kMaxLevels> reducible_{};
    std::array<std::optional<KBuffer>, kMaxPoolBlocks> pool_{};
    int poolBlocks_ = 0;
    Node* freeNodes_ = nullptr;
    uint32_t freeCount_ = 0;
    uint64_t folds_ = 0; // reductions so far: a leaf cache entry is good while this is unchanged
};

// The process-wide accumulator (there is only ever one palette being
// gathered for a batch run). Same meaning as the members above.
KervErrorCode BeginOptimizedPalette(uint8_t kind, uint16_t colourCount, uint8_t depth,
                                    bool withWindowsColors = false);
KervErrorCode AddImageToPalette(KHANDLE dib);
uint16_t GenerateOptimizedPalette(RGBQUAD* palette, bool includeWindowsColors);
