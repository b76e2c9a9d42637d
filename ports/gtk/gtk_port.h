#pragma once
// The desktop port: the shared Linux services with GTK 4 for the screen and WebKitGTK 6.0 for
// web pages, so ads render and are measured in a real window. The GLib main context is the
// SDK's main queue: a GTK application keeps running its own loop.
//
// A host builds the port on its main thread after gtk_init(), installs its platform, hands its
// window over (adoptWindow) and places the SDK's views in its own layout through widgetOf():
//
//   auto port = orvex::gtk::makeGtkPort(options);
//   orvex::Orvex::installPlatform(port.platform);
//   port.adoptWindow(GTK_WINDOW(window));
//   gtk_box_append(GTK_BOX(feed), orvex::gtk::widgetOf(*banner->view()));

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "orvex/platform/platform.h"
#include "orvex/platform/view.h"
#include "ports/linux/services.h"

namespace orvex::linux_port {
class FileStore;
class Lifecycle;
class LinuxDevice;
class LocalFileSystem;
class MemoryLog;
class RecordedHaptics;
}  // namespace orvex::linux_port

namespace orvex::gtk {

class GtkMainLoop;
class GtkMedia;
class GtkUserInterface;
class GtkWindowLifecycle;

// The log goes to stderr as well unless echoLog says otherwise (a desktop session's journal
// keeps it); the SDK writes nothing there in production mode.
struct GtkOptions : linux_port::ServiceOptions {
  // Hand external links to the desktop's handler (gtk_show_uri); off, they are only reported
  // to the user interface's observer (tests, kiosks).
  bool openExternalLinks = true;
  // Ad pages per WebKit web process: a crash takes down at most this many ads.
  std::size_t adPagesPerWebProcess = 8;
  // Composite ad pages on the GPU (off: each composited page costs its process more memory
  // than a banner's page itself).
  bool acceleratedAdPages = false;
};

struct GtkPort {
  OrvexPlatform platform;
  std::shared_ptr<GtkMainLoop> loop;
  std::shared_ptr<linux_port::FileStore> store;
  std::shared_ptr<linux_port::Lifecycle> lifecycle;
  std::shared_ptr<linux_port::MemoryLog> log;
  std::shared_ptr<linux_port::LinuxDevice> device;
  std::shared_ptr<linux_port::LocalFileSystem> files;
  std::shared_ptr<GtkUserInterface> ui;
  // A desktop has no haptic engine: feedback is recorded, the vibration sound beeps the display.
  std::shared_ptr<linux_port::RecordedHaptics> haptics;
  // The adopted windows as the application's life cycle (gtk_lifecycle.h).
  std::shared_ptr<GtkWindowLifecycle> windowLifecycle;
  // Video players over GStreamer, video views, and the audio session (recorded: no system effect
  // on Linux).
  std::shared_ptr<GtkMedia> media;

  // Hands a host's window to the SDK (after setting its child; again is harmless): the SDK's
  // screens present over its content, and its being shown, hidden, minimized, focused or closed
  // drives the application's life cycle.
  std::shared_ptr<Window> adoptWindow(GtkWindow* window) const;
  // The host is quitting: the SDK hears the application end and finishes its work (bounded),
  // the store is written out. A GtkApplication's shutdown does this for its adopted windows.
  void terminate() const;
  // Iterate the GLib main context (hosts without a loop of their own, tests, the demo).
  void runFor(double seconds) const;
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) const;
};

// On the GTK main thread, after gtk_init(). Device facts come from the display (monitor size,
// dark style preference) and WebKit (its user agent).
GtkPort makeGtkPort(GtkOptions options);

// The widget of one of the SDK's views, for the host's own layout.
GtkWidget* widgetOf(const View& view);
// The view standing for a host's widget (a container to give the SDK, a native ad's parts).
std::shared_ptr<View> viewOf(GtkWidget* widget);

}  // namespace orvex::gtk
