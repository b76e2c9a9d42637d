#pragma once
// Small owners for GLib references, so that no bare ref/unref pair is spread through the port.

#include <glib-object.h>

#include <utility>

namespace orvex::gtk {

// Owns one strong reference to a GObject.
template <typename T>
class GObjectPtr {
 public:
  GObjectPtr() = default;
  // Takes over a reference the caller owns (a new object, a transfer-full return).
  static GObjectPtr adopt(T* object) { return GObjectPtr(object); }
  // Adds a reference of its own; sinks a floating one (new widgets).
  static GObjectPtr retain(T* object) {
    if (object) g_object_ref_sink(object);
    return GObjectPtr(object);
  }
  GObjectPtr(const GObjectPtr& o) : object_(o.object_) {
    if (object_) g_object_ref(object_);
  }
  GObjectPtr(GObjectPtr&& o) noexcept : object_(std::exchange(o.object_, nullptr)) {}
  GObjectPtr& operator=(GObjectPtr o) noexcept {
    std::swap(object_, o.object_);
    return *this;
  }
  ~GObjectPtr() { reset(); }

  void reset() {
    if (auto* o = std::exchange(object_, nullptr)) g_object_unref(o);
  }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit GObjectPtr(T* object) : object_(object) {}
  T* object_ = nullptr;
};

// A weak reference that reads as null once the object is finalized; safe from any thread.
template <typename T>
class GWeak {
 public:
  explicit GWeak(T* object = nullptr) { g_weak_ref_init(&ref_, object); }
  GWeak(const GWeak&) = delete;
  GWeak& operator=(const GWeak&) = delete;
  ~GWeak() { g_weak_ref_clear(&ref_); }
  void set(T* object) { g_weak_ref_set(&ref_, object); }
  // A strong reference while the object lives.
  GObjectPtr<T> lock() const {
    return GObjectPtr<T>::adopt(static_cast<T*>(g_weak_ref_get(const_cast<GWeakRef*>(&ref_))));
  }

 private:
  GWeakRef ref_;
};

// A signal connection, disconnected when its owner goes, so a signal never reaches a destroyed
// C++ object.
class SignalConnection {
 public:
  SignalConnection() = default;
  SignalConnection(gpointer instance, gulong id) : instance_(instance, id) {}
  SignalConnection(SignalConnection&& o) noexcept
      : instance_(std::exchange(o.instance_, {nullptr, 0})) {}
  SignalConnection& operator=(SignalConnection&& o) noexcept {
    if (this != &o) {
      disconnect();
      instance_ = std::exchange(o.instance_, {nullptr, 0});
    }
    return *this;
  }
  SignalConnection(const SignalConnection&) = delete;
  SignalConnection& operator=(const SignalConnection&) = delete;
  ~SignalConnection() { disconnect(); }

  void disconnect() {
    auto [instance, id] = std::exchange(instance_, {nullptr, 0});
    if (instance && id && g_signal_handler_is_connected(instance, id))
      g_signal_handler_disconnect(instance, id);
  }

 private:
  std::pair<gpointer, gulong> instance_{nullptr, 0};
};

// Connects `handler` (a captureless function or lambda converted with +) with `data`.
template <typename Handler>
SignalConnection connectSignal(gpointer instance, const char* signal, Handler handler,
                               gpointer data) {
  return SignalConnection(instance, g_signal_connect(instance, signal, G_CALLBACK(handler), data));
}

// Owns a g_malloc'd string.
class GCharPtr {
 public:
  explicit GCharPtr(char* text = nullptr) : text_(text) {}
  GCharPtr(const GCharPtr&) = delete;
  GCharPtr& operator=(const GCharPtr&) = delete;
  ~GCharPtr() { g_free(text_); }
  const char* get() const { return text_; }
  explicit operator bool() const { return text_ != nullptr; }

 private:
  char* text_;
};

}  // namespace orvex::gtk
