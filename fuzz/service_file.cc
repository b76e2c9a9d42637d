// The service file as the host ships it, read from the bundle's resource directory: either the
// whole file, or a well-formed file whose app key is the input (so the key's payload decoding
// is reached too). A key that comes back must be one the payload check accepts.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/json.h"
#include "orvex/core/service_file.h"
#include "orvex/core/simple_logger.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orvex::fuzzing::FuzzSdk fuzz(1024);
  if (size == 0) return 0;
  auto& sdk = fuzz.next();
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string file =
      data[0] % 2 ? bytes : orvex::json::write(orvex::Value(orvex::ValueDict{{"app_key", bytes}}));
  std::ofstream(sdk.resources() / "orvex_service.json", std::ios::binary | std::ios::trunc) << file;
  orvex::SimpleLogger logger("OrvexConfig");
  const std::string key = orvex::loadAppKey(orvex::Orvex::shared().platform(), logger);
  if (!key.empty()) {
    orvex::fuzzing::require(orvex::JWT::decodePayload(key).has_value(),
                            "an accepted key has a payload");
  }
  return 0;
}
