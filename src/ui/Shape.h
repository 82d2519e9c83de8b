#pragma once
// Plain drawn shapes: the rectangles of the hub drawing in the status readout, and the white
// rounded panels of the Home page.

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

// White, with a thin grey rounded border. Drawn here rather than by a style sheet, which would
// give the children the application's font instead of the window's.
class TRoundedPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TRoundedPanel(QWidget* parent = nullptr) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(170, 170, 170));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4.0, 4.0);
  }
};
