// The machinery every parameter dialog without a preview shares: controls
// bound to the command's slots, built from the slot table.
//
// A control made with one of the add...() builders shows the slot's value
// as the dialog opens (the table's default while the slot is unset, forced
// into the table's range) and is named after its slot ("slot_P0",
// "slot_C0"; the buttons of a choice "slot_P1_0", "slot_P1_1", ...).
// accept() first asks the dialog's check(), then writes every slot of the
// kind's table: the bound controls' values, and for a slot without a control
// the value it opened with. Nothing is written before OK, and no slot outside
// the kind's table is ever touched.
#pragma once

#include "core/dib.h"
#include "script/commands.h"
#include "script/script.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>
#include <string>

class ColorButton;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QSpinBox;
class QVBoxLayout;

// Where the dialogs' messages and file choices go. The defaults show a
// message box (titled with the program's name) and the file-open dialog;
// tests put their own in place.
struct PlainDialogHooks {
    std::function<void(QWidget* parent, const QString& text)> message;
    // The chosen file, or "" when cancelled. filter: Qt's form.
    std::function<QString(QWidget* parent, const QString& title, const QString& start,
                          const QString& filter)>
        openFile;
};
PlainDialogHooks& DialogHooks();

// The slot's place in the command.
int32_t& IntSlot(CScriptCommand& c, Slot s);
COLORREF& ColorSlot(CScriptCommand& c, Slot s);
std::string& TextSlot(CScriptCommand& c, Slot s);

// Sets the colour of a button made by addColor; it keeps its label.
void SetButtonColor(ColorButton* button, COLORREF color);

class PlainDialog : public QDialog {
    Q_OBJECT
  public:
    // caption: a string number, or 0 for the command's display name.
    PlainDialog(CScriptCommand& command, int caption, QWidget* parent);
    void accept() override;

  protected:
    int32_t kind() const { return command_.m_nID; }
    // The value the slot's control starts with.
    int32_t initial(Slot s) const;
    COLORREF initialColor(Slot s) const;
    std::string initialText(Slot s) const;

    // Builders. Each control is owned by the dialog once laid out.
    QSpinBox* addSpin(Slot s);
    // Radio buttons for the values 0, 1, 2, ... of the slot, labelled in turn.
    QButtonGroup* addChoice(Slot s, std::initializer_list<int> labels);
    QAbstractButton* choiceButton(Slot s, int value) const;
    QCheckBox* addCheck(Slot s, int label);
    // A colour button labelled `label`; the swatch shows the colour and the
    // tool tip its values.
    ColorButton* addColor(Slot s, int label, int chooserTitle);
    // Custom bindings: read() gives the value OK stores.
    void bind(Slot s, std::function<int32_t()> read);
    void bindColor(Slot s, std::function<COLORREF()> read);
    void bindText(Slot s, std::function<std::string()> read);

    // A label for a control, with the control as its buddy.
    static QLabel* labelFor(int text, QWidget* buddy);
    static QGroupBox* group(int title);

    // The dialog's own rules; false (after telling the user) keeps it open.
    virtual bool check() { return true; }
    // Conversions after the bound values were written (slot pairs that
    // depend on each other).
    virtual void finish(CScriptCommand&) {}
    void tell(const QString& text);

    // Where the derived dialog puts its controls (above the buttons).
    QVBoxLayout* body() const { return body_; }

  private:
    struct Binding {
        std::function<int32_t()> readInt;
        std::function<COLORREF()> readColor;
        std::function<std::string()> readText;
    };
    void name(QObject* object, Slot s, const QString& suffix = {}) const;

    CScriptCommand& command_;
    QVBoxLayout* body_;
    QDialogButtonBox* buttons_;
    std::map<Slot, Binding> bindings_;
    std::map<Slot, QButtonGroup*> choices_;
};
