// The settings store: one INI file per user.
//
//   $BRELLIX_CONFIG, or $XDG_CONFIG_HOME/Kerv/Brellix.conf
//   (default ~/.config/Kerv/Brellix.conf)
//
//   [General]
//   MemoryThreshhold=0
//   [CustomColors]
//   ColorRefs=ffffff00...
//
// Sections and value names are compared without case and keep the spelling
// they were first written with. Integers are decimal, texts are the rest of
// the line (newline, carriage return and backslash escaped with "\"), binary
// values are lower-case hex. A value that is missing or does not parse as
// its type reads as its default. Saving writes a temporary file beside the
// target and renames it over the target, so the file is never half-written.
//
// Every value the program knows by name is declared once below (section,
// name, type, default) and read through the typed accessors. Values whose
// names are built at run time (the per-format "BatchSubTypes", "Decoding"
// and "Encoding" values) use the accessors taking section and name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct IntSetting {
    const char* section;
    const char* name;
    int64_t def;
};
// A text whose default is the user's home folder has def == kHomeFolderDefault.
struct TextSetting {
    const char* section;
    const char* name;
    const char* def;
};
struct BinarySetting {  // default: no bytes
    const char* section;
    const char* name;
};
inline constexpr const char* kHomeFolderDefault = "~";

namespace setting {
// General
inline constexpr TextSetting UserDirectory{"General", "UserDirectory", kHomeFolderDefault};
// Largest memory block in megabytes, passed to KML_Initialize; 0 keeps 2 GiB.
inline constexpr IntSetting MemoryThreshhold{"General", "MemoryThreshhold", 0};
inline constexpr IntSetting NoConfimationDlgs{"General", "NoConfimationDlgs", 0};
inline constexpr TextSetting ScriptDir{"General", "ScriptDir", kHomeFolderDefault};
inline constexpr TextSetting PreviewImage{"General", "PreviewImage", ""};
inline constexpr IntSetting PreviewIndex{"General", "PreviewIndex", 0};
inline constexpr TextSetting LogDirectory{"General", "LogDirectory", kHomeFolderDefault};
// BatchDialog
inline constexpr TextSetting OutputDir{"BatchDialog", "OutputDir", kHomeFolderDefault};
inline constexpr IntSetting OutID{"BatchDialog", "OutID", 32};
inline constexpr TextSetting BatchOpenDir{"BatchDialog", "OpenDir", kHomeFolderDefault};
inline constexpr IntSetting BatchOpenIndex{"BatchDialog", "OpenIndex", 0};
inline constexpr IntSetting InterruptOnErr{"BatchDialog", "InterruptOnErr", 0};
// ScriptRun: the detail settings of the last run (written, never read back)
inline constexpr IntSetting OutDPI{"ScriptRun", "OutDPI", 300};
inline constexpr IntSetting OutMaintainDPI{"ScriptRun", "OutMaintainDPI", 0};
inline constexpr IntSetting OutCompression{"ScriptRun", "OutCompression", 15};
inline constexpr IntSetting OutTransType{"ScriptRun", "OutTransType", 1};
inline constexpr IntSetting OutTransIndex{"ScriptRun", "OutTransIndex", 0};
inline constexpr IntSetting OutTransColor{"ScriptRun", "OutTransColor", 0xFFFFFF};
inline constexpr IntSetting OutQZM5{"ScriptRun", "OutQZM5", 1};
inline constexpr IntSetting OutPlaneEncoding{"ScriptRun", "OutPlaneEncoding", 1};
// ImageList
inline constexpr TextSetting ImageListFile0{"ImageList", "File0", ""};
inline constexpr TextSetting ImageListFile1{"ImageList", "File1", ""};
inline constexpr TextSetting ImageListFile2{"ImageList", "File2", ""};
inline constexpr TextSetting ImageListFile3{"ImageList", "File3", ""};
inline constexpr TextSetting ImageListOpenDir{"ImageList", "OpenDir", kHomeFolderDefault};
inline constexpr IntSetting ImageListOpenIndex{"ImageList", "OpenIndex", 0};
inline constexpr TextSetting ImageListImport{"ImageList", "Import", kHomeFolderDefault};
inline constexpr TextSetting ImageListLoad{"ImageList", "Load", kHomeFolderDefault};
inline constexpr TextSetting ImageListSaveAs{"ImageList", "SaveAs", kHomeFolderDefault};
inline constexpr TextSetting ImageListBrowseDir{"ImageList", "BrowseDir", kHomeFolderDefault};
// The verification pass's folder-error dialog: its last choice (0 change,
// 1 delete, 2 ignore) and its position; its recent replacement folders are
// "VerifyFolder0" .. "VerifyFolder14" (batch/image_list_model.h).
inline constexpr IntSetting VerifyOp{"ImageList", "VerifyOp", 0};
inline constexpr IntSetting ErrDlgPosLeft{"ImageList", "ErrDlgPosLeft", -32768};
inline constexpr IntSetting ErrDlgPosTop{"ImageList", "ErrDlgPosTop", -32768};
// AldusImportFilters
inline constexpr TextSetting ImportFilterSection{"AldusImportFilters", "INISection",
                                                 "MS Graphic Import Filters"};
inline constexpr IntSetting ImportFilterEnable{"AldusImportFilters", "Enable", 1};
// CustomColors: 16 COLORREF values, 64 bytes
inline constexpr BinarySetting ColorRefs{"CustomColors", "ColorRefs"};
}  // namespace setting

enum class SettingType { Int, Text, Binary };
struct SettingInfo {
    const char* section;
    const char* name;
    SettingType type;
    int64_t intDefault;       // Int
    const char* textDefault;  // Text
};
// Every named value above, for listings and checks.
std::span<const SettingInfo> AllSettings();

// The user's home folder ($HOME, else the password database), without a
// trailing "/".
std::string HomeFolder();

// The path of a read-only data file of the program (the colour map file
// "KCD.DAT"): in $BRELLIX_DATA_DIR, which the programs set at start-up to
// the data folder beside them, else in the build tree's data folder.
std::string DataFilePath(std::string_view name);
// The build tree's data folder (where the build writes the data files).
std::string BuildDataFolder();

class SettingsStore {
  public:
    SettingsStore() = default;  // empty, saves nowhere
    explicit SettingsStore(std::filesystem::path file) : path_(std::move(file)) {}

    // $BRELLIX_CONFIG, else $XDG_CONFIG_HOME/Kerv/Brellix.conf, else
    // ~/.config/Kerv/Brellix.conf.
    static std::filesystem::path DefaultPath();
    const std::filesystem::path& path() const { return path_; }

    // Replaces the contents with the file's. A missing file is an empty
    // store (true); false when the file exists but cannot be read.
    bool Load();
    // Writes the whole store atomically, creating the folder when needed.
    // False when it cannot be written; the old file is then untouched.
    bool Save() const;

    std::optional<std::string> GetRaw(std::string_view section, std::string_view name) const;
    int64_t GetInt(std::string_view section, std::string_view name, int64_t def) const;
    std::string GetText(std::string_view section, std::string_view name, std::string_view def) const;
    std::vector<uint8_t> GetBinary(std::string_view section, std::string_view name) const;
    void SetInt(std::string_view section, std::string_view name, int64_t value);
    void SetText(std::string_view section, std::string_view name, std::string_view value);
    void SetBinary(std::string_view section, std::string_view name, std::span<const uint8_t> value);
    void Remove(std::string_view section, std::string_view name);
    void Clear() { sections_.clear(); }

    int64_t Get(const IntSetting& s) const { return GetInt(s.section, s.name, s.def); }
    std::string Get(const TextSetting& s) const;
    std::vector<uint8_t> Get(const BinarySetting& s) const { return GetBinary(s.section, s.name); }
    void Set(const IntSetting& s, int64_t v) { SetInt(s.section, s.name, v); }
    void Set(const TextSetting& s, std::string_view v) { SetText(s.section, s.name, v); }
    void Set(const BinarySetting& s, std::span<const uint8_t> v) { SetBinary(s.section, s.name, v); }

    // The file's text as Save writes it.
    std::string Serialize() const;
    // Replaces the contents with those of an INI text.
    void Parse(std::string_view text);

  private:
    struct Entry {
        std::string name, value;  // value as stored (escaped)
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;
    void SetRaw(std::string_view section, std::string_view name, std::string value);

    std::filesystem::path path_;
    std::vector<Section> sections_;
};

// The process's store, loaded from DefaultPath() on first use. The program
// and the layers above the image code read their settings here; tests point
// BRELLIX_CONFIG at a file of their own.
SettingsStore& AppSettings();
