#pragma once
// Advances a popup's carousel every 3 seconds while it may roll: each tick scrolls, animated, to
// the next of the three slots; dragging stops it and the end of a drag or its deceleration starts
// it again. Main thread only.

#include <memory>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/view.h"

namespace orvex {

class OrvexPopupAdRollingTimer : public std::enable_shared_from_this<OrvexPopupAdRollingTimer> {
 public:
  static constexpr double kRollIntervalSeconds = 3.0;

  static std::shared_ptr<OrvexPopupAdRollingTimer> create(std::weak_ptr<ScrollView> scrollView);

  // Restarts the repeating timer when there are two or more pages and rolling is allowed.
  void start();
  void stop();
  bool isRunning() const;
  void tick();

  int maxPages() const { return maxPages_; }
  void setMaxPages(int pages) { maxPages_ = pages; }
  bool shouldRoll() const { return shouldRoll_; }
  void setShouldRoll(bool roll) { shouldRoll_ = roll; }

  // The carousel's drag events (its view forwards them).
  void scrollViewWillBeginDragging();
  void scrollViewDidEndDragging(bool willDecelerate);
  void scrollViewDidEndDecelerating();

 private:
  explicit OrvexPopupAdRollingTimer(std::weak_ptr<ScrollView> scrollView)
      : scrollView_(std::move(scrollView)) {}

  std::weak_ptr<ScrollView> scrollView_;
  std::unique_ptr<Timer> timer_;
  int maxPages_ = 1;
  bool shouldRoll_ = true;
};

}  // namespace orvex
