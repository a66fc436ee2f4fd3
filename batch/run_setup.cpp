#include "batch/run_setup.h"

#include "batch/batch_strings.h"
#include "batch/image_list.h"
#include "batch/output_options.h"
#include "core/errors.h"
#include "core/settings.h"
#include "formats/format_table.h"
#include "script/commands.h"
#include "script/script.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::string Absolute(const std::string& path, const std::string& base) {
    if (!path.empty() && path[0] == '/') return path;
    return (std::filesystem::path(base) / path).lexically_normal().string();
}

// A batch list line cannot carry a line break; such a name is left out, as
// the pattern's list leaves it out.
std::string NamesAsBatchList(const std::vector<std::string>& names) {
    std::string data;
    for (const std::string& n : names) {
        if (n.empty() || n.find_first_of("\r\n") != std::string::npos) continue;
        data += n;
        data += '\0';
    }
    return data;
}

// The input of a script holding "Set Input Options": its image list's
// contents, read now so that a list that cannot be used stops the set-up
// before any dialog.
bool ReadScriptInput(const CScriptCommand& in, const std::string& baseFolder, RunSetupUi& ui,
                     std::string* contents, InputChoice* choice) {
    if (in.m_strParam[0].empty()) {
        ui.showMessage(LoadString(ids::ListRequired), MessageIcon::Exclamation);
        return false;
    }
    const std::string listPath = Absolute(in.m_strParam[0], baseFolder);
    switch (LoadImageListForRun(listPath, contents)) {
    case ImageListStatus::Ok:
        break;
    case ImageListStatus::TooLarge:
        ui.showMessage(FormatString(ids::ListTooLarge, listPath, kMaxImageListKB),
                       MessageIcon::Exclamation);
        return false;
    default:
        ui.showMessage(FormatString(ids::ListCannotOpen, listPath), MessageIcon::Exclamation);
        return false;
    }
    // An unset flag is not 0: errors are shown, as in a command-line run.
    choice->showErrors = in.m_nParam[0] != 0;
    choice->useScriptOutput = ParamOr(in.m_nParam[1], 0) == 0;
    return true;
}

} // namespace

std::string SelectAllPattern(std::string_view typedName, std::string_view filterExtension) {
    if (!typedName.empty()) return std::string(typedName);
    if (filterExtension.empty()) return "*.*";
    return "*." + std::string(filterExtension);
}

bool EnsureOutputFolder(const std::string& folder, std::string* reason) {
    const std::string path = folder.empty() ? std::string("/") : folder;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return true;
    std::filesystem::create_directories(path, ec);
    if (!ec && std::filesystem::is_directory(path, ec)) return true;
    if (reason) *reason = ec ? ec.message() : std::strerror(ENOTDIR);
    return false;
}

OutputProposal ProposeOutput(const CScript& script, const std::string& baseFolder,
                             bool useScriptOutput, const SettingsStore& store) {
    OutputProposal p;
    if (const CScriptCommand* out = script.FindCommand(CMD_SET_OUTPUT_OPTIONS)) {
        p.settings = OutputSettingsFromCommand(*out, baseFolder);
        if (useScriptOutput) {
            p.showDialog = false;
            return p;
        }
        p.settings.options = DefaultOutputOptions();
        return p;
    }
    p.settings.id = static_cast<int>(store.Get(setting::OutID));
    if (!FindOutputFormat(p.settings.id)) p.settings.id = static_cast<int>(setting::OutID.def);
    p.settings.subType = StoredSubType(store, p.settings.id);
    p.settings.folder = WithoutTrailingSlash(Absolute(store.Get(setting::OutputDir), baseFolder));
    p.settings.options = DefaultOutputOptions();
    return p;
}

void StoreDialogOutput(SettingsStore& store, const OutputSettings& s) {
    store.Set(setting::OutputDir, s.folder.empty() ? std::string("/") : s.folder);
    store.Set(setting::OutID, s.id);
    StoreSubType(&store, s.id, s.subType);
    WriteScriptRunValues(store, s.options);
}

bool SetUpInteractiveRun(const CScript& script, const std::string& baseFolder, RunSetupUi& ui,
                         SettingsStore& store, RunSetup* setup) {
    *setup = RunSetup{};
    BatchRunState& state = setup->state;
    InputChoice choice;
    std::string listContents;
    const CScriptCommand* in = script.FindCommand(CMD_SET_INPUT_OPTIONS);
    if (in) {
        if (!ReadScriptInput(*in, baseFolder, ui, &listContents, &choice)) return false;
    } else {
        InputDialogStart start;
        start.folder = store.Get(setting::BatchOpenDir);
        start.filterIndex = static_cast<int>(store.Get(setting::BatchOpenIndex));
        start.showErrors = store.Get(setting::InterruptOnErr) != 0;
        start.scriptHasOutput = script.FindCommand(CMD_SET_OUTPUT_OPTIONS) != nullptr;
        if (!ui.chooseInput(start, &choice)) return false;
    }

    setup->print = IsPrintScript(script);
    bool outputFromDialog = false;
    if (!setup->print) {
        OutputProposal p = ProposeOutput(script, baseFolder, choice.useScriptOutput, store);
        if (p.showDialog) {
            if (!ui.chooseOutput(&p.settings)) return false;
            outputFromDialog = true;
        } else if (!p.settings.retainDirectory) {
            std::string reason;
            if (!EnsureOutputFolder(p.settings.folder, &reason)) {
                ui.showMessage(FormatString(ids::OutputFolderNotMade, p.settings.folder, reason),
                               MessageIcon::Exclamation);
                return false;
            }
        }
        state.output = p.settings;
    }

    if (in) {
        state.batchListPath = MakeTemporaryBatchList(listContents);
        state.listMode = 1;
    } else {
        const std::string folder = WithoutTrailingSlash(choice.folder);
        state.batchListPath = choice.names.empty()
                                  ? MakeTemporaryBatchListFromPattern(choice.folder, choice.pattern)
                                  : MakeTemporaryBatchList(NamesAsBatchList(choice.names));
        state.listMode = 0;
        state.inputFolder = folder;
    }
    if (state.batchListPath.empty()) {
        ui.showMessage(LoadString(ids::TempFileFailed), MessageIcon::Exclamation);
        return false;
    }
    state.deleteListAfterRun = true;
    state.unattended = !choice.showErrors;

    store.Set(setting::InterruptOnErr, choice.showErrors ? 1 : 0);
    if (!in) {
        store.Set(setting::BatchOpenDir, choice.folder);
        store.Set(setting::BatchOpenIndex, choice.filterIndex);
    }
    if (outputFromDialog) StoreDialogOutput(store, state.output);
    store.Save();
    return true;
}
