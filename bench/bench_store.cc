// The store's hot paths as the SDK meets them: reads from memory, writes that change nothing,
// and writes that change a value (coalesced by the background writer).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "ports/linux/file_store.h"
#include "ports/linux/memory_log.h"

namespace {

namespace fs = std::filesystem;
using orvex::Value;
using orvex::linux_port::FileStore;
using orvex::linux_port::MemoryLog;

struct Fixture {
  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "orvex-bench-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
    store = std::make_unique<FileStore>(dir, "com.example.bench", std::make_shared<MemoryLog>());
    suite = store->suite("io.orvex.metrics");
    for (int i = 0; i < 50; ++i) suite->set("key" + std::to_string(i), Value(i));
  }
  ~Fixture() {
    store.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  std::unique_ptr<FileStore> store;
  std::shared_ptr<orvex::KeyValueStore> suite;
};

void BM_StoreRead(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) benchmark::DoNotOptimize(f.suite->integer("key25"));
}
BENCHMARK(BM_StoreRead);

void BM_StoreUnchangedWrite(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) f.suite->set("key25", Value(25));
}
BENCHMARK(BM_StoreUnchangedWrite);

void BM_StoreChangingWrite(benchmark::State& state) {
  Fixture f;
  std::int64_t i = 0;
  for (auto _ : state) f.suite->set("counter", Value(++i));
  f.store->flush();
}
BENCHMARK(BM_StoreChangingWrite);

void BM_StoreFlushOneChange(benchmark::State& state) {
  Fixture f;
  std::int64_t i = 0;
  for (auto _ : state) {
    f.suite->set("counter", Value(++i));
    f.store->flush();
  }
}
BENCHMARK(BM_StoreFlushOneChange);

}  // namespace
