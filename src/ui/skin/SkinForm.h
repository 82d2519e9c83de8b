#pragma once
// The frameless base window: draws its own frame, caption buttons and module bar into two
// off-screen surfaces, and tells the window above it (ModuleChosen) which module the user picked.

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <vector>

class QPainter;

enum class ESkinButtonKind { System, Module };

// The caption buttons at the top right. Restore is the maximise button while the window is
// maximised: drawn and acted on as restore.
enum class ECaptionButton { None, Menu, Minimize, Maximize, Restore, Close };

struct SkinButton {
  ESkinButtonKind kind = ESkinButtonKind::Module;
  int id = 0;                                     // a module button's module id
  ECaptionButton command = ECaptionButton::None;  // a caption button's
  int left = 0, top = 0, width = 0, height = 0;
  QRect hit;  // left, top, width, height as they were last set
  QString caption;
  QImage icon;
  QImage icon2x;  // the same at twice the size, for scaled screens; may be null
  bool iconPresent = false;
  bool hover = false;
  bool pressed = false;
  bool selected = false;
  bool focused = false;  // has the keyboard focus: drawn with a focus frame
};

class TSkinButtonWidget;

class TSkinForm : public QWidget {
  Q_OBJECT

 public:
  // Sizes and colours of the frame.
  static constexpr QRgb BASE_COLOUR = 0xFF3296BE;          // (255, 50, 150, 190)
  static constexpr QRgb OUTER_BORDER_COLOUR = 0x96000000;  // black at alpha 150
  static constexpr QRgb INNER_BORDER_COLOUR = 0x96FFFFFF;  // white at alpha 150
  static constexpr int MODULE_TOP = 44;
  static constexpr int MODULE_WIDTH = 72;
  static constexpr int MODULE_HEIGHT = 76;
  static constexpr int MODULE_GAP = 5;
  static constexpr int FIRST_MODULE_LEFT = 7;

  // `maximizeButton`: a maximise button between minimise and close (shown as restore while
  // the window is maximised).
  explicit TSkinForm(QWidget* parent = nullptr, bool maximizeButton = false);
  ~TSkinForm() override;

  // The background image (resource name and type, looked up ignoring case) and the centre
  // rectangle of its nine slices.
  void SetBackground(const QString& name, const QString& type, int left, int top, int width,
                     int height);

  // A negative width or height keeps the old one.
  void SetButtonBounds(int index, int left, int top, int width, int height);
  void SetButtonCaption(int index, const QString& text);
  void LoadButtonImage(int index, const QString& name, const QString& type);
  // A module button in the bar (72 x 76 at top 44, 5 pixels apart from left 7).
  int AddModule(int id, const QString& caption, const QString& name, const QString& type);
  // Marks the module button with this id as selected and every other one as not.
  void SelectModule(int id);
  int HitTestButton(int x, int y) const;
  int FindSystemButton(ECaptionButton command) const;
  // -1 clears. Only the buttons whose look changes are redrawn.
  void SetHotButton(int index);
  void SetPressedButton(int index);
  // Restores the button's rectangle from the backdrop, draws the button again and puts that
  // rectangle alone on the screen. Does nothing before the surfaces exist.
  void RedrawButton(int index);
  // Clicks button `index` as a release over it does, once the events now waiting have run.
  void ClickButton(int index);

  // The widget that stands for button `index` to the keyboard and to screen readers (it lies
  // over the button, draws nothing and lets the pointer through); null for a bad index.
  QWidget* ButtonWidget(int index) const;
  // The button with the keyboard focus, -1 for none.
  int FocusIndex() const;

  const std::vector<SkinButton>& Buttons() const { return buttons_; }
  int ButtonCount() const { return static_cast<int>(buttons_.size()); }
  int SystemButtonCount() const { return systemButtonCount_; }
  bool BackgroundPresent() const { return !background_.isNull(); }
  int HotIndex() const { return hotIndex_; }
  int PressedIndex() const { return pressedIndex_; }
  // The frame is moving the window itself (see BeginWindowMove).
  bool MovingByHand() const { return movingByHand_; }

  // The two surfaces: null while absent (before the first paint and after a size change).
  // They hold the window's device pixels: on a screen scaled by 2, twice the client size.
  const QImage& BackdropSurface() const { return backdrop_; }
  const QImage& CompositeSurface() const { return composite_; }
  bool SurfacesBuilt() const { return !composite_.isNull(); }
  // The window's shape as of the last build.
  const QRegion& WindowMask() const { return windowMask_; }
  // Builds both surfaces and the window mask at the current size.
  void BuildBackBuffer();
  // Rebuilds and repaints now when the window is on screen, else leaves it to the next paint.
  void RefreshBackBuffer();

  // The closed outline of a rounded rectangle: four quarter arcs of radius r.
  static QPainterPath RoundRectPath(qreal x, qreal y, qreal w, qreal h, qreal r);
  // The window shape: the full rectangle with the four corners cut round.
  static QRegion RoundedMask(int width, int height);

 signals:
  // A click on the module button of this id; the selection mark is left to the window.
  void ModuleChosen(int moduleId);
  // A click on the menu caption button.
  void MenuChosen();

 protected:
  // Hands a press on the form's own surface to the window system's move loop; where that is
  // refused (no window manager, or a platform without one) the frame moves the window itself
  // until the button is released.
  void BeginWindowMove(const QPoint& globalPos);

  // The background from a decoded image instead of a resource.
  void SetBackgroundImage(const QImage& image, int left, int top, int width, int height);

  void DrawBackdrop(QPainter& p);
  void DrawNineSlice(QPainter& p, const QRect& dest, const QImage& image);
  void ComposeButtons();
  // The caption buttons along the right edge; `standInsOnly`: their stand-ins alone.
  void LayoutSystemButtons(bool standInsOnly = false);
  void DrawModuleButton(QPainter& p, const SkinButton& b);
  void DrawSystemButton(QPainter& p, const SkinButton& b);

  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  friend class TSkinButtonWidget;
  // The keyboard focus came to button `index` (-1: left the buttons).
  void SetFocusButton(int index);
  int AddButton(const SkinButton& button);
  void DispatchClick(int index);
  void DiscardSurfaces();
  void PointerLeft();
  void SetBounds(int index, int left, int top, int width, int height);
  // A rectangle of client pixels as the surfaces' device pixels.
  QRectF DeviceRect(const QRect& r) const;
  // Scaled surfaces take the large artwork where there is one.
  bool LargeArtwork() const { return backdrop_.devicePixelRatio() > 1.0; }
  // After a change to the button list once the surfaces exist: draw all buttons again.
  void ButtonsChanged();
  bool ValidIndex(int index) const { return index >= 0 && index < ButtonCount(); }

  std::vector<SkinButton> buttons_;
  std::vector<TSkinButtonWidget*> buttonWidgets_;
  int systemButtonCount_ = 0;
  int nextModuleLeft_ = FIRST_MODULE_LEFT;
  int hotIndex_ = -1;
  int pressedIndex_ = -1;
  // The left button went down on the frame's own surface, not on a child control.
  bool ownPress_ = false;
  bool movingByHand_ = false;
  QPoint moveOffset_;  // pointer position minus window position at the press

  QImage background_;
  QImage background2x_;  // the same at twice the size, for scaled screens; may be null
  QRect centre_;
  QSize surfaceSize_;  // client size at the last build
  QImage backdrop_;
  QImage composite_;
  bool zoomed_ = false;
  QRegion windowMask_;

  QFont titleFont_;
  QFont moduleCaptionFont_;
};
