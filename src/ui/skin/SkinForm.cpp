#include "ui/skin/SkinForm.h"

#include <QAccessible>
#include <QChildEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QWindow>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/skin/CaptionGlyphs.h"
#include "ui/skin/SkinButtonWidget.h"
#include "update/EmbeddedResource.h"

namespace {

// Missing or undecodable images are not an error: the frame draws without them.
QImage LoadImageResource(const QString& name, const QString& type) {
  const auto bytes = LoadEmbeddedResource(type, name);
  return bytes ? QImage::fromData(*bytes) : QImage();
}

// The same image drawn at twice the size, "Name@2x_png" beside "Name_png"; null when there is
// none or it is not exactly twice as large.
QImage LoadLargeImageResource(const QString& name, const QString& type, const QImage& normal) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('_'));
  if (normal.isNull() || dot < 0)
    return QImage();
  QString large = name;
  large.insert(dot, QLatin1String("@2x"));
  QImage image = LoadImageResource(large, type);
  if (image.size() != normal.size() * 2)
    return QImage();
  image.setDevicePixelRatio(2);
  return image;
}

QPoint PixelOf(const QMouseEvent* event) {
  return QPoint(static_cast<int>(std::floor(event->position().x())),
                static_cast<int>(std::floor(event->position().y())));
}

QRect ButtonRect(const SkinButton& b) {
  return QRect(b.left, b.top, b.width, b.height);
}

QFont FrameFont() {
  // The same face and height as the window's own heading, in bold.
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  font.setBold(true);
  return font;
}

// One axis of the nine slices: destination and source spans of the three bands.
struct TSliceAxis {
  int dest[4];  // band edges in the window
  int src[4];   // band edges in the image
};

TSliceAxis MakeAxis(int destSize, int imageSize, int centre, int centreSize) {
  int first = centre;
  int last = imageSize - (centre + centreSize);
  // A window narrower than the two fixed bands together: both shrink in proportion and the
  // middle band goes, so the image still fills the window without overlapping itself.
  if (first + last > destSize) {
    const int total = first + last;
    first = static_cast<int>(static_cast<long long>(destSize) * first / total);
    last = destSize - first;
  }
  return TSliceAxis{{0, first, destSize - last, destSize},
                    {0, centre, centre + centreSize, imageSize}};
}

}  // namespace

TSkinForm::TSkinForm(QWidget* parent, bool maximizeButton)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      titleFont_(FrameFont()),
      moduleCaptionFont_(FrameFont()) {
  // Every pixel comes from the composite surface: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  static const bool accessibleButtons = [] {
    QAccessible::installFactory(TSkinButtonAccessible::Factory);
    return true;
  }();
  Q_UNUSED(accessibleButtons);
  setMouseTracking(true);
  // Provisional places; the layout puts them at the right edge before they are drawn.
  auto caption = [this](ECaptionButton command, int left, int width) {
    SkinButton b;
    b.kind = ESkinButtonKind::System;
    b.command = command;
    b.left = left;
    b.top = 5;
    b.width = width;
    b.height = 19;
    AddButton(b);
  };
  caption(ECaptionButton::Menu, 300, 30);
  caption(ECaptionButton::Minimize, 300, 30);
  if (maximizeButton)
    caption(ECaptionButton::Maximize, 300, 30);
  caption(ECaptionButton::Close, 400, 39);
  systemButtonCount_ = ButtonCount();
}

TSkinForm::~TSkinForm() {
  // The stand-ins go while the frame is whole: the one with the focus reports losing it.
  DiscardSurfaces();
  for (TSkinButtonWidget* widget : std::exchange(buttonWidgets_, {}))
    delete widget;
}

// --- background and surfaces ---

void TSkinForm::SetBackground(const QString& name, const QString& type, int left, int top,
                              int width, int height) {
  const QImage image = LoadImageResource(name, type);
  background2x_ = LoadLargeImageResource(name, type, image);
  centre_ = QRect(left, top, width, height);
  background_ = image;
  RefreshBackBuffer();
}

void TSkinForm::SetBackgroundImage(const QImage& image, int left, int top, int width, int height) {
  background2x_ = QImage();
  centre_ = QRect(left, top, width, height);
  background_ = image;
  RefreshBackBuffer();
}

void TSkinForm::RefreshBackBuffer() {
  if (isVisible() && !isMinimized()) {
    BuildBackBuffer();
    update();
  } else {
    // Surfaces kept from an earlier showing would still hold the old look.
    DiscardSurfaces();
  }
}

void TSkinForm::DiscardSurfaces() {
  backdrop_ = QImage();
  composite_ = QImage();
}

void TSkinForm::BuildBackBuffer() {
  zoomed_ = isMaximized();
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) {
    DiscardSurfaces();
    return;
  }
  // As many pixels as the screen shows, so nothing is scaled up after drawing.
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(qCeil(w * ratio), qCeil(h * ratio));
  surfaceSize_ = QSize(w, h);
  backdrop_ = QImage(pixels, QImage::Format_RGB32);
  backdrop_.setDevicePixelRatio(ratio);
  composite_ = QImage(pixels, QImage::Format_RGB32);
  composite_.setDevicePixelRatio(ratio);
  {
    QPainter p(&backdrop_);
    DrawBackdrop(p);
  }
  ComposeButtons();
  windowMask_ = zoomed_ ? QRegion(0, 0, w, h) : RoundedMask(w, h);
  // Platforms without window shapes (offscreen, minimal) would only warn at every build.
  const bool shapes = !QGuiApplication::platformName().contains(QLatin1String("offscreen")) &&
                      !QGuiApplication::platformName().contains(QLatin1String("minimal"));
  if (shapes)
    setMask(windowMask_);
}

QRegion TSkinForm::RoundedMask(int width, int height) {
  // A corner radius of 2: two pixels off the outermost row, one off the next.
  constexpr int insets[] = {2, 1};
  QRegion region(0, 2, width, std::max(0, height - 4));
  for (int row = 0; row < 2; ++row) {
    const int inset = insets[row];
    const int span = std::max(0, width - 2 * inset);
    region += QRect(inset, row, span, 1);
    region += QRect(inset, height - 1 - row, span, 1);
  }
  return region;
}

QPainterPath TSkinForm::RoundRectPath(qreal x, qreal y, qreal w, qreal h, qreal r) {
  const qreal d = 2 * r;
  QPainterPath path;
  path.arcMoveTo(x, y, d, d, 180);
  path.arcTo(x, y, d, d, 180, -90);
  path.arcTo(x + w - d, y, d, d, 90, -90);
  path.arcTo(x + w - d, y + h - d, d, d, 0, -90);
  path.arcTo(x, y + h - d, d, d, 270, -90);
  path.closeSubpath();
  return path;
}

QRectF TSkinForm::DeviceRect(const QRect& r) const {
  const qreal s = composite_.devicePixelRatio();
  return QRectF(r.x() * s, r.y() * s, r.width() * s, r.height() * s);
}

void TSkinForm::DrawBackdrop(QPainter& p) {
  const int w = surfaceSize_.width();
  const int h = surfaceSize_.height();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(0, 0, w, h, QColor::fromRgba(BASE_COLOUR));

  if (!background_.isNull()) {
    const QImage& image = LargeArtwork() && !background2x_.isNull() ? background2x_ : background_;
    const qreal s = image.devicePixelRatio();
    const int iw = background_.width();
    const int ih = background_.height();
    if (w <= iw && h <= ih) {
      // Small enough: the image's top-right part, unscaled.
      p.drawImage(QPointF(0, 0), image, QRectF((iw - w) * s, 0, w * s, h * s));
    } else if (centre_.width() > 0 && centre_.height() > 0) {
      DrawNineSlice(p, QRect(0, 0, w, h), image);
    }
  }

  p.setBrush(Qt::NoBrush);
  // One pixel of the window wide: two device pixels on a screen scaled by 2.
  const qreal lineWidth = backdrop_.devicePixelRatio();
  QPen outer(QColor::fromRgba(OUTER_BORDER_COLOUR), lineWidth);
  QPen inner(QColor::fromRgba(INNER_BORDER_COLOUR), lineWidth);
  outer.setCosmetic(true);
  inner.setCosmetic(true);
  if (lineWidth > 1.0) {
    // A wide line is centred on its path: half a window pixel in puts it on the pixel.
    p.translate(0.5, 0.5);
  }
  if (zoomed_) {
    p.setPen(outer);
    p.drawRect(0, 0, w - 1, h - 1);
    p.setPen(inner);
    p.drawRect(1, 1, w - 3, h - 3);
  } else {
    p.setPen(outer);
    p.drawPath(RoundRectPath(0, 0, w - 1, h - 1, 3));
    p.setPen(inner);
    p.drawPath(RoundRectPath(1, 1, w - 3, h - 3, 3));
  }
  p.resetTransform();

  const QString title = windowTitle().left(259);
  if (!title.isEmpty()) {
    // The icon is not drawn; it only makes room on the left.
    const int left = windowIcon().isNull() ? 5 : 25;
    QRect box(left, 15, w - 100 - left, 16);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    p.setFont(titleFont_);
    p.setPen(QColor(0x33, 0x33, 0x33));
    p.drawText(box, flags, title);
    box.translate(-1, -1);
    p.setPen(Qt::white);
    p.drawText(box, flags, title);
  }
}

void TSkinForm::DrawNineSlice(QPainter& p, const QRect& dest, const QImage& image) {
  // A centre reaching past the image is cut to the image.
  const QRect c = centre_.intersected(background_.rect());
  if (c.isEmpty())
    return;
  const qreal s = image.devicePixelRatio();
  const TSliceAxis x = MakeAxis(dest.width(), background_.width(), c.left(), c.width());
  const TSliceAxis y = MakeAxis(dest.height(), background_.height(), c.top(), c.height());
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const QRect to(dest.left() + x.dest[col], dest.top() + y.dest[row],
                     x.dest[col + 1] - x.dest[col], y.dest[row + 1] - y.dest[row]);
      const QRect from(x.src[col], y.src[row], x.src[col + 1] - x.src[col],
                       y.src[row + 1] - y.src[row]);
      if (to.isEmpty() || from.isEmpty())
        continue;
      p.drawImage(QRectF(to), image,
                  QRectF(from.x() * s, from.y() * s, from.width() * s, from.height() * s));
    }
  }
}

void TSkinForm::LayoutSystemButtons(bool standInsOnly) {
  int right = width() - 2;
  for (ECaptionButton command : {ECaptionButton::Close, ECaptionButton::Maximize,
                                 ECaptionButton::Minimize, ECaptionButton::Menu}) {
    const int i = FindSystemButton(command);
    if (i < 0)
      continue;
    right -= buttons_[i].width;
    if (standInsOnly)
      buttonWidgets_[i]->setGeometry(right, 2, buttons_[i].width, buttons_[i].height);
    else
      SetBounds(i, right, 2, -1, -1);
  }
}

void TSkinForm::ComposeButtons() {
  QPainter p(&composite_);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, backdrop_);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  LayoutSystemButtons();
  for (const SkinButton& b : buttons_) {
    p.save();
    p.setClipRect(ButtonRect(b));
    if (b.kind == ESkinButtonKind::System)
      DrawSystemButton(p, b);
    else
      DrawModuleButton(p, b);
    p.restore();
  }
}

void TSkinForm::ButtonsChanged() {
  if (!SurfacesBuilt())
    return;
  ComposeButtons();
  update();
}

// --- painting on screen ---

void TSkinForm::paintEvent(QPaintEvent* event) {
  // Moved onto a screen of another scale: built again at its pixel ratio.
  if (SurfacesBuilt() && composite_.devicePixelRatio() != devicePixelRatioF())
    DiscardSurfaces();
  if (!SurfacesBuilt())
    BuildBackBuffer();
  if (!SurfacesBuilt())
    return;
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  for (const QRect& r : event->region())
    p.drawImage(QRectF(r), composite_, DeviceRect(r));
}

void TSkinForm::resizeEvent(QResizeEvent* event) {
  DiscardSurfaces();
  // The caption buttons' stand-ins go to their places now, not while the frame paints (a
  // stand-in that moves repaints the frame around it).
  LayoutSystemButtons(true);
  QWidget::resizeEvent(event);
}

void TSkinForm::changeEvent(QEvent* event) {
  switch (event->type()) {
    // Each of these changes the backdrop: the border's shape, the title or its place.
    case QEvent::WindowStateChange:
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
      DiscardSurfaces();
      update();
      break;
    default:
      break;
  }
  QWidget::changeEvent(event);
}

// --- the button list ---

int TSkinForm::AddButton(const SkinButton& button) {
  buttons_.push_back(button);
  const int index = ButtonCount() - 1;
  auto* widget = new TSkinButtonWidget(this, index);
  buttonWidgets_.push_back(widget);
  const struct {
    ECaptionButton command;
    const char* name;
  } names[] = {{ECaptionButton::Menu, QT_TR_NOOP("Menu")},
               {ECaptionButton::Minimize, QT_TR_NOOP("Minimize")},
               {ECaptionButton::Maximize, QT_TR_NOOP("Maximize")},
               {ECaptionButton::Close, QT_TR_NOOP("Close")}};
  for (const auto& name : names) {
    if (button.command == name.command)
      widget->setAccessibleName(tr(name.name));
  }
  SetBounds(index, button.left, button.top, button.width, button.height);
  ButtonsChanged();
  return index;
}

void TSkinForm::SetBounds(int index, int left, int top, int width, int height) {
  if (!ValidIndex(index))
    return;
  SkinButton& b = buttons_[index];
  b.left = left;
  b.top = top;
  if (width >= 0)
    b.width = width;
  if (height >= 0)
    b.height = height;
  b.hit = QRect(b.left, b.top, b.width, b.height);
  // A caption button's stand-in follows the layout at each size instead (LayoutSystemButtons).
  if (b.kind != ESkinButtonKind::System)
    buttonWidgets_[index]->setGeometry(b.hit);
}

void TSkinForm::SetButtonBounds(int index, int left, int top, int width, int height) {
  if (!ValidIndex(index))
    return;
  SetBounds(index, left, top, width, height);
  ButtonsChanged();
}

void TSkinForm::SetButtonCaption(int index, const QString& text) {
  if (!ValidIndex(index))
    return;
  buttons_[index].caption = text;
  buttonWidgets_[index]->setAccessibleName(text);
  RedrawButton(index);
}

void TSkinForm::LoadButtonImage(int index, const QString& name, const QString& type) {
  if (!ValidIndex(index))
    return;
  SkinButton& b = buttons_[index];
  b.icon = LoadImageResource(name, type);
  b.icon2x = LoadLargeImageResource(name, type, b.icon);
  b.iconPresent = !b.icon.isNull();
  RedrawButton(index);
}

int TSkinForm::AddModule(int id, const QString& caption, const QString& name, const QString& type) {
  SkinButton module;
  module.id = id;
  module.left = nextModuleLeft_;
  module.top = MODULE_TOP;
  module.width = MODULE_WIDTH;
  module.height = MODULE_HEIGHT;
  const int index = AddButton(module);
  nextModuleLeft_ += buttons_[index].width + MODULE_GAP;
  SetButtonCaption(index, caption);
  LoadButtonImage(index, name, type);
  return index;
}

void TSkinForm::SelectModule(int id) {
  for (int i = 0; i < ButtonCount(); ++i) {
    SkinButton& b = buttons_[i];
    if (b.kind != ESkinButtonKind::Module)
      continue;
    const bool was = b.selected;
    if (b.id == id) {
      b.selected = true;
      RedrawButton(i);
    } else if (b.selected) {
      b.selected = false;
      RedrawButton(i);
    }
    if (b.selected != was) {
      QAccessible::State changed;
      changed.selected = true;
      QAccessibleStateChangeEvent event(buttonWidgets_[i], changed);
      QAccessible::updateAccessibility(&event);
    }
  }
}

QWidget* TSkinForm::ButtonWidget(int index) const {
  // None once the frame is being destroyed.
  return ValidIndex(index) && index < int(buttonWidgets_.size()) ? buttonWidgets_[index] : nullptr;
}

int TSkinForm::FocusIndex() const {
  for (int i = 0; i < ButtonCount(); ++i) {
    if (buttons_[i].focused)
      return i;
  }
  return -1;
}

void TSkinForm::SetFocusButton(int index) {
  for (int i = 0; i < int(buttonWidgets_.size()); ++i) {
    if (buttons_[i].focused != (i == index)) {
      buttons_[i].focused = i == index;
      RedrawButton(i);
    }
  }
}

int TSkinForm::HitTestButton(int x, int y) const {
  for (int i = 0; i < ButtonCount(); ++i) {
    if (buttons_[i].hit.contains(x, y))
      return i;
  }
  return -1;
}

int TSkinForm::FindSystemButton(ECaptionButton command) const {
  for (int i = 0; i < systemButtonCount_; ++i) {
    if (buttons_[i].command == command)
      return i;
  }
  return -1;
}

void TSkinForm::SetHotButton(int index) {
  if (!ValidIndex(index))
    index = -1;
  if (index == hotIndex_)
    return;
  const int old = hotIndex_;
  hotIndex_ = index;
  if (ValidIndex(old)) {
    buttons_[old].hover = false;
    RedrawButton(old);
  }
  if (ValidIndex(index)) {
    buttons_[index].hover = true;
    RedrawButton(index);
  }
}

void TSkinForm::SetPressedButton(int index) {
  if (!ValidIndex(index))
    index = -1;
  if (index == pressedIndex_)
    return;
  const int old = pressedIndex_;
  pressedIndex_ = index;
  if (ValidIndex(old)) {
    buttons_[old].pressed = false;
    RedrawButton(old);
  }
  if (ValidIndex(index)) {
    buttons_[index].pressed = true;
    RedrawButton(index);
  }
}

void TSkinForm::RedrawButton(int index) {
  if (!ValidIndex(index) || !SurfacesBuilt())
    return;
  const SkinButton& b = buttons_[index];
  const QRect r = ButtonRect(b).intersected(QRect(QPoint(0, 0), surfaceSize_));
  if (r.isEmpty())
    return;
  {
    QPainter p(&composite_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QRectF(r), backdrop_, DeviceRect(r));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(r);
    if (b.kind == ESkinButtonKind::System)
      DrawSystemButton(p, b);
    else
      DrawModuleButton(p, b);
  }
  repaint(r);
}

// --- drawing the buttons ---

void TSkinForm::DrawModuleButton(QPainter& p, const SkinButton& b) {
  if (b.selected || b.pressed || b.hover) {
    // Selected and pressed share the strong look; a selected button keeps it under the pointer.
    const bool strong = b.selected || b.pressed;
    const QColor outerLine = strong ? QColor(0, 0, 0, 20) : QColor(0, 0, 0, 15);
    const QColor middleLine = strong ? QColor(0, 0, 0, 60) : QColor(0, 0, 0, 40);
    const QColor innerFill = strong ? QColor(255, 255, 255, 40) : QColor(255, 255, 255, 50);
    const QColor innerLine = strong ? QColor(255, 255, 255, 60) : QColor(255, 255, 255, 90);
    const qreal x = b.left;
    const qreal y = b.top;
    const qreal w = b.width - 2;
    const qreal h = b.height - 2;
    const QPainterPath outer = RoundRectPath(x, y, w, h, 5);
    const QPainterPath middle = RoundRectPath(x + 1, y + 1, w - 2, h - 2, 5);
    const QPainterPath inner = RoundRectPath(x + 2, y + 2, w - 4, h - 4, 5);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    // Lines on whole pixels, not between two.
    p.translate(0.5, 0.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(outerLine, 1.0));
    p.drawPath(outer);
    p.setPen(QPen(middleLine, 1.0));
    p.drawPath(middle);
    p.fillPath(inner, innerFill);
    p.setPen(QPen(innerLine, 1.0));
    p.drawPath(inner);
    p.restore();
  }

  if (b.iconPresent) {
    const int iw = b.icon.width();
    const int ih = b.icon.height();
    // Larger icons are squeezed into 48 x 48, each side on its own.
    const int dw = std::min(iw, 48);
    const int dh = std::min(ih, 48);
    const QRectF box(b.left + (b.width - dw) / 2.0, b.top + (b.height - dh - 20) / 2.0, dw, dh);
    const QImage& icon = LargeArtwork() && !b.icon2x.isNull() ? b.icon2x : b.icon;
    p.drawImage(box, icon, QRectF(0, 0, icon.width(), icon.height()));
  }

  if (!b.caption.isEmpty()) {
    QRectF box(b.left + 1, b.top + b.height - 24, b.width - 1, 18);
    p.setFont(moduleCaptionFont_);
    p.setPen(QColor(0, 0, 0, 60));
    p.drawText(box, Qt::AlignCenter, b.caption);
    box.translate(-1, -1);
    p.setPen(QColor(255, 255, 255, 255));
    p.drawText(box, Qt::AlignCenter, b.caption);
  }

  if (b.focused) {
    // Keyboard focus: a white rounded line with a dark edge, inside the button's own frame.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(0.5, 0.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 70), 1.0));
    p.drawPath(RoundRectPath(b.left + 3, b.top + 3, b.width - 8, b.height - 8, 4));
    p.setPen(QPen(QColor(255, 255, 255, 230), 1.0));
    p.drawPath(RoundRectPath(b.left + 4, b.top + 4, b.width - 10, b.height - 10, 3));
    p.restore();
  }
}

void TSkinForm::DrawSystemButton(QPainter& p, const SkinButton& b) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  const bool close = b.command == ECaptionButton::Close;

  if (b.pressed || b.hover) {
    QColor top;
    QColor bottom;
    if (close) {
      top = b.pressed ? QColor(128, 0, 0, 180) : QColor(255, 0, 0, 180);
      bottom = QColor(0, 0, 0, 0);
    } else if (b.pressed) {
      top = QColor(0, 0, 0, 90);
      bottom = QColor(0, 0, 0, 0);
    } else {
      top = QColor(255, 255, 255, 60);
      bottom = QColor(255, 255, 255, 0);
    }
    QLinearGradient fade(0, b.top, 0, b.top + b.height);
    fade.setColorAt(0, top);
    fade.setColorAt(1, bottom);
    // Twice, the second a pixel to the left: stronger in the middle, soft at both sides.
    QRect box(b.left + 1, b.top, close ? b.width - 1 : b.width - 3, b.height);
    p.fillRect(box, fade);
    box.translate(-1, 0);
    p.fillRect(box, fade);
  }

  ECaptionButton glyph = b.command;
  if (glyph == ECaptionButton::Maximize && zoomed_)
    glyph = ECaptionButton::Restore;
  DrawCaptionGlyph(p, glyph, QRect(b.left, b.top, b.width, b.height));

  if (b.focused) {
    // Keyboard focus: a white line inside the button, clear of its separator.
    p.setPen(QColor(255, 255, 255, 210));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(b.left + 2, b.top + 1, b.width - (close ? 5 : 7), b.height - 3));
  }

  if (!close) {
    // The separator at the right edge, in every state.
    QLinearGradient light(0, b.top, 0, b.top + b.height);
    light.setColorAt(0, QColor(255, 255, 255, 120));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRect(b.left + b.width - 1, b.top, 1, b.height), light);
    QLinearGradient dark(0, b.top, 0, b.top + b.height);
    dark.setColorAt(0, QColor(0, 0, 0, 90));
    dark.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRect(b.left + b.width - 2, b.top, 1, b.height), dark);
  }
  p.restore();
}

// --- pointer and clicks ---

void TSkinForm::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  if (movingByHand_) {
    if (event->buttons() & Qt::LeftButton) {
      move(event->globalPosition().toPoint() - moveOffset_);
      return;
    }
    movingByHand_ = false;
  }
  const QPoint pt = PixelOf(event);
  SetHotButton(HitTestButton(pt.x(), pt.y()));
}

void TSkinForm::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  PointerLeft();
}

void TSkinForm::PointerLeft() {
  SetPressedButton(-1);
  SetHotButton(-1);
}

void TSkinForm::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton)
    return;
  const QPoint pt = PixelOf(event);
  // A press that a child control (label, group box, blank page, disabled control) did not
  // take comes up to the form, but it was not on the form's own surface.
  ownPress_ = childAt(pt) == nullptr;
  if (!ownPress_)
    return;
  const int index = HitTestButton(pt.x(), pt.y());
  SetPressedButton(index);
  // Off the buttons the whole surface is the caption.
  if (index < 0)
    BeginWindowMove(event->globalPosition().toPoint());
}

void TSkinForm::BeginWindowMove(const QPoint& globalPos) {
  if (windowHandle() && windowHandle()->startSystemMove())
    return;
  movingByHand_ = true;
  moveOffset_ = globalPos - pos();
}

void TSkinForm::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton)
    return;
  const bool ownPress = std::exchange(ownPress_, false);
  const bool moved = std::exchange(movingByHand_, false);
  const QPoint pt = PixelOf(event);
  const int index = HitTestButton(pt.x(), pt.y());
  SetPressedButton(-1);
  // The end of a move, or of a press that began on a child control, clicks nothing.
  if (moved || !ownPress || !ValidIndex(index))
    return;
  // Let the released look reach the screen before the click does anything.
  QPointer<TSkinForm> self(this);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (self)
    ClickButton(index);
}

void TSkinForm::ClickButton(int index) {
  if (!ValidIndex(index))
    return;
  QMetaObject::invokeMethod(
      this, [this, index] { DispatchClick(index); }, Qt::QueuedConnection);
}

bool TSkinForm::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::ChildAdded:
      // The pointer going onto a child leaves the frame's own surface: watch for it.
      static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
      break;
    case QEvent::ChildRemoved:
      static_cast<QChildEvent*>(event)->child()->removeEventFilter(this);
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

bool TSkinForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter && watched->parent() == this)
    PointerLeft();
  return QWidget::eventFilter(watched, event);
}

void TSkinForm::DispatchClick(int index) {
  if (!ValidIndex(index))
    return;
  const SkinButton& b = buttons_[index];
  if (b.kind == ESkinButtonKind::Module) {
    emit ModuleChosen(b.id);
    return;
  }
  ECaptionButton command = b.command;
  if (command == ECaptionButton::Maximize && isMaximized())
    command = ECaptionButton::Restore;
  switch (command) {
    case ECaptionButton::Menu:
      emit MenuChosen();
      return;
    case ECaptionButton::Minimize:
      showMinimized();
      return;
    case ECaptionButton::Maximize:
      showMaximized();
      return;
    case ECaptionButton::Restore:
      showNormal();
      return;
    case ECaptionButton::Close:
      // The usual way out, so the window's own close handling runs.
      close();
      return;
    case ECaptionButton::None:
      return;
  }
}
