#pragma once
// A stand-in for the outside backfill module, registered under the name initialize looks for.
// Once activated it serves banners through the bridge: the unit id remote configuration mapped
// for the "test" network is requested, and the answer comes back marked as a backfill.

#include <string>

namespace orvex::testing_support {

// The unit the loader asks for: the banner's own unit is not readable until banners exist.
inline constexpr const char* kTestBackfillUnit = "demo-banner";

void registerTestBackfillModule();

}  // namespace orvex::testing_support
