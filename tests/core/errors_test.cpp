#include "core/errors.h"
#include "core/random.h"
#include "core/strings.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

TEST(ErrorCodeToText, CoversEveryRange) {
    const std::vector<std::pair<KervErrorCode, std::string>> cases = {
        {0, ""},
        {-5026, "The image's dimensions are already less than the specified crop."},
        {-5031, "An 8bpp or or 24bpp image is required for this function"},
        {-4999, "An unknown error (4999) has occurred"},
        {-123456, "An unknown error (123456) has occurred"},
        {101, "An invalid parameter was passed to a function"},
        {103, "Unknown format"},
        {9999, "An unknown error (9999) has occurred"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(ErrorCodeToText(code), text) << code;
}

TEST(ErrorCodeToText, EveryCodeDeclaredHasItsOwnText) {
    for (KervErrorCode code : {KERV_STOPPED, KERV_NO_MEMORY, KERV_UNKNOWN_FORMAT, KERV_FILE_OPEN,
                               KERV_FILE_READ, KERV_CORRUPT_FILE, KERV_UNSUPPORTED_VARIANT,
                               KERV_IMAGE_TOO_LARGE, KERV_FILE_CHECK, KERV_WRITE_FAILED,
                               KERV_CODEC_FAILURE, KERV_FILE_MISSING, KERV_FORMAT_UNSUPPORTED,
                               KERV_FORMAT_NOT_WRITABLE, KERV_BAD_PALETTE_FILE, KERV_PALETTE_COUNT,
                               KERV_PALETTE_VERSION, KERV_PALETTE_MISMATCH, KERV_NO_COLOR_TABLE,
                               KERV_BAD_VERSION})
        EXPECT_FALSE(LibErrorText(code).empty()) << code;
    for (KervErrorCode code :
         {KERR_INVALID_PARAMETER, KERR_NOT_IMPLEMENTED, KERR_CANNOT_LOCK, KERR_CANVAS_TOO_SMALL,
          KERR_NEEDS_TC_OR_GREY, KERR_NOT_2_COLOR, KERR_CROP_TOO_BIG, KERR_NO_PRINTER,
          KERR_PRINTER_PROBLEM, KERR_NEEDS_8_OR_24, KERR_RESIZE_TOO_SMALL, KERR_RESIZE_TOO_BIG})
        EXPECT_NE(GetString(-code), nullptr) << code;
}

TEST(StringTable, NumbersAreUnique) {
    std::map<int, int> seen;
    for (const StringEntry& e : AllStrings()) ++seen[e.id];
    for (const auto& [id, n] : seen) EXPECT_EQ(n, 1) << "string " << id << " defined " << n << " times";
    std::set<int> lib;
    for (const StringEntry& e : AllLibTexts()) EXPECT_TRUE(lib.insert(e.id).second) << e.id;
    EXPECT_EQ(GetString(987654), nullptr);
    EXPECT_EQ(LoadString(987654), "");
}

TEST(FormatText, ConvertsByTheArgumentNotTheLengthModifier) {
    EXPECT_EQ(FormatText("Brightness: %ld\nContrast: %ld", {-5, 7}), "Brightness: -5\nContrast: 7");
    EXPECT_EQ(FormatText("Correction: %.2f", {1.2f}), "Correction: 1.20");
    EXPECT_EQ(FormatText("File: %s!", {std::string("a b.png")}), "File: a b.png!");
    EXPECT_EQ(FormatText("100%% of %i", {3}), "100% of 3");
    EXPECT_EQ(FormatText("[%3d|%-3d]", {5, 6}), "[  5|6  ]");
    EXPECT_EQ(FormatText("%d and %d", {1}), "1 and ") << "a missing argument prints nothing";
    EXPECT_EQ(FormatText("%s", {42}), "42");
    EXPECT_EQ(FormatText("%lu", {4000000000u}), "4000000000");
    EXPECT_EQ(FormatString(5018, 17), "An unknown error (17) has occurred");
    EXPECT_EQ(FormatString(2026, 3) + ErrorCodeToText(-5004),
              "Script Line 3 Error: A True Color or Greyscale image is required for this function");
}

TEST(ProgressPercent, FollowsTheApplicationRule) {
    struct Case {
        int current, total, pass, passCount, percent;
    };
    const Case cases[] = {
        {50, 100, 2, 4, 62}, {0, 100, 0, 0, 0},   {100, 100, 0, 0, 100}, {1, 3, 0, 0, 33},
        {7, 7, 2, 3, 99},    {5, 0, 0, 0, 0},      {2000000000, 2000000000, 0, 0, 100},
        {1, 2, 0, 1, 50},
    };
    for (const Case& c : cases) {
        StatusControlBlock s;
        s.current = c.current;
        s.total = c.total;
        s.pass = c.pass;
        s.passCount = c.passCount;
        EXPECT_EQ(ProgressPercent(s), c.percent)
            << c.current << "/" << c.total << " pass " << c.pass << "/" << c.passCount;
    }
}

TEST(ProgressReporter, FollowsTheProtocol) {
    std::vector<std::pair<int, int>> calls;
    StatusControlBlock s;
    s.progress = [&](StatusControlBlock* b) {
        calls.emplace_back(b->current, b->total);
        return 0;
    };
    {
        ProgressReporter p(&s);
        p.begin(3);
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(p.step(i));
        p.end();
    }
    const std::vector<std::pair<int, int>> expected = {{0, 100}, {0, 3}, {1, 3}, {2, 3}, {3, 3}};
    EXPECT_EQ(calls, expected);

    StatusControlBlock stop;
    stop.progress = [](StatusControlBlock*) { return 1; };
    ProgressReporter p(&stop);
    p.begin(10);
    EXPECT_TRUE(p.step(0));

    StatusControlBlock noCallback;
    ProgressReporter q(&noCallback);
    EXPECT_FALSE(q.enabled());
    EXPECT_FALSE(q.step(0));
    ProgressReporter r(nullptr);
    EXPECT_FALSE(r.step(0));
}

TEST(Random, MatchesTheClassicGenerator) {
    // The first values of the classic 15-bit generator seeded with 1.
    KervSrand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int v : expected) EXPECT_EQ(KervRand(), v);
    KervSrand(1);
    EXPECT_EQ(KervRand(), 41);
    for (int i = 0; i < 100000; ++i) {
        const int v = KervRand();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, KERV_RAND_MAX);
    }
}

}  // namespace
