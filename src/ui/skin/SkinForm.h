#pragma once
// The frameless base window: draws its own frame, caption buttons and module bar, and tells the
// window above it which module the user picked. (This first version keeps the module plumbing
// and a plain look; the drawn frame comes on top of the same interface.)

#include <QEvent>
#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

// Posted to the window itself; ids kept from the message numbers the frame has always used.
inline constexpr int WM_SKIN_MODULE_SELECT = 0x8064;
inline constexpr int WM_SKIN_BUTTON_CLICK = 0x8065;

inline constexpr int BUTTON_KIND_SYSTEM = 1;
inline constexpr int BUTTON_KIND_MODULE = 2;

inline constexpr int SKIN_BTN_MINIMIZE = -1;
inline constexpr int SKIN_BTN_MAXIMIZE = -2;
inline constexpr int SKIN_BTN_RESTORE = -3;
inline constexpr int SKIN_BTN_CLOSE = -4;
inline constexpr int SKIN_BTN_MENU = -5;

// wParam / lParam of the two frame messages.
class TSkinMessage : public QEvent {
 public:
  TSkinMessage(int type, int wParam, int lParam)
      : QEvent(static_cast<QEvent::Type>(type)), wParam(wParam), lParam(lParam) {}
  const int wParam;
  const int lParam;
};

struct SkinButton {
  int kind = 0;
  int id = 0;
  int left = 0, top = 0, width = 0, height = 0;
  QString caption;
  QImage icon;
  bool iconPresent = false;
  bool hover = false;
  bool pressed = false;
  bool selected = false;
};

class TSkinForm : public QWidget {
  Q_OBJECT

 public:
  explicit TSkinForm(QWidget* parent = nullptr);
  ~TSkinForm() override;

  // The background image (resource name and type, looked up ignoring case) and the centre
  // rectangle of its nine slices.
  void SetBackground(const QString& name, const QString& type, int left, int top, int width,
                     int height);

  int AddButton(int kind, int left, int top, int width, int height, int id);
  void SetButtonBounds(int index, int left, int top, int width, int height);
  void SetButtonCaption(int index, const QString& text);
  void LoadButtonImage(int index, const QString& name, const QString& type);
  // A module button in the bar (72 x 76 at top 44, 5 pixels apart from left 7).
  int AddModule(int id, const QString& caption, const QString& name, const QString& type);
  // Marks the module button with this id as selected and every other one as not.
  void SelectModule(int id);
  int HitTestButton(int x, int y) const;
  int FindSystemButton(int id) const;

  const std::vector<SkinButton>& Buttons() const { return buttons_; }
  int ButtonCount() const { return static_cast<int>(buttons_.size()); }
  bool BackgroundPresent() const { return !background_.isNull(); }

 protected:
  // WM_SKIN_MODULE_SELECT, posted when a module button (or the menu button) is clicked.
  virtual void WmSkinModuleSelect(int moduleId, int buttonIndex);
  // Posts the click of button `index` as the frame does after a release over it.
  void ClickButton(int index);

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void DispatchClick(int id, int index);

  std::vector<SkinButton> buttons_;
  int systemButtonCount_ = 0;
  int nextModuleLeft_ = 7;
  QImage background_;
  QRect centre_;
  int pressedIndex_ = -1;
};
