// CScript's list operations.
#include "script/script.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int32_t> Ids(const CScript& s) {
    std::vector<int32_t> v;
    for (int i = 0; i < s.GetCount(); ++i) v.push_back(s.GetCommand(i)->m_nID);
    return v;
}

CScriptCommand* Add(CScript& s, int32_t id, int index) {
    return s.InsertCommand(std::make_unique<CScriptCommand>(id), index);
}

}  // namespace

TEST(Script, InsertFollowsThePositionRule) {
    CScript s;
    Add(s, 501, 5);  // empty script: appends whatever the index
    Add(s, 502, -1);  // negative: appends
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{501, 502}));
    Add(s, 503, 0);  // directly after position 0
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{501, 503, 502}));
    Add(s, 504, 2);  // after the last: appends
    Add(s, 505, 4);  // index = count: appends
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{501, 503, 502, 504, 505}));
    Add(s, 506, 99);  // beyond count: appends
    EXPECT_EQ(Ids(s).back(), 506);
    EXPECT_EQ(s.InsertCommand(nullptr, 0), nullptr);
    EXPECT_EQ(s.GetCount(), 6);
}

TEST(Script, LookupsAndOutOfRangeIndexes) {
    CScript s;
    CScriptCommand* a = Add(s, 544, -1);
    CScriptCommand* b = Add(s, 537, -1);
    CScriptCommand* c = Add(s, 544, -1);
    EXPECT_EQ(s.GetCommand(0), a);
    EXPECT_EQ(s.GetCommand(-1), nullptr);
    EXPECT_EQ(s.GetCommand(3), nullptr);
    EXPECT_EQ(s.FindCommand(544), a);  // the first from the start
    EXPECT_EQ(s.FindCommand(537), b);
    EXPECT_EQ(s.FindCommand(560), nullptr);
    EXPECT_EQ(s.IndexOf(c), 2);
    EXPECT_EQ(s.IndexOf(nullptr), -1);
    CScriptCommand stranger(537);
    EXPECT_EQ(s.IndexOf(&stranger), -1);
    s.RemoveCommand(-1);
    s.RemoveCommand(3);
    s.SetCommand(7, &stranger);
    EXPECT_EQ(s.GetCount(), 3);
}

TEST(Script, RemoveClosesTheGap) {
    CScript s;
    for (int32_t id : {501, 502, 503}) Add(s, id, s.GetCount());
    s.RemoveCommand(1);
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{501, 503}));
    s.RemoveCommand(1);
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{501}));
    s.RemoveAll();
    EXPECT_EQ(s.GetCount(), 0);
    Add(s, 507, 3);
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{507}));
}

TEST(Script, SetCommandTwiceExchangesTwoCommands) {
    CScript s;
    for (int32_t id : {501, 502, 503}) Add(s, id, s.GetCount());
    CScriptCommand* first = s.GetCommand(0);
    CScriptCommand* second = s.GetCommand(1);
    s.SetCommand(0, second);
    s.SetCommand(1, first);
    EXPECT_EQ(Ids(s), (std::vector<int32_t>{502, 501, 503}));
    EXPECT_EQ(s.IndexOf(first), 1);
}
