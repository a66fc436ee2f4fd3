#include "app/dialogs/command_dialog.h"

#include "app/slot_editor.h"
#include "script/commands.h"
#include "script/script.h"

std::unique_ptr<QDialog> MakeCommandDialog(CScriptCommand& command, KHANDLE preview,
                                           QWidget* parent) {
    if (auto d = MakePreviewDialog(command, preview, parent)) return d;
    if (auto d = MakePlainDialog(command, parent)) return d;
    if (auto d = MakeInputOptionsDialog(command, parent)) return d;
    // Print's page set-up comes with printing; until then its slots are
    // edited one field each.
    return std::make_unique<SlotEditor>(command, parent);
}
