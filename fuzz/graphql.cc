// Request documents as the local ad service receives them, through its GraphQL reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "tools/adserver/graphql.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  auto document =
      adserver::graphql::parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  orvex::fuzzing::require(document.has_value() || !error.empty(), "a refusal says why");
  return 0;
}
