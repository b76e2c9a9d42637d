#include "ports/gtk/gtk_media.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/linux/recorded_audio_session.h"

// ---- a paintable over the newest frame: views show it, the player replaces its texture --------

G_DECLARE_FINAL_TYPE(OrvexVideoFrames, orvex_video_frames, ORVEX, VIDEO_FRAMES, GObject)

struct _OrvexVideoFrames {
  GObject parent_instance;
  GdkTexture* texture;
};

static void orvex_video_frames_snapshot(GdkPaintable* paintable, GdkSnapshot* snapshot,
                                        double width, double height) {
  if (auto* texture = ORVEX_VIDEO_FRAMES(paintable)->texture)
    gdk_paintable_snapshot(GDK_PAINTABLE(texture), snapshot, width, height);
}

static GdkPaintable* orvex_video_frames_get_current_image(GdkPaintable* paintable) {
  if (auto* texture = ORVEX_VIDEO_FRAMES(paintable)->texture)
    return GDK_PAINTABLE(g_object_ref(texture));
  return gdk_paintable_new_empty(0, 0);
}

static int orvex_video_frames_get_intrinsic_width(GdkPaintable* paintable) {
  auto* texture = ORVEX_VIDEO_FRAMES(paintable)->texture;
  return texture ? gdk_texture_get_width(texture) : 0;
}

static int orvex_video_frames_get_intrinsic_height(GdkPaintable* paintable) {
  auto* texture = ORVEX_VIDEO_FRAMES(paintable)->texture;
  return texture ? gdk_texture_get_height(texture) : 0;
}

static void orvex_video_frames_paintable_init(GdkPaintableInterface* iface) {
  iface->snapshot = orvex_video_frames_snapshot;
  iface->get_current_image = orvex_video_frames_get_current_image;
  iface->get_intrinsic_width = orvex_video_frames_get_intrinsic_width;
  iface->get_intrinsic_height = orvex_video_frames_get_intrinsic_height;
}

G_DEFINE_FINAL_TYPE_WITH_CODE(OrvexVideoFrames, orvex_video_frames, G_TYPE_OBJECT,
                              G_IMPLEMENT_INTERFACE(GDK_TYPE_PAINTABLE,
                                                    orvex_video_frames_paintable_init))

static void orvex_video_frames_dispose(GObject* object) {
  g_clear_object(&ORVEX_VIDEO_FRAMES(object)->texture);
  G_OBJECT_CLASS(orvex_video_frames_parent_class)->dispose(object);
}

static void orvex_video_frames_class_init(OrvexVideoFramesClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = orvex_video_frames_dispose;
}

static void orvex_video_frames_init(OrvexVideoFrames* self) {
  self->texture = nullptr;
}

// Takes over `texture` (may be null: nothing to show).
static void orvex_video_frames_take(OrvexVideoFrames* self, GdkTexture* texture) {
  const bool resized = !self->texture || !texture ||
                       gdk_texture_get_width(self->texture) != gdk_texture_get_width(texture) ||
                       gdk_texture_get_height(self->texture) != gdk_texture_get_height(texture);
  g_clear_object(&self->texture);
  self->texture = texture;
  if (resized) gdk_paintable_invalidate_size(GDK_PAINTABLE(self));
  gdk_paintable_invalidate_contents(GDK_PAINTABLE(self));
}

namespace orvex::gtk {
namespace {

constexpr double kNanosPerSecond = 1e9;

// Owns one reference to a GStreamer mini object (samples, caps, messages).
struct MiniObjectUnref {
  void operator()(void* object) const { gst_mini_object_unref(GST_MINI_OBJECT_CAST(object)); }
};
template <typename T>
using GstMiniPtr = std::unique_ptr<T, MiniObjectUnref>;

bool playableScheme(const std::string& url) {
  if (!gst_uri_is_valid(url.c_str())) return false;
  GCharPtr scheme(gst_uri_get_protocol(url.c_str()));
  return scheme && (g_ascii_strcasecmp(scheme.get(), "http") == 0 ||
                    g_ascii_strcasecmp(scheme.get(), "https") == 0 ||
                    g_ascii_strcasecmp(scheme.get(), "file") == 0);
}

GdkTexture* textureOf(GstSample* sample) {
  GstVideoInfo info;
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return nullptr;
  // The texture reads the frame in place; the mapping (and with it the buffer) lives as long as
  // the texture's bytes.
  auto* frame = new GstVideoFrame;
  if (!gst_video_frame_map(frame, &info, buffer, GST_MAP_READ)) {
    delete frame;
    return nullptr;
  }
  const gsize stride = static_cast<gsize>(GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0));
  const int width = GST_VIDEO_FRAME_WIDTH(frame), height = GST_VIDEO_FRAME_HEIGHT(frame);
  GBytes* bytes = g_bytes_new_with_free_func(
      GST_VIDEO_FRAME_PLANE_DATA(frame, 0), stride * static_cast<gsize>(height),
      [](gpointer data) {
        auto* f = static_cast<GstVideoFrame*>(data);
        gst_video_frame_unmap(f);
        delete f;
      },
      frame);
  // Opaque video: straight and premultiplied alpha are the same bytes.
  GdkTexture* texture =
      gdk_memory_texture_new(width, height, GDK_MEMORY_R8G8B8A8_PREMULTIPLIED, bytes, stride);
  g_bytes_unref(bytes);
  return texture;
}

// The newest frame from the streaming thread, waiting for the main queue; one task at a time.
struct FrameSlot {
  std::mutex mutex;
  GstMiniPtr<GstSample> newest;
  bool posted = false;
  std::shared_ptr<TaskQueue> mainQueue;
  std::function<void(GstSample*)> show;  // runs on the main queue; holds the player weakly
};

void deliver(const std::shared_ptr<FrameSlot>& slot, GstSample* sample) {
  if (!sample) return;
  std::lock_guard lock(slot->mutex);
  slot->newest.reset(sample);
  if (std::exchange(slot->posted, true)) return;
  slot->mainQueue->post([slot] {
    GstMiniPtr<GstSample> frame;
    {
      std::lock_guard lock(slot->mutex);
      frame = std::move(slot->newest);
      slot->posted = false;
    }
    if (frame) slot->show(frame.get());
  });
}

GstFlowReturn onPreroll(GstAppSink* sink, gpointer data) {
  deliver(*static_cast<std::shared_ptr<FrameSlot>*>(data), gst_app_sink_pull_preroll(sink));
  return GST_FLOW_OK;
}

GstFlowReturn onSample(GstAppSink* sink, gpointer data) {
  deliver(*static_cast<std::shared_ptr<FrameSlot>*>(data), gst_app_sink_pull_sample(sink));
  return GST_FLOW_OK;
}

// Removes a bus watch when its owner goes.
class BusWatch {
 public:
  BusWatch() = default;
  BusWatch(const BusWatch&) = delete;
  BusWatch& operator=(const BusWatch&) = delete;
  ~BusWatch() { remove(); }
  // Watches `bus` on the thread-default main context (the GLib main context: the main queue).
  void add(GObjectPtr<GstBus> bus, GstBusFunc func, gpointer data, GDestroyNotify destroy) {
    remove();
    gst_bus_add_watch_full(bus.get(), G_PRIORITY_DEFAULT, func, data, destroy);
    bus_ = std::move(bus);
  }
  void remove() {
    if (auto bus = std::exchange(bus_, {})) gst_bus_remove_watch(bus.get());
  }

 private:
  GObjectPtr<GstBus> bus_;
};

class GtkVideoPlayer : public VideoPlayer, public std::enable_shared_from_this<GtkVideoPlayer> {
 public:
  static std::shared_ptr<GtkVideoPlayer> create(std::shared_ptr<Dispatcher> dispatcher,
                                                std::string url) {
    std::shared_ptr<GtkVideoPlayer> player(new GtkVideoPlayer(std::move(dispatcher), url));
    player->start();
    return player;
  }

  ~GtkVideoPlayer() override {
    watch_.remove();
    // Joins the streaming threads: no frame is delivered after this.
    if (playbin_) gst_element_set_state(playbin_.get(), GST_STATE_NULL);
  }

  GdkPaintable* paintable() const { return GDK_PAINTABLE(frames_.get()); }

  // ---- VideoPlayer ----
  const std::string& url() const override { return url_; }
  MediaItemStatus status() const override { return status_; }
  std::optional<std::string> error() const override { return error_; }
  std::optional<double> duration() const override {
    if (status_ != MediaItemStatus::readyToPlay) return std::nullopt;
    return duration_;
  }
  double currentTime() const override {
    if (atEnd_) return duration_;
    gint64 position = 0;
    if (status_ == MediaItemStatus::readyToPlay && !seeking_ &&
        gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position) && position >= 0) {
      lastPosition_ = static_cast<double>(position) / kNanosPerSecond;
    }
    return lastPosition_;
  }
  double nominalFrameRate() const override {
    return status_ == MediaItemStatus::readyToPlay ? frameRate_ : 0;
  }

  void play() override {
    if (atEnd_) return;
    rate_ = 1;
    if (status_ == MediaItemStatus::readyToPlay) {
      gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
      startTimers();
    }
  }
  void pause() override {
    if (rate_ == 0) return;
    currentTime();
    rate_ = 0;
    stopTimers();
    if (status_ == MediaItemStatus::readyToPlay)
      gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
  }
  double rate() const override { return rate_; }

  void seek(double seconds, double toleranceBefore, double toleranceAfter,
            std::function<void(bool finished)> completion) override {
    if (auto earlier = std::exchange(seekCompletion_, std::move(completion))) post(earlier, false);
    if (status_ == MediaItemStatus::failed) {
      if (auto c = std::exchange(seekCompletion_, {})) post(c, false);
      return;
    }
    pendingSeek_ = PendingSeek{seconds, toleranceBefore, toleranceAfter};
    if (status_ == MediaItemStatus::readyToPlay) startSeek();
  }

  bool isMuted() const override { return muted_; }
  void setMuted(bool muted) override {
    muted_ = muted;
    if (playbin_) g_object_set(playbin_.get(), "mute", muted ? TRUE : FALSE, nullptr);
  }

  Subscription addPeriodicTimeObserver(double intervalSeconds,
                                       std::function<void(double)> observer) override {
    const int token = nextToken_++;
    auto& p = periodic_[token];
    p.interval = secondsToDuration(std::max(intervalSeconds, 0.001));
    p.observer = std::move(observer);
    if (playing()) startTimer(token, p);
    return Subscription([weak = weak_from_this(), token] {
      if (auto self = weak.lock()) self->periodic_.erase(token);
    });
  }
  Subscription addEndObserver(std::function<void()> observer) override {
    const int token = nextToken_++;
    endObservers_[token] = std::move(observer);
    return Subscription([weak = weak_from_this(), token] {
      if (auto self = weak.lock()) self->endObservers_.erase(token);
    });
  }

 private:
  struct Periodic {
    Duration interval{};
    std::function<void(double)> observer;
    std::unique_ptr<Timer> timer;
  };
  struct PendingSeek {
    double seconds;
    double toleranceBefore;
    double toleranceAfter;
  };

  GtkVideoPlayer(std::shared_ptr<Dispatcher> dispatcher, std::string url)
      : dispatcher_(std::move(dispatcher)),
        url_(std::move(url)),
        frames_(GObjectPtr<OrvexVideoFrames>::adopt(
            ORVEX_VIDEO_FRAMES(g_object_new(orvex_video_frames_get_type(), nullptr)))) {}

  void start() {
    if (!playableScheme(url_)) return failLater("Unsupported URL: " + url_);
    playbin_ = GObjectPtr<GstElement>::retain(gst_element_factory_make("playbin", nullptr));
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!playbin_ || !sink) {
      if (sink) gst_object_unref(gst_object_ref_sink(sink));
      return failLater("GStreamer's playbin or appsink is missing");
    }
    GstMiniPtr<GstCaps> caps(
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", nullptr));
    // The newest frame only: a late main queue skips frames rather than queueing them.
    g_object_set(sink, "caps", caps.get(), "max-buffers", 1u, "drop", TRUE, nullptr);
    auto slot = std::make_shared<FrameSlot>();
    slot->mainQueue = dispatcher_->mainQueue();
    slot->show = [weak = weak_from_this()](GstSample* sample) {
      if (auto self = weak.lock()) orvex_video_frames_take(self->frames_.get(), textureOf(sample));
    };
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = onPreroll;
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(
        GST_APP_SINK(sink), &callbacks, new std::shared_ptr<FrameSlot>(std::move(slot)),
        [](gpointer data) { delete static_cast<std::shared_ptr<FrameSlot>*>(data); });
    // playbin takes the sink's floating reference.
    g_object_set(playbin_.get(), "uri", url_.c_str(), "video-sink", sink, nullptr);

    auto bus = GObjectPtr<GstBus>::adopt(gst_element_get_bus(playbin_.get()));
    watch_.add(
        std::move(bus),
        [](GstBus*, GstMessage* message, gpointer data) -> gboolean {
          auto self = static_cast<std::weak_ptr<GtkVideoPlayer>*>(data)->lock();
          if (self) handle(self, message);
          return G_SOURCE_CONTINUE;
        },
        new std::weak_ptr<GtkVideoPlayer>(weak_from_this()),
        [](gpointer data) { delete static_cast<std::weak_ptr<GtkVideoPlayer>*>(data); });
    // Prerolls: the first frame and the stream's facts, then ASYNC_DONE.
    if (gst_element_set_state(playbin_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_NO_PREROLL) {
      // A live stream never prerolls; it is ready at once, without an end.
      post([weak = weak_from_this()] {
        if (auto self = weak.lock(); self && self->status_ == MediaItemStatus::unknown)
          self->becomeReady();
      });
    }
  }

  // Whether `self` is still owned by someone other than the callback running (an observer may
  // let the player go).
  static bool stillWanted(const std::shared_ptr<GtkVideoPlayer>& self) {
    return self.use_count() > 1;
  }

  static void handle(const std::shared_ptr<GtkVideoPlayer>& self, GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        self->fail(error ? error->message : "playback failed");
        if (error) g_error_free(error);
        break;
      }
      case GST_MESSAGE_ASYNC_DONE:
        if (self->status_ == MediaItemStatus::unknown) {
          self->becomeReady();
        } else if (self->seeking_) {
          self->seeking_ = false;
          self->currentTime();
          if (auto c = std::exchange(self->seekCompletion_, {})) {
            c(true);
            if (!stillWanted(self)) return;
          }
          notifyPeriodic(self);
        }
        break;
      case GST_MESSAGE_DURATION_CHANGED:
        if (self->status_ == MediaItemStatus::readyToPlay) self->readDuration();
        break;
      case GST_MESSAGE_EOS:
        if (self->status_ == MediaItemStatus::readyToPlay && !self->atEnd_) reachEnd(self);
        break;
      default:
        break;
    }
  }

  void becomeReady() {
    status_ = MediaItemStatus::readyToPlay;
    readDuration();
    readFrameRate();
    if (pendingSeek_) startSeek();
    if (rate_ != 0) {
      gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
      startTimers();
    }
  }

  void readDuration() {
    gint64 length = 0;
    duration_ = gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &length) && length >= 0
                    ? static_cast<double>(length) / kNanosPerSecond
                    : std::numeric_limits<double>::infinity();
  }

  void readFrameRate() {
    GstPad* pad = nullptr;
    g_signal_emit_by_name(playbin_.get(), "get-video-pad", 0, &pad);
    if (!pad) return;
    auto owned = GObjectPtr<GstPad>::adopt(pad);
    GstMiniPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps || gst_caps_get_size(caps.get()) == 0) return;
    int num = 0, den = 1;
    if (gst_structure_get_fraction(gst_caps_get_structure(caps.get(), 0), "framerate", &num,
                                   &den) &&
        den > 0) {
      frameRate_ = static_cast<double>(num) / den;
    }
  }

  void startSeek() {
    const PendingSeek s = *std::exchange(pendingSeek_, std::nullopt);
    // Exact unless the caller allows any distance both ways; then the nearest key frame.
    const bool anywhere = std::isinf(s.toleranceBefore) && std::isinf(s.toleranceAfter);
    const auto flags = static_cast<GstSeekFlags>(
        GST_SEEK_FLAG_FLUSH |
        (anywhere ? GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_NEAREST : GST_SEEK_FLAG_ACCURATE));
    double target = std::max(s.seconds, 0.0);
    if (std::isfinite(duration_)) target = std::min(target, duration_);
    if (!gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME, flags,
                                 static_cast<gint64>(std::llround(target * kNanosPerSecond)))) {
      if (auto c = std::exchange(seekCompletion_, {})) post(c, false);
      return;
    }
    seeking_ = true;
    lastPosition_ = target;
    if (atEnd_) {
      atEnd_ = false;
    }
  }

  static void reachEnd(const std::shared_ptr<GtkVideoPlayer>& self) {
    self->atEnd_ = true;
    self->lastPosition_ = self->duration_;
    self->rate_ = 0;
    self->stopTimers();
    // Paused on the last frame, where a seek can take it back.
    gst_element_set_state(self->playbin_.get(), GST_STATE_PAUSED);
    std::vector<int> tokens;
    for (const auto& [token, o] : self->endObservers_) tokens.push_back(token);
    for (int token : tokens) {
      auto it = self->endObservers_.find(token);
      if (it == self->endObservers_.end()) continue;
      auto observer = it->second;
      observer();
      if (!stillWanted(self)) return;
    }
  }

  void fail(const std::string& message) {
    if (status_ == MediaItemStatus::failed) return;
    status_ = MediaItemStatus::failed;
    error_ = message;
    rate_ = 0;
    seeking_ = false;
    pendingSeek_.reset();
    stopTimers();
    if (auto c = std::exchange(seekCompletion_, {})) post(c, false);
    // Frees the decoders and connections; the player stays, failed.
    if (playbin_) gst_element_set_state(playbin_.get(), GST_STATE_NULL);
  }

  void failLater(std::string message) {
    post([weak = weak_from_this(), message = std::move(message)] {
      if (auto self = weak.lock()) self->fail(message);
    });
  }

  bool playing() const { return rate_ != 0 && status_ == MediaItemStatus::readyToPlay && !atEnd_; }

  void startTimer(int token, Periodic& p) {
    p.timer = dispatcher_->scheduleTimer(p.interval, true, [weak = weak_from_this(), token] {
      auto self = weak.lock();
      if (!self || !self->playing()) return;
      auto it = self->periodic_.find(token);
      if (it == self->periodic_.end()) return;
      auto observer = it->second.observer;
      observer(self->currentTime());
    });
  }
  void startTimers() {
    for (auto& [token, p] : periodic_) {
      if (!p.timer) startTimer(token, p);
    }
  }
  void stopTimers() {
    for (auto& [token, p] : periodic_) p.timer.reset();
  }

  static void notifyPeriodic(const std::shared_ptr<GtkVideoPlayer>& self) {
    std::vector<int> tokens;
    for (const auto& [token, p] : self->periodic_) tokens.push_back(token);
    const double now = self->currentTime();
    for (int token : tokens) {
      auto it = self->periodic_.find(token);
      if (it == self->periodic_.end()) continue;
      auto observer = it->second.observer;
      observer(now);
      if (!stillWanted(self)) return;
    }
  }

  void post(Task task) { dispatcher_->mainQueue()->post(std::move(task)); }
  void post(const std::function<void(bool)>& completion, bool finished) {
    post([weak = weak_from_this(), completion, finished] {
      if (weak.lock()) completion(finished);
    });
  }

  std::shared_ptr<Dispatcher> dispatcher_;
  const std::string url_;
  GObjectPtr<OrvexVideoFrames> frames_;
  GObjectPtr<GstElement> playbin_;
  BusWatch watch_;
  MediaItemStatus status_ = MediaItemStatus::unknown;
  std::optional<std::string> error_;
  double duration_ = std::numeric_limits<double>::infinity();
  double frameRate_ = 0;
  double rate_ = 0;
  bool muted_ = false;
  bool atEnd_ = false;
  bool seeking_ = false;
  mutable double lastPosition_ = 0;
  std::optional<PendingSeek> pendingSeek_;
  std::function<void(bool)> seekCompletion_;
  std::map<int, Periodic> periodic_;
  std::map<int, std::function<void()>> endObservers_;
  int nextToken_ = 1;
};

}  // namespace

GtkMedia::GtkMedia(std::shared_ptr<Dispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)),
      audio_(std::make_shared<linux_port::RecordedAudioSession>()) {}

std::shared_ptr<VideoPlayer> GtkMedia::makePlayer(const std::string& url) {
  // With the first player, so that a host that never plays video never loads the plugins.
  gst_init(nullptr, nullptr);
  return GtkVideoPlayer::create(dispatcher_, url);
}

std::shared_ptr<VideoView> GtkMedia::makeVideoView() {
  return std::make_shared<GtkVideoView>();
}

std::shared_ptr<AudioSession> GtkMedia::audioSession() {
  return audio_;
}

GtkVideoView::GtkVideoView() : picture_(gtk_picture_new()) {
  gtk_picture_set_can_shrink(GTK_PICTURE(picture_), TRUE);
  gtk_picture_set_content_fit(GTK_PICTURE(picture_), GTK_CONTENT_FIT_CONTAIN);
  setContent(picture_);
}

void GtkVideoView::setPlayer(std::shared_ptr<VideoPlayer> player) {
  player_ = std::move(player);
  auto* p = dynamic_cast<GtkVideoPlayer*>(player_.get());
  gtk_picture_set_paintable(GTK_PICTURE(picture_), p ? p->paintable() : nullptr);
}

}  // namespace orvex::gtk
