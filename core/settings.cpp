#include "core/settings.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string Escape(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (char c : s) {
        if (c == '\\') r += "\\\\";
        else if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else r += c;
    }
    return r;
}

std::string Unescape(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            r += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            r += s[i];
        }
    }
    return r;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

template <class S> SettingInfo Info(const S& s);
template <> SettingInfo Info(const IntSetting& s) {
    return {s.section, s.name, SettingType::Int, s.def, nullptr};
}
template <> SettingInfo Info(const TextSetting& s) {
    return {s.section, s.name, SettingType::Text, 0, s.def};
}
template <> SettingInfo Info(const BinarySetting& s) {
    return {s.section, s.name, SettingType::Binary, 0, nullptr};
}

using namespace setting;
const SettingInfo kAll[] = {
    Info(UserDirectory), Info(MemoryThreshhold), Info(NoConfimationDlgs), Info(ScriptDir),
    Info(PreviewImage), Info(PreviewIndex), Info(LogDirectory), Info(OutputDir), Info(OutID),
    Info(BatchOpenDir), Info(BatchOpenIndex), Info(InterruptOnErr), Info(OutDPI),
    Info(OutMaintainDPI), Info(OutCompression), Info(OutTransType), Info(OutTransIndex),
    Info(OutTransColor), Info(OutQZM5), Info(OutPlaneEncoding), Info(ImageListFile0),
    Info(ImageListFile1), Info(ImageListFile2), Info(ImageListFile3), Info(ImageListOpenDir),
    Info(ImageListOpenIndex), Info(ImageListImport), Info(ImageListLoad), Info(ImageListSaveAs),
    Info(ImageListBrowseDir), Info(VerifyOp), Info(ErrDlgPosLeft), Info(ErrDlgPosTop),
    Info(ImportFilterSection), Info(ImportFilterEnable), Info(ColorRefs),
};

}  // namespace

std::span<const SettingInfo> AllSettings() { return kAll; }

#ifndef BRELLIX_BUILD_DATA_DIR
#define BRELLIX_BUILD_DATA_DIR ""
#endif

std::string BuildDataFolder() { return BRELLIX_BUILD_DATA_DIR; }

std::string DataFilePath(std::string_view name) {
    const char* d = std::getenv("BRELLIX_DATA_DIR");
    std::string folder = d && *d ? d : BuildDataFolder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + std::string(name);
}

std::string HomeFolder() {
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = "/";
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
}

std::filesystem::path SettingsStore::DefaultPath() {
    if (const char* c = std::getenv("BRELLIX_CONFIG"); c && *c) return c;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::filesystem::path(x) / "Kerv" / "Brellix.conf";
    return std::filesystem::path(HomeFolder()) / ".config" / "Kerv" / "Brellix.conf";
}

SettingsStore::Section* SettingsStore::FindSection(std::string_view name) {
    for (auto& s : sections_)
        if (EqualNoCase(s.name, name)) return &s;
    return nullptr;
}
const SettingsStore::Section* SettingsStore::FindSection(std::string_view name) const {
    for (const auto& s : sections_)
        if (EqualNoCase(s.name, name)) return &s;
    return nullptr;
}

void SettingsStore::Parse(std::string_view text) {
    sections_.clear();
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view t = Trim(line);
        if (t.empty() || t.front() == ';' || t.front() == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            const std::string_view name = Trim(t.substr(1, t.size() - 2));
            current = FindSection(name);
            if (!current) current = &sections_.emplace_back(Section{std::string(name), {}});
            continue;
        }
        const size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos) continue;
        const std::string_view name = Trim(line.substr(0, eq));
        if (name.empty()) continue;
        std::string value(line.substr(eq + 1));
        bool found = false;
        for (auto& e : current->entries)
            if (EqualNoCase(e.name, name)) {
                e.value = std::move(value);
                found = true;
                break;
            }
        if (!found) current->entries.push_back({std::string(name), std::move(value)});
    }
}

std::string SettingsStore::Serialize() const {
    std::string out;
    for (const auto& s : sections_) {
        if (s.entries.empty()) continue;
        if (!out.empty()) out += '\n';
        out += '[' + s.name + "]\n";
        for (const auto& e : s.entries) out += e.name + '=' + e.value + '\n';
    }
    return out;
}

bool SettingsStore::Load() {
    sections_.clear();
    if (path_.empty()) return true;
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) return !ec;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    Parse(ss.str());
    return true;
}

bool SettingsStore::Save() const {
    if (path_.empty()) return false;
    std::error_code ec;
    const std::filesystem::path dir = path_.has_parent_path() ? path_.parent_path() : ".";
    std::filesystem::create_directories(dir, ec);
    std::string tmpl = (dir / "tmpBrellixXXXXXXtmp").string();
    const int fd = mkstemps(tmpl.data(), 3);
    if (fd < 0) return false;
    const std::string text = Serialize();
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok && fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(tmpl.c_str(), path_.c_str()) != 0) ok = false;
    if (!ok) std::remove(tmpl.c_str());
    return ok;
}

std::optional<std::string> SettingsStore::GetRaw(std::string_view section, std::string_view name) const {
    const Section* s = FindSection(section);
    if (!s) return std::nullopt;
    for (const auto& e : s->entries)
        if (EqualNoCase(e.name, name)) return e.value;
    return std::nullopt;
}

int64_t SettingsStore::GetInt(std::string_view section, std::string_view name, int64_t def) const {
    const auto raw = GetRaw(section, name);
    if (!raw) return def;
    const std::string_view t = Trim(*raw);
    int64_t v = 0;
    const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || p != t.data() + t.size() || t.empty()) return def;
    return v;
}

std::string SettingsStore::GetText(std::string_view section, std::string_view name,
                                   std::string_view def) const {
    const auto raw = GetRaw(section, name);
    return raw ? Unescape(*raw) : std::string(def);
}

std::vector<uint8_t> SettingsStore::GetBinary(std::string_view section, std::string_view name) const {
    const auto raw = GetRaw(section, name);
    if (!raw) return {};
    const std::string_view t = Trim(*raw);
    if (t.size() % 2 != 0) return {};
    std::vector<uint8_t> out(t.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = HexDigit(t[2 * i]), lo = HexDigit(t[2 * i + 1]);
        if (hi < 0 || lo < 0) return {};
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return out;
}

std::string SettingsStore::Get(const TextSetting& s) const {
    const auto raw = GetRaw(s.section, s.name);
    if (raw) return Unescape(*raw);
    if (std::string_view(s.def) == kHomeFolderDefault) return HomeFolder();
    return s.def;
}

void SettingsStore::SetRaw(std::string_view section, std::string_view name, std::string value) {
    Section* s = FindSection(section);
    if (!s) s = &sections_.emplace_back(Section{std::string(section), {}});
    for (auto& e : s->entries)
        if (EqualNoCase(e.name, name)) {
            e.value = std::move(value);
            return;
        }
    s->entries.push_back({std::string(name), std::move(value)});
}

void SettingsStore::SetInt(std::string_view section, std::string_view name, int64_t value) {
    SetRaw(section, name, std::to_string(value));
}
void SettingsStore::SetText(std::string_view section, std::string_view name, std::string_view value) {
    SetRaw(section, name, Escape(value));
}
void SettingsStore::SetBinary(std::string_view section, std::string_view name,
                              std::span<const uint8_t> value) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(value.size() * 2);
    for (uint8_t b : value) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    SetRaw(section, name, std::move(hex));
}

void SettingsStore::Remove(std::string_view section, std::string_view name) {
    Section* s = FindSection(section);
    if (!s) return;
    std::erase_if(s->entries, [&](const Entry& e) { return EqualNoCase(e.name, name); });
}

SettingsStore& AppSettings() {
    static SettingsStore store = [] {
        SettingsStore s(SettingsStore::DefaultPath());
        s.Load();
        return s;
    }();
    return store;
}
