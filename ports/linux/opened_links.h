#pragma once
// What a screen opened for the SDK (landing pages, store products), in order: hosts, the demo
// and tests listen to it. Keeps the newest kRecordCapacity. Main thread only.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/export.h"
#include "ports/linux/bounded_record.h"

namespace orvex::linux_port {

struct OpenedLink {
  enum class Kind { external, inAppBrowser, storeProduct } kind;
  std::string target;  // the URL, or the store product's identifier
};

// "external handler", "in-app browser" or "store sheet".
inline const char* describe(OpenedLink::Kind kind) {
  switch (kind) {
    case OpenedLink::Kind::external:
      return "external handler";
    case OpenedLink::Kind::inAppBrowser:
      return "in-app browser";
    case OpenedLink::Kind::storeProduct:
      return "store sheet";
  }
  return "";
}

class ORVEX_API OpenedLinks {
 public:
  void record(OpenedLink link) {
    const OpenedLink& recorded = links_.add(std::move(link));
    if (observer_) observer_(recorded);
  }
  const std::vector<OpenedLink>& all() const { return links_.all(); }
  void setObserver(std::function<void(const OpenedLink&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  BoundedRecord<OpenedLink> links_;
  std::function<void(const OpenedLink&)> observer_;
};

}  // namespace orvex::linux_port
