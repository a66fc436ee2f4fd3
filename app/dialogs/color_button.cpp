#include "app/dialogs/color_button.h"

#include "app/color_chooser.h"
#include "app/main_strings.h"
#include "app/qt_text.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <optional>

namespace {
QIcon Swatch(COLORREF c) {
    QPixmap pixmap(20, 14);
    pixmap.fill(QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
    QPainter painter(&pixmap);
    painter.setPen(Qt::darkGray);
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}
} // namespace

ColorButton::ColorButton(COLORREF color, QString chooserTitle, QWidget* parent)
    : QPushButton(parent), color_(color), chooserTitle_(std::move(chooserTitle)) {
    setColor(color);
    connect(this, &QPushButton::clicked, this, [this] {
        if (std::optional<COLORREF> chosen = ChooseColor(this, color_, chooserTitle_)) {
            setColor(*chosen);
            emit colorChosen(color_);
        }
    });
}

void ColorButton::setColor(COLORREF color) {
    color_ = color & 0xFFFFFF;
    setIcon(Swatch(color_));
    setText(QFormat(appids::ColorValue, GetRValue(color_), GetGValue(color_), GetBValue(color_)));
}
