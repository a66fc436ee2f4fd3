#include "batch/output_options.h"

#include "core/settings.h"
#include "formats/format_table.h"
#include "script/commands.h"
#include "script/script.h"

OutputOptions DefaultOutputOptions() {
    return OutputOptions{};
}

std::string WithoutTrailingSlash(std::string folder) {
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder;
}

OutputSettings OutputSettingsFromCommand(const CScriptCommand& c, const std::string& baseFolder) {
    auto slot = [&](Slot s) {
        const int i = static_cast<int>(s);
        return ParamOr(c.m_nParam[i], IntSlotDefault(CMD_SET_OUTPUT_OPTIONS, s, 0));
    };
    OutputSettings out;
    out.id = slot(Slot::P0) + 1;
    out.subType = ClampSubType(out.id, slot(Slot::P1));
    const int32_t dpiWord = ParamOr(c.m_nParam[2], 300);
    const int32_t transWord = ParamOr(c.m_nParam[4], 0);
    OutputOptions& o = out.options;
    o.dpi = dpiWord & 0xFFFF;
    o.maintainDPI = (dpiWord >> 16) & 1;
    o.compression = slot(Slot::P3);
    o.transparencyType = (transWord >> 8) & 0xFF;
    o.transparencyIndex = transWord & 0xFF;
    o.qzmVersion = slot(Slot::P6);
    o.planeEncoding = slot(Slot::P7);
    o.transparentColor = c.m_crColor[0];
    out.retainDirectory = ParamOr(c.m_nParam[5], 0) == 1;

    std::string folder = c.m_strParam[0].empty() ? HomeFolder() : c.m_strParam[0];
    if (folder[0] != '/') {
        if (folder.rfind("./", 0) == 0) folder = folder.substr(2);
        folder = folder == "." ? baseFolder : baseFolder + "/" + folder;
    }
    out.folder = WithoutTrailingSlash(folder);
    return out;
}

void OutputSettingsToCommand(const OutputSettings& s, CScriptCommand& c) {
    const OutputOptions& o = s.options;
    c.m_nParam[0] = s.id - 1;
    c.m_nParam[1] = s.subType;
    c.m_nParam[2] = (o.dpi & 0xFFFF) | ((o.maintainDPI & 1) << 16);
    c.m_nParam[3] = o.compression;
    c.m_nParam[4] = ((o.transparencyType & 0xFF) << 8) | (o.transparencyIndex & 0xFF);
    c.m_nParam[5] = s.retainDirectory ? 1 : 0;
    c.m_nParam[6] = o.qzmVersion;
    c.m_nParam[7] = o.planeEncoding;
    c.m_strParam[0] = s.folder.empty() ? "/" : s.folder;
    c.m_crColor[0] = o.transparentColor;
}

void WriteScriptRunValues(SettingsStore& store, const OutputOptions& o) {
    store.Set(setting::OutDPI, o.dpi);
    store.Set(setting::OutMaintainDPI, o.maintainDPI);
    store.Set(setting::OutCompression, o.compression);
    store.Set(setting::OutTransType, o.transparencyType);
    store.Set(setting::OutTransIndex, o.transparencyIndex);
    store.Set(setting::OutTransColor, o.transparentColor);
    store.Set(setting::OutQZM5, o.qzmVersion);
    store.Set(setting::OutPlaneEncoding, o.planeEncoding);
}
