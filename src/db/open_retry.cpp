#include "db/open_retry.h"

#include "platform/failure.h"
#include "platform/window.h"

namespace kavelo::db {

Database try_open_with_retry(const std::string& path) {
  // The attempts follow one another at once; each waits the engine's short
  // busy time when the file is locked. A failed attempt is not reported.
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    try {
      return Engine::instance().open_database(path);
    } catch (const Failure&) {
    }
  }
  return Database();
}

Database open_with_retry(const std::string& path, const std::string& message) {
  Database database = try_open_with_retry(path);
  if (database.is_open()) return database;
  // Nothing written so far may wait on someone closing the box.
  Engine::instance().commit();
  main_window().message_box(message);
  throw OpenGaveUp(message);
}

}  // namespace kavelo::db
