#pragma once
// The desktop port's media, over GStreamer: each player is a playbin whose video goes to an
// appsink as RGBA frames, shown by the video view's GtkPicture through a paintable of the
// player's. Main thread only.
//
// Why playbin + appsink: Debian 12 has no gtk4paintablesink (GStreamer's GTK 4 sink), and GTK's
// own GtkMediaFile needs the optional media-gstreamer module and hides the stream: no frame rate,
// no seek tolerances. The appsink costs one copy-free texture per frame (the texture keeps the
// sample's buffer mapped), which a full-screen ad's video easily affords.
//
// Threads: frames arrive on GStreamer's streaming thread and are handed to the main queue (only
// the newest waits); bus messages (ready, end of stream, errors, finished seeks) are read by a
// bus watch on the GLib main context, which is the main queue. Releasing a player stops its
// pipeline (which joins the streaming threads) and removes its watch, so nothing of it runs
// afterwards.

#include <memory>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/media.h"
#include "ports/gtk/gtk_view.h"

namespace orvex::linux_port {
class RecordedAudioSession;
}

namespace orvex::gtk {

class GtkMedia : public Media {
 public:
  // GStreamer is initialized with the first player.
  explicit GtkMedia(std::shared_ptr<Dispatcher> dispatcher);
  std::shared_ptr<VideoPlayer> makePlayer(const std::string& url) override;
  std::shared_ptr<VideoView> makeVideoView() override;
  std::shared_ptr<AudioSession> audioSession() override;
  // The session as recorded (no system effect on Linux).
  const std::shared_ptr<linux_port::RecordedAudioSession>& recordedAudioSession() const {
    return audio_;
  }

 private:
  std::shared_ptr<Dispatcher> dispatcher_;
  std::shared_ptr<linux_port::RecordedAudioSession> audio_;
};

// A GtkPicture over its player's frames, fitted with the aspect kept (GTK_CONTENT_FIT_CONTAIN).
class GtkVideoView : public GtkView, public VideoView {
 public:
  GtkVideoView();
  void setPlayer(std::shared_ptr<VideoPlayer> player) override;
  std::shared_ptr<VideoPlayer> player() const override { return player_; }

 private:
  GtkWidget* picture_;
  std::shared_ptr<VideoPlayer> player_;
};

}  // namespace orvex::gtk
