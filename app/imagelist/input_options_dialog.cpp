#include "app/dialogs/command_dialog.h"

std::unique_ptr<QDialog> MakeInputOptionsDialog(CScriptCommand&, QWidget*) {
    return nullptr;
}
