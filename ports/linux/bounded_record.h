#pragma once
// What the ports record for hosts and tests (log lines, opened links, haptic feedback, alerts
// shown) keeps only its newest entries, so a host that runs for weeks does not grow with it.

#include <cstddef>
#include <utility>
#include <vector>

namespace orvex::linux_port {

// Every record the ports keep holds at most this many entries, the oldest dropped first.
inline constexpr std::size_t kRecordCapacity = 1000;

template <typename T>
class BoundedRecord {
 public:
  explicit BoundedRecord(std::size_t capacity = kRecordCapacity) : capacity_(capacity) {}
  // Returns the entry as stored.
  const T& add(T entry) {
    if (entries_.size() >= capacity_ && !entries_.empty()) entries_.erase(entries_.begin());
    entries_.push_back(std::move(entry));
    return entries_.back();
  }
  // Oldest first.
  const std::vector<T>& all() const { return entries_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  std::vector<T> entries_;
};

}  // namespace orvex::linux_port
