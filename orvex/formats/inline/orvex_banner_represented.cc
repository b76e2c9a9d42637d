#include "orvex/formats/inline/orvex_banner_represented.h"

#include <utility>

namespace orvex {

OrvexBannerRepresented::OrvexBannerRepresented(std::string unitId)
    : OrvexBannerRepresented(std::move(unitId), std::string()) {}

OrvexBannerRepresented::OrvexBannerRepresented(std::string unitId,
                                               std::weak_ptr<OrvexBannerDelegate> delegate)
    : OrvexBannerRepresented(std::move(unitId), std::string(), std::move(delegate)) {}

OrvexBannerRepresented::OrvexBannerRepresented(std::string unitId, std::string contextId)
    : banner_(OrvexBanner::create(std::move(unitId), std::move(contextId))) {}

OrvexBannerRepresented::OrvexBannerRepresented(std::string unitId, std::string contextId,
                                               std::weak_ptr<OrvexBannerDelegate> delegate)
    : OrvexBannerRepresented(std::move(unitId), std::move(contextId)) {
  banner_->setDelegate(std::move(delegate));
}

}  // namespace orvex
