#pragma once
// A plain rectangle with an outline and a fill: the hub drawing of the status readout.

#include <QColor>
#include <QPainter>
#include <QWidget>

class TShape : public QWidget {
  Q_OBJECT

 public:
  explicit TShape(QWidget* parent = nullptr) : QWidget(parent) {}

  QColor BrushColor() const { return brush_; }
  void SetBrushColor(const QColor& color) {
    if (color == brush_)
      return;
    brush_ = color;
    update();
  }
  QColor PenColor() const { return pen_; }
  void SetPenColor(const QColor& color) {
    pen_ = color;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), brush_);
    p.setPen(pen_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QColor brush_ = Qt::white;
  QColor pen_ = QColor(128, 128, 128);
};
