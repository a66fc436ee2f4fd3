// The preview box: paints the display copy unscaled and centred on white.
// When the box has shrunk below the copy (until the copy is rebuilt for the
// new size) the copy is drawn scaled down to fit.
#pragma once

#include <QFrame>
#include <QImage>
#include <QTimer>

class PreviewBox : public QFrame {
    Q_OBJECT
  public:
    explicit PreviewBox(QWidget* parent = nullptr);
    void setPicture(const QImage& picture);
    // The area the display copy must fit: the contents less 2 pixels a side.
    QSize boxSize() const;
    QSize sizeHint() const override { return {360, 280}; }
    QSize minimumSizeHint() const override { return {160, 120}; }

  signals:
    // The box size, once it has stopped changing for a moment.
    void boxResized(QSize box);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QImage picture_;
    QTimer settle_;
};
