// A parameter dialog for any command, built from the slot table
// (script/commands.h): one field per slot the command's kind uses, in the
// table's order, labelled with the slot's label (or its meaning), limited to
// its range, and showing the slot's default while the slot is unset. The
// command is written only when the dialog is closed with OK.
//
// Fields are named after their slots ("slot_P0", "slot_F0", "slot_S0",
// "slot_C0"): spin boxes for integers and floats, line edits for texts, and
// a button that opens the colour chooser for colours.
#pragma once

#include "app/dialogs/color_button.h"
#include "script/commands.h"
#include "script/script.h"
#include "core/dib.h"

#include <QDialog>

#include <vector>

class CScriptCommand;

class SlotEditor : public QDialog {
    Q_OBJECT
  public:
    explicit SlotEditor(CScriptCommand& command, QWidget* parent = nullptr);
    void accept() override;

  private:
    struct Field {
        const SlotInfo* info;
        QWidget* widget;
    };
    CScriptCommand& command_;
    std::vector<Field> fields_;
};

// "P0", "F1", "S0", "C1": the name a slot is known by.
const char* SlotName(Slot slot);
