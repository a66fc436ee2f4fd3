// The palette accumulator: median cut over a 15-bit histogram, and an
// octree quantiser.
//
// Median cut. One block holds the 32768 counters and, behind them, room for
// the list of colour keys that generation sorts and splits, so generating
// never allocates. Counters are 32 bits; a batch run can count more pixels
// than that, so once the pixels counted could exceed 2^32 - 1 the counters
// saturate instead of wrapping (a wrapped counter would make a frequent
// colour rare, or drop it).
//
// Octree. Nodes come from pool blocks of the memory manager, recycled
// through a free list. Before a colour is inserted there must be room for a
// whole path (depth + 1 nodes), so an insertion either completes or does not
// start: the tree never holds a node without children or a leaf without
// pixels. Sums and counts are 64 bits, so no image set can wrap a count to
// zero. Runs of one colour are inserted as one weighted insertion, which
// builds exactly the tree pixel-by-pixel insertion builds: only a colour's
// first pixel can create nodes (and so start reductions); the rest of the
// run lands in whatever leaf holds the colour then. For the same reason a
// colour's leaf, once found, is remembered until the next fold.
#include "imaging/optpal.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr int kKeys = 32768;
constexpr size_t kHistogramBytes = kKeys * sizeof(uint32_t);
constexpr size_t kKeyListBytes = kKeys * sizeof(uint16_t);
constexpr int kNodesPerPoolBlock = 256;
constexpr int kColourCacheBits = 10;
constexpr int kColourCacheSize = 1 << kColourCacheBits;
constexpr uint16_t kMaxColours = 256;
constexpr uint16_t kMaxColoursWithWindows = 236;

// ---- Colour keys ----

inline uint32_t KeyOf(uint32_t red, uint32_t green, uint32_t blue) {
    return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3);
}
inline uint32_t RedOf(uint32_t key) {
    return key >> 10;
}
inline uint32_t GreenOf(uint32_t key) {
    return (key >> 5) & 31;
}
inline uint32_t BlueOf(uint32_t key) {
    return key & 31;
}
// A 5-bit value spread over 8 bits by repeating its top bits.
inline uint8_t Widen(uint32_t c5) {
    return static_cast<uint8_t>(c5 * 8 + c5 / 4);
}

inline RGBQUAD Entry(uint32_t red, uint32_t green, uint32_t blue) {
    return RGBQUAD{static_cast<uint8_t>(blue), static_cast<uint8_t>(green),
                   static_cast<uint8_t>(red), 0};
}
inline RGBQUAD WidenedEntry(uint32_t key) {
    return RGBQUAD{Widen(BlueOf(key)), Widen(GreenOf(key)), Widen(RedOf(key)), 0};
}

// ---- Reading images ----

// The colour of every index a pixel can hold; indexes beyond the colour
// table are black.
struct IndexColours {
    RGBQUAD colour[256];
    explicit IndexColours(const BITMAPINFOHEADER* h) {
        const uint32_t entries = std::min<uint32_t>(DIBPaletteEntries(h), 256);
        std::memcpy(colour, DIBPalette(h), entries * sizeof(RGBQUAD));
        std::memset(colour + entries, 0, (256 - entries) * sizeof(RGBQUAD));
    }
};

// The index of pixel x of a packed row.
inline uint8_t IndexAt(const uint8_t* row, int bits, uint32_t x) {
    switch (bits) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
        return (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 15;
    default:
        return row[x];
    }
}

// How many pixels hold each index, over the whole image.
void CountIndexes(const BITMAPINFOHEADER* h, uint64_t counts[256]) {
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t height = static_cast<uint32_t>(h->biHeight);
    const uint32_t stride = DIBStride(h);
    const uint8_t* bits = DIBBits(h);
    switch (h->biBitCount) {
    case 1: {
        // Ones by population count; everything else is index 0.
        const uint32_t whole = width / 8, rest = width % 8;
        const uint8_t restMask = static_cast<uint8_t>(0xFF00u >> rest);
        uint64_t ones = 0;
        for (uint32_t r = 0; r < height; ++r) {
            const uint8_t* row = bits + size_t(r) * stride;
            uint32_t i = 0;
            for (; i + 8 <= whole; i += 8) {
                uint64_t word;
                std::memcpy(&word, row + i, 8);
                ones += static_cast<uint64_t>(std::popcount(word));
            }
            for (; i < whole; ++i)
                ones += static_cast<uint64_t>(std::popcount(row[i]));
            if (rest) ones += static_cast<uint64_t>(std::popcount(uint8_t(row[whole] & restMask)));
        }
        counts[1] += ones;
        counts[0] += uint64_t{width} * height - ones;
        break;
    }
    case 4:
        for (uint32_t r = 0; r < height; ++r) {
            const uint8_t* row = bits + size_t(r) * stride;
            for (uint32_t i = 0; i < width / 2; ++i) {
                ++counts[row[i] >> 4];
                ++counts[row[i] & 15];
            }
            if (width % 2) ++counts[row[width / 2] >> 4];
        }
        break;
    default:
        for (uint32_t r = 0; r < height; ++r) {
            const uint8_t* row = bits + size_t(r) * stride;
            for (uint32_t x = 0; x < width; ++x)
                ++counts[row[x]];
        }
        break;
    }
}

// ---- Median cut: counting ----

inline void AddSaturating(uint32_t& counter, uint64_t n) {
    counter = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{counter} + n, UINT32_MAX));
}

template <bool Saturate> void Count24(const BITMAPINFOHEADER* h, uint32_t* histogram) {
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t stride = DIBStride(h);
    const uint8_t* bits = DIBBits(h);
    for (int32_t r = 0; r < h->biHeight; ++r) {
        const uint8_t* p = bits + size_t(r) * stride;
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            uint32_t& counter = histogram[KeyOf(p[2], p[1], p[0])];
            if constexpr (Saturate)
                counter += counter != UINT32_MAX;
            else
                ++counter;
        }
    }
}

// ---- Median cut: generation ----

// The order a box's colours are sorted in for a split on one channel: that
// channel first, then the next two in red-green-blue rotation.
inline uint32_t SortValue(uint16_t key, int channel) {
    const uint32_t r = RedOf(key), g = GreenOf(key), b = BlueOf(key);
    switch (channel) {
    case 0:
        return key;
    case 1:
        return (g << 10) | (b << 5) | r;
    default:
        return (b << 10) | (r << 5) | g;
    }
}

struct MedianCut {
    const uint32_t* counts; // by key
    RGBQUAD* palette;

    // Splits keys[0..n) into k boxes written at palette[first..first+k).
    void Split(uint16_t* keys, uint32_t n, uint32_t first, uint32_t k) const {
        if (k == 1) {
            uint32_t red = 0, green = 0, blue = 0;
            for (uint32_t i = 0; i < n; ++i) {
                red += Widen(RedOf(keys[i]));
                green += Widen(GreenOf(keys[i]));
                blue += Widen(BlueOf(keys[i]));
            }
            palette[first] = Entry(red / n, green / n, blue / n);
            return;
        }
        if (n == k) {
            for (uint32_t i = 0; i < n; ++i)
                palette[first + i] = WidenedEntry(keys[i]);
            return;
        }

        const int channel = WidestChannel(keys, n);
        std::sort(keys, keys + n, [channel](uint16_t a, uint16_t b) {
            return SortValue(a, channel) < SortValue(b, channel);
        });

        // Two cursors walk inward, each weighing the pixels it has passed;
        // they meet where the weights balance.
        const uint32_t half = k / 2;
        uint32_t left = 0, right = n - 1;
        uint64_t leftSum = counts[keys[left]], rightSum = counts[keys[right]];
        if (half > 1)
            while (left < half - 1)
                leftSum += counts[keys[++left]];
        while (n - right < half)
            rightSum += counts[keys[--right]];
        for (uint32_t jump = (right - left) / 8; jump > 0; --jump) {
            leftSum += counts[keys[++left]];
            rightSum += counts[keys[--right]];
        }
        while (left < right) {
            if (leftSum < rightSum)
                leftSum += counts[keys[++left]];
            else
                rightSum += counts[keys[--right]];
        }

        uint32_t leftItems, leftBoxes;
        if (leftSum <= rightSum) {
            leftItems = left;
            leftBoxes = half;
        } else {
            leftItems = left + 1;
            leftBoxes = k - half;
        }
        leftItems = std::clamp<uint32_t>(leftItems, 1, n - 1);
        leftBoxes = std::min(leftBoxes, leftItems);
        while (k - leftBoxes > n - leftItems)
            ++leftBoxes;

        Split(keys, leftItems, first, leftBoxes);
        Split(keys + leftItems, n - leftItems, first + leftBoxes, k - leftBoxes);
    }

    // 0 red, 1 green, 2 blue: the largest range, red then green winning ties.
    static int WidestChannel(const uint16_t* keys, uint32_t n) {
        uint32_t lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t c[3] = {RedOf(keys[i]), GreenOf(keys[i]), BlueOf(keys[i])};
            for (int j = 0; j < 3; ++j) {
                lo[j] = std::min(lo[j], c[j]);
                hi[j] = std::max(hi[j], c[j]);
            }
        }
        const uint32_t red = hi[0] - lo[0], green = hi[1] - lo[1], blue = hi[2] - lo[2];
        if (red >= green && red >= blue) return 0;
        return green >= blue ? 1 : 2;
    }
};

void PlaceWindowsColors(RGBQUAD* palette, uint16_t count) {
    std::memmove(palette + 10, palette, count * sizeof(RGBQUAD));
    std::memcpy(palette, kWindowsSystemColors, 10 * sizeof(RGBQUAD));
    std::memcpy(palette + count + 10, kWindowsSystemColors + 10, 10 * sizeof(RGBQUAD));
}

} // namespace

const RGBQUAD kWindowsSystemColors[20] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},     {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0},   {128, 128, 0, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {240, 202, 166, 0}, {240, 251, 255, 0}, {164, 160, 160, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0},   {255, 255, 255, 0},
};

struct PaletteAccumulator::Node {
    uint64_t pixels, red, green, blue;
    Node* child[8];
    Node* next; // in its level's reducible list, or in the free list
    bool leaf;
};

// ---- Begin, add, generate ----

KervErrorCode PaletteAccumulator::Begin(uint8_t kind, uint16_t colourCount, uint8_t depth,
                                        bool withWindowsColors) {
    Discard();
    const uint16_t most = withWindowsColors ? kMaxColoursWithWindows : kMaxColours;
    if (kind != kPaletteMedianCut && kind != kPaletteOctree) return KERV_INVALID_PARAM;
    if (colourCount < 1 || colourCount > most) return KERV_INVALID_PARAM;
    if (depth > kMaxLevels - 1) return KERV_INVALID_PARAM;

    colours_ = colourCount;
    depth_ = depth;
    if (kind == kPaletteMedianCut) {
        histogram_.emplace();
        if (!histogram_->allocate(kHistogramBytes + kKeyListBytes)) {
            histogram_.reset();
            return KERV_NO_MEMORY;
        }
        counted_ = 0;
        state_ = State::MedianCut;
    } else {
        state_ = State::Octree;
    }
    return KERV_OK;
}

KervErrorCode PaletteAccumulator::AddImage(KHANDLE dib) {
    if (!Begun() || !dib) return KERV_INVALID_PARAM;
    KLock lock(dib);
    if (!lock || KML_GlobalSize(dib) < sizeof(BITMAPINFOHEADER)) return KERV_INVALID_PARAM;
    const auto* h = lock.as<const BITMAPINFOHEADER>();
    if (!IsValidDIBDepth(h->biBitCount)) return KERV_OK;
    if (!IsUsableDIB(h, KML_GlobalSize(dib)) || h->biCompression != 0) return KERV_INVALID_PARAM;
    return state_ == State::MedianCut ? CountMedianCut(h) : InsertOctree(h);
}

uint16_t PaletteAccumulator::Generate(RGBQUAD* palette, bool includeWindowsColors) {
    if (!Begun()) return kNoPaletteBegun;
    uint16_t count = 0;
    if (palette) {
        count = state_ == State::MedianCut ? GenerateMedianCut(palette) : GenerateOctree(palette);
        if (includeWindowsColors && count <= kMaxColoursWithWindows)
            PlaceWindowsColors(palette, count);
    }
    Discard();
    return count;
}

void PaletteAccumulator::Discard() {
    histogram_.reset();
    counted_ = 0;
    root_ = nullptr;
    leaves_ = 0;
    reducible_.fill(nullptr);
    freeNodes_ = nullptr;
    freeCount_ = 0;
    for (auto& block : pool_)
        block.reset();
    poolBlocks_ = 0;
    state_ = State::Idle;
}

// ---- Median cut ----

KervErrorCode PaletteAccumulator::CountMedianCut(const BITMAPINFOHEADER* h) {
    uint32_t* histogram = histogram_->as<uint32_t>();
    const uint64_t pixels = uint64_t(uint32_t(h->biWidth)) * uint32_t(h->biHeight);
    const bool mayOverflow = counted_ + pixels > UINT32_MAX;
    if (h->biBitCount == 24) {
        if (mayOverflow)
            Count24<true>(h, histogram);
        else
            Count24<false>(h, histogram);
    } else {
        uint64_t counts[256] = {};
        CountIndexes(h, counts);
        const IndexColours colours(h);
        for (int i = 0; i < 256; ++i) {
            if (counts[i] == 0) continue;
            const RGBQUAD c = colours.colour[i];
            AddSaturating(histogram[KeyOf(c.rgbRed, c.rgbGreen, c.rgbBlue)], counts[i]);
        }
    }
    counted_ += pixels;
    return KERV_OK;
}

uint16_t PaletteAccumulator::GenerateMedianCut(RGBQUAD* palette) {
    const uint32_t* counts = histogram_->as<uint32_t>();
    auto* keys = reinterpret_cast<uint16_t*>(histogram_->data() + kHistogramBytes);
    uint32_t n = 0;
    for (uint32_t key = 0; key < kKeys; ++key)
        if (counts[key] > 0) keys[n++] = static_cast<uint16_t>(key);

    if (n <= colours_) {
        for (uint32_t i = 0; i < n; ++i)
            palette[i] = WidenedEntry(keys[i]);
        for (uint32_t i = n; i < colours_; ++i)
            palette[i] = RGBQUAD{0, 0, 0, 0};
        return static_cast<uint16_t>(n);
    }
    MedianCut{counts, palette}.Split(keys, n, 0, colours_);
    return colours_;
}

// ---- Octree ----

KervErrorCode PaletteAccumulator::InsertOctree(const BITMAPINFOHEADER* h) {
    switch (h->biBitCount) {
    case 24:
        return Insert24(h);
    case 8:
        return InsertIndexed<8>(h);
    case 4:
        return InsertIndexed<4>(h);
    default:
        return InsertIndexed<1>(h);
    }
}

// A run of one colour is inserted once, weighted, when the colour changes;
// runs go on from one row to the next.
KervErrorCode PaletteAccumulator::Insert24(const BITMAPINFOHEADER* h) {
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t stride = DIBStride(h);
    const uint8_t* bits = DIBBits(h);
    uint64_t run = 0;
    uint32_t current = 0; // 0x00RRGGBB
    LeafCache cache[kColourCacheSize];
    auto flush = [&] {
        LeafCache& e = cache[(current * 2654435761u) >> (32 - kColourCacheBits)];
        return run == 0 || InsertCached(e, current, uint8_t(current >> 16), uint8_t(current >> 8),
                                        uint8_t(current), run);
    };
    for (int32_t r = 0; r < h->biHeight; ++r) {
        const uint8_t* p = bits + size_t(r) * stride;
        for (uint32_t x = 0; x < width; ++x, p += 3) {
            const uint32_t c = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
            if (run != 0 && c == current) {
                ++run;
                continue;
            }
            if (!flush()) return KERV_NO_MEMORY;
            current = c;
            run = 1;
        }
    }
    return flush() ? KERV_OK : KERV_NO_MEMORY;
}

template <int Bits> KervErrorCode PaletteAccumulator::InsertIndexed(const BITMAPINFOHEADER* h) {
    const uint32_t width = static_cast<uint32_t>(h->biWidth);
    const uint32_t stride = DIBStride(h);
    const uint8_t* bits = DIBBits(h);
    const IndexColours colours(h);
    uint64_t run = 0;
    uint32_t current = 0; // the index
    LeafCache cache[256];
    auto flush = [&] {
        const RGBQUAD c = colours.colour[current];
        return run == 0 ||
               InsertCached(cache[current], current, c.rgbRed, c.rgbGreen, c.rgbBlue, run);
    };
    for (int32_t r = 0; r < h->biHeight; ++r) {
        const uint8_t* row = bits + size_t(r) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            // Whole words and bytes of one value are the common case of
            // 1-bit line art and scans.
            if (Bits == 1 && run != 0 && x % 8 == 0) {
                if (x + 64 <= width) {
                    uint64_t word;
                    std::memcpy(&word, row + x / 8, 8);
                    if (word == (current ? ~uint64_t{0} : 0)) {
                        run += 64;
                        x += 63;
                        continue;
                    }
                }
                if (x + 8 <= width && row[x / 8] == (current ? 0xFF : 0x00)) {
                    run += 8;
                    x += 7;
                    continue;
                }
            }
            const uint32_t index = IndexAt(row, Bits, x);
            if (run != 0 && index == current) {
                ++run;
                continue;
            }
            if (!flush()) return KERV_NO_MEMORY;
            current = index;
            run = 1;
        }
    }
    return flush() ? KERV_OK : KERV_NO_MEMORY;
}

bool PaletteAccumulator::Reserve() {
    if (freeCount_ >= uint32_t(depth_) + 1) return true;
    if (poolBlocks_ == kMaxPoolBlocks) return false;
    auto& block = pool_[size_t(poolBlocks_)];
    block.emplace();
    if (!block->allocate(kNodesPerPoolBlock * sizeof(Node), KMEM_MOVEABLE)) {
        block.reset();
        return false;
    }
    ++poolBlocks_;
    auto* nodes = block->as<Node>();
    for (int i = 0; i < kNodesPerPoolBlock; ++i) {
        Node* n = new (nodes + i) Node{};
        FreeNode(n);
    }
    return true;
}

PaletteAccumulator::Node* PaletteAccumulator::NewNode(int level) {
    Node* n = freeNodes_;
    freeNodes_ = n->next;
    --freeCount_;
    *n = Node{};
    if (level == depth_) {
        n->leaf = true;
        ++leaves_;
    } else {
        n->next = reducible_[size_t(level)];
        reducible_[size_t(level)] = n;
    }
    return n;
}

void PaletteAccumulator::FreeNode(Node* n) {
    n->next = freeNodes_;
    freeNodes_ = n;
    ++freeCount_;
}

bool PaletteAccumulator::Insert(uint8_t red, uint8_t green, uint8_t blue, uint64_t pixels,
                                Node** leaf) {
    if (!Reserve()) return false;
    Node** link = &root_;
    for (int level = 0;; ++level) {
        if (!*link) *link = NewNode(level);
        Node* n = *link;
        if (n->leaf) {
            AddToLeaf(n, red, green, blue, pixels);
            *leaf = n;
            break;
        }
        const int shift = 7 - level;
        const int child =
            (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
        link = &n->child[child];
    }
    const uint64_t before = folds_;
    while (leaves_ > colours_ && Reduce()) {
    }
    if (folds_ != before) *leaf = nullptr;
    return true;
}

bool PaletteAccumulator::InsertCached(LeafCache& entry, uint32_t key, uint8_t red, uint8_t green,
                                      uint8_t blue, uint64_t pixels) {
    if (entry.leaf && entry.folds == folds_ && entry.key == key) {
        AddToLeaf(entry.leaf, red, green, blue, pixels);
        return true;
    }
    Node* leaf = nullptr;
    if (!Insert(red, green, blue, pixels, &leaf)) return false;
    entry = {leaf, folds_, key};
    return true;
}

void PaletteAccumulator::AddToLeaf(Node* n, uint8_t red, uint8_t green, uint8_t blue,
                                   uint64_t pixels) {
    n->pixels += pixels;
    n->red += red * pixels;
    n->green += green * pixels;
    n->blue += blue * pixels;
}

// Folds the newest node of the deepest level that has any into one leaf.
bool PaletteAccumulator::Reduce() {
    for (int level = depth_ - 1; level >= 0; --level) {
        Node* n = reducible_[size_t(level)];
        if (!n) continue;
        reducible_[size_t(level)] = n->next;
        n->next = nullptr;
        uint32_t children = 0;
        for (Node*& c : n->child) {
            if (!c) continue;
            n->pixels += c->pixels;
            n->red += c->red;
            n->green += c->green;
            n->blue += c->blue;
            FreeNode(c);
            c = nullptr;
            ++children;
        }
        n->leaf = true;
        leaves_ = leaves_ + 1 - children;
        ++folds_;
        return true;
    }
    return false;
}

void PaletteAccumulator::Walk(const Node* n, RGBQUAD* palette, uint16_t& count) const {
    if (!n) return;
    if (n->leaf) {
        // Every leaf holds pixels (insertions complete or never start); the
        // floor of 1 is a second line of defence against dividing by zero.
        const uint64_t pixels = std::max<uint64_t>(n->pixels, 1);
        palette[count++] = Entry(uint32_t(n->red / pixels), uint32_t(n->green / pixels),
                                 uint32_t(n->blue / pixels));
        return;
    }
    for (const Node* c : n->child)
        Walk(c, palette, count);
}

uint16_t PaletteAccumulator::GenerateOctree(RGBQUAD* palette) {
    if (leaves_ > colours_) return 0;
    uint16_t count = 0;
    Walk(root_, palette, count);
    return count;
}

// ---- The process-wide accumulator ----

namespace {
PaletteAccumulator& Shared() {
    static PaletteAccumulator accumulator;
    return accumulator;
}
} // namespace

KervErrorCode BeginOptimizedPalette(uint8_t kind, uint16_t colourCount, uint8_t depth,
                                    bool withWindowsColors) {
    return Shared().Begin(kind, colourCount, depth, withWindowsColors);
}

KervErrorCode AddImageToPalette(KHANDLE dib) {
    return Shared().AddImage(dib);
}

uint16_t GenerateOptimizedPalette(RGBQUAD* palette, bool includeWindowsColors) {
    return Shared().Generate(palette, includeWindowsColors);
}
