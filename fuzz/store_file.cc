// A suite's file as the store finds it on disk, loaded through FileStore itself. With the first
// byte odd the rest gets a valid header (length and checksum), so the body's decoding is
// reached; with it even the bytes are the whole file. Whatever loads must come back unchanged
// after one more write and a reopening, and nothing may be set aside then.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/crypto.h"
#include "ports/linux/file_store.h"
#include "ports/linux/memory_log.h"

namespace {

using namespace orvex;

// Value equality with doubles compared by their bits (NaN included).
bool same(const Value& a, const Value& b) {
  if (a.type() != b.type()) return false;
  if (auto* x = a.asReal()) return std::memcmp(x, b.asReal(), sizeof(double)) == 0;
  if (auto* x = a.asArray()) {
    const auto& y = *b.asArray();
    if (x->size() != y.size()) return false;
    for (std::size_t i = 0; i < x->size(); ++i)
      if (!same((*x)[i], y[i])) return false;
    return true;
  }
  if (auto* x = a.asDict()) {
    const auto& y = *b.asDict();
    if (x->size() != y.size()) return false;
    for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j)
      if (i->first != j->first || !same(i->second, j->second)) return false;
    return true;
  }
  return a == b;
}

ValueDict contents(KeyValueStore& suite) {
  ValueDict out;
  for (const auto& key : suite.keys()) out.emplace(key, *suite.value(key));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing_support::TempDir dir;
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string file = body;
  if (data[0] % 2) {
    char header[64];
    std::snprintf(header, sizeof header, "ORVEXKV 1 %zu %08x\n", body.size(),
                  static_cast<unsigned>(crc32(body)));
    file = header + body;
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path(), ec))
    std::filesystem::remove_all(entry.path(), ec);
  auto log = std::make_shared<linux_port::MemoryLog>();
  const auto zero = std::chrono::milliseconds(0);
  ValueDict loaded;
  {
    linux_port::FileStore store(dir.path(), "standard", log, zero);
    std::ofstream(store.fileFor("suite"), std::ios::binary) << file;
    auto suite = store.openSuite("suite");
    loaded = contents(*suite);
    suite->set("written.after", Value(true));
  }
  loaded.insert_or_assign("written.after", Value(true));
  const std::size_t linesAfterLoad = log->lines().size();
  linux_port::FileStore store(dir.path(), "standard", log, zero);
  const ValueDict reread = contents(*store.openSuite("suite"));
  fuzzing::require(same(Value(reread), Value(loaded)), "what loaded reads back after a write");
  fuzzing::require(log->lines().size() == linesAfterLoad, "a file the store wrote loads cleanly");
  return 0;
}
