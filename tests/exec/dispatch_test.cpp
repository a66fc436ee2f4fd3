// CScript::DoCommand: entry checks, the depth rules of every row, the rows
// that work, and the list of rows whose operation is not in the program yet.
#include "core/random.h"
#include "core/settings.h"
#include "formats/dibroutines.h"
#include "imaging/adjust.h"
#include "imaging/depth.h"
#include "imaging/dither.h"
#include "imaging/filter.h"
#include "imaging/mosaic.h"
#include "imaging/noise.h"
#include "imaging/optpal.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/perspective.h"
#include "imaging/rank.h"
#include "imaging/rotate.h"
#include "imaging/shapes.h"
#include "imaging/skew.h"
#include "imaging/smear.h"
#include "imaging/tone.h"
#include "imaging/warp.h"
#include "script/script.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using namespace brellix::test;

namespace {

// Rows still waiting for their operation: with an image their depth rule
// accepts, they answer -5001. Remove an ID here when its operation lands.
const std::set<int32_t> kNotYetBuilt = {561};

// The depth rules, by the codes they give.
const std::set<int32_t> kNeedsTrueColourOrGrey = {525, 526, 527, 528, 529, 530, 531, 532, 533,
                                                  534, 535, 536, 537, 538, 539, 540, 541, 542,
                                                  543, 545, 546, 547, 548, 549, 551, 552, 553,
                                                  554, 555};
const std::set<int32_t> kNeedsTrueColourOrGreyB = {513, 514};
const std::set<int32_t> kNeedsAtLeast8 = {550, 556};
const std::set<int32_t> kNot1Bit = {518};

struct Image {
    const char* name;
    int bits;
    bool grey;
};
const Image kImages[] = {{"1-bit", 1, false}, {"4-bit", 4, false}, {"8-bit colour", 8, false},
                         {"8-bit grey", 8, true}, {"24-bit", 24, false}};

// A command with the dialog's defaults in every slot its kind uses.
std::unique_ptr<CScriptCommand> WithDefaults(int32_t id) {
    auto c = std::make_unique<CScriptCommand>(id);
    if (const CommandInfo* info = FindCommandInfo(id))
        for (const SlotInfo& s : info->slotTable) {
            const int i = static_cast<int>(s.slot);
            if (i <= 9) c->m_nParam[i] = IntSlotDefault(id, s.slot, c->m_nParam[i]);
            if (s.slot == Slot::F0 || s.slot == Slot::F1)
                c->m_fParam[i - 10] = FloatSlotDefault(id, s.slot, 0.0f);
        }
    return c;
}

// One command in a script of its own, run on image.
struct Outcome {
    KervErrorCode rc;
    KHANDLE result;
};
Outcome RunCommand(std::unique_ptr<CScriptCommand> cmd, KHANDLE image, StatusControlBlock* status = nullptr) {
    CScript s;
    s.InsertCommand(std::move(cmd), -1);
    Outcome r{0, reinterpret_cast<KHANDLE>(uintptr_t{1})};
    r.rc = s.DoCommand(0, image, &r.result, nullptr, "in.png", status, nullptr, 0);
    return r;
}

KervErrorCode ExpectedCode(int32_t id, const Image& img) {
    const bool tcg = img.bits == 24 || img.grey;
    if (kNeedsTrueColourOrGrey.count(id) && !tcg) return KERR_NEEDS_TC_OR_GREY;
    if (kNeedsTrueColourOrGreyB.count(id) && !tcg) return KERR_NEEDS_8_OR_24;
    if (kNeedsAtLeast8.count(id) && img.bits < 8) return KERR_NEEDS_8_OR_24;
    if (kNot1Bit.count(id) && img.bits == 1) return KERR_NOT_2_COLOR;
    if (id == CMD_ROTATE) return 0;  // the default angle is 90, which every depth takes
    if (id == CMD_CROP) return KERR_CROP_TOO_BIG;  // 10 from each edge of a 9 x 7 image
    if (kNotYetBuilt.count(id)) return KERR_NOT_IMPLEMENTED;
    if (id == CMD_APPLY_PALETTE) return KERV_FILE_OPEN;           // no palette file named
    if (id == CMD_OPTIMIZED_PALETTE) return KERV_INVALID_PARAM;   // no palette gathered
    if (id == CMD_OVERLAY_WATERMARK) return KERV_INVALID_PARAM;   // no watermark loaded
    return 0;
}

}  // namespace

TEST(Dispatch, EntryChecks) {
    LeakCheck leaks;
    KHANDLE img = MakeRandomDIB(5, 4, 24, 1);
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(CMD_FLIP), -1);
    KHANDLE result = reinterpret_cast<KHANDLE>(uintptr_t{1});
    EXPECT_EQ(s.DoCommand(-1, img, &result, nullptr, "", nullptr, nullptr, 0), -5000);
    EXPECT_EQ(s.DoCommand(1, img, &result, nullptr, "", nullptr, nullptr, 0), -5000);
    EXPECT_EQ(s.DoCommand(0, nullptr, &result, nullptr, "", nullptr, nullptr, 0), -5000);
    EXPECT_EQ(s.DoCommand(0, img, nullptr, nullptr, "", nullptr, nullptr, 0), -5000);
    CScript empty;
    EXPECT_EQ(empty.DoCommand(0, img, &result, nullptr, "", nullptr, nullptr, 0), -5000);

    // A block that is not a DIB cannot be worked on.
    KHANDLE junk = KML_GlobalAlloc(KMEM_GHND, 16);
    result = reinterpret_cast<KHANDLE>(uintptr_t{1});
    EXPECT_EQ(s.DoCommand(0, junk, &result, nullptr, "", nullptr, nullptr, 0), -5002);
    EXPECT_EQ(result, nullptr);
    KML_GlobalFree(junk);

    for (int32_t id : {-1, 0, 500, 562, 65535}) {
        const Outcome r = RunCommand(std::make_unique<CScriptCommand>(id), img);
        EXPECT_EQ(r.rc, -5001) << id;
        EXPECT_EQ(r.result, nullptr);
    }
    KML_GlobalFree(img);
}

TEST(Dispatch, EveryRowAtEveryDepth) {
    LeakCheck leaks;
    for (const Image& img : kImages) {
        KHANDLE image = MakeRandomDIB(9, 7, img.bits, 3, img.grey);
        const auto before = BlockBytes(image);
        for (const CommandInfo& info : AllCommands()) {
            SCOPED_TRACE(testing::Message() << info.id << " on " << img.name);
            const Outcome r = RunCommand(WithDefaults(info.id), image);
            EXPECT_EQ(r.rc, ExpectedCode(info.id, img));
            const bool makesImage = info.kind == CommandKind::ImageOperation;
            if (r.rc == 0 && makesImage) {
                ASSERT_NE(r.result, nullptr);
                EXPECT_NE(r.result, image);
                KML_GlobalFree(r.result);
            } else {
                EXPECT_EQ(r.result, nullptr);
            }
            ASSERT_EQ(BlockBytes(image), before) << "the input was changed";
        }
        KML_GlobalFree(image);
    }
}

TEST(Dispatch, RowsStillWaitingForTheirOperation) {
    // The list above, checked from the other side: on a 24-bit image with
    // default slots, exactly these rows answer -5001.
    KHANDLE image = MakeRandomDIB(9, 7, 24, 3);
    std::set<int32_t> waiting;
    for (const CommandInfo& info : AllCommands()) {
        const Outcome r = RunCommand(WithDefaults(info.id), image);
        if (r.rc == KERR_NOT_IMPLEMENTED) waiting.insert(info.id);
        if (r.result) KML_GlobalFree(r.result);
    }
    EXPECT_EQ(waiting, kNotYetBuilt);
    KML_GlobalFree(image);
}

TEST(Dispatch, SettingsSucceedWithoutAnImage) {
    KHANDLE image = MakeRandomDIB(3, 3, 8, 1);
    for (int32_t id : {CMD_SET_OUTPUT_OPTIONS, CMD_SET_INPUT_OPTIONS}) {
        const Outcome r = RunCommand(std::make_unique<CScriptCommand>(id), image);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.result, nullptr);
    }
    KML_GlobalFree(image);
}

TEST(Dispatch, FlipMirrorRotateMatchTheirOperations) {
    LeakCheck leaks;
    for (const Image& img : kImages) {
        SCOPED_TRACE(img.name);
        KHANDLE image = MakeRandomDIB(11, 6, img.bits, 9, img.grey);
        const auto check = [&](std::unique_ptr<CScriptCommand> cmd, KHANDLE direct) {
            ASSERT_NE(direct, nullptr);
            const Outcome r = RunCommand(std::move(cmd), image);
            ASSERT_EQ(r.rc, 0);
            EXPECT_EQ(ImageContent(r.result), ImageContent(direct));
            KML_GlobalFree(r.result);
            KML_GlobalFree(direct);
        };
        KHANDLE direct = nullptr;
        ASSERT_EQ(FlipDIB(nullptr, image, &direct), 0);
        check(std::make_unique<CScriptCommand>(CMD_FLIP), direct);
        ASSERT_EQ(MirrorDIB(nullptr, image, &direct), 0);
        check(std::make_unique<CScriptCommand>(CMD_MIRROR), direct);
        // P1 = 1 is 180 degrees; P2 = 1 turns left (counter-clockwise).
        const struct {
            int32_t p0, p1, p2;
            double angle;
            uint8_t direction;
        } turns[] = {{0, 0, 0, 90, 1}, {0, 1, 0, 180, 1}, {0, 2, 1, 270, 0}, {0, 0, 1, 90, 0}};
        for (const auto& t : turns) {
            auto cmd = std::make_unique<CScriptCommand>(CMD_ROTATE);
            cmd->m_nParam[0] = t.p0, cmd->m_nParam[1] = t.p1, cmd->m_nParam[2] = t.p2;
            ASSERT_EQ(RotateDIB(nullptr, image, &direct, t.angle, t.direction, 0, 0, 0, 1), 0);
            check(std::move(cmd), direct);
        }
        KML_GlobalFree(image);
    }
}

// A row hands its slots to its operation in the right roles: the command's
// result equals the operation called directly with the expected arguments.
struct RowCase {
    const char* name;
    int32_t id;
    std::vector<int32_t> slots;  // P0, P1, ...
    int bits;
    bool grey;
    std::function<KervErrorCode(KHANDLE image, KHANDLE* out)> direct;
    float f0 = -650000.0f;
};

// Brightness, then contrast on its result.
KervErrorCode BrightnessThenContrast(KHANDLE image, KHANDLE* out, int16_t b, int16_t c) {
    KHANDLE brighter = nullptr;
    if (KervErrorCode rc = AdjustBrightnessContrast(nullptr, image, &brighter, b, 2)) return rc;
    KOwnedHandle owner(brighter);
    return AdjustBrightnessContrast(nullptr, brighter, out, c, 3);
}

class RowMatchesItsOperation : public testing::TestWithParam<RowCase> {};

TEST_P(RowMatchesItsOperation, ForTheGivenSlots) {
    LeakCheck leaks;
    const RowCase& c = GetParam();
    KOwnedHandle image(MakeRandomDIB(19, 7, c.bits, 11, c.grey));
    auto cmd = std::make_unique<CScriptCommand>(c.id);
    for (size_t i = 0; i < c.slots.size(); ++i) cmd->m_nParam[i] = c.slots[i];
    cmd->m_fParam[0] = c.f0;
    cmd->m_crColor[0] = RGB(10, 20, 30);
    cmd->m_crColor[1] = RGB(200, 0, 100);
    KervSrand(77);  // the noise rows draw from the generator
    const Outcome r = RunCommand(std::move(cmd), image.get());
    ASSERT_EQ(r.rc, 0);
    KOwnedHandle got(r.result);
    KHANDLE made = nullptr;
    KervSrand(77);
    ASSERT_EQ(c.direct(image.get(), &made), 0);
    KOwnedHandle want(made);
    EXPECT_EQ(BlockBytes(got.get()), BlockBytes(want.get()));
}

const RowCase kRowCases[] = {
    {"BrightnessThenContrast", CMD_BRIGHTNESS_CONTRAST, {30, -40}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return BrightnessThenContrast(i, o, 30, -40); }},
    {"BrightnessAlone", CMD_BRIGHTNESS_CONTRAST, {-25, 0}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, i, o, -25, 2); }},
    {"ContrastAlone", CMD_BRIGHTNESS_CONTRAST, {0, 45}, 4, false,
     [](KHANDLE i, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, i, o, 45, 3); }},
    {"ContrastOfZeroStillRuns", CMD_BRIGHTNESS_CONTRAST, {0, 0}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AdjustBrightnessContrast(nullptr, i, o, 0, 3); }},
    {"RedGreenBlueInOrder", CMD_RED_GREEN_BLUE, {10, -20, 30}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AdjustRGBDIB(nullptr, i, o, 10, -20, 30); }},
    {"HueSaturationLumInOrder", CMD_HUE_SATURATION_LUM, {15, -35, 20}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AdjustHLSDIB(nullptr, i, o, 15, -35, 20); }},
    {"HighlightMidtoneShadowInOrder", CMD_HIGHLIGHT_MIDTONE_SHADOW, {80, 60, 10}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return AdjustHMSDIB(nullptr, i, o, 80, 60, 10, 0); }},
    {"GammaOnEveryChannel", CMD_GAMMA, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return GammaDIB(nullptr, i, o, 1.7f, 1.7f, 1.7f); }, 1.7f},
    {"GreyscaleRaisesSixteenColours", CMD_GREYSCALE, {}, 4, false,
     [](KHANDLE i, KHANDLE* o) { return GreyscaleDIB(nullptr, i, o); }},
    {"Equalize", CMD_EQUALIZE_HISTOGRAM, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return EqualizeDIB(nullptr, i, o, nullptr); }},
    {"StretchOnGrey", CMD_STRETCH_HISTOGRAM, {}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return StretchDIB(nullptr, i, o, nullptr); }},
    {"NegativeOfPalette", CMD_NEGATIVE, {}, 8, false,
     [](KHANDLE i, KHANDLE* o) { return InvertDIB(nullptr, i, o); }},
    {"Posterize", CMD_POSTERIZE, {3}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return PosterizeDIB(nullptr, i, o, 3); }},
    {"SolarizeIsToneCurveModeFour", CMD_SOLARIZE, {100}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AdjustDIB(nullptr, i, o, 100, 4); }},
    {"ColorizeHueThenSaturation", CMD_COLORIZE, {200, 90}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return ColorizeDIB(nullptr, i, o, 200, 90); }},
    {"EdgeEnhance", CMD_EDGE_ENHANCE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 50); }},
    {"EdgeEnhanceMore", CMD_EDGE_ENHANCE_MORE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 51); }},
    {"FindEdges", CMD_FIND_EDGES, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 61); }},
    {"FindHorizontalEdges", CMD_FIND_HORIZONTAL_EDGES, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 62); }},
    {"FindVerticalEdges", CMD_FIND_VERTICAL_EDGES, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 63); }},
    {"TraceContour", CMD_TRACE_CONTOUR, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 40); }},
    {"BlurOnGrey", CMD_BLUR, {}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 8, 10); }},
    {"BlurMore", CMD_BLUR_MORE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 11); }},
    {"Soften", CMD_SOFTEN, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 30); }},
    {"SoftenMore", CMD_SOFTEN_MORE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 31); }},
    {"Sharpen", CMD_SHARPEN, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 20); }},
    {"SharpenMoreOnGrey", CMD_SHARPEN_MORE, {}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 8, 21); }},
    {"Emboss", CMD_EMBOSS, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return FilterDIB(nullptr, i, o, 24, 1); }},
    {"UnsharpenClippingThenStrength", CMD_UNSHARPEN, {7, 3}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return UnsharpMask(nullptr, i, o, 7, 3); }},
    {"TwoColoursByThresholdWeighted", CMD_TO_2_COLORS, {0, 0, 0, 0}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return DitherTo2Colors(nullptr, i, o, 0, 0, 1); }},
    {"TwoColoursOrderedFromGreen", CMD_TO_2_COLORS, {2, 1, 1, 0}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return OrderedDither2(nullptr, i, o, 2); }},
    {"TwoColoursStuckiFromRedUnweighted", CMD_TO_2_COLORS, {1, 1, 2, 2}, 8, false,
     [](KHANDLE i, KHANDLE* o) { return DitherTo2Colors(nullptr, i, o, 3, 1, 0); }},
    {"TwoColoursFloydSteinbergWeighted", CMD_TO_2_COLORS, {0, 0, 2, 0}, 4, false,
     [](KHANDLE i, KHANDLE* o) { return DitherTo2Colors(nullptr, i, o, 1, 0, 1); }},
    {"SixteenStandardDiffusedWithLessBleed", CMD_TO_16_COLORS, {2, 2, 1}, 24, false,
     [](KHANDLE i, KHANDLE* o) {
         return DitherToStandardPalette(nullptr, i, o, 4, 2, 1, DataFilePath("KCD.DAT"));
     }},
    {"SixteenStandardFromPalette", CMD_TO_16_COLORS, {2, 0, 0}, 8, false,
     [](KHANDLE i, KHANDLE* o) {
         return DitherToStandardPalette(nullptr, i, o, 4, 0, 0, DataFilePath("KCD.DAT"));
     }},
    {"TwoFiftySixStandardOrdered", CMD_TO_256_COLORS, {2, 1, 0, 0}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return DitherToStandardPalette(nullptr, i, o, 8, 1, 0, ""); }},
    {"TwoFiftySixStandardNearest", CMD_TO_256_COLORS, {2, 0, 0, 1}, 24, false,
     [](KHANDLE i, KHANDLE* o) {
         return DitherToStandardPalette(nullptr, i, o, 8, 0, 1, DataFilePath("KCD.DAT"));
     }},
    {"HorizontalPerspectiveRightSide", CMD_HORIZONTAL_PERSPECTIVE, {40}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return HPerspectiveDIB(nullptr, i, o, 1, 40, 10, 20, 30); }},
    {"HorizontalPerspectiveLeftSideOnGrey", CMD_HORIZONTAL_PERSPECTIVE, {-70}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return HPerspectiveDIB(nullptr, i, o, 0, 70, 10, 20, 30); }},
    {"VerticalPerspectiveLeftSide", CMD_VERTICAL_PERSPECTIVE, {-30}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return VPerspectiveDIB(nullptr, i, o, 0, 30, 10, 20, 30); }},
    {"HorizontalCylinder", CMD_HORIZONTAL_CYLINDER, {30}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return WarpDIB(nullptr, i, o, 100, 70); }},
    {"VerticalCylinder", CMD_VERTICAL_CYLINDER, {45}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return WarpDIB(nullptr, i, o, 55, 100); }},
    {"Pinch", CMD_PINCH, {60}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return WarpDIB(nullptr, i, o, 160, 160); }},
    {"Punch", CMD_PUNCH, {25}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return WarpDIB(nullptr, i, o, 75, 75); }},
    {"CircleInTheColour", CMD_CIRCLE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return CircleDIB(nullptr, i, o, 10, 20, 30); }},
    {"PentagonInTheColour", CMD_PENTAGON, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return PentagonDIB(nullptr, i, o, 10, 20, 30); }},
    {"WindFromTheRight", CMD_WIND, {0, 7}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return WindDIB(nullptr, i, o, 0, 0, 7, 1); }},
    {"WindFromTheLeftOnGrey", CMD_WIND, {1, 12}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return WindDIB(nullptr, i, o, 0, 0, 12, 0); }},
    {"MotionBlurIntensityAndAngle", CMD_MOTION_BLUR, {30, 6}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return MotionBlurDIB(nullptr, i, o, 6, 30); }},
    {"SkewHorizontal", CMD_SKEW, {15, 0}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return SkewDIB(nullptr, i, o, 15, 0, 10, 20, 30); }},
    {"SkewVerticalOnGrey", CMD_SKEW, {0, -25}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return SkewDIB(nullptr, i, o, 0, -25, 10, 20, 30); }},
    {"ColorReplacementOfColourZero", CMD_COLOR_REPLACEMENT, {30}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return ReplaceColorDIB(i, o, RGB(10, 20, 30), RGB(200, 0, 100), 30); }},
    {"ColorReplacementOnPalette", CMD_COLOR_REPLACEMENT, {45}, 4, false,
     [](KHANDLE i, KHANDLE* o) { return ReplaceColorDIB(i, o, RGB(10, 20, 30), RGB(200, 0, 100), 45); }},
    {"Erode", CMD_ERODE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return RankFilterDIB(nullptr, i, o, 0); }},
    {"MedianOnGrey", CMD_MEDIAN, {}, 8, true,
     [](KHANDLE i, KHANDLE* o) { return RankFilterDIB(nullptr, i, o, 1); }},
    {"Dilate", CMD_DILATE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return RankFilterDIB(nullptr, i, o, 2); }},
    {"Despeckle", CMD_DESPECKLE, {}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return DespeckleDIB(nullptr, i, o); }},
    {"UniformNoise", CMD_ADD_NOISE, {1, 40}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AddNoiseDIB(nullptr, i, o, 1, 40); }},
    {"RandomNoiseOnPaletteIndexes", CMD_ADD_NOISE, {0, 70}, 8, false,
     [](KHANDLE i, KHANDLE* o) { return AddNoiseDIB(nullptr, i, o, 0, 70); }},
    {"NoiseAmountIsSixteenBits", CMD_ADD_NOISE, {1, 65536 + 20}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return AddNoiseDIB(nullptr, i, o, 1, 20); }},
    {"MosaicWidthThenHeight", CMD_MOSAIC, {4, 3}, 24, false,
     [](KHANDLE i, KHANDLE* o) { return MosaicDIB(nullptr, i, nullptr, o, 4, 3); }},
};

INSTANTIATE_TEST_SUITE_P(Rows, RowMatchesItsOperation, testing::ValuesIn(kRowCases),
                         [](const testing::TestParamInfo<RowCase>& i) { return i.param.name; });

// ---- The palette rows ----

// A palette of n distinct colours.
std::vector<RGBQUAD> SomeColours(int n) {
    std::vector<RGBQUAD> p(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        p[size_t(i)] = {uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 91 + 5), 0};
    return p;
}

void WriteTextPalette(const std::filesystem::path& file, const std::vector<RGBQUAD>& p) {
    std::string t = "KERV-PAL\r\n0100\r\n" + std::to_string(p.size()) + "\r\n";
    for (const RGBQUAD& q : p)
        t += std::to_string(q.rgbRed) + " " + std::to_string(q.rgbGreen) + " " +
             std::to_string(q.rgbBlue) + "\r\n";
    WriteFileBytes(file, std::vector<uint8_t>(t.begin(), t.end()));
}

void WriteRiffPalette(const std::filesystem::path& file, const std::vector<RGBQUAD>& p) {
    std::vector<uint8_t> b;
    const auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    const auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i]));
    };
    const uint32_t data = 4 + 4 * uint32_t(p.size());
    tag("RIFF"), u32(4 + 8 + data), tag("PAL "), tag("data"), u32(data);
    b.push_back(0x00), b.push_back(0x03);  // version 0x300
    b.push_back(uint8_t(p.size())), b.push_back(uint8_t(p.size() >> 8));
    for (const RGBQUAD& q : p) b.insert(b.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    WriteFileBytes(file, b);
}

// The command's result against the operations called directly.
void ExpectSameImage(std::unique_ptr<CScriptCommand> cmd, KHANDLE image, KHANDLE want,
                     const RGBQUAD* optimum = nullptr, int optimumCount = 0) {
    KOwnedHandle owner(want);
    ASSERT_NE(want, nullptr);
    CScript s;
    s.InsertCommand(std::move(cmd), -1);
    KHANDLE got = nullptr;
    ASSERT_EQ(s.DoCommand(0, image, &got, nullptr, "", nullptr, optimum, optimumCount), 0);
    KOwnedHandle gotOwner(got);
    EXPECT_EQ(BlockBytes(got), BlockBytes(want));
}

std::unique_ptr<CScriptCommand> Command(int32_t id, std::vector<int32_t> slots,
                                        std::string s0 = "") {
    auto cmd = std::make_unique<CScriptCommand>(id);
    for (size_t i = 0; i < slots.size(); ++i) cmd->m_nParam[i] = slots[i];
    cmd->m_strParam[0] = std::move(s0);
    return cmd;
}

TEST(Dispatch, ApplyANewPaletteReadsTextThenRiff) {
    LeakCheck leaks;
    TempDir dir;
    const auto sixteen = SomeColours(16), all = SomeColours(256);
    WriteTextPalette(dir / "sixteen.pal", sixteen);
    WriteRiffPalette(dir / "all.pal", all);
    KOwnedHandle full(MakeRandomDIB(17, 6, 24, 4)), four(MakeRandomDIB(17, 6, 4, 4));
    const std::string text = (dir / "sixteen.pal").string(), riff = (dir / "all.pal").string();
    ReleaseDitherCache();

    KHANDLE want = nullptr;
    // Nearest colour and error diffusion, to 4 bits for a 16-entry file.
    ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, 4, sixteen.data(), 0, 0, 16), 0);
    ExpectSameImage(Command(CMD_APPLY_PALETTE, {0}, text), full.get(), want);
    ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, 4, sixteen.data(), 2, 0, 16), 0);
    ExpectSameImage(Command(CMD_APPLY_PALETTE, {1}, text), full.get(), want);
    // The RIFF form, to 8 bits; a 16-colour image is raised to 8 bits first.
    ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, 8, all.data(), 2, 0, 256), 0);
    ExpectSameImage(Command(CMD_APPLY_PALETTE, {1}, riff), full.get(), want);
    {
        KHANDLE raised = nullptr;
        ASSERT_EQ(IncreaseDepthDIB(nullptr, four.get(), &raised, 8), 0);
        KOwnedHandle owner(raised);
        ASSERT_EQ(DitherToPalette(nullptr, raised, &want, 8, all.data(), 0, 0, 256), 0);
        ExpectSameImage(Command(CMD_APPLY_PALETTE, {0}, riff), four.get(), want);
        // Also before keeping the indexes.
        ASSERT_EQ(ReplacePaletteDIB(raised, &want, 256, all.data()), 0);
        ExpectSameImage(Command(CMD_APPLY_PALETTE, {2}, riff), four.get(), want);
    }
    // Maintain indexes puts the file's colours on the image's indexes.
    ASSERT_EQ(ReplacePaletteDIB(four.get(), &want, 16, sixteen.data()), 0);
    ExpectSameImage(Command(CMD_APPLY_PALETTE, {2}, text), four.get(), want);
    ReleaseDitherCache();

    // The readers' refusals come back unchanged; an unknown method does nothing.
    const auto code = [&](std::unique_ptr<CScriptCommand> cmd, KHANDLE image) {
        const Outcome r = RunCommand(std::move(cmd), image);
        EXPECT_EQ(r.result, nullptr);
        return r.rc;
    };
    WriteFileBytes(dir / "junk.pal", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 'l', 'e', 't', 't', 'e'});
    EXPECT_EQ(code(Command(CMD_APPLY_PALETTE, {0}, (dir / "junk.pal").string()), full.get()),
              KERV_BAD_PALETTE_FILE);
    EXPECT_EQ(code(Command(CMD_APPLY_PALETTE, {0}, (dir / "none.pal").string()), full.get()),
              KERV_FILE_OPEN);
    KOwnedHandle eight(MakeRandomDIB(17, 6, 8, 4));
    EXPECT_EQ(code(Command(CMD_APPLY_PALETTE, {2}, text), eight.get()), KERV_PALETTE_MISMATCH);
    EXPECT_EQ(code(Command(CMD_APPLY_PALETTE, {3}, text), full.get()), 0);
}

TEST(Dispatch, ApplyFullyOptimizedPaletteUsesTheGatheredOne) {
    LeakCheck leaks;
    KOwnedHandle full(MakeRandomDIB(23, 5, 24, 8)), eight(MakeRandomDIB(23, 5, 8, 8));
    // As the scan leaves it: 10 Windows colours, 200 gathered ones, 10 more.
    RGBQUAD gathered[256] = {};
    const auto colours = SomeColours(200);
    for (int i = 0; i < 200; ++i) gathered[10 + i] = colours[size_t(i)];
    for (int i = 0; i < 10; ++i) {
        gathered[i] = kWindowsSystemColors[i];
        gathered[210 + i] = kWindowsSystemColors[10 + i];
    }
    ReleaseDitherCache();
    KHANDLE want = nullptr;
    // P1 adds the 20 Windows colours to the count; P2 picks the method.
    ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, 8, gathered, 0, 0, 220), 0);
    ExpectSameImage(Command(CMD_OPTIMIZED_PALETTE, {200, 1, 0, 0}), full.get(), want, gathered, 200);
    ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, 8, gathered, 2, 1, 200), 0);
    ExpectSameImage(Command(CMD_OPTIMIZED_PALETTE, {200, 0, 1, 1}), full.get(), want, gathered, 200);
    // A palette image is raised to 24 bits first.
    {
        KHANDLE raised = nullptr;
        ASSERT_EQ(IncreaseDepthDIB(nullptr, eight.get(), &raised, 24), 0);
        KOwnedHandle owner(raised);
        ASSERT_EQ(DitherToPalette(nullptr, raised, &want, 8, gathered, 0, 0, 200), 0);
        ExpectSameImage(Command(CMD_OPTIMIZED_PALETTE, {200, 0, 0, 0}), eight.get(), want, gathered,
                        200);
    }
    ReleaseDitherCache();
    // Without a gathered palette there is nothing to apply.
    const Outcome r = RunCommand(Command(CMD_OPTIMIZED_PALETTE, {200, 0, 0, 0}), full.get());
    EXPECT_EQ(r.rc, KERV_INVALID_PARAM);
    EXPECT_EQ(r.result, nullptr);
}

// 521 and 522 with an optimized palette: the image's own palette, then the
// reduction to it.
TEST(Dispatch, ReductionToTheImagesOwnPalette) {
    LeakCheck leaks;
    KOwnedHandle full(MakeRandomDIB(29, 11, 24, 12));
    const struct {
        const char* name;
        int32_t id;
        std::vector<int32_t> slots;
        uint8_t kind, target, method, bleed;
        uint16_t limit;
        bool windows;
    } cases[] = {
        {"16 median cut, nearest", CMD_TO_16_COLORS, {0, 0, 0}, 0, 4, 0, 0, 16, false},
        {"16 octree, diffused, less bleed", CMD_TO_16_COLORS, {1, 2, 1}, 1, 4, 2, 1, 16, false},
        {"256 median cut, diffused", CMD_TO_256_COLORS, {0, 2, 0, 0}, 0, 8, 2, 0, 256, false},
        {"256 octree with Windows colours", CMD_TO_256_COLORS, {1, 0, 1, 0}, 1, 8, 0, 0, 236, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RGBQUAD palette[256] = {};
        PaletteAccumulator a;
        ASSERT_EQ(a.Begin(c.kind, c.limit, 8, c.windows), 0);
        ASSERT_EQ(a.AddImage(full.get()), 0);
        const uint16_t count = static_cast<uint16_t>(a.Generate(palette, c.windows) + (c.windows ? 20 : 0));
        ReleaseDitherCache();
        KHANDLE want = nullptr;
        ASSERT_EQ(DitherToPalette(nullptr, full.get(), &want, c.target, palette, c.method, c.bleed, count), 0);
        ReleaseDitherCache();
        ExpectSameImage(Command(c.id, c.slots), full.get(), want);
    }
    // Ordered dithering goes with the standard palettes only: nothing is done.
    const Outcome r = RunCommand(Command(CMD_TO_256_COLORS, {0, 1, 0, 0}), full.get());
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.result, nullptr);
}

TEST(Dispatch, OverlayWatermarkTakesTheLoadedWatermark) {
    LeakCheck leaks;
    KOwnedHandle image(MakeRandomDIB(40, 30, 24, 2)), mark(MakeRandomDIB(11, 7, 24, 3));
    for (const auto& slots : std::vector<std::vector<int32_t>>{{25, 80, 60, 0, 10, 1},
                                                              {100, 0, 100, 0, 0, 0}}) {
        auto cmd = Command(CMD_OVERLAY_WATERMARK, slots);
        cmd->m_crColor[0] = RGB(10, 20, 30);
        CScript s;
        s.InsertCommand(std::move(cmd), -1);
        KHANDLE got = nullptr, want = nullptr;
        ASSERT_EQ(s.DoCommand(0, image.get(), &got, mark.get(), "", nullptr, nullptr, 0), 0);
        KOwnedHandle gotOwner(got);
        ASSERT_EQ(OverlayWatermark(nullptr, image.get(), &want, int16_t(slots[0]), int16_t(slots[1]),
                                   uint8_t(slots[2]), mark.get(), 30, 20, 10, int16_t(slots[4]),
                                   int16_t(slots[5])),
                  0);
        KOwnedHandle wantOwner(want);
        EXPECT_EQ(BlockBytes(got), BlockBytes(want));
    }
    // An opacity beyond a byte is refused, not wrapped onto a valid one.
    KHANDLE got = nullptr;
    CScript s;
    s.InsertCommand(Command(CMD_OVERLAY_WATERMARK, {50, 50, 256 + 50, 0, 0, 0}), -1);
    EXPECT_EQ(s.DoCommand(0, image.get(), &got, mark.get(), "", nullptr, nullptr, 0), KERV_INVALID_PARAM);
    EXPECT_EQ(got, nullptr);
}

// The colour replacement reports no progress of its own; the row reports 0
// and, when it succeeded, 100 of 100.
TEST(Dispatch, ColorReplacementReportsItsStartAndEnd) {
    LeakCheck leaks;
    KOwnedHandle image(MakeRandomDIB(9, 4, 24, 5));
    std::vector<std::pair<int32_t, int32_t>> seen;
    StatusControlBlock status;
    status.pass = 3, status.passCount = 4;
    status.progress = [&](StatusControlBlock* s) {
        seen.emplace_back(s->current, s->total);
        EXPECT_EQ(s->pass, 0);
        EXPECT_EQ(s->passCount, 0);
        return 0;
    };
    const Outcome r = RunCommand(Command(CMD_COLOR_REPLACEMENT, {20}), image.get(), &status);
    ASSERT_EQ(r.rc, 0);
    KML_GlobalFree(r.result);
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{0, 100}, {100, 100}}));
    // A refusal: only the start.
    seen.clear();
    const Outcome bad = RunCommand(Command(CMD_COLOR_REPLACEMENT, {101}), image.get(), &status);
    EXPECT_EQ(bad.rc, KERV_INVALID_PARAM);
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{0, 100}}));
}

TEST(Dispatch, RotateDepthRules) {
    LeakCheck leaks;
    const auto rotate = [](KHANDLE image, int32_t p0, int32_t p1, COLORREF c0 = 0) {
        auto cmd = std::make_unique<CScriptCommand>(CMD_ROTATE);
        cmd->m_nParam[0] = p0, cmd->m_nParam[1] = p1, cmd->m_nParam[2] = 0;
        cmd->m_crColor[0] = c0;
        const Outcome r = RunCommand(std::move(cmd), image);
        if (r.result) KML_GlobalFree(r.result);
        return r.rc;
    };
    KHANDLE four = MakeRandomDIB(8, 8, 4, 2), full = MakeRandomDIB(8, 8, 24, 2),
            grey = MakeRandomDIB(8, 8, 8, 2, true);
    EXPECT_EQ(rotate(four, 0, 1), 0);                       // 180 on 16 colours runs
    EXPECT_EQ(rotate(four, 30, 3), KERR_NEEDS_TC_OR_GREY);  // a free 30 does not
    EXPECT_EQ(rotate(four, 90, 3), 0);                      // a free 90 is a quarter turn
    EXPECT_EQ(rotate(four, 0, 7), KERR_NEEDS_TC_OR_GREY);   // unknown choice: angle 0
    EXPECT_EQ(rotate(full, 30, 3, RGB(10, 20, 30)), 0);
    EXPECT_EQ(rotate(grey, 30, 3, RGB(10, 20, 30)), 0);
    EXPECT_EQ(rotate(full, 0, 7), KERV_INVALID_PARAM);      // RotateDIB refuses angle 0
    EXPECT_EQ(rotate(full, 0, 3), KERV_INVALID_PARAM);
    for (KHANDLE h : {four, full, grey}) KML_GlobalFree(h);
}

TEST(Dispatch, ChangeToTrueColourAlwaysGivesANewImage) {
    LeakCheck leaks;
    for (const Image& img : kImages) {
        SCOPED_TRACE(img.name);
        KHANDLE image = MakeRandomDIB(10, 3, img.bits, 4, img.grey);
        const Outcome r = RunCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), image);
        ASSERT_EQ(r.rc, 0);
        ASSERT_NE(r.result, nullptr);
        EXPECT_NE(r.result, image);
        KHANDLE expected = nullptr;
        if (img.bits == 24) {
            ASSERT_EQ(CopyDIB(image, &expected), 0);
        } else {
            ASSERT_EQ(IncreaseDepthDIB(nullptr, image, &expected, 24), 0);
        }
        EXPECT_EQ(BlockBytes(r.result), BlockBytes(expected));
        KML_GlobalFree(expected);
        KML_GlobalFree(r.result);
        KML_GlobalFree(image);
    }
}

TEST(Dispatch, SixteenAnd256ColoursCopyOrRaise) {
    LeakCheck leaks;
    const struct {
        int32_t id;
        int bits;
        int wantBits;
    } cases[] = {{CMD_TO_16_COLORS, 1, 4}, {CMD_TO_16_COLORS, 4, 4}, {CMD_TO_256_COLORS, 1, 8},
                 {CMD_TO_256_COLORS, 4, 8}, {CMD_TO_256_COLORS, 8, 8}, {CMD_TO_2_COLORS, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " from " << c.bits);
        KHANDLE image = MakeRandomDIB(13, 4, c.bits, 5);
        const Outcome r = RunCommand(WithDefaults(c.id), image);
        ASSERT_EQ(r.rc, 0);
        ASSERT_NE(r.result, nullptr);
        EXPECT_NE(r.result, image);
        KHANDLE expected = nullptr;
        if (c.bits == c.wantBits) {
            ASSERT_EQ(CopyDIB(image, &expected), 0);
        } else {
            ASSERT_EQ(IncreaseDepthDIB(nullptr, image, &expected, static_cast<uint16_t>(c.wantBits)), 0);
        }
        EXPECT_EQ(BlockBytes(r.result), BlockBytes(expected));
        KML_GlobalFree(expected);
        KML_GlobalFree(r.result);
        KML_GlobalFree(image);
    }
}

TEST(Dispatch, ResizeChecksBeforeItsOperation) {
    KHANDLE palette = MakeRandomDIB(20, 10, 4, 1), full = MakeRandomDIB(20, 10, 24, 1);
    const auto resize = [](KHANDLE image, std::initializer_list<int32_t> p, CScriptCommand* after = nullptr) {
        auto cmd = std::make_unique<CScriptCommand>(CMD_RESIZE);
        int i = 0;
        for (int32_t v : p) cmd->m_nParam[i++] = v;
        CScript s;
        CScriptCommand* in = s.InsertCommand(std::move(cmd), -1);
        KHANDLE result = nullptr;
        const KervErrorCode rc = s.DoCommand(0, image, &result, nullptr, "", nullptr, nullptr, 0);
        EXPECT_EQ(result, nullptr);
        if (after) *after = *in;
        return rc;
    };
    CScriptCommand after;
    // Modes 0..4 store their fixed size, even when a check then fails.
    EXPECT_EQ(resize(palette, {3, 1, 5, 5, 0}, &after), KERR_NEEDS_TC_OR_GREY);
    EXPECT_EQ(after.m_nParam[2], 800);
    EXPECT_EQ(after.m_nParam[3], 600);
    EXPECT_EQ(resize(full, {6, 0, 0, 100, 0}), KERR_RESIZE_TOO_SMALL);
    EXPECT_EQ(resize(full, {6, 0, 40000, 100, 0}), KERR_RESIZE_TOO_BIG);
    EXPECT_EQ(resize(full, {5, 0, -10, 100, 0}), KERR_RESIZE_TOO_BIG);  // negative sizes compare unsigned
    EXPECT_EQ(resize(full, {5, 0, 100, 0, 0}), KERR_RESIZE_TOO_SMALL);
    EXPECT_EQ(resize(full, {5, 0, 1, 1, 1}), KERR_RESIZE_TOO_SMALL);     // 1% of 20 x 10 is 0
    EXPECT_EQ(resize(full, {9, 0, 100, 100, 0}), KERR_RESIZE_TOO_SMALL);  // unknown mode: 0 x 0
    EXPECT_EQ(resize(full, {5, 3, 100, 100, 0}), KERV_INVALID_PARAM);
    EXPECT_EQ(resize(full, {7, 0, 1, 32767, 0}), KERR_RESIZE_TOO_BIG);   // width 65534
    // The percent products are 32-bit: (2^31 - 1) x 20 wraps to -20, and -20 / 100 is 0.
    EXPECT_EQ(resize(full, {5, 0, INT32_MAX, INT32_MAX, 1}), KERR_RESIZE_TOO_SMALL);
    EXPECT_EQ(resize(full, {5, 0, 200000, 100, 1}), KERR_RESIZE_TOO_BIG);
    KML_GlobalFree(palette);
    KML_GlobalFree(full);
}

TEST(Dispatch, FailuresHandNothingOutAndLeakNothing) {
    KHANDLE image = MakeRandomDIB(16, 9, 8, 6);
    for (int32_t id : {CMD_TO_TRUE_COLOR, CMD_TO_256_COLORS, CMD_ROTATE, CMD_FLIP}) {
        CScript s;
        s.InsertCommand(WithDefaults(id), -1);
        if (id == CMD_TO_256_COLORS) {
            KHANDLE four = MakeRandomDIB(16, 9, 4, 6);
            SweepAllocationFailures(four, [&](KHANDLE* out) {
                return s.DoCommand(0, four, out, nullptr, "", nullptr, nullptr, 0);
            });
            KML_GlobalFree(four);
            continue;
        }
        const int points = SweepAllocationFailures(image, [&](KHANDLE* out) {
            return s.DoCommand(0, image, out, nullptr, "", nullptr, nullptr, 0);
        });
        EXPECT_GE(points, 1) << id;
    }
    KML_GlobalFree(image);
}

// Rows that make an intermediate image of their own free it on every path.
TEST(Dispatch, IntermediatesAreFreedOnEveryFailure) {
    KOwnedHandle four(MakeRandomDIB(16, 9, 4, 6)), full(MakeRandomDIB(16, 9, 24, 6));
    const struct {
        const char* name;
        int32_t id;
        std::vector<int32_t> slots;
        KHANDLE image;
    } cases[] = {{"brightness then contrast", CMD_BRIGHTNESS_CONTRAST, {20, 30}, full.get()},
                 {"greyscale of a raised copy", CMD_GREYSCALE, {}, four.get()},
                 {"unsharpen", CMD_UNSHARPEN, {5, 4}, full.get()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScript s;
        auto cmd = std::make_unique<CScriptCommand>(c.id);
        for (size_t i = 0; i < c.slots.size(); ++i) cmd->m_nParam[i] = c.slots[i];
        s.InsertCommand(std::move(cmd), -1);
        EXPECT_GE(SweepAllocationFailures(c.image, [&](KHANDLE* out) {
                      return s.DoCommand(0, c.image, out, nullptr, "", nullptr, nullptr, 0);
                  }),
                  2);
    }
}

TEST(Dispatch, StopRequestsPassThrough) {
    LeakCheck leaks;
    KHANDLE image = MakeRandomDIB(16, 9, 4, 6);
    StoppingStatus stop(2);
    const Outcome r = RunCommand(std::make_unique<CScriptCommand>(CMD_TO_TRUE_COLOR), image, &stop.block);
    EXPECT_EQ(r.rc, KERV_STOPPED);
    EXPECT_EQ(r.result, nullptr);
    KML_GlobalFree(image);
}

TEST(Dispatch, SlotValuesOutsideTheRangesNeverCrash) {
    LeakCheck leaks;
    KHANDLE images[] = {MakeRandomDIB(6, 5, 1, 8), MakeRandomDIB(6, 5, 24, 8)};
    for (KHANDLE image : images) {
        for (const CommandInfo& info : AllCommands())
            for (int32_t v : {PARAM_UNSET, INT32_MIN, INT32_MAX, -1, 1000}) {
                auto cmd = std::make_unique<CScriptCommand>(info.id);
                cmd->m_nParam.fill(v);
                const Outcome r = RunCommand(std::move(cmd), image);
                if (r.rc != 0) {
                    EXPECT_EQ(r.result, nullptr) << info.id;
                }
                if (r.result && r.result != reinterpret_cast<KHANDLE>(uintptr_t{1})) KML_GlobalFree(r.result);
            }
        KML_GlobalFree(image);
    }
}
