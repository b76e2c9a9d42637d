#include "orvex/formats/fullscreen/orvex_splash_ad_cache.h"

#include <chrono>

#include "orvex/core/file_downloader.h"
#include "orvex/core/json.h"
#include "orvex/core/orvex.h"
#include "orvex/core/url.h"

namespace orvex {
namespace {

double secondsSince1970(WallTime t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

bool hasCreative(const AdRes& ad) {
  return ad.creative && !ad.creative->empty();
}

}  // namespace

std::shared_ptr<OrvexSplashAdCache> OrvexSplashAdCache::create(std::string unitId,
                                                               std::string moduleName) {
  return std::shared_ptr<OrvexSplashAdCache>(
      new OrvexSplashAdCache(std::move(unitId), std::move(moduleName)));
}

std::optional<AdRes> OrvexSplashAdCache::cachedAdRes() const {
  std::lock_guard lock(mutex_);
  return cachedAdRes_;
}
void OrvexSplashAdCache::setCachedAdRes(std::optional<AdRes> ad) {
  std::lock_guard lock(mutex_);
  cachedAdRes_ = std::move(ad);
}
std::optional<Image> OrvexSplashAdCache::adImage() const {
  std::lock_guard lock(mutex_);
  return adImage_;
}
void OrvexSplashAdCache::setAdImage(std::optional<Image> image) {
  std::lock_guard lock(mutex_);
  adImage_ = std::move(image);
}

std::optional<OrvexSplashAdCache::Record> OrvexSplashAdCache::storedRecord(bool logFailure) const {
  auto suite = Orvex::shared().platform().store->suite(moduleName_);
  if (!suite) return std::nullopt;
  auto data = suite->data(unitId_);
  if (!data) return std::nullopt;
  std::string error;
  auto fail = [&](const std::string& why) -> std::optional<Record> {
    if (logFailure) logger_.log("Failed to decode object: " + why);
    return std::nullopt;
  };
  auto record = json::parse(
      std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), &error);
  if (!record) return fail(error);
  auto* dict = record->asDict();
  auto ads = dict ? dict->find("ads") : ValueDict::const_iterator{};
  if (!dict || ads == dict->end() || !ads->second.asArray()) return fail("no \"ads\" list");
  auto updated = dict->find("updatedAt");
  if (updated == dict->end() || !updated->second.isNumber()) return fail("no \"updatedAt\"");
  Record out;
  out.updatedAt = *updated->second.number();
  for (const auto& item : *ads->second.asArray()) {
    auto ad = decodeAdRes(item, &error);
    if (!ad) return fail(error);
    out.ads.push_back(std::move(*ad));
  }
  return out;
}

bool OrvexSplashAdCache::isStale() const {
  auto record = storedRecord(false);
  if (!record) return true;
  const double now = secondsSince1970(Orvex::shared().platform().clock->now());
  return record->updatedAt + kCacheTTLSeconds < now;
}

std::optional<AdRes> OrvexSplashAdCache::selectAd(const std::vector<AdRes>& ads) const {
  // Whole milliseconds: an ad whose start is this very millisecond has not started yet.
  const auto nowMillis = static_cast<double>(unixMillis(Orvex::shared().platform().clock->now()));
  const bool testUnit = unitId_.find(OrvexConstants::testUnitMarker) != std::string::npos;
  for (const auto& ad : ads) {
    if (!hasCreative(ad)) continue;
    if (testUnit) return ad;
    if (ad.campaignStartTime && ad.campaignEndTime && *ad.campaignStartTime < nowMillis &&
        nowMillis < *ad.campaignEndTime) {
      return ad;
    }
  }
  return std::nullopt;
}

OrvexSplashAdCache::ImageSource OrvexSplashAdCache::loadStoredAd(std::function<void()> imageDone) {
  auto record = storedRecord(true);
  if (!record) return ImageSource::none;
  auto* ads = &record->ads;
  auto selected = selectAd(*ads);
  setCachedAdRes(selected);
  setAdImage(std::nullopt);
  ImageSource source = ImageSource::none;
  if (selected && Url::parse(*selected->creative)) {
    auto downloader = FileDownloader::shared();
    auto file = downloader->freshFile(*selected->creative, "ad");
    source = file ? ImageSource::disk : ImageSource::network;
    const auto& platform = Orvex::shared().platform();
    std::weak_ptr<OrvexSplashAdCache> weak = weak_from_this();
    // Kept only while the ad is still this start's pick (a request may have picked another).
    auto keep = [weak, imageDone, id = selected->id](std::optional<Image> image) {
      if (auto self = weak.lock()) {
        std::lock_guard lock(self->mutex_);
        if (self->cachedAdRes_ && self->cachedAdRes_->id == id) self->adImage_ = std::move(image);
      }
      if (imageDone) imageDone();
    };
    platform.dispatcher->globalQueue(QueuePriority::userInitiated)
        ->post([downloader, file, url = *selected->creative, files = platform.files,
                images = platform.images, keep, weak] {
          if (!file) return downloader->downloadImage(url, "ad", keep);
          std::optional<Image> image;
          if (auto bytes = files->readFile(*file); bytes && images) image = images->decode(*bytes);
          if (!image) {
            files->remove(*file);
            if (auto self = weak.lock()) self->logger_.log("Failed to decode image: " + url);
          }
          keep(std::move(image));
        });
  }
  if (selected) {
    std::erase_if(*ads, [&](const AdRes& ad) { return ad.id == selected->id; });
  }
  saveAds(*ads);
  return source;
}

void OrvexSplashAdCache::saveAds(const std::vector<AdRes>& ads) {
  ValueArray kept;
  auto downloader = FileDownloader::shared();
  for (const auto& ad : ads) {
    if (!ad.creative || !Url::parse(*ad.creative)) continue;
    downloader->download(*ad.creative, "ad");
    kept.push_back(encodeAdRes(ad));
  }
  ValueDict record;
  record["ads"] = Value(std::move(kept));
  record["updatedAt"] = Value(secondsSince1970(Orvex::shared().platform().clock->now()));
  const std::string text = json::write(Value(std::move(record)));
  auto suite = Orvex::shared().platform().store->suite(moduleName_);
  if (!suite) return;
  suite->set(unitId_, Value(Bytes(text.begin(), text.end())));
}

}  // namespace orvex
