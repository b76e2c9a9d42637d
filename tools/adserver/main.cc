// orvex-adserver --port N --fixtures DIR --log FILE [--app-key K ...]
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/adserver/ad_server.h"

#ifndef ORVEX_ADSERVER_DEFAULT_FIXTURES
#define ORVEX_ADSERVER_DEFAULT_FIXTURES "fixtures"
#endif

namespace {

int usage() {
  std::cerr << "usage: orvex-adserver [--host H] [--port N] [--fixtures DIR] [--log FILE]"
               " [--app-key K ...]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  adserver::Options options;
  options.fixtures = ORVEX_ADSERVER_DEFAULT_FIXTURES;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    std::string value = argv[++i];
    if (arg == "--port") {
      char* end = nullptr;
      long port = std::strtol(value.c_str(), &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return usage();
      options.port = static_cast<int>(port);
    } else if (arg == "--host") {
      options.host = value;
    } else if (arg == "--fixtures") {
      options.fixtures = value;
    } else if (arg == "--log") {
      options.logFile = value;
    } else if (arg == "--app-key") {
      options.appKeys.push_back(value);
    } else {
      return usage();
    }
  }

  // Blocked before the server's threads exist, so they inherit the mask and only sigwait sees
  // the signals.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  adserver::AdServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::cerr << "orvex-adserver: " << error << "\n";
    return 1;
  }
  std::printf("listening on %s\n", server.baseUrl().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  server.stop();
  return 0;
}
