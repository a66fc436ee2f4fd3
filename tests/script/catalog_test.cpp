// The command catalogue: names, the slot table's shape, defaults, ParamOr and
// the occurrence rules.
#include "core/errors.h"
#include "script/script.h"

#include <gtest/gtest.h>

#include <bit>
#include <set>

TEST(Catalogue, SixtyOneKindsInIdOrderWithNames) {
    const auto all = AllCommands();
    ASSERT_EQ(all.size(), 61u);
    std::set<std::string> names;
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].id, FIRST_COMMAND_ID + static_cast<int>(i));
        EXPECT_EQ(FindCommandInfo(all[i].id), &all[i]);
        const std::string name = CommandDisplayName(all[i].id);
        EXPECT_FALSE(name.empty()) << all[i].id;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 61u);  // every display name differs
    EXPECT_EQ(CommandDisplayName(537), "Filter: Blur");
    EXPECT_EQ(CommandDisplayName(522), "Change to 256 colors (8 Bit)");
    EXPECT_EQ(CommandDisplayName(504), "Adjust Hue/Saturation/Lum.");
    for (int32_t id : {-1, 0, 500, 562, 100000}) {
        EXPECT_EQ(FindCommandInfo(id), nullptr) << id;
        EXPECT_EQ(CommandDisplayName(id), "") << id;
        EXPECT_FALSE(CommandHasParameters(id));
    }
}

TEST(Catalogue, TwentyFourParameterlessKinds) {
    const std::set<int32_t> expected = {506, 507, 512, 513, 514, 515, 523, 531, 532, 533, 534, 535,
                                        536, 537, 538, 539, 540, 541, 542, 551, 552, 553, 554, 555};
    std::set<int32_t> none;
    for (const CommandInfo& c : AllCommands())
        if (!CommandHasParameters(c.id)) none.insert(c.id);
    EXPECT_EQ(none, expected);
}

TEST(Catalogue, KindsAndDepthRules) {
    for (const CommandInfo& c : AllCommands()) {
        const CommandKind want = c.id == 544 || c.id == 560 ? CommandKind::Setting
                                 : c.id == 561             ? CommandKind::OutputAction
                                                           : CommandKind::ImageOperation;
        EXPECT_EQ(c.kind, want) << c.id;
    }
    const struct {
        int32_t id;
        DepthRule rule;
    } rules[] = {{501, DepthRule::BySlots}, {508, DepthRule::BySlots}, {512, DepthRule::RaiseTo8},
                 {513, DepthRule::TrueColourOrGreyB}, {514, DepthRule::TrueColourOrGreyB},
                 {518, DepthRule::Not1Bit}, {519, DepthRule::RaiseTo24}, {537, DepthRule::TrueColourOrGrey},
                 {553, DepthRule::TrueColourOrGrey}, {550, DepthRule::AtLeast8}, {556, DepthRule::AtLeast8},
                 {543, DepthRule::TrueColourOrGrey}, {545, DepthRule::TrueColourOrGrey},
                 {549, DepthRule::TrueColourOrGrey}, {523, DepthRule::Any}, {557, DepthRule::Any}};
    for (const auto& r : rules) EXPECT_EQ(FindCommandInfo(r.id)->depthRule, r.rule) << r.id;
}

TEST(Catalogue, SlotTableIsWellFormed) {
    for (const CommandInfo& c : AllCommands()) {
        std::set<Slot> seen;
        for (const SlotInfo& s : c.slotTable) {
            EXPECT_TRUE(seen.insert(s.slot).second) << c.id << " repeats a slot";
            EXPECT_NE(s.meaning, nullptr);
            if (s.ranged) {
                EXPECT_LE(s.min, s.max) << c.id;
                // Rotate's free angle is 0 until the user picks "Free" (1..359).
                const bool unsetFreeAngle = c.id == CMD_ROTATE && s.slot == Slot::P0;
                if (s.defaultKind == SlotDefault::Number && !s.clampDefault && !unsetFreeAngle) {
                    EXPECT_GE(s.defaultValue, s.min) << c.id;
                    EXPECT_LE(s.defaultValue, s.max) << c.id;
                }
            }
            const bool textSlot = s.slot == Slot::S0 || s.slot == Slot::S1;
            if (textSlot) {
                EXPECT_TRUE(s.defaultKind == SlotDefault::Text || s.defaultKind == SlotDefault::HomeFolder);
            }
        }
    }
}

TEST(Catalogue, DefaultsTheDialogsPropose) {
    const struct {
        int32_t id;
        Slot slot;
        int32_t value;
    } cases[] = {
        {516, Slot::P0, 7},   {517, Slot::P0, 254}, {501, Slot::P2, 100}, {501, Slot::P3, 100},
        {505, Slot::P0, 100}, {505, Slot::P1, 50},  {509, Slot::P0, 5},   {509, Slot::P3, 5},
        {510, Slot::P0, 1},   {519, Slot::P0, 256}, {519, Slot::P2, 1},   {524, Slot::P0, 50},
        {525, Slot::P0, 30},  {527, Slot::P0, 30},  {543, Slot::P0, 10},  {543, Slot::P1, 2},
        {544, Slot::P1, -10}, {544, Slot::P2, 300}, {544, Slot::P3, 15},  {544, Slot::P6, 1},
        {544, Slot::P7, 1},   {547, Slot::P1, 5},   {548, Slot::P0, 45},  {548, Slot::P1, 5},
        {549, Slot::P0, 20},  {550, Slot::P1, 50},  {556, Slot::P2, 1},   {557, Slot::P1, 100},
        {557, Slot::P5, 10},  {559, Slot::P0, 100}, {559, Slot::P5, 1},   {561, Slot::P0, 1000},
        {561, Slot::P2, 3000}, {561, Slot::P9, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntSlotDefault(c.id, c.slot, -77), c.value) << c.id << " slot " << int(c.slot);
    EXPECT_FLOAT_EQ(FloatSlotDefault(511, Slot::F0), 1.2f);
    // "Set Input Options" P0 has no default: the caller's fallback is kept.
    EXPECT_EQ(FindSlotInfo(560, Slot::P0)->defaultKind, SlotDefault::Unchanged);
    EXPECT_EQ(IntSlotDefault(560, Slot::P0, PARAM_UNSET), PARAM_UNSET);
    EXPECT_EQ(FindSlotInfo(544, Slot::S0)->defaultKind, SlotDefault::HomeFolder);
    EXPECT_EQ(FindSlotInfo(537, Slot::P0), nullptr);
    EXPECT_EQ(IntSlotDefault(537, Slot::P0, -77), -77);
}

TEST(Catalogue, ParamOrSubstitutesOnlyTheSentinel) {
    static_assert(PARAM_UNSET == -650000);
    EXPECT_EQ(std::bit_cast<uint32_t>(PARAM_UNSET), 0xFFF614F0u);
    EXPECT_EQ(std::bit_cast<uint32_t>(PARAM_UNSET_FLOAT), 0xC91EB100u);
    EXPECT_EQ(ParamOr(PARAM_UNSET, 7), 7);
    EXPECT_EQ(ParamOr(0, 7), 0);
    EXPECT_EQ(ParamOr(-649999, 7), -649999);
    EXPECT_EQ(FloatParamOr(PARAM_UNSET_FLOAT, 1.2f), 1.2f);
    EXPECT_EQ(FloatParamOr(0.0f, 1.2f), 0.0f);
    EXPECT_EQ(TextParamOr("", "C"), "C");
    EXPECT_EQ(TextParamOr("x", "C"), "x");
}

TEST(Catalogue, FreshCommandIsUnset) {
    for (const CommandInfo& info : AllCommands()) {
        CScriptCommand c(info.id);
        EXPECT_EQ(c.m_nID, info.id);
        for (int32_t p : c.m_nParam) EXPECT_EQ(p, PARAM_UNSET);
        for (float f : c.m_fParam) EXPECT_EQ(std::bit_cast<uint32_t>(f), 0xC91EB100u);
        EXPECT_TRUE(c.m_strParam[0].empty() && c.m_strParam[1].empty());
        EXPECT_EQ(c.m_crColor[0], 0u);
        EXPECT_EQ(c.m_crColor[1], 0u);
    }
    EXPECT_EQ(CScriptCommand().m_nID, -1);
}

namespace {
void Fill(CScript& s, std::initializer_list<int32_t> ids) {
    for (int32_t id : ids) s.InsertCommand(std::make_unique<CScriptCommand>(id), s.GetCount());
}
}  // namespace

TEST(Catalogue, OnceOnlyRule) {
    std::set<int32_t> once;
    for (const CommandInfo& c : AllCommands())
        if (IsOnceOnlyCommand(c.id)) once.insert(c.id);
    EXPECT_EQ(once, (std::set<int32_t>{544, 560}));
    CScript s;
    Fill(s, {559, 559, 537});
    EXPECT_TRUE(CanAddCommand(s, 544));
    EXPECT_TRUE(CanAddCommand(s, 560));
    EXPECT_TRUE(CanAddCommand(s, 559));  // the watermark may occur many times
    Fill(s, {544});
    EXPECT_FALSE(CanAddCommand(s, 544));
    EXPECT_TRUE(CanAddCommand(s, 560));
    Fill(s, {560});
    EXPECT_FALSE(CanAddCommand(s, 560));
    EXPECT_EQ(LoadString(IDS_ONLY_ONE_OCCURRENCE),
              "Only one occurrence of this command is allowed in a single script.");
}

TEST(Catalogue, BatchRule) {
    const struct {
        std::initializer_list<int32_t> ids;
        bool batch, print;
    } cases[] = {
        {{}, false, false},
        {{544}, true, false},
        {{537, 544}, true, false},
        {{544, 544}, true, false},
        {{561}, true, true},
        {{561, 560}, true, true},
        {{560, 561}, true, true},
        {{561, 561}, false, false},
        {{560}, false, false},
        {{561, 537}, false, false},
        {{561, 560, 537}, false, false},
        {{561, 560, 544}, true, false},
        {{537, 506}, false, false},
    };
    for (const auto& c : cases) {
        CScript s;
        Fill(s, c.ids);
        EXPECT_EQ(MeetsBatchRule(s), c.batch) << s.GetCount();
        EXPECT_EQ(IsPrintScript(s), c.print) << s.GetCount();
    }
    EXPECT_EQ(LoadString(IDS_NO_OUTPUT_OPTIONS),
              "The specified script does not include a \"Set Output Options\" command.  This "
              "command is required for any script which is to be used in batch mode.");
}
