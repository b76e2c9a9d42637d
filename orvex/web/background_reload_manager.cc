#include "orvex/web/background_reload_manager.h"

#include <chrono>
#include <utility>

#include "orvex/core/orvex.h"
#include "orvex/platform/web_view.h"

namespace orvex {

std::shared_ptr<BackgroundReloadManager> BackgroundReloadManager::create(
    std::weak_ptr<WebView> webView, double reloadThreshold) {
  return create(Orvex::shared().platform(), std::move(webView), reloadThreshold);
}

std::shared_ptr<BackgroundReloadManager> BackgroundReloadManager::create(
    const OrvexPlatform& platform, std::weak_ptr<WebView> webView, double reloadThreshold) {
  std::shared_ptr<BackgroundReloadManager> manager(
      new BackgroundReloadManager(platform.clock, std::move(webView), reloadThreshold));
  if (platform.lifecycle) manager->observe(*platform.lifecycle);
  return manager;
}

BackgroundReloadManager::BackgroundReloadManager(std::shared_ptr<Clock> clock,
                                                 std::weak_ptr<WebView> webView,
                                                 double reloadThreshold)
    : clock_(std::move(clock)), webView_(std::move(webView)), reloadThreshold_(reloadThreshold) {}

BackgroundReloadManager::~BackgroundReloadManager() = default;

void BackgroundReloadManager::observe(AppLifecycle& lifecycle) {
  std::weak_ptr<BackgroundReloadManager> weak = weak_from_this();
  backgroundObserver_ = lifecycle.observe(AppNotification::didEnterBackground, [weak] {
    if (auto self = weak.lock()) self->handleDidEnterBackground();
  });
  foregroundObserver_ = lifecycle.observe(AppNotification::willEnterForeground, [weak] {
    if (auto self = weak.lock()) self->handleWillEnterForeground();
  });
}

void BackgroundReloadManager::setProcessedContent(std::string html) {
  processedContent_ = std::move(html);
}

void BackgroundReloadManager::loadContent(std::string html) {
  processedContent_ = std::move(html);
  if (auto view = webView_.lock()) view->loadHTMLString(*processedContent_);
}

void BackgroundReloadManager::handleDidEnterBackground() {
  if (clock_) lastBackgroundTime_ = clock_->now();
}

void BackgroundReloadManager::handleWillEnterForeground() {
  if (!lastBackgroundTime_ || !processedContent_ || !clock_) return;
  const double away = std::chrono::duration<double>(clock_->now() - *lastBackgroundTime_).count();
  if (!(away > reloadThreshold_)) return;
  if (auto view = webView_.lock()) view->loadHTMLString(*processedContent_);
}

}  // namespace orvex
