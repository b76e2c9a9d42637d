#include "tests/gtk/gtk_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string_view>

#include "orvex/core/json.h"
#include "ports/gtk/gobject_ptr.h"

namespace orvex::gtk_testing {

bool haveDisplay() {
  static const bool ok = gtk_init_check();
  return ok;
}

bool displayRequired() {
  const char* required = std::getenv("ORVEX_REQUIRE_DISPLAY");
  return required && std::string_view(required) == "1";
}

namespace {

gtk::GtkOptions optionsFor(const std::filesystem::path& dataDir, OrvexDeployment deployment) {
  const auto bundle = dataDir / "bundle";
  std::filesystem::create_directories(bundle);
  std::ofstream(bundle / "orvex_service.json")
      << "{\"app_key\": \"" << testing_support::kTestAppKey << "\"}";
  gtk::GtkOptions o;
  o.dataDirectory = dataDir;
  o.bundle.resourceDirectory = bundle;
  o.deployment = std::move(deployment);
  o.openExternalLinks = false;
  return o;
}

std::string typeName(NavigationType type) {
  switch (type) {
    case NavigationType::linkActivated:
      return "link";
    case NavigationType::formSubmitted:
      return "form";
    case NavigationType::backForward:
      return "backForward";
    case NavigationType::reload:
      return "reload";
    case NavigationType::formResubmitted:
      return "formResubmitted";
    case NavigationType::other:
      return "other";
  }
  return "?";
}

std::string describe(const NavigationAction& action) {
  const char* target = action.target == NavigationTarget::mainFrame  ? "main"
                       : action.target == NavigationTarget::subFrame ? "sub"
                                                                     : "window";
  return typeName(action.type) + " " + target + (action.userGesture ? " gesture " : " - ") +
         action.url.value_or("-");
}

}  // namespace

GtkTestSdk::GtkTestSdk(const std::filesystem::path& dataDir, OrvexDeployment deployment)
    : port_(gtk::makeGtkPort(optionsFor(dataDir, std::move(deployment)))) {
  OrvexTestAccess::reset(port_.platform);
}

ScriptAnswer evaluate(GtkTestSdk& sdk, WebView& page, const std::string& script) {
  auto answer = std::make_shared<std::optional<ScriptAnswer>>();
  page.evaluateJavaScript(script, [answer](std::optional<Value> r, std::optional<WebError> e) {
    *answer = ScriptAnswer{std::move(r), std::move(e)};
  });
  sdk.runUntil([&] { return answer->has_value(); });
  return answer->value_or(ScriptAnswer{std::nullopt, WebError{"test", -1, "no answer"}});
}

void PageRecorder::decidePolicy(WebView&, const NavigationAction& action,
                                std::function<void(NavigationPolicy)> decide) {
  const std::string url = action.url.value_or("-");
  events.push_back("decide " + describe(action));
  bool cancel = false;
  for (const auto& p : cancelPrefixes) cancel = cancel || url.starts_with(p);
  decide(cancel ? NavigationPolicy::cancel : NavigationPolicy::allow);
}

void PageRecorder::didFail(WebView&, const WebError& e) {
  events.push_back("fail " + e.domain + " " + std::to_string(e.code));
}

void PageRecorder::requestsNewWindow(WebView&, const NavigationAction& action) {
  events.push_back("window " + describe(action));
}

std::size_t PageRecorder::count(const std::string& prefix) const {
  std::size_t n = 0;
  for (const auto& e : events) n += e.starts_with(prefix) ? 1 : 0;
  return n;
}

namespace {

struct WarningSink {
  std::mutex mutex;
  std::vector<std::string>* messages = nullptr;  // while a GtkWarnings lives
};

WarningSink& sink() {
  static WarningSink s;
  return s;
}

GLogWriterOutput countWarnings(GLogLevelFlags level, const GLogField* fields, gsize n,
                               gpointer data) {
  if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) {
    std::string domain, message;
    for (gsize i = 0; i < n; ++i) {
      const std::string_view key = fields[i].key;
      if (fields[i].length >= 0) continue;  // only the text fields
      if (key == "GLIB_DOMAIN") domain = static_cast<const char*>(fields[i].value);
      if (key == "MESSAGE") message = static_cast<const char*>(fields[i].value);
    }
    if (domain.starts_with("Gtk") || domain.starts_with("Gdk") || domain.starts_with("GLib")) {
      std::lock_guard lock(sink().mutex);
      if (sink().messages) sink().messages->push_back(domain + ": " + message);
    }
  }
  return g_log_writer_default(level, fields, n, data);
}

}  // namespace

GtkWarnings::GtkWarnings() {
  // GLib takes one writer per process.
  static std::once_flag installed;
  std::call_once(installed, [] { g_log_set_writer_func(countWarnings, nullptr, nullptr); });
  std::lock_guard lock(sink().mutex);
  sink().messages = new std::vector<std::string>;
}

GtkWarnings::~GtkWarnings() {
  std::lock_guard lock(sink().mutex);
  delete std::exchange(sink().messages, nullptr);
}

std::vector<std::string> GtkWarnings::messages() const {
  std::lock_guard lock(sink().mutex);
  return *sink().messages;
}

void Finalizations::watch(gpointer object) {
  ++watched_;
  g_object_weak_ref(
      G_OBJECT(object),
      [](gpointer data, GObject*) {
        auto* counter = static_cast<std::shared_ptr<int>*>(data);
        ++**counter;
        delete counter;
      },
      new std::shared_ptr<int>(finalized_));
}

void Finalizations::watchTree(GtkWidget* widget) {
  watch(widget);
  GListModel* controllers = gtk_widget_observe_controllers(widget);
  for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
    GObject* controller = G_OBJECT(g_list_model_get_item(controllers, i));
    watch(controller);
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  for (GtkWidget* c = gtk_widget_get_first_child(widget); c; c = gtk_widget_get_next_sibling(c))
    watchTree(c);
}

GtkWidget* showHostWindow(gtk::GtkPort& port, GtkWidget* content) {
  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 390, 600);
  gtk_window_set_child(GTK_WINDOW(window), content);
  port.adoptWindow(GTK_WINDOW(window));
  gtk_window_present(GTK_WINDOW(window));
  return window;
}

std::vector<unsigned char> pixelsOf(GtkWidget* widget) {
  const int width = gtk_widget_get_width(widget), height = gtk_widget_get_height(widget);
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget));
  if (width <= 0 || height <= 0 || !renderer) return {};
  auto paintable = gtk::GObjectPtr<GdkPaintable>::adopt(gtk_widget_paintable_new(widget));
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable.get(), snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  if (!node) return {};
  const graphene_rect_t viewport =
      GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  auto texture =
      gtk::GObjectPtr<GdkTexture>::adopt(gsk_renderer_render_texture(renderer, node, &viewport));
  gsk_render_node_unref(node);
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
  gdk_texture_download(texture.get(), pixels.data(), static_cast<gsize>(width) * 4);
  return pixels;
}

std::vector<std::uint32_t> pixelsAt(const std::string& png,
                                    const std::vector<std::pair<int, int>>& points) {
  GdkTexture* texture = gdk_texture_new_from_filename(png.c_str(), nullptr);
  if (!texture) return std::vector<std::uint32_t>(points.size(), 0xdeadbe);
  const int w = gdk_texture_get_width(texture), h = gdk_texture_get_height(texture);
  std::vector<guchar> data(static_cast<std::size_t>(w) * h * 4);
  gdk_texture_download(texture, data.data(), static_cast<gsize>(w) * 4);
  g_object_unref(texture);
  std::vector<std::uint32_t> out;
  for (const auto& [x, y] : points) {
    if (x < 0 || y < 0 || x >= w || y >= h) {
      out.push_back(0xdeadbe);
      continue;
    }
    // GdkTexture downloads premultiplied BGRA (Cairo's ARGB32 in memory).
    const guchar* p = &data[(static_cast<std::size_t>(y) * w + x) * 4];
    out.push_back((std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0]);
  }
  return out;
}

std::uint32_t pixelAt(const std::string& png, int x, int y) {
  return pixelsAt(png, {{x, y}})[0];
}

bool closeColours(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16}) {
    const int d = static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff);
    if (d > 8 || d < -8) return false;
  }
  return true;
}

}  // namespace orvex::gtk_testing

namespace orvex {
void PrintTo(const Value& value, std::ostream* out) {
  *out << json::write(value);
}
}  // namespace orvex

// Xlib's macros (None, Bool, Status…) would clash with everything above.
#include <gdk/x11/gdkx.h>
// After Xlib.h, which it needs.
#include <X11/extensions/XTest.h>

namespace orvex::gtk_testing {

bool setMinimized(GtkWindow* window, bool minimized) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return false;
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  if (minimized) {
    XUnmapWindow(x, gdk_x11_surface_get_xid(surface));
  } else {
    XMapWindow(x, gdk_x11_surface_get_xid(surface));
  }
  XFlush(x);
  return true;
}

std::pair<int, int> screenPoint(GtkWidget* widget, Point p) {
  GtkNative* native = gtk_widget_get_native(widget);
  GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return {0, 0};
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  graphene_point_t in = GRAPHENE_POINT_INIT(static_cast<float>(p.x), static_cast<float>(p.y));
  graphene_point_t out{};
  if (!gtk_widget_compute_point(widget, GTK_WIDGET(native), &in, &out)) return {0, 0};
  double sx = 0, sy = 0;
  gtk_native_get_surface_transform(native, &sx, &sy);
  int rx = 0, ry = 0;
  ::Window child = 0;
  XTranslateCoordinates(x, gdk_x11_surface_get_xid(surface), DefaultRootWindow(x),
                        static_cast<int>(out.x + sx), static_cast<int>(out.y + sy), &rx, &ry,
                        &child);
  return {rx, ry};
}

bool dragPointer(GtkTestSdk& sdk, GtkWidget* widget, Point from, Point to, int steps) {
  GtkNative* native = gtk_widget_get_native(widget);
  GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return false;
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  const ::Window xid = gdk_x11_surface_get_xid(surface);
  // Without a window manager the newest window is on top; the drag is for this one.
  XRaiseWindow(x, xid);
  const auto [x0, y0] = screenPoint(widget, from);
  const auto [x1, y1] = screenPoint(widget, to);
  auto move = [&](int px, int py) {
    XTestFakeMotionEvent(x, -1, px, py, 0);
    XSync(x, False);
    sdk.runFor(0.03);
  };
  move(x0 + 1, y0);  // GTK picks anew under a pointer that moved
  move(x0, y0);
  XTestFakeButtonEvent(x, 1, True, 0);
  XSync(x, False);
  steps = std::max(steps, 1);
  for (int i = 1; i <= steps; ++i) move(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
  XTestFakeButtonEvent(x, 1, False, 0);
  XSync(x, False);
  sdk.runFor(0.05);
  return true;
}

}  // namespace orvex::gtk_testing
