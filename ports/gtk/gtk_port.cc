#include "ports/gtk/gtk_port.h"

#include <webkit/webkit.h>

#include "ports/gtk/gtk_lifecycle.h"
#include "ports/gtk/gtk_main_loop.h"
#include "ports/gtk/gtk_media.h"
#include "ports/gtk/gtk_user_interface.h"
#include "ports/gtk/gtk_view.h"
#include "ports/linux/device.h"
#include "ports/linux/image_decoder.h"
#include "ports/linux/lifecycle.h"
#include "ports/linux/recorded_haptics.h"

namespace orvex::gtk {
namespace {

// What the display and the engine say about this desktop.
void readDisplayFacts(linux_port::DeviceOptions& device) {
  if (GdkDisplay* display = gdk_display_get_default()) {
    GListModel* monitors = gdk_display_get_monitors(display);
    if (g_list_model_get_n_items(monitors) > 0) {
      auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0));
      GdkRectangle r;
      gdk_monitor_get_geometry(monitor, &r);
      device.screen = ScreenSize{static_cast<double>(r.width), static_cast<double>(r.height)};
      g_object_unref(monitor);
    }
  }
  device.interfaceStyle = themeInterfaceStyle(gtk_settings_get_default());
  WebKitSettings* web = webkit_settings_new();
  device.webViewUserAgent = webkit_settings_get_user_agent(web);
  g_object_unref(web);
}

}  // namespace

GtkPort makeGtkPort(GtkOptions options) {
  GtkPort port;
  auto& p = port.platform;
  port.loop = std::make_shared<GtkMainLoop>();
  p.dispatcher = port.loop;
  p.clock = port.loop;
  readDisplayFacts(options.device);
  if (!options.echoLog) options.echoLog = true;
  GtkUserInterfaceOptions ui;
  ui.openExternalLinks = options.openExternalLinks;
  ui.adPagesPerWebProcess = options.adPagesPerWebProcess;
  ui.acceleratedAdPages = options.acceleratedAdPages;
  auto services = linux_port::makeServices(std::move(options), p.dispatcher, p.clock);
  services.install(p);
  port.store = services.store;
  port.lifecycle = services.lifecycle;
  port.log = services.log;
  port.device = services.device;
  port.files = services.files;
  p.images = std::make_shared<linux_port::CodecImageDecoder>();

  port.ui = GtkUserInterface::create(p.dispatcher->mainQueue(), p.deployment.appStoreHost, ui);
  p.ui = port.ui;
  port.haptics = std::make_shared<linux_port::RecordedHaptics>([] {
    if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
  });
  p.haptics = port.haptics;
  port.windowLifecycle =
      std::make_shared<GtkWindowLifecycle>(port.lifecycle, port.store, port.loop);
  port.media = std::make_shared<GtkMedia>(p.dispatcher);
  p.media = port.media;
  return port;
}

std::shared_ptr<Window> GtkPort::adoptWindow(GtkWindow* window) const {
  auto view = ui ? ui->adoptWindow(window) : nullptr;
  if (view && windowLifecycle) windowLifecycle->watch(window);
  return view;
}

void GtkPort::terminate() const {
  if (windowLifecycle) windowLifecycle->terminate();
}

void GtkPort::runFor(double seconds) const {
  loop->runFor(seconds);
}

bool GtkPort::runUntil(const std::function<bool()>& done, double timeoutSeconds) const {
  return loop->runUntil(done, timeoutSeconds);
}

GtkWidget* widgetOf(const View& view) {
  auto* v = dynamic_cast<const GtkView*>(&view);
  return v ? v->widget() : nullptr;
}

std::shared_ptr<View> viewOf(GtkWidget* widget) {
  return GtkView::forWidget(widget);
}

}  // namespace orvex::gtk
