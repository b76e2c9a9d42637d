#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"

#include <algorithm>

#include "orvex/core/orvex.h"

namespace orvex {

std::shared_ptr<OrvexPopupAdRollingTimer> OrvexPopupAdRollingTimer::create(
    std::weak_ptr<ScrollView> scrollView) {
  return std::shared_ptr<OrvexPopupAdRollingTimer>(
      new OrvexPopupAdRollingTimer(std::move(scrollView)));
}

void OrvexPopupAdRollingTimer::start() {
  stop();
  if (maxPages_ < 2 || !shouldRoll_) return;
  const auto& dispatcher = Orvex::shared().platform().dispatcher;
  if (!dispatcher) return;
  std::weak_ptr<OrvexPopupAdRollingTimer> weak = weak_from_this();
  timer_ = dispatcher->scheduleTimer(secondsToDuration(kRollIntervalSeconds), true, [weak] {
    if (auto self = weak.lock()) self->tick();
  });
}

void OrvexPopupAdRollingTimer::stop() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

bool OrvexPopupAdRollingTimer::isRunning() const {
  return timer_ && timer_->isValid();
}

void OrvexPopupAdRollingTimer::tick() {
  auto scrollView = scrollView_.lock();
  if (!scrollView) return;
  const double width = scrollView->bounds().size.width;
  if (width <= 0) return;
  const int page = static_cast<int>(scrollView->contentOffset().x / width);
  const int slots = std::max(maxPages_, 3);
  // The offset is never negative in the carousel, but a page count of slots keeps the target in
  // the content whatever it reads.
  const int next = ((page + 1) % slots + slots) % slots;
  scrollView->setContentOffset(Point{width * next, 0}, true);
}

void OrvexPopupAdRollingTimer::scrollViewWillBeginDragging() {
  stop();
}

void OrvexPopupAdRollingTimer::scrollViewDidEndDragging(bool willDecelerate) {
  if (!willDecelerate) start();
}

void OrvexPopupAdRollingTimer::scrollViewDidEndDecelerating() {
  start();
}

}  // namespace orvex
