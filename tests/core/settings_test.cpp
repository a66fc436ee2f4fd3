#include "core/settings.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

using brellix::test::TempDir;

namespace {

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sets an environment variable for one scope, restoring the old value.
class EnvVar {
  public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvVar() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(SettingsPath, ConfigVariableWinsThenXdgThenHome) {
    {
        EnvVar c("BRELLIX_CONFIG", "/tmp/x/own.conf");
        EnvVar x("XDG_CONFIG_HOME", "/tmp/xdg");
        EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/x/own.conf");
    }
    {
        EnvVar c("BRELLIX_CONFIG", nullptr);
        EnvVar x("XDG_CONFIG_HOME", "/tmp/xdg");
        EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/xdg/Kerv/Brellix.conf");
    }
    {
        EnvVar c("BRELLIX_CONFIG", nullptr);
        EnvVar x("XDG_CONFIG_HOME", nullptr);
        EnvVar h("HOME", "/home/someone/");
        EXPECT_EQ(SettingsStore::DefaultPath(), "/home/someone/.config/Kerv/Brellix.conf");
        EXPECT_EQ(HomeFolder(), "/home/someone");
    }
}

TEST(SettingsStore, DefaultsWhenMissingOrUnparsable) {
    SettingsStore s;
    EXPECT_EQ(s.Get(setting::OutID), 32);
    EXPECT_EQ(s.Get(setting::MemoryThreshhold), 0);
    EXPECT_EQ(s.Get(setting::ImportFilterSection), "MS Graphic Import Filters");
    EXPECT_EQ(s.Get(setting::OutputDir), HomeFolder());
    EXPECT_TRUE(s.Get(setting::ColorRefs).empty());
    s.Parse("[BatchDialog]\nOutID=abc\nOpenIndex=12x\n[CustomColors]\nColorRefs=0g\n");
    EXPECT_EQ(s.Get(setting::OutID), 32);
    EXPECT_EQ(s.Get(setting::BatchOpenIndex), 0);
    EXPECT_TRUE(s.Get(setting::ColorRefs).empty());
}

TEST(SettingsStore, TypedValuesSurviveASaveAndLoad) {
    TempDir dir;
    const auto file = dir / "sub" / "Brellix.conf";  // folder created on save
    SettingsStore s(file);
    s.Set(setting::MemoryThreshhold, 512);
    s.Set(setting::OutTransColor, 0x00FF8040);
    s.SetInt("BatchSubTypes", "GIF", -3);
    s.Set(setting::OutputDir, "/data/out put/é\\x\nsecond line =[x]");
    const std::vector<uint8_t> colors = {0x00, 0xFF, 0x10, 0xAB, 0x7F};
    s.Set(setting::ColorRefs, colors);
    ASSERT_TRUE(s.Save());

    SettingsStore t(file);
    ASSERT_TRUE(t.Load());
    EXPECT_EQ(t.Get(setting::MemoryThreshhold), 512);
    EXPECT_EQ(t.Get(setting::OutTransColor), 0x00FF8040);
    EXPECT_EQ(t.GetInt("BatchSubTypes", "GIF", 0), -3);
    EXPECT_EQ(t.Get(setting::OutputDir), "/data/out put/é\\x\nsecond line =[x]");
    EXPECT_EQ(t.Get(setting::ColorRefs), colors);
    EXPECT_EQ(t.Serialize(), s.Serialize());
}

TEST(SettingsStore, FileFormatIsPlainIni) {
    TempDir dir;
    SettingsStore s(dir / "Brellix.conf");
    s.Set(setting::NoConfimationDlgs, 1);
    s.Set(setting::ColorRefs, std::vector<uint8_t>{0xFF, 0x01});
    s.Set(setting::MemoryThreshhold, 64);
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(ReadText(dir / "Brellix.conf"),
              "[General]\nNoConfimationDlgs=1\nMemoryThreshhold=64\n\n[CustomColors]\nColorRefs=ff01\n");
}

TEST(SettingsStore, NamesCompareWithoutCaseAndKeepTheirSpelling) {
    SettingsStore s;
    s.Parse("; comment\n[general]\r\n  memorythreshhold = 7 \r\n[General]\nNoConfimationDlgs=1\n"
            "garbage line\n=5\n");
    EXPECT_EQ(s.Get(setting::MemoryThreshhold), 7);
    EXPECT_EQ(s.Get(setting::NoConfimationDlgs), 1);
    s.Set(setting::MemoryThreshhold, 9);
    EXPECT_EQ(s.Serialize(), "[general]\nmemorythreshhold=9\nNoConfimationDlgs=1\n");
    s.Remove("GENERAL", "MEMORYTHRESHHOLD");
    EXPECT_EQ(s.Get(setting::MemoryThreshhold), 0);
}

TEST(SettingsStore, MissingFileIsEmptyAndFailedSaveKeepsOldFile) {
    TempDir dir;
    SettingsStore s(dir / "none.conf");
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(s.Serialize(), "");

    // A target that is a folder cannot be replaced: Save fails, no temp left.
    std::filesystem::create_directory(dir / "busy.conf");
    SettingsStore b(dir / "busy.conf");
    b.Set(setting::OutID, 3);
    EXPECT_FALSE(b.Save());
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "busy.conf"));
}

TEST(SettingsStore, SaveReplacesTheWholeFile) {
    TempDir dir;
    const auto file = dir / "Brellix.conf";
    brellix::test::WriteFileBytes(file, std::vector<uint8_t>(5000, 'x'));
    SettingsStore s(file);
    s.Set(setting::OutID, 5);
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(ReadText(file), "[BatchDialog]\nOutID=5\n");
}

TEST(SettingsTable, EveryNamedValueIsDeclaredOnce) {
    std::set<std::pair<std::string, std::string>> seen;
    for (const SettingInfo& i : AllSettings()) {
        std::string sec = i.section, name = i.name;
        for (auto& c : sec) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(seen.insert({sec, name}).second) << i.section << "/" << i.name;
    }
    EXPECT_GE(seen.size(), 30u);
}
