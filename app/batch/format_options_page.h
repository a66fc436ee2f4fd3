// "Format Settings": the details page of an output format, one layout per
// kind of options the format has (formats/format_table.h, OptionsPage).
//
//   CompressionAndResolution   JIF, JPG   compression 1..99, resolution
//   Resolution                 PCX, WPG   resolution
//   Transparency               GIF, PNG   keep / none / a colour / a palette entry 0..255
//   Compression                FPX        compression 1..99
//   QzmVersionAndResolution    QZM        version 5, 6 or 7, resolution
//   ChannelsAndResolution      TIF        RGB or CMYK, resolution
//
// The resolution is "Set DPI to" 1..2400 or "Maintain source DPI settings";
// the DPI field is disabled while the source's is kept. The page changes only
// the fields of its kind, and only on OK; OK refuses a field outside its
// range and keeps the page open.
#pragma once

#include "formats/format_table.h"
#include "formats/output_options.h"

#include <QDialog>

class QButtonGroup;
class QLabel;
class QPushButton;
class QSpinBox;

class FormatOptionsPage : public QDialog {
    Q_OBJECT
  public:
    FormatOptionsPage(OptionsPage kind, const OutputOptions& options, QWidget* parent = nullptr);

    OptionsPage kind() const { return kind_; }
    // The options as the page holds them (the given ones until OK).
    const OutputOptions& options() const { return options_; }

    void accept() override;

  private:
    QWidget* makeResolution();
    QWidget* makeCompression();
    QWidget* makeTransparency();
    QWidget* makeQzmVersion();
    QWidget* makeChannels();
    void updateEnabling();
    void chooseColour();
    void showColour();
    // False (after saying so) when the spin box holds no value in its range.
    bool checkRange(QSpinBox* box);

    OptionsPage kind_;
    OutputOptions options_;
    COLORREF colour_;
    QSpinBox* dpi_ = nullptr;
    QButtonGroup* dpiChoice_ = nullptr;
    QSpinBox* compression_ = nullptr;
    QButtonGroup* transparency_ = nullptr;
    QPushButton* colourButton_ = nullptr;
    QLabel* colourSwatch_ = nullptr;
    QSpinBox* transIndex_ = nullptr;
    QButtonGroup* qzm_ = nullptr;
    QButtonGroup* channels_ = nullptr;
};

// Whether the format's options include a resolution.
bool PageHasResolution(OptionsPage kind);
