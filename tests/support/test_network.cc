#include "tests/support/test_network.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>

namespace orvex::testing_support {
namespace {

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  ResolverCounts counts;
  bool released = false;
};

State& state() {
  static State* s = new State();  // lookups may still run on detached threads at exit
  return *s;
}

bool isNumeric(const char* node) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, node, buffer) == 1 || inet_pton(AF_INET6, node, buffer) == 1;
}

int stall() {
  State& s = state();
  std::unique_lock lock(s.mutex);
  ++s.counts.stalledStarted;
  s.changed.notify_all();
  s.changed.wait(lock, [&] { return s.released; });
  ++s.counts.stalledReturned;
  s.changed.notify_all();
  return EAI_NONAME;
}

template <typename Predicate>
bool waitFor(double seconds, Predicate done) {
  State& s = state();
  std::unique_lock lock(s.mutex);
  return s.changed.wait_for(lock, std::chrono::duration<double>(seconds),
                            [&] { return done(s.counts); });
}

}  // namespace

ResolverCounts resolverCounts() {
  std::lock_guard lock(state().mutex);
  return state().counts;
}

void releaseStalledLookups() {
  std::lock_guard lock(state().mutex);
  state().released = true;
  state().changed.notify_all();
}

bool waitForStalledLookups(std::size_t started, double seconds) {
  return waitFor(seconds, [&](const ResolverCounts& c) { return c.stalledStarted >= started; });
}

bool waitForStalledLookupsToReturn(double seconds) {
  return waitFor(seconds,
                 [](const ResolverCounts& c) { return c.stalledReturned == c.stalledStarted; });
}

}  // namespace orvex::testing_support

// Defined in the program, these come before the C library's for every caller, libcurl and its
// resolver threads included.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) {
  using namespace orvex::testing_support;
  using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  const std::string_view name = node ? node : "";
  if (!node || isNumeric(node) || name == "localhost") return real(node, service, hints, res);
  if (name.ends_with(".orvex-test.invalid")) {
    if (name.starts_with("stall.")) return stall();
    return EAI_NONAME;
  }
  std::lock_guard lock(state().mutex);
  ++state().counts.stray;
  return EAI_NONAME;
}

extern "C" int connect(int fd, const struct sockaddr* address, socklen_t length) {
  using Real = int (*)(int, const struct sockaddr*, socklen_t);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
  static const in_addr_t nowhere = inet_addr(orvex::testing_support::kNoNetworkAddress);
  if (address && address->sa_family == AF_INET && length >= sizeof(sockaddr_in) &&
      reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr == nowhere) {
    errno = ENETUNREACH;
    return -1;
  }
  return real(fd, address, length);
}
