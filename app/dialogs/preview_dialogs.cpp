#include "app/dialogs/command_dialog.h"

std::unique_ptr<QDialog> MakePreviewDialog(CScriptCommand&, KHANDLE, QWidget*) {
    return nullptr;
}
