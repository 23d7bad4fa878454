#include "interchange/run.h"

#include "db/open_store.h"
#include "platform/failure.h"

namespace kavelo {

db::Store& Run::database(const std::string& message, bool box) {
  // The attempts follow one another at once; each waits a moment for the
  // file's lock. A failed attempt is not reported.
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    try {
      if (!store_ || !store_->usable()) {
        store_.reset();
        store_ = db::open_store(settings.database_path, kOpenWait, regional);
        if (check) store_->hold();
      }
      store_->begin(kOpenWait);
      return *store_;
    } catch (const Failure&) {
    }
  }
  if (box) {
    // Nothing written so far may wait on someone closing the box.
    try {
      commit();
    } catch (const Failure&) {
    }
    window.message_box(message);
  }
  throw OpenGaveUp(message);
}

void Run::commit() {
  if (store_ && store_->usable()) store_->commit();
}

void Run::close_database() {
  if (!store_) return;
  try {
    if (check)
      store_->roll_back();
    else
      commit();
  } catch (const Failure& failed) {
    add_closing_message(failed.description());
  }
  store_.reset();
}

void Run::add_closing_message(std::string_view message) {
  if (!error_text.empty() && !error_text.ends_with("\r\n")) error_text += "\r\n";
  error_text += message;
}

}  // namespace kavelo
