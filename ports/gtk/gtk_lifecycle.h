#pragma once
// How a desktop's windows reach the SDK as a phone application's life cycle. The host's adopted
// windows are the application's screen:
//
//   every adopted window hidden, minimized or closed  will-resign-active (if active),
//                                                     did-enter-background
//   one shown again                                   will-enter-foreground, did-become-active
//   focus leaving / coming back to them               will-resign-active / did-become-active
//   the host quitting                                 resign, background, will-terminate
//
// Focus counts where it moves: without a window manager (a kiosk, Xvfb) no window is ever
// focused, and a shown window is the active application. A window never shown yet does not
// count, so adopting before presenting sends nothing. Changes are weighed once the events queued
// are handled, so focus moving between two adopted windows is no change.
//
// Quitting is the GApplication's "shutdown" for windows that belong to one, else the host calls
// terminate(): the SDK's observers run and its background tasks get a moment (as a phone gives a
// terminating application) before the store is written out. Main thread only.

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "ports/gtk/gobject_ptr.h"

namespace orvex::linux_port {
class FileStore;
class Lifecycle;
}  // namespace orvex::linux_port

namespace orvex::gtk {

class GtkMainLoop;

class GtkWindowLifecycle {
 public:
  // How long quitting waits at most for the SDK's background tasks.
  static constexpr double kTerminationGraceSeconds = 2.0;

  GtkWindowLifecycle(std::shared_ptr<linux_port::Lifecycle> lifecycle,
                     std::shared_ptr<linux_port::FileStore> store,
                     std::shared_ptr<GtkMainLoop> loop);
  // Disconnects from every window and application.
  ~GtkWindowLifecycle();
  GtkWindowLifecycle(const GtkWindowLifecycle&) = delete;
  GtkWindowLifecycle& operator=(const GtkWindowLifecycle&) = delete;

  // Follows `window` (once, however often it is adopted) until it is destroyed.
  void watch(GtkWindow* window);
  // The host is quitting (once).
  void terminate();

 private:
  struct Watched;
  Watched* find(GtkWindow* window) const;
  void watchApplication(GtkApplication* application);
  void followSurface(Watched& watched);
  void forget(GtkWindow* window);
  void changed();
  void evaluate();
  void toBackground();

  std::shared_ptr<linux_port::Lifecycle> lifecycle_;
  std::shared_ptr<linux_port::FileStore> store_;
  std::shared_ptr<GtkMainLoop> loop_;
  std::vector<std::unique_ptr<Watched>> windows_;
  struct Application {
    GWeak<GApplication> application;
    gulong shutdown = 0;  // disconnected only while the application lives
  };
  std::vector<std::unique_ptr<Application>> applications_;
  guint pending_ = 0;     // the idle source that weighs changes
  bool focused_ = false;  // any adopted window, when last weighed
  bool terminated_ = false;
};

}  // namespace orvex::gtk
