#pragma once
// The per-object console logger: "Orvex::" + class name + " " + message, silent in production.

#include <mutex>
#include <string>
#include <string_view>

namespace orvex {

class SimpleLogger {
 public:
  explicit SimpleLogger(std::string className) : className_(std::move(className)) {}
  SimpleLogger(const SimpleLogger&) = delete;
  SimpleLogger& operator=(const SimpleLogger&) = delete;

  void log(std::string_view message);
  const std::string& className() const { return className_; }
  std::string lastMessage() const;

  // Writes "Orvex::" + className + " " + message even in production mode (the invalid-key
  // warnings must always reach the log).
  static void logAlways(std::string_view className, std::string_view message);

 private:
  const std::string className_;
  mutable std::mutex mutex_;  // loggers are shared by work on several queues
  std::string lastMessage_;
};

}  // namespace orvex
