// The parameter dialogs without a preview (MakePlainDialog builds them):
//
//   501 Resize/Resample   508 Rotate        509 Add Borders   510 Enlarge Canvas
//   518 Apply a New Palette                 519 Apply Fully Optimized Palette
//   520 / 521 / 522 colour reduction        544 Set Output Options
//   545 / 546 the background colour alone   557 Crop
//   558 Color Replacement                   559 Overlay Watermark
//
// Most are PlainDialogs (plain_dialog.h). The two that are something else
// are declared here: "Set Output Options" is the batch output dialog writing
// into the command, and the circle and pentagon have the colour dialog only.
#pragma once

#include "app/batch/batch_output_dialog.h"

#include <QColorDialog>

class CScriptCommand;

class OutputOptionsCommandDialog : public CBatchOutputDlg {
    Q_OBJECT
  public:
    OutputOptionsCommandDialog(CScriptCommand& command, QWidget* parent);
    void done(int result) override;

  private:
    CScriptCommand& command_;
    OutputSettings start_;
};

// Cancel cancels the whole edit: the caller sees the dialog rejected.
class BackgroundColorDialog : public QColorDialog {
    Q_OBJECT
  public:
    BackgroundColorDialog(CScriptCommand& command, QWidget* parent);
    void done(int result) override;

  private:
    CScriptCommand& command_;
};
