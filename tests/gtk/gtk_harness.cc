// The desktop port on the contract: a window of the SDK's own under Xvfb, the GLib main context
// as the main loop, and the user played with XTest, so taps go through the X server, GDK and
// GTK's picking and gestures exactly as a real pointer's would.
#include "ports/gtk/gtk_user_interface.h"
#include "tests/conformance/port_harness.h"
#include "tests/gtk/gtk_test_support.h"
#include "tools/adserver/ad_server.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/x11/gdkx.h>

namespace orvex::conformance {
namespace {

class GtkHarness : public PortHarness {
 public:
  GtkHarness() : sdk_(dir_.path()) {
    window_ = ui().makeWindow();
    window_->setRootViewController(ui().makeViewController(ViewControllerKind::plain));
    window_->makeKeyAndVisible();
    GtkWidget* toplevel = GTK_WIDGET(gtkWindow());
    // Counts the pointer events the window's surface hands GTK, so a tap returns once GTK has
    // handled it. A hook sees them all: a claimed drag's events no longer pass the window's own
    // controllers.
    g_type_class_ref(GDK_TYPE_SURFACE);
    eventHook_ = g_signal_add_emission_hook(
        g_signal_lookup("event", GDK_TYPE_SURFACE), 0,
        +[](GSignalInvocationHint*, guint count, const GValue* params, gpointer self) -> gboolean {
          auto* h = static_cast<GtkHarness*>(self);
          if (count < 2 || !h->window_) return TRUE;
          GtkNative* native =
              gtk_native_get_for_surface(GDK_SURFACE(g_value_get_object(&params[0])));
          if (!native || GTK_WIDGET(native) != GTK_WIDGET(h->gtkWindow())) return TRUE;
          const GdkEventType type =
              gdk_event_get_event_type(static_cast<GdkEvent*>(g_value_get_pointer(&params[1])));
          if (type == GDK_BUTTON_RELEASE) ++h->releases_;
          if (type == GDK_MOTION_NOTIFY) ++h->motions_;
          return TRUE;
        },
        this, nullptr);
    EXPECT_TRUE(runUntil([&] { return gtk_widget_get_mapped(toplevel); }, 10));
    display_ = gdk_x11_display_get_xdisplay(gtk_widget_get_display(toplevel));
    settle();
  }
  ~GtkHarness() override {
    g_signal_remove_emission_hook(g_signal_lookup("event", GDK_TYPE_SURFACE), eventHook_);
    window_.reset();
    runFor(0);
  }

  OrvexPlatform& platform() override { return sdk_.port().platform; }
  std::shared_ptr<Window> window() override { return window_; }

  bool runUntil(const std::function<bool()>& done, double budgetSeconds) override {
    return sdk_.runUntil(done, budgetSeconds);
  }
  void runFor(double seconds) override { sdk_.runFor(seconds); }
  void settle() override {
    // One whole frame (layout and paint) after everything pending.
    sdk_.runFor(0);
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(gtkWindow()));
    if (!clock) return;
    bool painted = false;
    const gulong id = g_signal_connect_swapped(
        clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &painted);
    gtk_widget_queue_draw(GTK_WIDGET(gtkWindow()));
    sdk_.runUntil([&] { return painted; }, 5);
    g_signal_handler_disconnect(clock, id);
    sdk_.runFor(0);
  }

  void tap(View& view, Point point) override {
    settle();
    auto* widget = gtk::widgetOf(view);
    ASSERT_TRUE(widget);
    const Rect b = view.bounds();
    tapWidget(widget, point.x - b.minX(), point.y - b.minY());
  }
  void drag(View& view, Point from, Point to) override {
    settle();
    auto* widget = gtk::widgetOf(view);
    ASSERT_TRUE(widget);
    const Rect b = view.bounds();
    XRaiseWindow(display_,
                 gdk_x11_surface_get_xid(gtk_native_get_surface(gtk_widget_get_native(widget))));
    const auto [x0, y0] = rootPoint(widget, from.x - b.minX(), from.y - b.minY());
    const auto [x1, y1] = rootPoint(widget, to.x - b.minX(), to.y - b.minY());
    movePointer(x0, y0);
    XTestFakeButtonEvent(display_, 1, True, 0);
    XSync(display_, False);
    // A moderate pace, as a hand's: the steps at real intervals, so GTK's event times tell the
    // speed at release.
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
      runFor(0.03);
      movePointer(x0 + (x1 - x0) * i / kSteps, y0 + (y1 - y0) * i / kSteps);
    }
    const int before = releases_;
    XTestFakeButtonEvent(display_, 1, False, 0);
    XSync(display_, False);
    EXPECT_TRUE(runUntil([&] { return releases_ > before; }, 5)) << "GTK never saw the release";
  }
  void hover(View& view, Point point) override {
    settle();
    const Rect b = view.bounds();
    const auto [x, y] = rootPoint(gtk::widgetOf(view), point.x - b.minX(), point.y - b.minY());
    movePointer(x, y);
  }
  bool chooseAlertAction(const std::string& title) override {
    settle();
    auto alert = sdk_.port().ui->visibleAlert();
    if (!alert) return false;
    for (GtkWidget* button : alert->buttons()) {
      if (title != gtk_button_get_label(GTK_BUTTON(button))) continue;
      tapWidget(button, gtk_widget_get_width(button) / 2.0, gtk_widget_get_height(button) / 2.0);
      return true;
    }
    return false;
  }

  void loadUnreachableURL(WebView& webView) override {
    webView.loadURL("http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/", 10);
  }
  std::shared_ptr<WebView> makeWebView() override { return ui().makeWebView({}); }

  void playPage(WebView& page, PageAct act, const std::string& url) override {
    const std::string quoted = "'" + url + "'";
    // What is tapped fills the page; the page's own acts run from a timer after it loaded.
    const std::string fill = " style='display:block;width:100%;height:100%'";
    const std::string later = "<script>setTimeout(function() { ";
    const std::string end = " }, 0);</script>";
    std::string markup;
    switch (act) {
      case PageAct::tapLink:
        markup = "<a href=" + quoted + fill + ">tap</a>";
        break;
      case PageAct::tapLinkToNewWindow:
        markup = "<a target='_blank' href=" + quoted + fill + ">tap</a>";
        break;
      case PageAct::tapToOpenWindow:
        markup = "<div onclick=\"window.open(" + quoted + ")\"" + fill + ">tap</div>";
        break;
      case PageAct::pageClicksLink:
        markup = "<a id='a' href=" + quoted + ">a</a>" + later +
                 "document.getElementById('a').click();" + end;
        break;
      case PageAct::pageNavigates:
        markup = later + "location.href = " + quoted + ";" + end;
        break;
      case PageAct::pageOpensWindow:
        markup = later + "window.open(" + quoted + ");" + end;
        break;
      case PageAct::pageLoadsFrame:
        markup = "<iframe src=" + quoted + "></iframe>";
        break;
    }
    page.loadHTMLString("<html><body style='margin:0;height:100vh'>" + markup + "</body></html>");
    runUntil([&] { return !page.isLoading(); }, 10);
    if (act == PageAct::tapLink || act == PageAct::tapLinkToNewWindow ||
        act == PageAct::tapToOpenWindow) {
      settle();
      const Rect b = page.bounds();
      tap(page, Point{b.minX() + b.size.width / 2, b.minY() + b.size.height / 2});
    }
  }
  std::string answeringURL() override {
    if (!server_) {
      adserver::Options o;
      o.fixtures = ORVEX_ADSERVER_FIXTURES;
      server_ = std::make_unique<adserver::AdServer>(o);
      EXPECT_TRUE(server_->start());
    }
    return server_->baseUrl() + "/quest/demo/next.html";
  }

 private:
  GtkWindow* gtkWindow() const {
    return std::dynamic_pointer_cast<gtk::GtkWindowView>(window_)->gtkWindow();
  }

  std::pair<int, int> rootPoint(GtkWidget* widget, double x, double y) {
    return gtk_testing::screenPoint(widget, Point{x, y});
  }

  // Motion to the point; when the pointer is there already, via a neighbour, so GTK picks anew.
  void movePointer(int x, int y) {
    if (pointer_ == std::pair(x, y)) {
      XTestFakeMotionEvent(display_, -1, x + 1, y, 0);
      XSync(display_, False);
    }
    const int before = motions_;
    XTestFakeMotionEvent(display_, -1, x, y, 0);
    XSync(display_, False);
    pointer_ = {x, y};
    runUntil([&] { return motions_ > before; }, 5);
  }

  void tapWidget(GtkWidget* widget, double x, double y) {
    // Without a window manager the newest window is on top; the click is for this one.
    XRaiseWindow(display_,
                 gdk_x11_surface_get_xid(gtk_native_get_surface(gtk_widget_get_native(widget))));
    const auto [rx, ry] = rootPoint(widget, x, y);
    movePointer(rx, ry);
    const int before = releases_;
    XTestFakeButtonEvent(display_, 1, True, 0);
    XTestFakeButtonEvent(display_, 1, False, 0);
    XSync(display_, False);
    EXPECT_TRUE(runUntil([&] { return releases_ > before; }, 5)) << "GTK never saw the click";
  }

  testing_support::TempDir dir_;
  std::unique_ptr<adserver::AdServer> server_;
  gtk_testing::GtkTestSdk sdk_;
  std::shared_ptr<Window> window_;
  Display* display_ = nullptr;
  std::pair<int, int> pointer_{-1, -1};
  gulong eventHook_ = 0;
  int releases_ = 0;
  int motions_ = 0;
};

}  // namespace

std::vector<PortParam> conformancePorts() {
  return {{"Gtk", []() -> std::unique_ptr<PortHarness> {
             if (!gtk_testing::haveDisplay()) {
               if (gtk_testing::displayRequired()) ADD_FAILURE() << "no display, though promised";
               return nullptr;
             }
             return std::make_unique<GtkHarness>();
           }}};
}

}  // namespace orvex::conformance
