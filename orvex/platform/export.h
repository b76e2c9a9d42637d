#pragma once
// ORVEX_API marks what hosts and port writers use. A shared build hides everything else, so its
// libraries export the SDK's API and none of its insides.

#if defined(__GNUC__) || defined(__clang__)
#define ORVEX_API __attribute__((visibility("default")))
#else
#define ORVEX_API
#endif

// What the SDK's own libraries share among themselves (the ports use the core's JSON, digest and
// text helpers): exported from a shared build, yet no part of the API.
#define ORVEX_INTERNAL_API ORVEX_API
