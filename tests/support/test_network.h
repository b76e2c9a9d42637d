#pragma once
// The test program's view of the network. It resolves names itself, standing in for the system's
// getaddrinfo, so no test ever looks a name up on the network: numeric addresses and "localhost"
// resolve as usual; names under ".orvex-test.invalid" fail, those beginning with "stall." only
// once released; every other name fails at once and is counted as a stray lookup. And one
// address stands for a device without any network: connecting to it fails as with no route.

#include <cstddef>

namespace orvex::testing_support {

inline constexpr const char* kUnresolvableHost = "nowhere.orvex-test.invalid";
// Its lookups wait until releaseStalledLookups().
inline constexpr const char* kStallingHost = "stall.orvex-test.invalid";

// Connections to it fail with ENETUNREACH, without a packet sent (a documentation address).
inline constexpr const char* kNoNetworkAddress = "198.51.100.1";

struct ResolverCounts {
  std::size_t stalledStarted = 0;   // lookups of stalling names begun
  std::size_t stalledReturned = 0;  // and given back to their caller
  std::size_t stray = 0;            // names that would have needed the network
};

ResolverCounts resolverCounts();
void releaseStalledLookups();
// Waits (real time, at most `seconds`) until `started` stalled lookups have begun.
bool waitForStalledLookups(std::size_t started, double seconds);
// Waits until every stalled lookup that began has returned.
bool waitForStalledLookupsToReturn(double seconds);

}  // namespace orvex::testing_support
