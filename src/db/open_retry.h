#pragma once
// The open of a database that is retried at once, up to 200 failed attempts,
// because the accounting application may hold the file for a moment.
#include <stdexcept>
#include <string>

#include "db/engine.h"

namespace kavelo::db {

inline constexpr int kOpenAttempts = 200;

// Thrown when a database function gave up opening the database, after its
// message box was closed. It is no Failure: no importer's handler takes it,
// and the run ends with `message` added to the error report.
class OpenGaveUp : public std::runtime_error {
 public:
  explicit OpenGaveUp(std::string message) : std::runtime_error(message), message_(std::move(message)) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// Opens `path`, retrying; nullopt-free: after the last failed attempt it shows
// `message` in a message box and throws OpenGaveUp(message).
Database open_with_retry(const std::string& path, const std::string& message);

// Opens `path`, retrying; returns an unopened Database after the last failed
// attempt so that the caller decides what happens.
Database try_open_with_retry(const std::string& path);

}  // namespace kavelo::db
