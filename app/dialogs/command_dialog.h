// The parameter dialog of each command kind. MakeCommandDialog asks each
// family of dialogs in turn for the kind's own dialog; a kind none of them
// serves gets the generic slot editor. Every dialog writes the command's
// slots in its accept() only, so Cancel leaves the command as it was.
#pragma once

#include "core/kmem.h"

#include <QDialog>

#include <memory>

class CScriptCommand;
class QWidget;

// The adjustment dialogs with a live before/after preview of `preview`
// (dialogs/preview_dialogs.cpp). nullptr for other kinds.
std::unique_ptr<QDialog> MakePreviewDialog(CScriptCommand& command, KHANDLE preview,
                                           QWidget* parent);
// The dialogs without a preview: sizes, rotation, borders, crop, colour
// reduction, colour pickers, watermark, colour replacement, output options
// (dialogs/plain_dialogs.cpp). nullptr for other kinds.
std::unique_ptr<QDialog> MakePlainDialog(CScriptCommand& command, QWidget* parent);
// "Set Input Options" (imagelist/input_options_dialog.cpp). nullptr for
// other kinds.
std::unique_ptr<QDialog> MakeInputOptionsDialog(CScriptCommand& command, QWidget* parent);

// The dialog for any kind with parameters.
std::unique_ptr<QDialog> MakeCommandDialog(CScriptCommand& command, KHANDLE preview,
                                           QWidget* parent);
