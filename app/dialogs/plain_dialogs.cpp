#include "app/dialogs/command_dialog.h"

std::unique_ptr<QDialog> MakePlainDialog(CScriptCommand&, QWidget*) {
    return nullptr;
}
