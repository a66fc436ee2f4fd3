// A button showing a colour as a swatch and its values; a click opens the
// colour chooser (with the custom colours of the settings) at that colour.
#pragma once

#include "core/dib.h"

#include <QPushButton>
#include <QString>

class ColorButton : public QPushButton {
    Q_OBJECT
  public:
    ColorButton(COLORREF color, QString chooserTitle, QWidget* parent = nullptr);
    COLORREF color() const { return color_; }
    void setColor(COLORREF color);

  signals:
    // After the user picked a colour in the chooser (not after setColor).
    void colorChosen(COLORREF color);

  private:
    COLORREF color_;
    QString chooserTitle_;
};
