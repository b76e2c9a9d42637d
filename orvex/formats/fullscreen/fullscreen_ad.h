#pragma once
// What interstitial and rewarded ads share: single use (one successful load, one show), the load
// and show checks, the request with its backfill loader slot, the table that turns their screen's
// events into metrics and host callbacks, and the host callbacks themselves (delegate first, then
// the closure; always posted to the main queue, never into an ad that is gone).
//
// Threads: create, load, show and every accessor on the main thread. The request completion hops
// to the main queue before it touches anything, so the flags need no locks.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/core/simple_logger.h"
#include "orvex/server/ad_response.h"

namespace orvex {

// The host's side of a full-screen ad. The two first operations are required; the others are
// called only where the host overrides them.
template <typename Ad>
class FullScreenAdDelegate {
 public:
  virtual ~FullScreenAdDelegate() = default;
  virtual void onAdReceived(Ad& ad) = 0;
  virtual void onAdFailedToReceive(Ad& ad, OrvexErrorCode errorCode) = 0;
  virtual void onAdImpression(Ad& /*ad*/) {}
  virtual void onAdClicked(Ad& /*ad*/) {}
  virtual void onAdWillPresentFullScreen(Ad& /*ad*/) {}
  virtual void onAdDidPresentFullScreen(Ad& /*ad*/) {}
  virtual void onAdWillDismissFullScreen(Ad& /*ad*/) {}
  virtual void onAdDidDismissFullScreen(Ad& /*ad*/) {}
  virtual void onAdFailedToShowFullScreen(Ad& /*ad*/, OrvexErrorCode /*errorCode*/) {}
};

// How a screen reports to its ad: an event and the transaction id it shows. Main thread.
using ScreenEventHandler = std::function<void(OrvexMetricCode code, const std::string& txId)>;

// `Ad` provides `static Loader backfillLoader()` (its process-wide slot) and
// `void buildScreen(const AdRes&, ScreenEventHandler)`; `Access` is its backfill interface.
template <typename Ad, typename Access>
class FullScreenAd : public std::enable_shared_from_this<Ad>, public Access {
 public:
  using Delegate = FullScreenAdDelegate<Ad>;
  using Callback = std::function<void(Ad&)>;
  using FailureCallback = std::function<void(Ad&, OrvexErrorCode)>;

  FullScreenAd(const FullScreenAd&) = delete;
  FullScreenAd& operator=(const FullScreenAd&) = delete;

  std::shared_ptr<Delegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<Delegate> delegate) { delegate_ = std::move(delegate); }
  // Closure twins of the delegate's operations, called after it.
  Callback onAdReceived;
  FailureCallback onAdFailedToReceive;
  Callback onAdImpression;
  Callback onAdClicked;
  Callback onAdWillPresentFullScreen;
  Callback onAdDidPresentFullScreen;
  Callback onAdWillDismissFullScreen;
  Callback onAdDidDismissFullScreen;
  FailureCallback onAdFailedToShowFullScreen;

  std::string txId() const { return txId_; }
  std::string campaignId() const { return cpId_; }
  std::string unitId() const override { return adUnit_.id; }
  std::string destinationURL() const { return destinationURL_; }
  std::string creativeId() const;
  bool isLoaded() const { return loaded_; }

  // Asks for one creative; the result arrives as onAdReceived (once its page is ready to show)
  // or onAdFailedToReceive. Refused once a load has succeeded: the ad is single use.
  void load();

 protected:
  FullScreenAd(std::string unitId, AdUnitFormat format, const char* className);
  ~FullScreenAd() override = default;

  // The checks every show makes first; false when the show was refused (and reported).
  bool mayShow();
  // Puts the prepared screen over `root` and counts the impression. A root that is missing or
  // already presents another screen would show nothing: the show is refused instead of billed.
  void presentScreen(const std::shared_ptr<ViewController>& root,
                     const std::shared_ptr<ViewController>& screen, bool animated);
  // The backfill module showed its own ad: the host hears of the impression, the service does not.
  void shownByBackfill();
  // The one exit to the host.
  void notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error);

  SimpleLogger logger_;
  bool isShown_ = false;

 private:
  // ---- backfill module (the parts both formats share) ----
  std::string internalTxId() const override { return txId_; }
  void setInternalTxId(const std::string& value) override { txId_ = value; }
  std::string internalCpId() const override { return cpId_; }
  void setInternalCpId(const std::string& value) override { cpId_ = value; }
  bool internalLoaded() const override { return loaded_; }
  void setInternalLoaded(bool value) override { loaded_ = value; }
  bool internalIsLoading() const override { return isLoading_; }
  void setInternalIsLoading(bool value) override { isLoading_ = value; }
  std::string internalDestinationURL() const override { return destinationURL_; }
  void setInternalDestinationURL(const std::string& url) override { destinationURL_ = url; }
  void internalNotify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) override {
    notify(code, error);
  }

  void request();
  OrvexInternal::AdCompletion adCompletionHandler();
  void completeLoad(std::optional<AdRes> ad, std::optional<ServerError> error);
  ScreenEventHandler screenEvents(AdRes ad);
  Ad& self() { return static_cast<Ad&>(*this); }

  std::weak_ptr<Delegate> delegate_;
  std::string txId_;
  std::string cpId_;
  std::string destinationURL_;
  bool loaded_ = false;
  bool isLoading_ = false;
  const AdUnit adUnit_;
  OrvexInternal::AdCompletion adCompletionHandler_;
};

}  // namespace orvex
