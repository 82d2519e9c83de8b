#include "ui/skin/SkinButtonWidget.h"

#include <QKeyEvent>

#include "ui/skin/SkinForm.h"

TSkinButtonWidget::TSkinButtonWidget(TSkinForm* form, int index) : QWidget(form), index_(index) {
  // The frame keeps the pointer: hover, press and the window move are its own.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::TabFocus);
}

TSkinForm* TSkinButtonWidget::Form() const {
  return static_cast<TSkinForm*>(parentWidget());
}

TSkinButtonWidget* TSkinButtonWidget::Neighbour(int step) const {
  const TSkinForm* form = Form();
  const ESkinButtonKind kind = form->Buttons()[index_].kind;
  const int count = form->ButtonCount();
  for (int i = (index_ + step + count) % count; i != index_; i = (i + step + count) % count) {
    if (form->Buttons()[i].kind == kind)
      return static_cast<TSkinButtonWidget*>(form->ButtonWidget(i));
  }
  return nullptr;
}

void TSkinButtonWidget::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
      if (TSkinButtonWidget* next = Neighbour(event->key() == Qt::Key_Left ? -1 : 1))
        next->setFocus(Qt::TabFocusReason);
      return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
      if (!event->isAutoRepeat())
        Form()->ClickButton(index_);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TSkinButtonWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  // The frame shows for a focus the keyboard brought (or a screen reader's request), and again
  // when the window comes back or a menu closes; not for the focus Qt hands the first control
  // of a window that comes back with none, which a mouse user never asked for.
  switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
      break;
    default:
      byKeyboard_ = true;
  }
  if (byKeyboard_)
    Form()->SetFocusButton(index_);
}

void TSkinButtonWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
    byKeyboard_ = false;
  if (Form()->FocusIndex() == index_)
    Form()->SetFocusButton(-1);
}

// --- what a screen reader sees ---

TSkinButtonAccessible::TSkinButtonAccessible(TSkinButtonWidget* widget)
    : QAccessibleWidget(widget) {}

TSkinButtonWidget* TSkinButtonAccessible::Button() const {
  return static_cast<TSkinButtonWidget*>(widget());
}

QAccessible::Role TSkinButtonAccessible::role() const {
  const SkinButton& b = Button()->Form()->Buttons()[Button()->Index()];
  if (b.kind == ESkinButtonKind::Module)
    return QAccessible::PageTab;
  return b.command == ECaptionButton::Menu ? QAccessible::ButtonMenu : QAccessible::Button;
}

QAccessible::State TSkinButtonAccessible::state() const {
  QAccessible::State s = QAccessibleWidget::state();
  const SkinButton& b = Button()->Form()->Buttons()[Button()->Index()];
  s.pressed = b.pressed;
  s.hotTracked = b.hover;
  if (b.kind == ESkinButtonKind::Module) {
    s.selectable = true;
    s.selected = b.selected;
  } else if (b.command == ECaptionButton::Menu) {
    s.hasPopup = true;
  }
  return s;
}

QStringList TSkinButtonAccessible::actionNames() const {
  return {pressAction(), setFocusAction()};
}

void TSkinButtonAccessible::doAction(const QString& actionName) {
  if (actionName == pressAction() && Button()->isEnabled())
    Button()->Form()->ClickButton(Button()->Index());
  else if (actionName == setFocusAction())
    Button()->setFocus(Qt::OtherFocusReason);
}

QAccessibleInterface* TSkinButtonAccessible::Factory(const QString&, QObject* object) {
  if (auto* button = qobject_cast<TSkinButtonWidget*>(object))
    return new TSkinButtonAccessible(button);
  return nullptr;
}
