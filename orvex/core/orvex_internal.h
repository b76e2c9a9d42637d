#pragma once
// The bridge through which an outside backfill module serves ad units: loader slots that replace
// a format's own load, the server operations it may use, and the per-format access interfaces
// the ad objects implement so the module can read and drive their state.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/server/ad_response.h"
#include "orvex/server/server_error.h"

namespace orvex {

class OrvexBanner;
class OrvexInterstitialAd;
class OrvexRewardedAd;
class OrvexNativeAd;
class OrvexNativeAdView;
// The screen that hosts a banner, when the platform can tell.
class ViewController;

// What every ad object lets the module read and set.
class ORVEX_API InternalAdState {
 public:
  virtual ~InternalAdState() = default;
  virtual std::string unitId() const = 0;
  virtual std::string internalTxId() const = 0;
  virtual void setInternalTxId(const std::string& value) = 0;
  virtual std::string internalCpId() const = 0;
  virtual void setInternalCpId(const std::string& value) = 0;
  virtual bool internalLoaded() const = 0;
  virtual void setInternalLoaded(bool value) = 0;
  virtual bool internalIsLoading() const = 0;
  virtual void setInternalIsLoading(bool value) = 0;
  // Raises the event or failure to the host as if the ad object had met it itself.
  virtual void internalNotify(OrvexMetricCode code, std::optional<OrvexErrorCode> error) = 0;
};

class ORVEX_API BannerInternalAccess : public virtual InternalAdState {
 public:
  virtual std::optional<AdRes> internalAd() const = 0;
  virtual void setInternalAd(std::optional<AdRes> ad) = 0;
  virtual std::optional<std::string> internalDestinationURL() const = 0;
  virtual void setInternalDestinationURL(std::optional<std::string> url) = 0;
  virtual void internalDisplay(const std::string& creative) = 0;
  virtual std::string contextId() const = 0;
};

class ORVEX_API NativeInternalAccess : public virtual InternalAdState {
 public:
  virtual std::optional<AdRes> internalAdRes() const = 0;
  virtual void setInternalAdRes(std::optional<AdRes> ad) = 0;
  virtual std::string contextId() const = 0;
};

class ORVEX_API InterstitialInternalAccess : public virtual InternalAdState {
 public:
  using ShowHandler = std::function<void(std::shared_ptr<ViewController>)>;
  virtual ShowHandler internalShowHandler() const = 0;
  virtual void setInternalShowHandler(ShowHandler handler) = 0;
  virtual std::string internalDestinationURL() const = 0;
  virtual void setInternalDestinationURL(const std::string& url) = 0;
};

class ORVEX_API RewardedInternalAccess : public virtual InternalAdState {
 public:
  using RewardCallback = std::function<void(int, int)>;
  using ShowHandler = std::function<void(std::shared_ptr<ViewController>, RewardCallback)>;
  virtual ShowHandler internalShowHandler() const = 0;
  virtual void setInternalShowHandler(ShowHandler handler) = 0;
  virtual std::string internalDestinationURL() const = 0;
  virtual void setInternalDestinationURL(const std::string& url) = 0;
};

namespace OrvexInternal {

using AdCompletion = std::function<void(std::optional<AdRes>, std::optional<ServerError>)>;

// Process-wide loader slots, all empty until a module sets them. Reads and writes are
// synchronised; a loader is called on the format's thread and must complete exactly once.
namespace Loaders {
using Banner = std::function<void(std::shared_ptr<OrvexBanner>, std::shared_ptr<ViewController>,
                                  AdCompletion)>;
using Interstitial = std::function<void(std::shared_ptr<OrvexInterstitialAd>, AdCompletion)>;
using Rewarded = std::function<void(std::shared_ptr<OrvexRewardedAd>, AdCompletion)>;
using Native = std::function<void(std::shared_ptr<OrvexNativeAd>, AdCompletion)>;

ORVEX_API Banner banner();
ORVEX_API void setBanner(Banner loader);
ORVEX_API Interstitial interstitial();
ORVEX_API void setInterstitial(Interstitial loader);
ORVEX_API Rewarded rewarded();
ORVEX_API void setRewarded(Rewarded loader);
ORVEX_API Native native();
ORVEX_API void setNative(Native loader);
}  // namespace Loaders

// The shared connector's requestAd: the same gate, the same results.
ORVEX_API void requestAd(const std::string& unitId, const std::string& contextId,
                         AdCompletion completion);
ORVEX_API void reportMetric(OrvexMetricCode code, const std::optional<std::string>& txId,
                            const std::optional<std::string>& unitId);
// The other network's unit id that remote configuration mapped `unitId` to.
ORVEX_API std::optional<std::string> externalAdUnitId(const std::string& network,
                                                      const std::string& unitId);
// The native ad attached to `view`, when there is one.
ORVEX_API std::shared_ptr<OrvexNativeAd> nativeAd(const OrvexNativeAdView& view);

}  // namespace OrvexInternal
}  // namespace orvex
