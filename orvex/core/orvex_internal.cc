#include "orvex/core/orvex_internal.h"

#include <mutex>

#include "orvex/core/orvex.h"
#include "orvex/server/orvex_api.h"

namespace orvex::OrvexInternal {
namespace {

// Modules may set slots from any thread while formats read them.
struct Slots {
  std::mutex mutex;
  Loaders::Banner banner;
  Loaders::Interstitial interstitial;
  Loaders::Rewarded rewarded;
  Loaders::Native native;
};
Slots& slots() {
  static Slots s;
  return s;
}

template <class F>
F read(F Slots::*slot) {
  Slots& s = slots();
  std::lock_guard lock(s.mutex);
  return s.*slot;
}

template <class F>
void write(F Slots::*slot, F value) {
  Slots& s = slots();
  std::lock_guard lock(s.mutex);
  s.*slot = std::move(value);
}

}  // namespace

namespace Loaders {
Banner banner() {
  return read(&Slots::banner);
}
void setBanner(Banner loader) {
  write(&Slots::banner, std::move(loader));
}
Interstitial interstitial() {
  return read(&Slots::interstitial);
}
void setInterstitial(Interstitial loader) {
  write(&Slots::interstitial, std::move(loader));
}
Rewarded rewarded() {
  return read(&Slots::rewarded);
}
void setRewarded(Rewarded loader) {
  write(&Slots::rewarded, std::move(loader));
}
Native native() {
  return read(&Slots::native);
}
void setNative(Native loader) {
  write(&Slots::native, std::move(loader));
}
}  // namespace Loaders

void requestAd(const std::string& unitId, const std::string& contextId, AdCompletion completion) {
  Orvex::shared().api().requestAd(unitId, contextId, std::move(completion));
}

void reportMetric(OrvexMetricCode code, const std::optional<std::string>& txId,
                  const std::optional<std::string>& unitId) {
  Orvex::shared().api().reportMetric(code, txId, unitId);
}

std::optional<std::string> externalAdUnitId(const std::string& network, const std::string& unitId) {
  return Orvex::shared().platform().store->standard()->string("orvex_backfill_" + network + ":" +
                                                              unitId);
}

}  // namespace orvex::OrvexInternal
