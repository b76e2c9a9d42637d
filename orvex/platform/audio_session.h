#pragma once
// The application's audio session, in the phone platform's terms: a category with options, a
// mode and a route-sharing policy, and activation. Main thread only.
//
// On Linux the session is recorded state with no effect on the system: the values set are the
// values read back, and activation only changes isActive(). Players play through the desktop's
// sound server whatever the session says.

#include <cstdint>
#include <optional>
#include <string>

#include "orvex/platform/export.h"

namespace orvex {

enum class AudioSessionCategory {
  ambient,
  soloAmbient,
  playback,
  record,
  playAndRecord,
  multiRoute
};

// "default" is the standard mode and policy.
enum class AudioSessionMode {
  standard,
  voiceChat,
  gameChat,
  videoRecording,
  measurement,
  moviePlayback,
  videoChat,
  spokenAudio,
  voicePrompt
};

enum class AudioSessionRouteSharingPolicy { standard, longFormAudio, longFormVideo, independent };

// A bit set, with the platform's values.
enum class AudioSessionCategoryOptions : std::uint32_t {
  none = 0,
  mixWithOthers = 0x1,
  duckOthers = 0x2,
  allowBluetooth = 0x4,
  defaultToSpeaker = 0x8,
  interruptSpokenAudioAndMixWithOthers = 0x11,
  allowBluetoothA2DP = 0x20,
  allowAirPlay = 0x40,
  overrideMutedMicrophoneInterruption = 0x80,
};

constexpr AudioSessionCategoryOptions operator|(AudioSessionCategoryOptions a,
                                                AudioSessionCategoryOptions b) {
  return AudioSessionCategoryOptions(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr AudioSessionCategoryOptions operator&(AudioSessionCategoryOptions a,
                                                AudioSessionCategoryOptions b) {
  return AudioSessionCategoryOptions(static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b));
}

struct AudioSessionError {
  std::string description;
};

class ORVEX_API AudioSession {
 public:
  virtual ~AudioSession() = default;

  virtual AudioSessionCategory category() const = 0;
  virtual AudioSessionCategoryOptions categoryOptions() const = 0;
  virtual AudioSessionMode mode() const = 0;
  virtual AudioSessionRouteSharingPolicy routeSharingPolicy() const = 0;
  virtual bool isActive() const = 0;

  // Sets the four together; on an error nothing changes. Returns the error, or none.
  virtual std::optional<AudioSessionError> setCategory(
      AudioSessionCategory category, AudioSessionMode mode = AudioSessionMode::standard,
      AudioSessionRouteSharingPolicy policy = AudioSessionRouteSharingPolicy::standard,
      AudioSessionCategoryOptions options = AudioSessionCategoryOptions::none) = 0;
  // Activates or deactivates the session; on deactivation, `notifyOthersOnDeactivation` lets
  // other applications' sessions resume. Returns the error, or none.
  virtual std::optional<AudioSessionError> setActive(bool active,
                                                     bool notifyOthersOnDeactivation = false) = 0;
};

}  // namespace orvex
