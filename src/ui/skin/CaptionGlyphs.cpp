#include "ui/skin/CaptionGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include "ui/skin/SkinForm.h"

void DrawCaptionGlyph(QPainter& p, ECaptionButton glyph, const QRect& button) {
  const qreal gx = button.left() + (button.width() - 11) / 2.0 - 1;
  const qreal gy = button.top() + (button.height() - 9) / 2.0 - 1;
  const int X = static_cast<int>(gx);
  const int Y = static_cast<int>(gy);
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  auto add = [&path](qreal x, qreal y, qreal w, qreal h) { path.addRect(x, y, w, h); };
  switch (glyph) {
    case ECaptionButton::Minimize:
      add(X, Y + 7, 11, 2);
      break;
    case ECaptionButton::Maximize: {
      const int Y1 = static_cast<int>(gy + 1);
      add(X, Y1, 11, 2);
      add(X, Y1 + 7, 11, 1);
      add(X, Y1, 1, 8);
      add(X + 10, Y1, 1, 8);
      break;
    }
    case ECaptionButton::Restore: {
      const qreal x0 = gx - 1;
      const qreal y0 = gy + 1;
      add(x0 + 2, y0, 10, 1);  // the window behind
      add(x0 + 2, y0, 1, 2);
      add(x0 + 11, y0, 1, 6);
      add(x0 + 9, y0 + 6, 3, 1);
      add(x0, y0 + 2, 10, 2);  // the window in front
      add(x0, y0 + 2, 1, 6);
      add(x0 + 9, y0 + 2, 1, 6);
      add(x0, y0 + 7, 10, 1);
      break;
    }
    case ECaptionButton::Close:
      for (int i = 0; i <= 8; ++i) {
        add(X + i, Y + i, 3, 1);
        add(X + 8 - i, Y + i, 3, 1);
      }
      break;
    case ECaptionButton::Menu:
      add(X, Y, 11, 2);
      add(X, Y + 8, 11, 1);
      add(X, Y, 1, 9);
      add(X + 10, Y, 1, 9);
      add(X + 5, Y + 6, 1, 1);
      add(X + 4, Y + 5, 3, 1);
      add(X + 3, Y + 4, 5, 1);
      break;
    case ECaptionButton::None:
      break;
  }
  if (!path.isEmpty()) {
    // A faint dark halo keeps the white glyph readable on light parts of the background.
    const QPen halo(QColor(0, 0, 0, 50), 1.0);
    QPainterPathStroker stroker;
    stroker.setWidth(1.0);
    QPainterPath widened = stroker.createStroke(path);
    p.strokePath(widened, halo);
    widened = stroker.createStroke(widened);
    p.strokePath(widened, halo);
    p.fillPath(path, QColor(255, 255, 255, 255));
  }
}
