#include "examples/demo/gtk_screen.h"

#include <algorithm>

#ifdef ORVEX_DEMO_XTEST
#include <X11/extensions/XTest.h>
#include <gdk/x11/gdkx.h>
#endif

#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "ports/linux/recorded_haptics.h"

namespace demo {
namespace {

using namespace orvex;

constexpr int kWidth = 390;
constexpr int kHeight = 844;
constexpr int kCardHeight = 120;

// A text the page's script can hold between single quotes.
std::string singleQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "'";
}

class GtkScreen : public Screen {
 public:
  explicit GtkScreen(gtk::GtkPort& port) : port_(port) {
    window_ = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window_), "OrvexAds demo");
    gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
    scrolled_ = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled_), GTK_POLICY_NEVER,
                                   GTK_POLICY_AUTOMATIC);
    feed_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 10);
    gtk_widget_set_margin_top(feed_, 60);
    gtk_widget_set_margin_bottom(feed_, 400);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled_), feed_);
    gtk_window_set_child(GTK_WINDOW(window_), scrolled_);
    adopted_ = port_.adoptWindow(GTK_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
  }
  ~GtkScreen() override { gtk_window_destroy(GTK_WINDOW(window_)); }

  std::string name() const override { return "window"; }
  UserInterface& ui() override { return *port_.ui; }
  std::shared_ptr<orvex::Window> window() override { return adopted_; }

  std::shared_ptr<View> makeFeed(int cards, double slotHeight) override {
    for (int i = 0; i < cards; ++i) {
      GtkWidget* card = gtk_frame_new(nullptr);
      GtkWidget* label = gtk_label_new(("Story " + std::to_string(i + 1)).c_str());
      gtk_frame_set_child(GTK_FRAME(card), label);
      gtk_widget_set_size_request(card, -1, kCardHeight);
      gtk_widget_set_margin_start(card, 16);
      gtk_widget_set_margin_end(card, 16);
      gtk_box_append(GTK_BOX(feed_), card);
    }
    auto slot = port_.ui->makeView();
    slot->setFrame(Rect(0, 0, kWidth, slotHeight));
    gtk_box_append(GTK_BOX(feed_), gtk::widgetOf(*slot));
    // Laid out before the flow measures anything.
    runUntil([&] { return gtk_widget_get_height(gtk::widgetOf(*slot)) > 0; }, 5);
    return slot;
  }

  double scrollIntoView(View& view) override {
    auto feed = gtk::viewOf(feed_);
    const Rect inFeed = view.convertRect(view.bounds(), *feed);
    GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled_));
    const double offset =
        std::clamp(inFeed.minY() + 60 - 400, 0.0,
                   gtk_adjustment_get_upper(adjustment) - gtk_adjustment_get_page_size(adjustment));
    gtk_adjustment_set_value(adjustment, offset);
    return offset;
  }

  void tap(View& view) override {
    if (auto* v = gtk::GtkView::cast(view)) {
      const Rect b = view.bounds();
      v->tap(Point{b.minX() + b.size.width / 2, b.minY() + b.size.height / 2});
    }
  }

  bool swipe(View& view, double dx) override {
#ifdef ORVEX_DEMO_XTEST
    // The X server's pointer, so that GTK's gestures see real events at a hand's pace.
    GtkWidget* widget = gtk::widgetOf(view);
    GtkNative* native = widget ? gtk_widget_get_native(widget) : nullptr;
    GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
    if (!surface || !GDK_IS_X11_SURFACE(surface)) return false;
    Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
    const ::Window xid = gdk_x11_surface_get_xid(surface);
    XRaiseWindow(x, xid);
    const Rect b = view.bounds();
    auto onScreen = [&](double px, double py) {
      graphene_point_t in = GRAPHENE_POINT_INIT(static_cast<float>(px), static_cast<float>(py));
      graphene_point_t out{};
      if (!gtk_widget_compute_point(widget, GTK_WIDGET(native), &in, &out)) return std::pair(0, 0);
      double sx = 0, sy = 0;
      gtk_native_get_surface_transform(native, &sx, &sy);
      int rx = 0, ry = 0;
      ::Window child = 0;
      XTranslateCoordinates(x, xid, DefaultRootWindow(x), static_cast<int>(out.x + sx),
                            static_cast<int>(out.y + sy), &rx, &ry, &child);
      return std::pair(rx, ry);
    };
    // In the widget's own coordinates: a scroll view's bounds start at its content offset.
    const double y = b.size.height / 2, x0 = b.size.width / 2 - dx / 2;
    const auto [fx, fy] = onScreen(x0, y);
    const auto [tx, ty] = onScreen(x0 + dx, y);
    auto move = [&](int px, int py) {
      XTestFakeMotionEvent(x, -1, px, py, 0);
      XSync(x, False);
      port_.runFor(0.03);
    };
    move(fx + 1, fy);  // GTK picks anew under a pointer that moved
    move(fx, fy);
    XTestFakeButtonEvent(x, 1, True, 0);
    XSync(x, False);
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i)
      move(fx + (tx - fx) * i / kSteps, fy + (ty - fy) * i / kSteps);
    XTestFakeButtonEvent(x, 1, False, 0);
    XSync(x, False);
    port_.runFor(0.05);
    return true;
#else
    (void)view;
    (void)dx;
    return false;
#endif
  }

  std::shared_ptr<WebView> lastWebView() override {
    auto all = port_.ui->webViews();
    return all.empty() ? nullptr : all.back();
  }

  void clickLink(WebView& page, const std::string& url) override {
    // A click dispatched inside the page: the engine runs its own link activation.
    page.evaluateJavaScript("(function() { var a = document.querySelector('a[href=' + " +
                            singleQuoted("\"" + url + "\"") +
                            " + ']') || document.querySelector('a'); if (a) a.click(); })();");
  }

  void postFromPage(WebView& page, const std::string& handler, const std::string& json) override {
    page.evaluateJavaScript("window.webkit.messageHandlers[" + singleQuoted(handler) +
                            "].postMessage(" + json + ");");
  }

  void observeOpenedLinks(
      std::function<void(const std::string&, const std::string&)> observer) override {
    port_.ui->setOpenObserver([observer](const linux_port::OpenedLink& link) {
      observer(linux_port::describe(link.kind), link.target);
    });
  }

  // WebKit runs the pages' own scripts: the local quest site plays its part by itself.
  bool pagesRunThemselves() const override {
    return true;
  }

  void observeHaptics(std::function<void(const std::string&)> observer) override {
    if (port_.haptics) port_.haptics->setObserver(std::move(observer));
  }

  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override {
    return port_.runUntil(done, timeoutSeconds);
  }
  void runFor(double seconds) override {
    port_.runFor(seconds);
  }

  bool screenshot(const std::filesystem::path& file) override {
    GtkWidget* w = window_;
    const int width = gtk_widget_get_width(w), height = gtk_widget_get_height(w);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(w));
    if (width <= 0 || height <= 0 || !renderer) return false;
    GdkPaintable* paintable = gtk_widget_paintable_new(w);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    bool saved = false;
    if (node) {
      graphene_rect_t viewport =
          GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
      GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
      saved = texture && gdk_texture_save_to_png(texture, file.c_str());
      if (texture) g_object_unref(texture);
      gsk_render_node_unref(node);
    }
    g_object_unref(paintable);
    return saved;
  }

 private:
  gtk::GtkPort& port_;
  GtkWidget* window_;
  GtkWidget* scrolled_;
  GtkWidget* feed_;
  std::shared_ptr<orvex::Window> adopted_;
};

}  // namespace

std::unique_ptr<Screen> makeGtkScreen(gtk::GtkPort& port) {
  return std::make_unique<GtkScreen>(port);
}

}  // namespace demo
