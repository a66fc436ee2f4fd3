// The parameter dialogs with a live preview: the colour and tone
// adjustments, posterize and solarize, the deformations, unsharp mask, noise
// and mosaic. One table (preview_dialogs.cpp) declares, for each command
// kind, its caption, fields (slot, control, labels), the preview's delay and
// the check made on OK; one dialog class builds itself from a row of it.
// Ranges and defaults come from the slot table (script/commands.h).
//
// Controls are named after their slots for tests and screenshots: "slot_P0"
// (a spin box, a check box, a colour button, or the box holding two radio
// buttons "slot_P0_0" and "slot_P0_1"), "slot_P0_picture" for the motion
// blur's direction picture, and "buttons" for OK and Cancel.
//
// The preview shows what the dispatcher gives: each computation runs a
// one-command script holding a copy of the command with the fields' values
// through CScript::DoCommand on the thumbnail.
#pragma once

#include <QWidget>

#include <cstdint>
#include <span>

// True for the command kinds served here (MakePreviewDialog in
// dialogs/command_dialog.h makes their dialogs).
bool HasPreviewDialog(int32_t id);
// Those kinds, in ID order.
std::span<const int32_t> PreviewDialogCommands();

// A small dial showing a direction in degrees clockwise from up (45 points
// up and right); a click or drag on it picks the direction under the
// pointer.
class DirectionPicture : public QWidget {
    Q_OBJECT
  public:
    explicit DirectionPicture(QWidget* parent = nullptr);
    int angle() const { return angle_; }
    // Any value; kept reduced to 0..359.
    void setAngle(int degrees);
    QSize sizeHint() const override { return {64, 64}; }
    QSize minimumSizeHint() const override { return {48, 48}; }

  signals:
    // After the user picked a direction (not after setAngle).
    void angleChosen(int degrees);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void pick(QPointF at);
    int angle_ = 0;
};
