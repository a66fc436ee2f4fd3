#include "app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// The SVG's drawing on its 128-unit grid.
void DrawIcon(QPainter& p) {
    p.setPen(Qt::NoPen);
    QLinearGradient tile(0, 6, 0, 122);
    tile.setColorAt(0, QColor(0x3f, 0x8f, 0xdc));
    tile.setColorAt(1, QColor(0x1d, 0x5a, 0xa3));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(6, 6, 116, 116), 22, 22);
    p.setBrush(QColor(255, 255, 255, 102));
    p.drawRoundedRect(QRectF(36, 20, 66, 50), 5, 5);
    p.setBrush(QColor(255, 255, 255, 166));
    p.drawRoundedRect(QRectF(30, 28, 66, 50), 5, 5);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(22, 37, 70, 54), 5, 5);
    QLinearGradient sky(0, 42, 0, 86);
    sky.setColorAt(0, QColor(0xff, 0xdc, 0x8f));
    sky.setColorAt(1, QColor(0xff, 0x9a, 0x57));
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(27, 42, 60, 44), 2, 2);
    p.setBrush(QColor(0xff, 0xf5, 0xc8));
    p.drawEllipse(QPointF(72, 53), 6, 6);
    QPainterPath hills;
    hills.moveTo(27, 86);
    hills.lineTo(46, 61);
    hills.lineTo(57, 74);
    hills.lineTo(65, 65);
    hills.lineTo(87, 86);
    hills.closeSubpath();
    p.setBrush(QColor(0x2e, 0x7b, 0x4e));
    p.drawPath(hills);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(95, 95), 21, 21);
    p.setBrush(QColor(0x22, 0xb0, 0x7b));
    p.drawEllipse(QPointF(95, 95), 17, 17);
    QPainterPath play;
    play.moveTo(89, 85);
    play.lineTo(105, 95);
    play.lineTo(89, 105);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
}

} // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 128.0, size / 128.0);
        DrawIcon(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void SetUpIconTheme() {
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}
