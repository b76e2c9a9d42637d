#pragma once
// For hosts whose screens are built from declarative values: a value that owns one banner and
// hands the same banner out every time the framework asks for a view. It does not load; the host
// calls banner()->load() itself. Copies share the banner.

#include <memory>
#include <optional>
#include <string>

#include "orvex/formats/inline/orvex_banner.h"

namespace orvex {

class ORVEX_API OrvexBannerRepresented {
 public:
  explicit OrvexBannerRepresented(std::string unitId);
  OrvexBannerRepresented(std::string unitId, std::weak_ptr<OrvexBannerDelegate> delegate);
  OrvexBannerRepresented(std::string unitId, std::string contextId);
  OrvexBannerRepresented(std::string unitId, std::string contextId,
                         std::weak_ptr<OrvexBannerDelegate> delegate);

  const std::shared_ptr<OrvexBanner>& banner() const { return banner_; }
  void setBanner(std::shared_ptr<OrvexBanner> banner) { banner_ = std::move(banner); }

  // The framework's view request: always the owned banner.
  std::shared_ptr<OrvexBanner> makeUIView() const { return banner_; }
  void updateUIView(OrvexBanner& /*banner*/) const {}

  std::shared_ptr<OrvexBannerDelegate> delegate() const { return banner_->delegate(); }
  void setDelegate(std::weak_ptr<OrvexBannerDelegate> delegate) {
    banner_->setDelegate(std::move(delegate));
  }
  std::optional<std::string> destinationURL() const { return banner_->destinationURL(); }
  bool useCustomClick() const { return banner_->useCustomClick(); }
  void setUseCustomClick(bool value) { banner_->setUseCustomClick(value); }
  bool handleAdClickCustom() const { return banner_->handleAdClickCustom(); }
  void setHandleAdClickCustom(bool value) { banner_->setHandleAdClickCustom(value); }

 private:
  std::shared_ptr<OrvexBanner> banner_;
};

}  // namespace orvex
