#include "ports/linux/device.h"

#include <dlfcn.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <system_error>

#include "orvex/core/text.h"

namespace orvex::linux_port {
namespace {

namespace fs = std::filesystem;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// Where this code was loaded from: the shared library, or the executable it is linked into.
fs::path loadedFrom() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&loadedFrom), &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  fs::path path = fs::canonical(info.dli_fname, ec);
  return ec ? fs::path() : path;
}

std::optional<fs::path> findSdkResources() {
  std::error_code ec;
  auto usable = [&](const fs::path& dir) { return !dir.empty() && fs::is_directory(dir, ec); };
  // An install keeps its layout wherever its prefix is: from the library directory or from the
  // program directory (a statically linked application in bin/) to the data directory.
  if (const fs::path code = loadedFrom(); !code.empty()) {
    for (const char* relative : {ORVEX_RESOURCES_FROM_LIBDIR, ORVEX_RESOURCES_FROM_BINDIR}) {
      const fs::path dir = (code.parent_path() / relative).lexically_normal();
      if (usable(dir)) return dir;
    }
  }
  if (usable(ORVEX_BUILD_RESOURCE_DIR)) return fs::path(ORVEX_BUILD_RESOURCE_DIR);
  std::string dataDirs = env("XDG_DATA_DIRS");
  if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= dataDirs.size();) {
    const std::size_t end = std::min(dataDirs.find(':', start), dataDirs.size());
    const fs::path base = dataDirs.substr(start, end - start);
    if (base.is_absolute() && usable(base / "orvex")) return base / "orvex";
    start = end + 1;
  }
  return std::nullopt;
}

bool plausibleZoneName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return name.front() != '/' && name.find("..") == std::string::npos;
}

std::string machineTimeZone() {
  std::string tz = env("TZ");
  if (!tz.empty() && tz.front() == ':') tz.erase(0, 1);
  const std::string zoneinfo = "/usr/share/zoneinfo/";
  if (tz.rfind(zoneinfo, 0) == 0) tz.erase(0, zoneinfo.size());
  if (plausibleZoneName(tz)) return tz;
  std::ifstream etc("/etc/timezone");
  std::string line;
  if (etc && std::getline(etc, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    if (plausibleZoneName(line)) return line;
  }
  std::error_code ec;
  const auto target = fs::read_symlink("/etc/localtime", ec).string();
  const auto pos = target.find("zoneinfo/");
  if (!ec && pos != std::string::npos) {
    auto name = target.substr(pos + 9);
    if (plausibleZoneName(name)) return name;
  }
  return "UTC";
}

}  // namespace

std::string languageTagFromLocale(std::string_view locale) {
  std::string_view s = locale;
  s = s.substr(0, s.find_first_of(".@"));
  if (s.empty()) return {};
  if (s == "C" || s == "POSIX") return "en-US";
  std::string tag;
  for (char c : s) {
    if (c == '_') c = '-';
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok) return {};
    tag.push_back(c);
  }
  return tag;
}

DeviceOptions DeviceOptions::fromMachine() {
  DeviceOptions o;
  struct utsname u {};
  if (uname(&u) == 0) {
    o.systemVersion = u.release;
    o.model = std::string("Linux ") + u.machine;
  } else {
    o.model = "Linux";
  }
  std::vector<std::string> languages;
  auto add = [&](std::string_view locale) {
    auto tag = languageTagFromLocale(locale);
    if (tag.empty()) return;
    for (const auto& l : languages) {
      if (l == tag) return;
    }
    languages.push_back(tag);
  };
  // gettext order: LANGUAGE (a list) first, then the first of LC_ALL, LC_MESSAGES, LANG.
  for (const auto& l : splitNonEmpty(env("LANGUAGE"), ':')) add(l);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const auto v = env(name);
    if (!v.empty()) {
      add(v);
      break;
    }
  }
  if (languages.empty()) languages.push_back("en-US");
  o.preferredLanguages = languages;
  o.timeZoneIdentifier = machineTimeZone();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  o.timeZoneOffsetSeconds = localtime_r(&now, &local) ? static_cast<int>(local.tm_gmtoff) : 0;
  return o;
}

#define ORVEX_DEVICE_GETTER(type, name, field) \
  type LinuxDevice::name() const {             \
    std::lock_guard lock(mutex_);              \
    return options_.field;                     \
  }
ORVEX_DEVICE_GETTER(std::string, systemVersion, systemVersion)
ORVEX_DEVICE_GETTER(std::string, model, model)
ORVEX_DEVICE_GETTER(ScreenSize, screenSize, screen)
ORVEX_DEVICE_GETTER(InterfaceStyle, interfaceStyle, interfaceStyle)
ORVEX_DEVICE_GETTER(std::vector<std::string>, preferredLanguages, preferredLanguages)
ORVEX_DEVICE_GETTER(std::string, timeZoneIdentifier, timeZoneIdentifier)
ORVEX_DEVICE_GETTER(int, timeZoneOffsetSeconds, timeZoneOffsetSeconds)
ORVEX_DEVICE_GETTER(TrackingAuthorization, trackingAuthorization, tracking)
ORVEX_DEVICE_GETTER(bool, isAdvertisingTrackingEnabled, advertisingTrackingEnabled)
ORVEX_DEVICE_GETTER(std::optional<std::string>, advertisingIdentifier, advertisingIdentifier)
ORVEX_DEVICE_GETTER(std::optional<std::string>, webViewUserAgent, webViewUserAgent)
#undef ORVEX_DEVICE_GETTER

void LinuxDevice::update(const std::function<void(DeviceOptions&)>& change) {
  std::lock_guard lock(mutex_);
  change(options_);
}

DeviceOptions LinuxDevice::options() const {
  std::lock_guard lock(mutex_);
  return options_;
}

// ---- LinuxBundle ----------------------------------------------------------------------------

LinuxBundle::LinuxBundle(BundleOptions options) : options_(std::move(options)) {
  if (!options_.sdkResourceDirectory) options_.sdkResourceDirectory = findSdkResources();
}

std::optional<std::string> LinuxBundle::bundleIdentifier() const {
  return options_.bundleIdentifier;
}

std::optional<Value> LinuxBundle::infoValue(std::string_view key) const {
  auto it = options_.info.find(key);
  if (it == options_.info.end()) return std::nullopt;
  return it->second;
}

std::optional<fs::path> LinuxBundle::resourceDirectory() const {
  return options_.resourceDirectory;
}

std::optional<fs::path> LinuxBundle::sdkResourceDirectory() const {
  return options_.sdkResourceDirectory;
}

}  // namespace orvex::linux_port
