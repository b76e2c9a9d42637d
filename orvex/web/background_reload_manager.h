#pragma once
// Reloads a page after the application has stayed in the background for longer than a threshold:
// by then the platform may have discarded or frozen the web view's content. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/platform.h"
#include "orvex/platform/subscription.h"

namespace orvex {

class WebView;

class BackgroundReloadManager : public std::enable_shared_from_this<BackgroundReloadManager> {
 public:
  // Registers for did-enter-background and will-enter-foreground at once, on the SDK's platform
  // (or `platform` when given). Holds `webView` weakly.
  static std::shared_ptr<BackgroundReloadManager> create(std::weak_ptr<WebView> webView,
                                                         double reloadThreshold);
  static std::shared_ptr<BackgroundReloadManager> create(const OrvexPlatform& platform,
                                                         std::weak_ptr<WebView> webView,
                                                         double reloadThreshold);
  BackgroundReloadManager(const BackgroundReloadManager&) = delete;
  BackgroundReloadManager& operator=(const BackgroundReloadManager&) = delete;
  // Removes both observers.
  ~BackgroundReloadManager();

  // Remembers `html` as the page to reload; loads nothing.
  void setProcessedContent(std::string html);
  // Remembers `html` and loads it into the web view (no base URL) while the view exists.
  void loadContent(std::string html);

  void handleDidEnterBackground();
  void handleWillEnterForeground();

  const std::optional<std::string>& processedContent() const { return processedContent_; }
  std::optional<WallTime> lastBackgroundTime() const { return lastBackgroundTime_; }
  double reloadThreshold() const { return reloadThreshold_; }

 private:
  BackgroundReloadManager(std::shared_ptr<Clock> clock, std::weak_ptr<WebView> webView,
                          double reloadThreshold);
  void observe(AppLifecycle& lifecycle);

  std::shared_ptr<Clock> clock_;
  std::weak_ptr<WebView> webView_;
  std::optional<std::string> processedContent_;
  std::optional<WallTime> lastBackgroundTime_;
  Subscription backgroundObserver_;
  Subscription foregroundObserver_;
  const double reloadThreshold_;
};

}  // namespace orvex
