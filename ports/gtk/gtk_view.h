#pragma once
// The desktop port's views: each View is a GTK widget. The SDK's own views are containers that
// place their subviews at their frames (scrolled by the bounds' origin, clipped to their bounds);
// a host's widgets are views too, wrapped on demand, so the SDK walks and measures the host's
// real widget tree — a banner in a GtkScrolledWindow is on screen when GTK has scrolled it there.
//
// Geometry: a view placed by one of the SDK's containers has the frame it was given; any other
// (a host's widget, or an SDK view in a host's layout) reports its real allocation relative to
// its parent widget. Conversions between views of one window use GTK's own transforms, so they
// see what is drawn. Main thread only.
//
// Releasing a view takes its widget out of whatever holds it through the holder's own API (a box,
// a frame, a list box row, a stack, a paned, a revealer…); a holder the SDK does not know (a list
// item, a host's own container) keeps the widget, emptied and hidden, until its owner takes it
// out. Tap gestures go with their view.

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/activity_indicator.h"
#include "orvex/platform/view.h"
#include "ports/gtk/gobject_ptr.h"

namespace orvex::gtk {

class GtkView : public virtual View {
 public:
  // A view of the SDK's own over a new container widget.
  GtkView();
  ~GtkView() override;
  GtkView(const GtkView&) = delete;
  GtkView& operator=(const GtkView&) = delete;

  // The view standing for `widget`: the SDK's own, a window, or the wrapper of a host's widget
  // (made once and kept with the widget). None for a null widget.
  static std::shared_ptr<View> forWidget(GtkWidget* widget);
  static GtkView* cast(View& view) { return dynamic_cast<GtkView*>(&view); }

  // The widget this view is; null once a host's widget is gone.
  GtkWidget* widget() const;

  // ---- View ----
  std::shared_ptr<View> superview() const override;
  std::vector<std::shared_ptr<View>> subviews() const override;
  void addSubview(std::shared_ptr<View> view) override;
  void insertSubview(std::shared_ptr<View> view, std::size_t index) override;
  void removeFromSuperview() override;
  std::shared_ptr<Window> window() const override;
  std::shared_ptr<ViewController> viewController() const override { return controller_.lock(); }

  Rect frame() const override;
  void setFrame(const Rect& frame) override;
  Rect bounds() const override;
  void setBoundsOrigin(Point origin) override;
  Rect safeAreaFrame() const override { return bounds(); }
  Rect convertRect(const Rect& rect, const View& other) const override;
  void setFillsSuperview(bool fills) override;
  void setLayoutHandler(std::function<void()> handler) override {
    layoutHandler_ = std::move(handler);
  }

  bool isHidden() const override;
  void setHidden(bool hidden) override;
  double alpha() const override;
  void setAlpha(double alpha) override;
  void setBackgroundColor(std::uint32_t rgba) override;
  bool isUserInteractionEnabled() const override;
  void setUserInteractionEnabled(bool enabled) override;
  std::shared_ptr<View> hitTest(Point point, HitTestEvent event = HitTestEvent::press) override;
  void setHitTestPassThrough(std::function<bool(HitTestEvent)> passThrough) override;
  int addTapHandler(std::function<void()> handler) override;
  void removeTapHandler(int token) override;
  void setAccessibilityIdentifier(std::string identifier) override;
  std::string accessibilityIdentifier() const override { return identifier_; }
  // Rules apply to every frame the view takes, keeping the origin (applySizeRules), and at once
  // to the current one; a superview never grows to fit.
  void setSizeRules(const SizeRules& rules) override;
  SizeRules sizeRules() const override { return sizeRules_; }
  int addLocatedTapHandler(std::function<void(Point location)> handler) override;
  // The SDK's containers apply the translation to a subview's allocation, so GTK draws and picks
  // it there; a view a host's layout places keeps it recorded only.
  void setTranslation(Point offset) override;
  Point translation() const override { return translation_; }
  void setCornerRadius(double radius, unsigned corners = kAllCorners) override;
  double cornerRadius() const override { return cornerRadius_; }
  unsigned roundedCorners() const override { return corners_; }
  // Every container of the SDK clips its subviews to its rectangle (drawing and GTK's picking);
  // clipping to bounds adds the rounded corners to that clip.
  void setClipsToBounds(bool clips) override;
  bool clipsToBounds() const override { return clips_; }
  std::uint32_t backgroundColor() const override { return backgroundColor_; }

  // ---- for the port, hosts and tests ----
  void setViewController(std::weak_ptr<ViewController> controller) {
    controller_ = std::move(controller);
  }
  // A tap at `point` (this view's coordinates) as the SDK's hit test sees it, without the
  // pointer: the hit view, or its nearest ancestor with tap handlers, runs them (located ones get
  // the point in that view's coordinates). Returns whether any ran.
  bool tap(Point point);
  // The first view in this subtree (this one included) with the identifier.
  std::shared_ptr<View> findView(const std::string& identifier);

  // A widget the view draws (a web page, a label, a picture): it fills the view, beneath the
  // subviews, and belongs to the view's container.
  void setContent(GtkWidget* content);

  // Called by the container widget.
  void measure(GtkOrientation orientation, int* minimum, int* natural) const;
  void allocate(int width, int height);
  void snapshotBackground(GtkSnapshot* snapshot, int width, int height) const;

 protected:
  struct HostWidget {};
  // The wrapper of a host's widget, which the view does not own.
  GtkView(HostWidget, GtkWidget* widget);

  // Where subviews' widgets go; for windows, the content container.
  virtual GtkWidget* container() const { return widget(); }
  bool isHostWidget() const { return host_; }
  // A view that takes every tap reaching it (a button): views around it see none.
  void takeTaps() {
    takesTaps_ = true;
    ensureGesture();
  }
  // After the tap handlers, when tap() plays a tap on this view.
  virtual void tapped() {}
  // Registers this view as the one standing for `widget` (its own widget is registered by the
  // constructor; windows register their GTK window too).
  void registerWidget(GtkWidget* widget);

 private:
  friend class GtkWindowView;
  void attach(std::shared_ptr<View> view, std::size_t index);
  // A host's widget taken out of the tree by the SDK (out) or put back; the caller holds this view.
  void setOutOfTree(bool out);
  void detachChild(GtkView& child);
  bool placedByContainer() const;
  void resized();
  // Rounds the widget's own CSS box, which GTK's overflow clip (drawing and picking) follows.
  void updateShape();
  // Whether `point` (this view's coordinates) is inside the rounded corners when they clip.
  bool insideRoundedShape(Point point) const;
  Point boundsOrigin() const { return boundsOrigin_; }
  bool runTapHandlers(Point location);
  void ensureGesture();
  static gboolean onTapEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer self);
  // Real input: GTK picks the widget under the pointer from can-target, so what the contract
  // excludes (alpha, interaction, a rule letting the event through) turns targeting off.
  void updateTargetable();
  // Before GTK handles a pointer event it picks for, the rules of the views on the way are asked
  // (outermost first) and the ones letting it through are left out of the pick.
  static gboolean beforePointerEvent(GSignalInvocationHint*, guint count, const GValue* params,
                                     gpointer);
  static void passThroughAt(GtkWidget* native, double x, double y, HitTestEvent event);

  const bool host_;
  GObjectPtr<GtkWidget> owned_;              // the SDK's own views
  GWeak<GtkWidget> hostWidget_;              // a host's widget
  GObjectPtr<GtkWidget> keptWhileDetached_;  // a host's widget the SDK took out, until put back
  GtkWidget* content_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;  // added through this interface, in z order
  std::weak_ptr<ViewController> controller_;
  Rect frame_;
  // The size setFrame asked for: what a host's layout is offered (its allocation may differ).
  Size requested_;
  Point boundsOrigin_;
  bool fillsSuperview_ = false;
  std::function<void()> layoutHandler_;
  std::uint32_t backgroundColor_ = 0;
  Point translation_;
  double cornerRadius_ = 0;
  unsigned corners_ = kAllCorners;
  bool clips_ = false;
  GObjectPtr<GtkCssProvider> shape_;  // the rounded clip, while there is one
  std::function<bool(HitTestEvent)> passThrough_;
  bool userInteraction_ = true;
  bool passingThrough_ = false;  // the last pointer event went through this view
  std::vector<std::pair<int, std::function<void(Point)>>> tapHandlers_;
  SizeRules sizeRules_;
  int nextTapToken_ = 1;
  bool takesTaps_ = false;
  GtkEventController* gesture_ = nullptr;  // taps; owned by the widget
  std::string identifier_;
};

// A spinner (GtkSpinner): hidden while stopped.
class GtkActivityIndicator : public GtkView, public ActivityIndicatorView {
 public:
  GtkActivityIndicator();
  void startAnimating() override;
  void stopAnimating() override;
  bool isAnimating() const override;

 private:
  GtkWidget* spinner_;
};

// Shows an image scaled to fill its bounds (a GtkPicture).
class GtkImageView : public GtkView, public ImageView {
 public:
  GtkImageView();
  void setImage(std::optional<Image> image) override;
  std::optional<Image> image() const override { return image_; }

 private:
  GtkWidget* picture_;
  std::optional<Image> image_;
};

// The text colour and font of a label, as Pango attributes.
struct TextStyle {
  std::uint32_t color = 0x000000ff;
  double points = 0;  // 0: the theme's size
  bool bold = false;
  bool colored = false;
  void applyTo(GtkLabel* label) const;
};

class GtkLabelView : public GtkView, public Label {
 public:
  GtkLabelView();
  void setText(std::string text) override;
  std::string text() const override;
  void setTextColor(std::uint32_t rgba) override;
  std::uint32_t textColor() const override { return style_.color; }
  void setFont(double points, bool bold) override;
  void setTextAlignment(TextAlignment alignment) override;

 private:
  GtkWidget* label_;
  TextStyle style_;
};

// A flat GtkButton filling the view: "clicked" (a release inside after a press inside) runs the
// action. Without a title it draws nothing, a plain tap area.
class GtkButtonView : public GtkView, public Button {
 public:
  GtkButtonView();
  ~GtkButtonView() override;
  void setTitle(std::string title) override;
  std::string title() const override;
  void setTitleColor(std::uint32_t rgba) override;
  void setAction(std::function<void()> action) override { action_ = std::move(action); }
  GtkWidget* button() const { return button_; }

 private:
  void tapped() override;
  GtkWidget* button_;  // owned by the view's container
  GtkWidget* label_;   // owned by the button
  TextStyle style_;
  std::function<void()> action_;
  SignalConnection clicked_;
};

// How a host's GtkWindow becomes a Window when the SDK first meets it (set by the port's user
// interface).
using WindowAdopter = std::function<std::shared_ptr<View>(GtkWindow* window)>;
WindowAdopter& windowAdopter();

// Steps `step(t)`, t in (0, 1] by elapsed time, on a main-loop timer at about 60 steps a second
// for `seconds`; the last step is exactly 1. Stopping or destroying it ends the steps; a step may
// stop or restart it, or release its owner. Main thread.
class Tween {
 public:
  Tween() = default;
  ~Tween() { stop(); }
  Tween(const Tween&) = delete;
  Tween& operator=(const Tween&) = delete;
  void start(double seconds, std::function<void(double t)> step);
  void stop();
  bool isRunning() const { return source_ != 0; }

 private:
  static gboolean tick(gpointer self);
  guint source_ = 0;
  gint64 startedAt_ = 0;  // monotonic microseconds
  double seconds_ = 0;
  std::function<void(double)> step_;
};

// The style `settings` draw in: dark when the application prefers the dark variant or the theme
// is a dark one (its name ends in "-dark", or GTK_THEME names the ":dark" variant).
InterfaceStyle themeInterfaceStyle(GtkSettings* settings);

// The GdkTexture for a decoded image (RGBA, 8 bits per channel), sharing its pixels.
GObjectPtr<GdkTexture> textureFor(const Image& image);

}  // namespace orvex::gtk
