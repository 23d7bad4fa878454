#include "interchange/run.h"

#include <algorithm>
#include <thread>

#include "db/open_store.h"
#include "platform/failure.h"

namespace kavelo {

db::Store& Run::database(const std::string& message, bool box) {
  using Clock = std::chrono::steady_clock;
  const auto give_up = Clock::now() + kServerWait;
  auto pause = kFirstServerPause;
  // Why the attempts ended, when a person can act on it; a file's lock that
  // stays taken is told by `message` alone.
  std::string reason;
  for (int attempt = 1;; ++attempt) {
    try {
      if (!store_ || !store_->usable()) {
        store_.reset();
        store_ = db::open_store(settings.database_path, kOpenWait, regional);
        if (check) store_->hold();
      }
      store_->begin(kOpenWait);
      return *store_;
    } catch (const db::OpenRefused& refused) {
      reason = refused.description();
      break;
    } catch (const db::ServerNotReady& not_ready) {
      reason = not_ready.description();
      const auto now = Clock::now();
      if (now >= give_up) break;
      window.set_label(Label::progress, "Esperando al servidor de base de datos " + not_ready.server() + "...");
      window.repaint();
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, give_up - now));
      pause = std::min(pause * 2, kLongestServerPause);
    } catch (const Failure&) {
      // The attempts follow one another at once; each waits a moment for the
      // file's lock. A failed attempt is not reported.
      if (attempt >= kOpenAttempts) break;
    }
  }
  const std::string text = reason.empty() ? message : message + ": " + reason;
  if (box) {
    // Nothing written so far may wait on someone closing the box.
    try {
      commit();
    } catch (const Failure&) {
    }
    window.message_box(text);
  }
  throw OpenGaveUp(text);
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
