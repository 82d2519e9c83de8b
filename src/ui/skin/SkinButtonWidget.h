#pragma once
// The frame draws its buttons itself, so neither the keyboard nor a screen reader would find
// them. Each button gets a stand-in: a child widget over the button that draws nothing and lets
// the pointer through to the frame, but takes the keyboard focus (Tab, arrows, Space, Enter)
// and answers a screen reader with the button's name, role, state and press action.

#include <QAccessibleWidget>
#include <QWidget>

class TSkinForm;

class TSkinButtonWidget : public QWidget {
  Q_OBJECT

 public:
  TSkinButtonWidget(TSkinForm* form, int index);
  int Index() const { return index_; }
  TSkinForm* Form() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent*) override {}

 private:
  // The next stand-in of the same kind in the direction `step` (+1, -1), wrapping round.
  TSkinButtonWidget* Neighbour(int step) const;

  const int index_;
  bool byKeyboard_ = false;  // the focus came by the keyboard: the frame shows
};

// What a screen reader sees of a frame button: a page tab for a module (selected while its page
// shows), a push button for a caption button (the menu button opens a menu).
class TSkinButtonAccessible : public QAccessibleWidget {
 public:
  explicit TSkinButtonAccessible(TSkinButtonWidget* widget);

  QAccessible::Role role() const override;
  QAccessible::State state() const override;
  QStringList actionNames() const override;
  void doAction(const QString& actionName) override;
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

  // Made by Qt for every TSkinButtonWidget once installed with QAccessible::installFactory.
  static QAccessibleInterface* Factory(const QString& className, QObject* object);

 private:
  TSkinButtonWidget* Button() const;
};
