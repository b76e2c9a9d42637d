// Deep links handed to Orvex::handleDeepLink, on a virtual-time headless port: the landing URL
// is looked up, decoded and, when it is one, presented on the main queue.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orvex::fuzzing::FuzzSdk fuzz(1024);
  auto& sdk = fuzz.next();
  orvex::Orvex::handleDeepLink(std::string(reinterpret_cast<const char*>(data), size));
  sdk.advance(0.1);
  return 0;
}
