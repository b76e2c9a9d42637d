#pragma once
// A native ad: no view of its own. The host loads it for a native unit and, once it is received,
// lays the ad's parts (headline, body, call to action, icon, cover, advertiser, profile, extra
// texts) out in its own views, bound through OrvexNativeAdView. When the creative carries HTML
// media, a web controller renders it and the ad counts as received only once that page finished
// (after 5 s without it: onAdFailedToReceive with adNoFill). Impressions and clicks, from the
// view and from the page, all pass through the ad: the service hears one impression and one click
// per ad, the host hears every click.
//
// Single use: once an ad was received, load() is refused. Threads: as the banner — create, load
// and read on the main thread; every callback arrives there, posted, never after release. The
// backfill module's access (NativeInternalAccess) is main thread too.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/orvex_internal.h"
#include "orvex/core/simple_logger.h"
#include "orvex/platform/geometry.h"
#include "orvex/platform/value.h"
#include "orvex/server/ad_response.h"

namespace orvex {

class OrvexNativeAd;
class OrvexNativeAdView;
class OrvexNativeAdWebViewController;

class ORVEX_API OrvexNativeAdDelegate {
 public:
  virtual ~OrvexNativeAdDelegate() = default;
  virtual void onAdReceived(OrvexNativeAd& ad) = 0;
  virtual void onAdFailedToReceive(OrvexNativeAd& ad, OrvexErrorCode errorCode) = 0;
  virtual void onAdClicked(OrvexNativeAd& /*ad*/) {}
  virtual void onAdImpression(OrvexNativeAd& /*ad*/) {}
};

struct OrvexNativeAdProfile {
  std::string displayLogo;
  std::string displayName;
  std::optional<std::string> link;
  friend bool operator==(const OrvexNativeAdProfile&, const OrvexNativeAdProfile&) = default;
};

class ORVEX_API OrvexNativeAd : public std::enable_shared_from_this<OrvexNativeAd>,
                                public NativeInternalAccess {
 public:
  using Callback = std::function<void(OrvexNativeAd&)>;
  using FailureCallback = std::function<void(OrvexNativeAd&, OrvexErrorCode)>;

  static std::shared_ptr<OrvexNativeAd> create(std::string unitId, std::string contextId);
  ~OrvexNativeAd() override;
  OrvexNativeAd(const OrvexNativeAd&) = delete;
  OrvexNativeAd& operator=(const OrvexNativeAd&) = delete;

  std::shared_ptr<OrvexNativeAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<OrvexNativeAdDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  // Closure twins of the delegate's operations, called after it.
  Callback onAdReceived;
  FailureCallback onAdFailedToReceive;
  Callback onAdClicked;
  Callback onAdImpression;

  // When on, taps are reported but the host opens pages itself (with open()).
  bool useCustomClick() const { return useCustomClick_; }
  void setUseCustomClick(bool value) { useCustomClick_ = value; }
  // Opens `url` (or the landing page) over the key window's top-most screen.
  void open(const std::optional<std::string>& url, bool useInAppBrowser);

  void load();

  std::string txId() const { return txId_; }
  std::string campaignId() const { return cpId_; }
  std::string unitId() const override { return unitId_; }
  std::string contextId() const override { return contextId_; }
  std::string creativeId() const;
  bool isLoaded() const { return loaded_; }
  bool isBackfilled() const;
  // (0, 0) until an ad with a size was received.
  Size creativeSize() const;

  // The ad's parts; "" when there is no ad or the part is absent.
  std::optional<std::string> destinationURL() const;
  std::string icon() const;
  std::string cover() const;
  std::string advertiser() const;
  std::string advertiserURL() const;
  std::string headline() const;
  std::string body() const;
  std::string creative() const;
  std::string callToAction() const;
  std::string asset() const;
  // The tag texts read as JSON objects; empty for absent text, text that is not JSON (logged)
  // and JSON that is not an object.
  ValueDict accountTag() const;
  ValueDict creativeTag() const;
  OrvexNativeAdProfile profile() const;
  std::string profileDisplayLogo() const { return profile().displayLogo; }
  std::string profileDisplayName() const { return profile().displayName; }
  std::optional<std::string> profileLink() const { return profile().link; }
  // The extra texts by id, a later one replacing an earlier; a missing id or text reads as "".
  std::map<std::string, std::string> extra() const;
  std::optional<BrowserTarget> browserTarget() const;
  // 1 for INTERNAL; 0 for EXTERNAL or none.
  int browserTargetValue() const;

  // The renderer of the HTML media, once an ad with media was received.
  std::shared_ptr<OrvexNativeAdWebViewController> nativeAdViewController() const {
    return nativeAdViewController_;
  }
  const std::optional<AdRes>& adRes() const { return adRes_; }

 private:
  friend class OrvexNativeAdView;
  OrvexNativeAd(std::string unitId, std::string contextId);

  // ---- backfill module (NativeInternalAccess), main thread ----
  std::string internalTxId() const override { return txId_; }
  void setInternalTxId(const std::string& value) override { txId_ = value; }
  std::string internalCpId() const override { return cpId_; }
  void setInternalCpId(const std::string& value) override { cpId_ = value; }
  bool internalLoaded() const override { return loaded_; }
  void setInternalLoaded(bool value) override { loaded_ = value; }
  bool internalIsLoading() const override { return isLoading_; }
  void setInternalIsLoading(bool value) override { isLoading_ = value; }
  void internalNotify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) override {
    notify(code, error);
  }
  std::optional<AdRes> internalAdRes() const override { return adRes_; }
  void setInternalAdRes(std::optional<AdRes> ad) override { adRes_ = std::move(ad); }

  void request();
  OrvexInternal::AdCompletion adCompletionHandler();
  void completeLoad(std::optional<AdRes> ad, std::optional<ServerError> error);
  std::string field(std::optional<std::string> AdRes::*member) const;
  ValueDict tag(std::optional<std::string> AdRes::*member) const;
  void notify(OrvexMetricCode code, std::optional<OrvexErrorCode> error);

  mutable SimpleLogger logger_{"OrvexNativeAd"};  // the tag accessors log
  std::weak_ptr<OrvexNativeAdDelegate> delegate_;
  bool useCustomClick_ = false;
  const std::string unitId_;
  const std::string contextId_;
  std::string txId_;
  std::string cpId_;
  bool loaded_ = false;
  bool isLoading_ = false;
  bool isClicked_ = false;
  bool isImpressed_ = false;
  std::shared_ptr<OrvexNativeAdWebViewController> nativeAdViewController_;
  std::optional<AdRes> adRes_;
  OrvexInternal::AdCompletion adCompletionHandler_;
};

}  // namespace orvex
