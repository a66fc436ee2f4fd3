// GetCommandDescription: every kind against its format string, written out
// here literally and formatted with the C library, for typical slot values,
// plus the edge cases of the resize text and the selected-string rules.
#include "formats/format_table.h"
#include "script/script.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>

namespace {

std::string F(const char* fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// Describes one command (returns the text; the command may be changed).
std::string Describe(CScriptCommand& c) {
    CScript s;
    CScriptCommand* in = s.InsertCommand(std::make_unique<CScriptCommand>(c), -1);
    std::string text = "unchanged";
    s.GetCommandDescription(0, text);
    c = *in;
    return text;
}

CScriptCommand Cmd(int32_t id, std::initializer_list<int32_t> p = {}, COLORREF c0 = 0,
                   COLORREF c1 = 0) {
    CScriptCommand c(id);
    int i = 0;
    for (int32_t v : p) c.m_nParam[i++] = v;
    c.m_crColor = {c0, c1};
    return c;
}

constexpr COLORREF kOrange = RGB(255, 128, 7);
const std::string kOrangeText = "Color: R:255 G:128 B:7";

}  // namespace

TEST(Description, ParameterlessAndUnknownKindsSayNone) {
    for (const CommandInfo& info : AllCommands()) {
        if (CommandHasParameters(info.id)) continue;
        CScriptCommand c(info.id);
        EXPECT_EQ(Describe(c), "None") << info.id;
    }
    for (int32_t id : {-1, 0, 500, 562, 9999}) {
        CScriptCommand c(id);
        EXPECT_EQ(Describe(c), "None") << id;
    }
}

TEST(Description, IndexOutsideTheScriptLeavesTheText) {
    CScript s;
    s.InsertCommand(std::make_unique<CScriptCommand>(537), -1);
    std::string text = "keep";
    s.GetCommandDescription(1, text);
    EXPECT_EQ(text, "keep");
    s.GetCommandDescription(-1, text);
    EXPECT_EQ(text, "keep");
}

TEST(Description, EveryKindMatchesItsFormat) {
    struct Case {
        CScriptCommand cmd;
        std::string expected;
    };
    CScriptCommand gamma(511);
    gamma.m_fParam[0] = 1.2f;
    CScriptCommand palette = Cmd(518, {1});
    palette.m_strParam[0] = "/home/u/web.pal";
    CScriptCommand watermark = Cmd(559, {25, 75, 60, 0, 12, 1}, kOrange);
    watermark.m_strParam[0] = "logo.png";
    CScriptCommand input = Cmd(560, {1, 0});
    input.m_strParam[0] = "list.brl";
    CScriptCommand print = Cmd(561, {500, 250, 3000, 4000, 1, 0, 1, 0, 0, 2});
    print.m_fParam = {4.0f, 3.0f};
    const Case cases[] = {
        {Cmd(502, {10, -20}), F("Brightness: %ld\nContrast: %ld", 10L, -20L)},
        {Cmd(503, {1, 2, -3}), F("Red: %ld\nGreen: %ld\nBlue: %ld", 1L, 2L, -3L)},
        {Cmd(504, {4, 5, 6}), F("Hue: %ld\nSaturation: %ld\nLuminance: %ld", 4L, 5L, 6L)},
        {Cmd(505, {100, 50, 0}), F("Highlight: %ld\nMidtone: %ld\nShadow: %ld", 100L, 50L, 0L)},
        {Cmd(508, {33, 1, 1}, kOrange),
         F("Direction: %s\nDegrees: %ld\n%s", "Left", 180L, kOrangeText.c_str())},
        {Cmd(508, {33, 3, 0}), F("Direction: %s\nDegrees: %ld\n%s", "Right", 33L, "Color: R:0 G:0 B:0")},
        {Cmd(508, {33, 0, 0}), F("Direction: %s\nDegrees: %ld\n%s", "Right", 90L, "Color: R:0 G:0 B:0")},
        {Cmd(508, {33, 2, 0}), F("Direction: %s\nDegrees: %ld\n%s", "Right", 270L, "Color: R:0 G:0 B:0")},
        {Cmd(509, {1, 2, 3, 4}, kOrange),
         F("Left: %ld\nRight: %ld\nTop: %ld\nBottom: %ld\n%s", 1L, 2L, 3L, 4L, kOrangeText.c_str())},
        {Cmd(510, {1, 800, 600}, kOrange),
         F("New Width: %ld\nNew Height: %ld\n%s\n%s", 800L, 600L, "Center Image", kOrangeText.c_str())},
        {Cmd(510, {0, 80, 60}),
         F("New Width: %ld\nNew Height: %ld\n%s\n%s", 80L, 60L, "Place image in upper left",
           "Color: R:0 G:0 B:0")},
        {gamma, F("Correction: %.2f", 1.2)},
        {Cmd(516, {4}), "Bits Per Channel: 4"},
        {Cmd(517, {128}), "Threshold: 128"},
        {palette, "File: /home/u/web.pal\nApply using:\n  Error Diffusion Dithering"},
        {Cmd(519, {236, 1, 1, 1, 1}),
         "Number of colors: 256\nApply using:\n  Optimized Octree Palette\n  Error Diffusion Dither\n"
         "  Include Windows Colors\n  Reduce Color Bleed"},
        {Cmd(519, {16, 0, 0, 0, 0}),
         "Number of colors: 16\nApply using:\n  Optimized Median Cut Palette\n  Nearest Color Match\n"
         "  Don't Include Windows Colors\n  Don't Reduce Color Bleed"},
        {Cmd(520, {2, 1, 2, 1}),
         "If needed, dither using:\n  Green components\n  Non Weighted Palette\n  Burkes Error Diffusion"},
        {Cmd(520, {0, 0, 1, 0}),
         "If needed, dither using:\n  Grey Values\n  Weighted Palette\n  Ordered Dither"},
        {Cmd(520, {3, 0, 0, 0}),
         "If needed, dither using:\n  Blue components\n  Weighted Palette\n  Nearest Color"},
        {Cmd(520, {1, 0, 2, 2}),
         "If needed, dither using:\n  Red components\n  Weighted Palette\n  Stucki Error Diffusion"},
        {Cmd(521, {2, 1, 0}),
         "If needed, dither using:\n  Standard Palette\n  Ordered Dither\n  Don't Reduce Color Bleed"},
        {Cmd(522, {0, 2, 1, 1}),
         "If needed, dither using:\n  Optimized Median Cut Palette\n  Error Diffusion Dither\n"
         "  Include Windows Colors\n  Reduce Color Bleed"},
        {Cmd(524, {50, 10}), "Hue: 50\nSaturation: 10"},
        {Cmd(525, {-30}, kOrange), "Difference: -30\n" + kOrangeText},
        {Cmd(526, {40}), "Difference: 40\nColor: R:0 G:0 B:0"},
        {Cmd(527, {30}), "Effect: 30"},
        {Cmd(528, {31}), "Effect: 31"},
        {Cmd(529, {32}), "Effect: 32"},
        {Cmd(530, {33}), "Effect: 33"},
        {Cmd(543, {10, 2}), "Clipping: 10\nStrength: 2"},
        {Cmd(545, {}, kOrange), kOrangeText},
        {Cmd(546, {}, RGB(1, 2, 3)), "Color: R:1 G:2 B:3"},
        {Cmd(547, {1, 5}), "Strength: 5\nDirection: Left"},
        {Cmd(547, {0, 7}), "Strength: 7\nDirection: Right"},
        {Cmd(548, {45, 5}), "Angle: 45\nIntensity: 5"},
        {Cmd(549, {20, -5}, kOrange), "Horizontal: 20\nVertical: -5\n" + kOrangeText},
        {Cmd(550, {1, 50}), "Type: Uniform\nAmount: 50"},
        {Cmd(550, {0, 5}), "Type: Random\nAmount: 5"},
        {Cmd(556, {4, 3}), "Block Width: 4\nBlock Height: 3"},
        {Cmd(557, {1, 120, 80}), "Center Crop\nHeight: 80\nWidth: 120\n"},
        {Cmd(557, {0, 120, 80, 1, 2, 3, 4}), "Crop Edge\nTop: 1\nBottom: 2\nLeft: 3\nRight: 4\n"},
        {Cmd(558, {15}, kOrange, RGB(0, 9, 200)),
         "Original Color:\n  R: 255  G: 128  B: 7\nReplacement Color:\n  R: 0  G: 9  B: 200\nTolerance: 15"},
        {watermark,
         "Height Percent:  25\nWidth Percent:  75\nOpacity:  60\nTolerance:  12\nUse Transparency\n  " +
             kOrangeText + "\nWatermark: \n  logo.png"},
        {input, "Input Image List:\n  list.brl\nDisplay Error Messages: On\nUse Output Settings: On"},
        {print,
         "Maintain Aspect Ratio:  Yes\nFull Page:  Yes\nCenter On Page:  No\nPrint Filename:  No\n"
         "Height:  4.00    Width:  3.00\nLeft Margin:  0.50\nTop Margin:  0.25\nCopies:  2"},
    };
    for (const Case& c : cases) {
        CScriptCommand cmd = c.cmd;
        EXPECT_EQ(Describe(cmd), c.expected) << c.cmd.m_nID;
    }
}

TEST(Description, WatermarkAndInputOptionsWordings) {
    CScriptCommand w = Cmd(559, {0, 0, 0, 0, 0, 0});
    EXPECT_NE(Describe(w).find("\nDo Not Use Transparency\n"), std::string::npos);
    CScriptCommand in = Cmd(560, {0, 3});
    EXPECT_EQ(Describe(in), "Input Image List:\n  \nDisplay Error Messages: Off\nUse Output Settings: Off");
}

TEST(Description, ResizeText) {
    const char* kSize = "Size Image To:\n  %s\nResize or Resample:\n  %s";
    struct Case {
        std::initializer_list<int32_t> p;
        std::string expected;
        int32_t p2, p3;  // afterwards
    };
    const Case cases[] = {
        {{2, 0, PARAM_UNSET, PARAM_UNSET, PARAM_UNSET},
         F(kSize, "640 x 480", "Use Appropriate Method"), 640, 480},
        {{0, 1, 5, 5, 0}, F(kSize, "320 x 200", "Resample"), 320, 200},
        {{1, 2, 5, 5, 0}, F(kSize, "640 x 350", "Resize"), 640, 350},
        {{3, 0, 5, 5, 0}, F(kSize, "800 x 600", "Use Appropriate Method"), 800, 600},
        {{4, 0, 5, 5, 1}, F(kSize, "1024% x 768%", "Use Appropriate Method"), 1024, 768},
        {{6, 0, 50, 70, 1}, F(kSize, "50% x (Maintain Aspect)", "Use Appropriate Method"), 50, 70},
        {{6, 0, 50, 70, 0}, F(kSize, "50 x (Maintain Aspect)", "Use Appropriate Method"), 50, 70},
        {{7, 2, 50, 70, 1}, F(kSize, "(Maintain Aspect) x 70%", "Resize"), 50, 70},
        {{5, 1, 300, 200, 0}, F(kSize, "300 x 200", "Resample"), 300, 200},
        {{5, 1, 300, 0, 0}, F(kSize, "300 x (Maintain Aspect)", "Resample"), 300, 0},
        {{5, 1, 0, 0, 0}, F(kSize, "(Maintain Aspect) x 0", "Resample"), 0, 0},
    };
    for (const Case& c : cases) {
        CScriptCommand cmd = Cmd(501, c.p);
        EXPECT_EQ(Describe(cmd), c.expected);
        EXPECT_EQ(cmd.m_nParam[2], c.p2);
        EXPECT_EQ(cmd.m_nParam[3], c.p3);
        EXPECT_NE(cmd.m_nParam[4], PARAM_UNSET);
    }
    // An unset P4 is written back as 0.
    CScriptCommand unset = Cmd(501, {2, 0});
    Describe(unset);
    EXPECT_EQ(unset.m_nParam[4], 0);
    // Mode 8 tiles, with the background colour and no percent sign.
    CScriptCommand tile = Cmd(501, {8, 2, 100, 60, 1}, kOrange);
    EXPECT_EQ(Describe(tile),
              "Tile Image To:\n  100 x 60\nBackground Color:\n  R: 255  G: 128  B: 7\n"
              "Resize or Resample:\n  Resize");
}

TEST(Description, OutputOptions) {
    const char* kFmt = "File Type:\n  %s\nFile Sub-Type:\n  %s\nOutput Folder:\n  %s";
    // The sub-type string bases, by output identifier.
    const int kBase[35] = {0,    1805, 1800, 1800, 1810, 1815, 1820, 1825, 1800, 1890, 1890, 1830,
                           1840, 1800, 1850, 1800, 1845, 1850, 1800, 1885, 1850, 1800, 1800, 1855,
                           1860, 1870, 1800, 1880, 1800, 1815, 1815, 1920, 1900, 1910, 1910};
    for (int id = 1; id <= 34; ++id) {
        const OutputFormatEntry* format = FindOutputFormat(id);
        ASSERT_NE(format, nullptr) << id;
        CScriptCommand c = Cmd(544, {id - 1, 0, 300, 15, 0, 0, 1, 1});
        c.m_strParam[0] = "/srv/out";
        EXPECT_EQ(Describe(c), F(kFmt, format->displayName, LoadString(kBase[id]).c_str(), "/srv/out"))
            << id;
    }
    EXPECT_EQ(LoadString(1800), "None");
    EXPECT_EQ(LoadString(1805), "OS/2");
    EXPECT_EQ(LoadString(1820), "Version 87a - Interlaced");
    EXPECT_EQ(LoadString(1860), "8 Bit - Compressed");
    EXPECT_EQ(LoadString(1870), "Fax - CITT 3");
    EXPECT_EQ(LoadString(1890), "Standard Encoding");

    CScriptCommand tga = Cmd(544, {23, 2, 300, 15, 0, 1});
    EXPECT_EQ(Describe(tga), F(kFmt, FindOutputFormat(24)->displayName, LoadString(1862).c_str(),
                               "Outputs to same directory as the\n  input image."));
}

TEST(Description, OutOfRangeSlotsNeverCrash) {
    const int32_t extremes[] = {PARAM_UNSET, INT32_MIN, INT32_MAX, -1, 1000000};
    for (const CommandInfo& info : AllCommands()) {
        for (int32_t v : extremes) {
            CScriptCommand c(info.id);
            c.m_nParam.fill(v);
            c.m_fParam = {0.0f, -0.0f};
            const std::string text = Describe(c);
            EXPECT_FALSE(text.empty()) << info.id << " " << v;
        }
    }
    // Unset "Set Output Options": no format, no folder, nothing selected.
    CScriptCommand out(544);
    EXPECT_EQ(Describe(out).rfind("File Type:\n  ", 0), 0u);
}
