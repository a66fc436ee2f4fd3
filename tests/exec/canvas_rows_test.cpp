// The rows of the dispatcher that change the canvas: Resize/Resample Image,
// Add Borders, Enlarge Canvas and Crop. The operations have their own tests;
// these check which slots reach which argument, the sizes the command works
// out, and that its own refusals come before any allocation.
#include "formats/dibroutines.h"
#include "imaging/border.h"
#include "imaging/resample.h"
#include "script/script.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

using namespace brellix::test;

namespace {

struct Outcome {
    KervErrorCode rc = 0;
    KHANDLE result = nullptr;
    CScriptCommand after;  // the command's slots after the run
};

// One command with the given P0, P1, ... and colour C0, run on image.
Outcome RunSlots(int32_t id, KHANDLE image, std::initializer_list<int32_t> slots, COLORREF c0 = 0,
            StatusControlBlock* status = nullptr) {
    auto cmd = std::make_unique<CScriptCommand>(id);
    int i = 0;
    for (int32_t v : slots) cmd->m_nParam[i++] = v;
    cmd->m_crColor[0] = c0;
    CScript s;
    CScriptCommand* in = s.InsertCommand(std::move(cmd), -1);
    Outcome r;
    r.rc = s.DoCommand(0, image, &r.result, nullptr, "in.bmp", status, nullptr, 0);
    r.after = *in;
    if (r.rc != 0) {
        EXPECT_EQ(r.result, nullptr);
    }
    return r;
}

struct Size {
    int w, h, bits;
};
Size SizeOf(KHANDLE h) {
    uint16_t w = 0, ht = 0, bits = 0;
    EXPECT_EQ(GetDIBStats(h, &w, &ht, &bits, nullptr), KERV_OK);
    return {w, ht, bits};
}

// The fill AddBorderDIB is given for C0: the colour at 24 bits, the nearest
// palette index otherwise.
KervErrorCode DirectBorder(KHANDLE image, KHANDLE* out, int top, int bottom, int right, int left,
                           COLORREF c0) {
    if (SizeOf(image).bits == 24)
        return AddBorderDIB(nullptr, image, out, int16_t(top), int16_t(bottom), int16_t(right),
                            int16_t(left), GetRValue(c0), GetGValue(c0), GetBValue(c0));
    uint8_t r = GetRValue(c0), g = GetGValue(c0), b = GetBValue(c0);
    const int16_t index = LocateColorInPal(image, &r, &g, &b, false);
    return AddBorderDIB(nullptr, image, out, int16_t(top), int16_t(bottom), int16_t(right),
                        int16_t(left), uint32_t(index), 0, 0);
}

struct Depth {
    const char* name;
    int bits;
    bool grey;
};
constexpr Depth kDepths[] = {{"1-bit", 1, false}, {"4-bit", 4, false}, {"8-bit", 8, false},
                             {"grey", 8, true}, {"24-bit", 24, false}};

// Runs op while every allocation fails: a refusal made before any pixel work
// still gives its own code, and no allocation is even tried.
KervErrorCode WithoutAllocating(const std::function<KervErrorCode()>& op) {
    const uint64_t before = KML_AllocationCount();
    KML_FailNthAllocation(1);
    const KervErrorCode rc = op();
    KML_FailNthAllocation(0);
    EXPECT_EQ(KML_AllocationCount(), before) << "an allocation was tried";
    return rc;
}

}  // namespace

TEST(CanvasRows, AddBordersTakesLeftRightTopBottom) {
    LeakCheck leaks;
    const COLORREF colour = RGB(200, 30, 90);
    for (const Depth& d : kDepths) {
        SCOPED_TRACE(d.name);
        KOwnedHandle image(MakeRandomDIB(7, 5, d.bits, 11, d.grey));
        Outcome r = RunSlots(CMD_ADD_BORDERS, image.get(), {1, 2, 3, 4}, colour);
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle result(r.result);
        const Size s = SizeOf(result.get());
        EXPECT_EQ(s.w, 7 + 1 + 2);
        EXPECT_EQ(s.h, 5 + 3 + 4);
        // The first image pixel sits one column in and three rows down.
        EXPECT_EQ(PixelAt(result.get(), 1, 3), PixelAt(image.get(), 0, 0));
        EXPECT_EQ(PixelAt(result.get(), 7, 7), PixelAt(image.get(), 6, 4));
        KHANDLE direct = nullptr;
        ASSERT_EQ(DirectBorder(image.get(), &direct, 3, 4, 2, 1, colour), 0);
        EXPECT_EQ(BlockBytes(result.get()), BlockBytes(direct));
        if (d.bits == 24) {
            EXPECT_EQ(PixelAt(result.get(), 0, 0), 0xC81E5Au);
        }
        KML_GlobalFree(direct);
    }
}

TEST(CanvasRows, EnlargeCanvasMargins) {
    LeakCheck leaks;
    const struct {
        int w, h;
        int32_t centre, newW, newH;
        KervErrorCode rc;
        int left, right, top, bottom;
    } cases[] = {
        {10, 10, 1, 15, 12, 0, 2, 3, 1, 1},
        {10, 10, 1, 10, 10, 0, 0, 0, 0, 0},
        {10, 10, 0, 15, 12, 0, 0, 5, 0, 2},       // upper left corner
        {200, 50, 1, 201, 51, 0, 0, 1, 0, 1},     // the odd pixel to the right and bottom
        {10, 10, 1, 9, 20, KERR_CANVAS_TOO_SMALL},  // narrower by one: not a silent 10 x 20
        {10, 10, 1, 20, 9, KERR_CANVAS_TOO_SMALL},
        {10, 10, 0, 9, 20, KERR_CANVAS_TOO_SMALL},
        {200, 50, 1, 100, 100, KERR_CANVAS_TOO_SMALL},
        {10, 10, 1, -5, 20, KERR_CANVAS_TOO_SMALL},
        {10, 10, 0, 10 + 40000, 10, KERV_INVALID_PARAM},  // a margin beyond 16 bits
        {10, 10, 1, 10 + 70000, 10, KERV_INVALID_PARAM},
    };
    const COLORREF colour = RGB(0, 255, 0);
    for (const auto& c : cases) {
        for (int bits : {4, 24}) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.newW << "x" << c.newH
                                            << " centre " << c.centre << " at " << bits);
            KOwnedHandle image(MakeRandomDIB(c.w, c.h, bits, 5));
            const auto before = BlockBytes(image.get());
            if (c.rc != 0) {
                EXPECT_EQ(WithoutAllocating([&] {
                              return RunSlots(CMD_ENLARGE_CANVAS, image.get(), {c.centre, c.newW, c.newH},
                                         colour).rc;
                          }),
                          c.rc);
                EXPECT_EQ(BlockBytes(image.get()), before);
                continue;
            }
            Outcome r = RunSlots(CMD_ENLARGE_CANVAS, image.get(), {c.centre, c.newW, c.newH}, colour);
            ASSERT_EQ(r.rc, 0);
            KOwnedHandle result(r.result);
            EXPECT_EQ(SizeOf(result.get()).w, c.newW);
            EXPECT_EQ(SizeOf(result.get()).h, c.newH);
            KHANDLE direct = nullptr;
            ASSERT_EQ(DirectBorder(image.get(), &direct, c.top, c.bottom, c.right, c.left, colour), 0);
            EXPECT_EQ(BlockBytes(result.get()), BlockBytes(direct));
            KML_GlobalFree(direct);
            if (c.newW == c.w && c.newH == c.h) {
                EXPECT_EQ(ImageContent(result.get()), ImageContent(image.get()));
            }
        }
    }
}

TEST(CanvasRows, CropTakesItsEdgesOrItsCentreSize) {
    LeakCheck leaks;
    for (const Depth& d : kDepths) {
        SCOPED_TRACE(d.name);
        // Edges: top P3, bottom P4, left P5, right P6.
        KOwnedHandle image(MakeRandomDIB(20, 30, d.bits, 3, d.grey));
        Outcome r = RunSlots(CMD_CROP, image.get(), {0, 0, 0, 1, 2, 3, 4});
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle edges(r.result);
        EXPECT_EQ(SizeOf(edges.get()).w, 20 - 3 - 4);
        EXPECT_EQ(SizeOf(edges.get()).h, 30 - 1 - 2);
        KHANDLE direct = nullptr;
        ASSERT_EQ(CropDIBRect(image.get(), &direct, 3, 1, 16, 28), 0);
        EXPECT_EQ(BlockBytes(edges.get()), BlockBytes(direct));
        KML_GlobalFree(direct);

        // The centre: a 4 x 4 of a 9 x 9 keeps columns and rows 2 .. 5; the
        // edge slots are not used.
        KOwnedHandle nine(MakeRandomDIB(9, 9, d.bits, 4, d.grey));
        r = RunSlots(CMD_CROP, nine.get(), {1, 4, 4, 50, 50, 50, 50});
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle centre(r.result);
        ASSERT_EQ(CropDIBRect(nine.get(), &direct, 2, 2, 6, 6), 0);
        EXPECT_EQ(BlockBytes(centre.get()), BlockBytes(direct));
        KML_GlobalFree(direct);

        // Cut more than the image in both directions: refused before anything.
        KOwnedHandle tall(MakeRandomDIB(8, 100, d.bits, 5, d.grey));
        EXPECT_EQ(WithoutAllocating([&] { return RunSlots(CMD_CROP, tall.get(), {0, 0, 0, 60, 60, 5, 5}).rc; }),
                  KERR_CROP_TOO_BIG);
        EXPECT_EQ(WithoutAllocating([&] { return RunSlots(CMD_CROP, tall.get(), {1, 9, 101}).rc; }),
                  KERR_CROP_TOO_BIG);
    }
}

TEST(ResizeRow, SizesFromTheModes) {
    LeakCheck leaks;
    const struct {
        const char* what;
        int w, h;
        std::initializer_list<int32_t> slots;
        int wantW, wantH;
    } cases[] = {
        {"fixed 320 x 200", 50, 40, {0, 0, 1, 1, 0}, 320, 200},
        {"fixed 640 x 350", 50, 40, {1, 0, 1, 1, 0}, 640, 350},
        {"both, pixels", 50, 40, {5, 0, 33, 17, 0}, 33, 17},
        {"both, percent", 101, 51, {5, 0, 50, 50, 1}, 50, 25},
        {"width keeping aspect", 400, 301, {6, 0, 200, 999, 0}, 200, 150},
        {"width in percent", 400, 301, {6, 0, 50, 999, 1}, 200, 150},
        {"height keeping aspect", 400, 200, {7, 0, 999, 50, 0}, 100, 50},
        {"unset percent flag", 50, 40, {5, 0, 20, 10, PARAM_UNSET}, 20, 10},
        {"box", 400, 200, {8, 0, 100, 100, 0}, 100, 100},
        {"box, odd height", 400, 201, {8, 0, 100, 100, 0}, 100, 100},
        {"box, tall image", 30, 90, {8, 0, 100, 100, 1}, 100, 100},  // percent ignored
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KOwnedHandle image(MakeRandomDIB(c.w, c.h, 24, 2));
        Outcome r = RunSlots(CMD_RESIZE, image.get(), c.slots);
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle result(r.result);
        EXPECT_EQ(SizeOf(result.get()).w, c.wantW);
        EXPECT_EQ(SizeOf(result.get()).h, c.wantH);
        if (*c.slots.begin() <= 4) {  // the fixed size is written back
            EXPECT_EQ(r.after.m_nParam[2], c.wantW);
            EXPECT_EQ(r.after.m_nParam[3], c.wantH);
        }
    }
}

TEST(ResizeRow, BoxFramesTheScaledImageInTheTileColour) {
    LeakCheck leaks;
    const COLORREF tile = RGB(255, 0, 0);
    const struct {
        int w, h, bits;
        int scaledW, scaledH, left, right, top, bottom;
    } cases[] = {
        {200, 100, 24, 100, 50, 0, 0, 25, 25},
        {400, 201, 24, 100, 50, 0, 0, 25, 25},
        {90, 30, 24, 100, 33, 0, 0, 33, 34},  // enlarged; the odd row to the bottom
        {30, 91, 8, 32, 100, 34, 34, 0, 0},   // resized: a palette image keeps its depth
        {45, 100, 4, 45, 100, 27, 28, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << c.bits);
        KOwnedHandle image(MakeRandomDIB(c.w, c.h, c.bits, 8));
        Outcome r = RunSlots(CMD_RESIZE, image.get(), {8, 0, 100, 100, 0}, tile);
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle result(r.result);
        ASSERT_EQ(SizeOf(result.get()).w, 100);
        ASSERT_EQ(SizeOf(result.get()).h, 100);
        EXPECT_EQ(SizeOf(result.get()).bits, c.bits);

        KHANDLE scaled = nullptr, framed = nullptr;
        if (c.bits == 24)
            ASSERT_EQ(ResampleDIB(nullptr, image.get(), &scaled, int16_t(c.scaledW), uint16_t(c.scaledH)), 0);
        else
            ASSERT_EQ(ResizeDIB(nullptr, image.get(), &scaled, c.scaledW, c.scaledH), 0);
        ASSERT_EQ(DirectBorder(scaled, &framed, c.top, c.bottom, c.right, c.left, tile), 0);
        EXPECT_EQ(BlockBytes(result.get()), BlockBytes(framed));
        // A corner is the tile colour: red, or the palette's red (entry 9 of
        // the 16 standard colours; entry 30 of the colour cube at 8 bits).
        const uint32_t corner = c.bits == 24 ? 0xFF0000u : c.bits == 4 ? 9u : 5u * 6u;
        EXPECT_EQ(PixelAt(result.get(), 0, 0), corner);
        EXPECT_EQ(PixelAt(result.get(), 99, 99), corner);
        EXPECT_EQ(PixelAt(result.get(), c.left, c.top), PixelAt(scaled, 0, 0));
        KML_GlobalFree(scaled);
        KML_GlobalFree(framed);
    }
}

TEST(ResizeRow, TheMethodPicksTheEngine) {
    LeakCheck leaks;
    enum Engine { kResample, kResize, kRefused };
    const struct {
        int bits;
        bool grey;
        int32_t method;
        Engine engine;
    } cases[] = {
        {24, false, 0, kResample}, {8, true, 0, kResample}, {8, false, 0, kResize},
        {4, false, 0, kResize},    {1, false, 0, kResize},  {24, false, 1, kResample},
        {8, true, 1, kResample},   {24, false, 2, kResize}, {8, true, 2, kResize},
        {4, false, 1, kRefused},   {8, false, 1, kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << (c.grey ? " grey" : "") << " method " << c.method);
        KOwnedHandle image(MakeRandomDIB(17, 13, c.bits, 6, c.grey));
        Outcome r = RunSlots(CMD_RESIZE, image.get(), {5, c.method, 30, 7, 0});
        if (c.engine == kRefused) {
            EXPECT_EQ(r.rc, KERR_NEEDS_TC_OR_GREY);
            continue;
        }
        ASSERT_EQ(r.rc, 0);
        KOwnedHandle result(r.result);
        KHANDLE direct = nullptr;
        if (c.engine == kResample)
            ASSERT_EQ(ResampleDIB(nullptr, image.get(), &direct, 30, 7), 0);
        else
            ASSERT_EQ(ResizeDIB(nullptr, image.get(), &direct, 30, 7), 0);
        EXPECT_EQ(BlockBytes(result.get()), BlockBytes(direct));
        KML_GlobalFree(direct);
    }
}

TEST(ResizeRow, RefusalsComeBeforeAnyAllocation) {
    LeakCheck leaks;
    for (const Depth& d : kDepths) {
        SCOPED_TRACE(d.name);
        KOwnedHandle image(MakeRandomDIB(20, 10, d.bits, 1, d.grey));
        const auto before = BlockBytes(image.get());
        const struct {
            std::initializer_list<int32_t> slots;
            KervErrorCode rc;
        } cases[] = {
            {{5, 0, 0, 10, 0}, KERR_RESIZE_TOO_SMALL},
            {{5, 0, 40000, 10, 0}, KERR_RESIZE_TOO_BIG},
            {{6, 0, 0, 100, 0}, KERR_RESIZE_TOO_SMALL},
            {{6, 0, 40000, 100, 0}, KERR_RESIZE_TOO_BIG},
            {{8, 0, 0, 100, 0}, KERR_RESIZE_TOO_SMALL},
            {{5, 7, 10, 10, 0}, KERV_INVALID_PARAM},
        };
        for (const auto& c : cases)
            EXPECT_EQ(WithoutAllocating([&] { return RunSlots(CMD_RESIZE, image.get(), c.slots).rc; }), c.rc);
        EXPECT_EQ(BlockBytes(image.get()), before);
    }
}

TEST(CanvasRows, FailuresFreeEverything) {
    const struct {
        const char* what;
        int32_t id;
        int bits;
        std::initializer_list<int32_t> slots;
    } cases[] = {
        {"resample", CMD_RESIZE, 24, {5, 0, 31, 9, 0}},
        {"resize", CMD_RESIZE, 4, {5, 0, 31, 9, 0}},
        {"box, resampled", CMD_RESIZE, 24, {8, 0, 40, 40, 0}},
        {"box, resized", CMD_RESIZE, 1, {8, 0, 40, 40, 0}},
        {"borders", CMD_ADD_BORDERS, 4, {1, 2, 3, 4}},
        {"canvas", CMD_ENLARGE_CANVAS, 24, {1, 30, 30}},
        {"crop", CMD_CROP, 8, {0, 0, 0, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KOwnedHandle image(MakeRandomDIB(21, 13, c.bits, 9));
        auto cmd = std::make_unique<CScriptCommand>(c.id);
        int i = 0;
        for (int32_t v : c.slots) cmd->m_nParam[i++] = v;
        CScript s;
        s.InsertCommand(std::move(cmd), -1);
        const int points = SweepAllocationFailures(image.get(), [&](KHANDLE* out) {
            return s.DoCommand(0, image.get(), out, nullptr, "", nullptr, nullptr, 0);
        });
        EXPECT_GE(points, 1);
    }
}

TEST(CanvasRows, StopRequestsLeaveNothing) {
    LeakCheck leaks;
    KOwnedHandle image(MakeRandomDIB(40, 30, 24, 2));
    // The box mode stops inside the resampling or inside the frame.
    for (int stopAt : {1, 2, 3}) {
        StoppingStatus stop(stopAt);
        EXPECT_EQ(RunSlots(CMD_RESIZE, image.get(), {8, 0, 100, 100, 0}, 0, &stop.block).rc, KERV_STOPPED)
            << stopAt;
    }
    for (int stopAt : {1, 2}) {
        StoppingStatus stop(stopAt);
        EXPECT_EQ(RunSlots(CMD_ENLARGE_CANVAS, image.get(), {1, 50, 50}, 0, &stop.block).rc, KERV_STOPPED);
    }
}
