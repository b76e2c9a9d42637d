#pragma once
// Splash ads kept for the next application start: per unit, the list last received from the
// server (a JSON record in a store suite under the unit id), the ad picked for this start and
// its image. Creative images live in the file cache's "ad" category.
//
// The picked ad and its image are written from download completions on other threads, so they
// are guarded; everything else runs on the caller's thread. Images are never read or decoded on
// the caller's thread: an application's start must not wait for a disk or a decoder.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orvex/core/simple_logger.h"
#include "orvex/platform/view.h"
#include "orvex/server/ad_response.h"

namespace orvex {

class ORVEX_API OrvexSplashAdCache : public std::enable_shared_from_this<OrvexSplashAdCache> {
 public:
  static constexpr const char* kModuleName = "io.orvex.OrvexSplashAdCache";
  static constexpr double kCacheTTLSeconds = 604800;  // 7 days

  static std::shared_ptr<OrvexSplashAdCache> create(std::string unitId,
                                                    std::string moduleName = kModuleName);

  // Where this start's image is coming from.
  enum class ImageSource { none, disk, network };
  // Picks this start's ad from the stored list, starts fetching its image and stores the rest.
  // The image is read from the file cache when it is there (a file that does not decode is
  // removed, so that a later prefetch fetches it again), else downloaded; `imageDone` runs on a
  // background thread once the fetch has ended, with or without an image.
  ImageSource loadStoredAd(std::function<void()> imageDone = {});
  bool isStale() const;
  // The first ad with a creative inside its campaign window (bounds exclusive), or any with a
  // creative for a test unit.
  std::optional<AdRes> selectAd(const std::vector<AdRes>& ads) const;
  // Keeps the ads whose creative is a URL, prefetching each; renews the record.
  void saveAds(const std::vector<AdRes>& ads);

  const std::string& unitId() const { return unitId_; }
  const std::string& moduleName() const { return moduleName_; }
  std::optional<AdRes> cachedAdRes() const;
  void setCachedAdRes(std::optional<AdRes> ad);
  std::optional<Image> adImage() const;
  void setAdImage(std::optional<Image> image);

 private:
  OrvexSplashAdCache(std::string unitId, std::string moduleName)
      : unitId_(std::move(unitId)), moduleName_(std::move(moduleName)) {}
  struct Record {
    std::vector<AdRes> ads;
    double updatedAt = 0;
  };
  // Absent when missing or undecodable (`logFailure`: say so).
  std::optional<Record> storedRecord(bool logFailure) const;

  mutable SimpleLogger logger_{"OrvexSplashAdCache"};
  const std::string unitId_;
  const std::string moduleName_;
  mutable std::mutex mutex_;
  std::optional<AdRes> cachedAdRes_;
  std::optional<Image> adImage_;
};

}  // namespace orvex
