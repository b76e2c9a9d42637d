#pragma once
// Everything the SDK needs from the platform, handed over once by the host (or the headless port
// by default).

#include <memory>
#include <string>
#include <vector>

#include "orvex/platform/bundle.h"
#include "orvex/platform/device.h"
#include "orvex/platform/dispatch.h"
#include "orvex/platform/files.h"
#include "orvex/platform/haptics.h"
#include "orvex/platform/http.h"
#include "orvex/platform/image.h"
#include "orvex/platform/lifecycle.h"
#include "orvex/platform/log.h"
#include "orvex/platform/store.h"

namespace orvex {

class Media;          // orvex/platform/media.h
class UserInterface;  // orvex/platform/view.h

// Where the SDK's servers and sites live. Built-in defaults point at reserved names; hosts, the
// demo and the tests replace them (for example with a loopback service).
struct OrvexDeployment {
  // The ad server: base of the fallback endpoint "/graphql".
  std::string adServerBase = "https://ads.orvex.example";
  // The second server: "/request-ads", "/remote-config", "/events".
  std::string apiServerBase = "https://api.orvex.example";
  // The quest site: questURL is questScheme + "://" + questHost; its pages live on questDomains
  // (and their subdomains). The scheme is a value so that a local site on loopback can be plain
  // HTTP.
  std::string questScheme = "https";
  std::string questHost = "quest.orvex.example";
  std::vector<std::string> questDomains = {"orvex.example"};
  // Base URL of the ad player script, ending in "@": the version and "/<file name>" follow.
  std::string playerScriptCdnBase = "https://cdn.orvex.example/player@";
  // Host of app-store product pages ("…/id123456").
  std::string appStoreHost = "apps.apple.com";
  // The developer guide named in the production-mode warning.
  std::string developerGuideUrl = "https://developers.orvex.example/guide";
};

struct OrvexPlatform {
  std::shared_ptr<Dispatcher> dispatcher;
  std::shared_ptr<Clock> clock;
  std::shared_ptr<KeyValueStoreProvider> store;
  std::shared_ptr<FileSystem> files;
  std::shared_ptr<AppBundle> bundle;
  std::shared_ptr<AppLifecycle> lifecycle;
  std::shared_ptr<DeviceFacts> device;
  std::shared_ptr<SystemLog> log;
  std::shared_ptr<HttpClient> http;
  // Image decoding (any thread); absent, images never decode.
  std::shared_ptr<ImageDecoder> images;
  // Views, windows, web views and URL opening; absent on a port without a screen.
  std::shared_ptr<UserInterface> ui;
  // Haptic feedback; absent, feedback does nothing.
  std::shared_ptr<Haptics> haptics;
  // Video players, video views and the audio session; absent, no video plays and the audio
  // session is left alone.
  std::shared_ptr<Media> media;
  OrvexDeployment deployment;

  bool complete() const {
    return dispatcher && clock && store && files && bundle && lifecycle && device && log && http;
  }
};

}  // namespace orvex
