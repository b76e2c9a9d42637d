// Main-thread cost of Orvex::initialize on a store that already holds a previous launch's state.
// Remote configuration is only started here, never waited for.
#include <benchmark/benchmark.h>

#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "tests/support/test_sdk.h"

namespace {

using namespace orvex;

void BM_InitializeWithPopulatedStore(benchmark::State& state) {
  testing_support::TempDir dir;
  {
    // A previous launch: every configuration key and some user properties on disk.
    testing_support::TestSdk first(dir.path());
    Orvex::initialize(false, false);
    auto metrics = Orvex::shared().platform().store->suite("io.orvex.metrics");
    ValueDict properties;
    for (int i = 0; i < 50; ++i) properties["key" + std::to_string(i)] = "value";
    metrics->set("CUSTOM_PROPERTY", Value(properties));
    Orvex::shared().platform().store->flush();
  }
  for (auto _ : state) {
    state.PauseTiming();
    testing_support::TestSdk launch(dir.path());
    state.ResumeTiming();
    Orvex::initialize(true, false, std::vector<std::string>{"US", "KR"});
    benchmark::DoNotOptimize(Orvex::shared().config().uid());
    state.PauseTiming();
    launch.advance(0);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_InitializeWithPopulatedStore)->Unit(benchmark::kMicrosecond);

}  // namespace
