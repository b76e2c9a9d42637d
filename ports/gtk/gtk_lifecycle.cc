#include "ports/gtk/gtk_lifecycle.h"

#include <algorithm>
#include <utility>

#include "ports/gtk/gtk_main_loop.h"
#include "ports/linux/file_store.h"
#include "ports/linux/lifecycle.h"

namespace orvex::gtk {
namespace {

bool isMinimized(GtkWindow* window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  return surface && GDK_IS_TOPLEVEL(surface) &&
         (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED);
}

GtkWindowLifecycle* self(gpointer data) {
  return static_cast<GtkWindowLifecycle*>(data);
}

}  // namespace

struct GtkWindowLifecycle::Watched {
  GtkWindow* window;  // alive while watched: forgotten as it is destroyed
  bool everShown = false;
  std::vector<SignalConnection> connections;
  SignalConnection surfaceState;  // while realized
};

GtkWindowLifecycle::GtkWindowLifecycle(std::shared_ptr<linux_port::Lifecycle> lifecycle,
                                       std::shared_ptr<linux_port::FileStore> store,
                                       std::shared_ptr<GtkMainLoop> loop)
    : lifecycle_(std::move(lifecycle)), store_(std::move(store)), loop_(std::move(loop)) {}

GtkWindowLifecycle::~GtkWindowLifecycle() {
  if (pending_) g_source_remove(pending_);
  windows_.clear();
  for (auto& a : applications_) {
    // An application already gone took its handlers with it.
    if (auto alive = a->application.lock()) g_signal_handler_disconnect(alive.get(), a->shutdown);
  }
}

GtkWindowLifecycle::Watched* GtkWindowLifecycle::find(GtkWindow* window) const {
  for (const auto& w : windows_) {
    if (w->window == window) return w.get();
  }
  return nullptr;
}

void GtkWindowLifecycle::watch(GtkWindow* window) {
  if (!window || find(window) || terminated_) return;
  auto watched = std::make_unique<Watched>();
  watched->window = window;
  watched->everShown = gtk_widget_get_visible(GTK_WIDGET(window));
  auto& c = watched->connections;
  c.push_back(connectSignal(
      window, "notify::visible",
      +[](GtkWindow* w, GParamSpec*, gpointer data) {
        if (auto* watched = self(data)->find(w); watched && gtk_widget_get_visible(GTK_WIDGET(w)))
          watched->everShown = true;
        self(data)->changed();
      },
      this));
  c.push_back(connectSignal(
      window, "notify::is-active",
      +[](GtkWindow*, GParamSpec*, gpointer data) { self(data)->changed(); }, this));
  c.push_back(connectSignal(
      window, "realize",
      +[](GtkWidget* w, gpointer data) {
        if (auto* watched = self(data)->find(GTK_WINDOW(w))) self(data)->followSurface(*watched);
      },
      this));
  c.push_back(connectSignal(
      window, "unrealize",
      +[](GtkWidget* w, gpointer data) {
        if (auto* watched = self(data)->find(GTK_WINDOW(w))) watched->surfaceState.disconnect();
      },
      this));
  c.push_back(connectSignal(
      window, "notify::application",
      +[](GtkWindow* w, GParamSpec*, gpointer data) {
        self(data)->watchApplication(gtk_window_get_application(w));
      },
      this));
  c.push_back(connectSignal(
      window, "destroy",
      +[](GtkWidget* w, gpointer data) {
        self(data)->forget(GTK_WINDOW(w));
        self(data)->changed();
      },
      this));
  windows_.push_back(std::move(watched));
  if (gtk_widget_get_realized(GTK_WIDGET(window))) followSurface(*windows_.back());
  watchApplication(gtk_window_get_application(window));
}

void GtkWindowLifecycle::followSurface(Watched& watched) {
  // Minimizing is the toplevel surface's state; GtkWindow has no property for it.
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(watched.window));
  if (!surface || !GDK_IS_TOPLEVEL(surface)) return;
  watched.surfaceState = connectSignal(
      surface, "notify::state",
      +[](GdkSurface*, GParamSpec*, gpointer data) { self(data)->changed(); }, this);
}

void GtkWindowLifecycle::watchApplication(GtkApplication* application) {
  if (!application) return;
  std::erase_if(applications_, [](const auto& a) { return !a->application.lock(); });
  for (const auto& a : applications_) {
    if (a->application.lock().get() == G_APPLICATION(application)) return;
  }
  auto entry = std::make_unique<Application>();
  entry->application.set(G_APPLICATION(application));
  entry->shutdown = g_signal_connect(
      application, "shutdown",
      G_CALLBACK(+[](GApplication*, gpointer data) { self(data)->terminate(); }), this);
  applications_.push_back(std::move(entry));
}

void GtkWindowLifecycle::forget(GtkWindow* window) {
  std::erase_if(windows_, [&](const auto& w) { return w->window == window; });
}

void GtkWindowLifecycle::changed() {
  if (pending_ || terminated_) return;
  // Weighed once the events queued now are handled: focus leaving one adopted window for another
  // is no change for the application.
  pending_ = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer data) -> gboolean {
        self(data)->pending_ = 0;
        self(data)->evaluate();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void GtkWindowLifecycle::evaluate() {
  if (terminated_) return;
  bool counted = false, shown = false, focused = false;
  for (const auto& w : windows_) {
    if (!w->everShown) continue;
    counted = true;
    shown = shown || (gtk_widget_get_visible(GTK_WIDGET(w->window)) && !isMinimized(w->window));
    focused = focused || gtk_window_is_active(w->window);
  }
  // Windows adopted but not shown yet: the application is still starting.
  if (!counted && !windows_.empty()) return;
  const bool focusMoved = focused != focused_;
  focused_ = focused;
  if (!shown) {
    toBackground();
    return;
  }
  const AppState state = lifecycle_->state();
  if (state == AppState::background) {
    lifecycle_->send(AppNotification::willEnterForeground);
    lifecycle_->send(AppNotification::didBecomeActive);
  } else if (focusMoved && focused && state != AppState::active) {
    lifecycle_->send(AppNotification::didBecomeActive);
  } else if (focusMoved && !focused && state == AppState::active) {
    lifecycle_->send(AppNotification::willResignActive);
  }
}

void GtkWindowLifecycle::toBackground() {
  const AppState state = lifecycle_->state();
  if (state == AppState::active) lifecycle_->send(AppNotification::willResignActive);
  if (state != AppState::background) lifecycle_->send(AppNotification::didEnterBackground);
}

void GtkWindowLifecycle::terminate() {
  if (std::exchange(terminated_, true)) return;
  if (pending_) {
    g_source_remove(pending_);
    pending_ = 0;
  }
  toBackground();
  lifecycle_->send(AppNotification::willTerminate);
  // The observers run on the main queue in order; a task posted after them tells when they have.
  auto delivered = std::make_shared<bool>(false);
  loop_->mainQueue()->post([delivered] { *delivered = true; });
  loop_->runUntil([&] { return *delivered && lifecycle_->activeBackgroundTaskCount() == 0; },
                  kTerminationGraceSeconds);
  if (store_) store_->flush();
}

}  // namespace orvex::gtk
