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

#include "script/commands.h"
#include "script/script.h"
#include "core/dib.h"

#include <QDialog>
#include <QPushButton>

#include <vector>

class CScriptCommand;

// A button showing a colour; a click opens the colour chooser.
class ColorButton : public QPushButton {
    Q_OBJECT
  public:
    ColorButton(COLORREF color, QString chooserTitle, QWidget* parent = nullptr);
    COLORREF color() const { return color_; }
    void setColor(COLORREF color);

  private:
    COLORREF color_;
    QString chooserTitle_;
};

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
