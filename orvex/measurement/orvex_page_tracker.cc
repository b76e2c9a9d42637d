#include "orvex/measurement/orvex_page_tracker.h"

namespace orvex {

// The page measurement codes (pageAts, pageAttach) are reserved; until the service takes them,
// these calls must cost the host nothing.
void OrvexPageTracker::track(std::string_view /*key*/, std::string_view /*screen*/) {}

void OrvexPageTracker::attach(std::string_view /*key*/, std::string_view /*unitId*/,
                              std::string_view /*screen*/) {}

}  // namespace orvex
