// Writes generation after generation to a FileStore until killed. Every generation sets all keys
// in one update, so a reader must find every key from one generation. After each flush it prints
// "durable N" on stdout: a store reopened after a crash must hold at least generation N. It
// prints "ready N" once the store is open, N being the generation it found.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ports/linux/file_store.h"
#include "ports/linux/memory_log.h"

using orvex::Bytes;
using orvex::Value;
using orvex::ValueArray;
using orvex::ValueDict;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: store_crash_writer DIRECTORY\n");
    return 2;
  }
  auto log = std::make_shared<orvex::linux_port::MemoryLog>(true);
  orvex::linux_port::FileStore store(argv[1], "com.example.crash", log,
                                     std::chrono::milliseconds(0));
  auto suite = store.openSuite("io.orvex.metrics");
  std::int64_t generation = suite->integer("generation");
  std::printf("ready %lld\n", static_cast<long long>(generation));
  std::fflush(stdout);
  for (;;) {
    ++generation;
    const std::string tag = "gen-" + std::to_string(generation);
    // A few hundred bytes per key so that writes take long enough to be interrupted.
    Bytes payload(512, static_cast<std::uint8_t>(generation & 0xff));
    suite->update({{"generation", Value(generation)},
                   {"label", Value(tag)},
                   {"payload", Value(payload)},
                   {"history", Value(ValueArray{Value(generation), Value(tag),
                                                Value(static_cast<double>(generation) / 4)})},
                   {"nested", Value(ValueDict{{"g", Value(generation)}})}});
    if (generation % 8 == 0) {
      store.flush();
      std::printf("durable %lld\n", static_cast<long long>(generation));
      std::fflush(stdout);
    }
  }
}
