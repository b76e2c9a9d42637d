// User properties as the store holds them (any JSON shape under "CUSTOM_PROPERTY"), read back,
// changed and sent; then an event with parameters from the input. Every document sent must
// parse as GraphQL (by the local ad service's independent reader) and carry the JSON text
// unchanged as its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/json.h"
#include "orvex/measurement/orvex_metrics.h"
#include "tools/adserver/graphql.h"

namespace {

using namespace orvex;

void requireDocumentsParse(const std::vector<HttpRequest>& requests, std::size_t from) {
  for (std::size_t i = from; i < requests.size(); ++i) {
    const std::string query = testing_support::queryOf(requests[i]);
    auto document = adserver::graphql::parse(query);
    fuzzing::require(document.has_value(), "the invoke document parses");
    const auto* input = document->selection.at(0).argument("input");
    const auto* value = input ? input->find("value") : nullptr;
    fuzzing::require(value != nullptr, "the document carries a value");
    const auto* key = input->find("key");
    if (key && key->text == "SET_PROPERTY") {
      fuzzing::require(json::parse(value->text).has_value(), "properties go out as JSON");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::FuzzSdk fuzz(256, [](auto& sdk) {
    Orvex::initialize(false, false);
    sdk.advance(10);
  });
  FuzzedDataProvider input(data, size);
  auto& sdk = fuzz.next();
  fuzz.answer(200, R"({"data":{"invoke":{"message":"ok"}}})");
  const std::size_t sent = fuzz.http().requests().size();
  auto metrics = sdk.port().platform.store->suite("io.orvex.metrics");
  if (auto stored = json::parse(input.ConsumeRandomLengthString(2048))) {
    metrics->set("CUSTOM_PROPERTY", *stored);
  }
  metrics->set("CUSTOM_PROPERTY_REQUEST_AT", Value(input.ConsumeIntegral<std::int64_t>()));
  OrvexMetrics::properties();

  const std::string key = input.ConsumeRandomLengthString(80);
  std::optional<OrvexPropertyValue> value;
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
      value = input.ConsumeBool();
      break;
    case 1:
      value = input.ConsumeIntegral<std::int64_t>();
      break;
    case 2:
      value = input.ConsumeFloatingPoint<double>();
      break;
    case 3:
      value = input.ConsumeRandomLengthString(300);
      break;
    default:
      break;
  }
  OrvexMetrics::setProperty(key, value);
  sdk.advance(2);
  auto params = json::parse(input.ConsumeRandomLengthString(1024));
  OrvexMetrics::logEvent(input.ConsumeRandomLengthString(64), params && params->asDict()
                                                                  ? std::optional(*params->asDict())
                                                                  : std::nullopt);
  sdk.advance(2);
  OrvexMetrics::properties();
  requireDocumentsParse(fuzz.http().requests(), sent);
  return 0;
}
