#include "ui/skin/SkinForm.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "update/EmbeddedResource.h"

namespace {
QImage LoadImageResource(const QString& name, const QString& type) {
  const auto bytes = LoadEmbeddedResource(type, name);
  return bytes ? QImage::fromData(*bytes) : QImage();
}
}  // namespace

TSkinForm::TSkinForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setMouseTracking(true);
  AddButton(BUTTON_KIND_SYSTEM, 300, 5, 30, 19, SKIN_BTN_MENU);
  AddButton(BUTTON_KIND_SYSTEM, 300, 5, 30, 19, SKIN_BTN_MINIMIZE);
  AddButton(BUTTON_KIND_SYSTEM, 400, 5, 39, 19, SKIN_BTN_CLOSE);
  systemButtonCount_ = ButtonCount();
}

TSkinForm::~TSkinForm() = default;

void TSkinForm::SetBackground(const QString& name, const QString& type, int left, int top,
                              int width, int height) {
  centre_ = QRect(left, top, width, height);
  background_ = LoadImageResource(name, type);
  update();
}

int TSkinForm::AddButton(int kind, int left, int top, int width, int height, int id) {
  SkinButton button;
  button.kind = kind;
  button.id = id;
  buttons_.push_back(button);
  const int index = ButtonCount() - 1;
  SetButtonBounds(index, left, top, width, height);
  return index;
}

void TSkinForm::SetButtonBounds(int index, int left, int top, int width, int height) {
  if (index < 0 || index >= ButtonCount())
    return;
  SkinButton& b = buttons_[index];
  b.left = left;
  b.top = top;
  if (width >= 0)
    b.width = width;
  if (height >= 0)
    b.height = height;
}

void TSkinForm::SetButtonCaption(int index, const QString& text) {
  if (index < 0 || index >= ButtonCount())
    return;
  buttons_[index].caption = text;
}

void TSkinForm::LoadButtonImage(int index, const QString& name, const QString& type) {
  if (index < 0 || index >= ButtonCount())
    return;
  buttons_[index].icon = LoadImageResource(name, type);
  buttons_[index].iconPresent = !buttons_[index].icon.isNull();
}

int TSkinForm::AddModule(int id, const QString& caption, const QString& name, const QString& type) {
  const int index = AddButton(BUTTON_KIND_MODULE, nextModuleLeft_, 44, 72, 76, id);
  nextModuleLeft_ += buttons_[index].width + 5;
  SetButtonCaption(index, caption);
  LoadButtonImage(index, name, type);
  return index;
}

void TSkinForm::SelectModule(int id) {
  for (SkinButton& b : buttons_) {
    if (b.kind == BUTTON_KIND_MODULE)
      b.selected = b.id == id;
  }
  update();
}

int TSkinForm::HitTestButton(int x, int y) const {
  for (int i = 0; i < ButtonCount(); ++i) {
    const SkinButton& b = buttons_[i];
    if (x >= b.left && x < b.left + b.width && y >= b.top && y < b.top + b.height)
      return i;
  }
  return -1;
}

int TSkinForm::FindSystemButton(int id) const {
  for (int i = 0; i < systemButtonCount_; ++i) {
    if (buttons_[i].id == id)
      return i;
  }
  return -1;
}

void TSkinForm::WmSkinModuleSelect(int, int) {}

void TSkinForm::ClickButton(int index) {
  if (index < 0 || index >= ButtonCount())
    return;
  QCoreApplication::postEvent(this,
                              new TSkinMessage(WM_SKIN_BUTTON_CLICK, buttons_[index].id, index));
}

bool TSkinForm::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(WM_SKIN_BUTTON_CLICK)) {
    const auto* m = static_cast<TSkinMessage*>(event);
    DispatchClick(m->wParam, m->lParam);
    return true;
  }
  if (event->type() == static_cast<QEvent::Type>(WM_SKIN_MODULE_SELECT)) {
    const auto* m = static_cast<TSkinMessage*>(event);
    WmSkinModuleSelect(m->wParam, m->lParam);
    return true;
  }
  return QWidget::event(event);
}

void TSkinForm::DispatchClick(int id, int index) {
  if (index < 0 || index >= ButtonCount())
    return;
  if (buttons_[index].kind == BUTTON_KIND_SYSTEM) {
    switch (id) {
      case SKIN_BTN_MINIMIZE:
        showMinimized();
        return;
      case SKIN_BTN_MAXIMIZE:
      case SKIN_BTN_RESTORE:
        isMaximized() ? showNormal() : showMaximized();
        return;
      case SKIN_BTN_CLOSE:
        close();
        return;
      case SKIN_BTN_MENU:
        break;
      default:
        return;
    }
  }
  QCoreApplication::postEvent(this, new TSkinMessage(WM_SKIN_MODULE_SELECT, id, index));
}

void TSkinForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(50, 150, 190));
  if (!background_.isNull())
    p.drawImage(rect(), background_);
  // Right-aligned caption buttons, then the module bar.
  int right = width() - 2;
  for (int id : {SKIN_BTN_CLOSE, SKIN_BTN_MAXIMIZE, SKIN_BTN_MINIMIZE, SKIN_BTN_MENU}) {
    const int i = FindSystemButton(id);
    if (i < 0)
      continue;
    right -= buttons_[i].width;
    SetButtonBounds(i, right, 2, -1, -1);
  }
  p.setPen(Qt::white);
  for (const SkinButton& b : buttons_) {
    const QRect r(b.left, b.top, b.width, b.height);
    if (b.selected || b.pressed)
      p.fillRect(r, QColor(255, 255, 255, 60));
    if (b.iconPresent)
      p.drawImage(QRect(r.left() + 12, r.top() + 4, 48, 48), b.icon);
    p.drawText(QRect(r.left(), r.bottom() - 22, r.width(), 18), Qt::AlignCenter, b.caption);
  }
}

void TSkinForm::mousePressEvent(QMouseEvent* event) {
  pressedIndex_ = HitTestButton(event->position().x(), event->position().y());
  if (pressedIndex_ < 0 && windowHandle())
    windowHandle()->startSystemMove();
}

void TSkinForm::mouseReleaseEvent(QMouseEvent* event) {
  const int index = HitTestButton(event->position().x(), event->position().y());
  pressedIndex_ = -1;
  ClickButton(index);
}
