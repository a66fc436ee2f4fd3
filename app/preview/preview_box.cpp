#include "app/preview/preview_box.h"

#include <QPainter>

PreviewBox::PreviewBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    settle_.setSingleShot(true);
    settle_.setInterval(150);
    connect(&settle_, &QTimer::timeout, this, [this] { emit boxResized(boxSize()); });
}

void PreviewBox::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

QSize PreviewBox::boxSize() const {
    const QRect r = contentsRect().adjusted(2, 2, -2, -2);
    return {std::max(r.width(), 1), std::max(r.height(), 1)};
}

void PreviewBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QRect box = contentsRect().adjusted(2, 2, -2, -2);
    p.fillRect(contentsRect(), Qt::white);
    if (picture_.isNull() || box.isEmpty()) return;
    QSize size = picture_.size();
    if (size.width() > box.width() || size.height() > box.height()) {
        size.scale(box.size(), Qt::KeepAspectRatio);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
    }
    const QRect target(box.left() + (box.width() - size.width()) / 2,
                       box.top() + (box.height() - size.height()) / 2, size.width(), size.height());
    p.drawImage(target, picture_);
}

void PreviewBox::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    settle_.start();
}
