#include "db/connection.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/text.h"

namespace kavelo::db {
namespace {
// Names are looked up for every column of every record: ASCII folding inline.
unsigned char fold(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}
}  // namespace

std::size_t CaselessHash::operator()(std::string_view s) const {
  std::size_t h = 14695981039346656037u;
  for (char c : s) h = (h ^ fold(c)) * 1099511628211u;
  return h;
}

bool CaselessEqual::operator()(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

int TableInfo::find(std::string_view column) const {
  auto it = index.find(column);
  return it == index.end() ? -1 : it->second;
}

void TableInfo::add(ColumnInfo column) {
  index.emplace(column.name, static_cast<int>(columns.size()));
  columns.push_back(std::move(column));
}

void Connection::acquire() {
  // Taking the write lock is the test that no other program holds it; it is
  // kept, since whoever opens the database means to write to it. After a
  // loss, the first read or write reports it instead.
  if (!in_transaction_ && !lost_) begin(busy_wait_);
  ++handles_;
}

void Connection::release() {
  if (--handles_ == 0 && in_transaction_ && !dirty_ && !unit_open_) commit();
}

void Connection::begin_write() {
  if (!in_transaction_) begin(kWriteBusyWait);
  dirty_ = true;
}

void Connection::begin_read() {
  if (!in_transaction_ && handles_ > 0) begin(kWriteBusyWait);
}

void Connection::begin(std::chrono::milliseconds wait) {
  // Nothing more is stored after a lost transaction until a commit has
  // reported the loss: the records after it would stand in a file whose
  // report stops before them.
  if (lost_) throw *lost_;
  begin_transaction(wait);
  in_transaction_ = true;
  dirty_ = false;
  locked_.clear();
}

void Connection::lock_for_writing(const std::vector<std::string>& tables) {
  const auto give_up = std::chrono::steady_clock::now() + kWriteBusyWait;
  for (;;) {
    if (!in_transaction_) begin(kWriteBusyWait);
    std::vector<std::string> missing;
    for (const std::string& table : tables)
      if (std::find(locked_.begin(), locked_.end(), table) == locked_.end()) missing.push_back(table);
    if (missing.empty()) return;
    // One order for every run, so that two runs never wait for each other.
    std::sort(missing.begin(), missing.end());
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now());
    try {
      lock_tables(missing, std::max(left, std::chrono::milliseconds(1)));
      locked_.insert(locked_.end(), missing.begin(), missing.end());
      return;
    } catch (const Failure& refused) {
      if (refused.number() != static_cast<int>(ErrorCode::TableInUse) || dirty_ || unit_open_) throw;
      // What this transaction locked would keep the other session waiting
      // too (a deadlock, which the server breaks by refusing one of them):
      // it is given back, and the locks are asked for again while time is left.
      rollback_transaction();
      in_transaction_ = false;
      if (std::chrono::steady_clock::now() >= give_up) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

void Connection::transaction_lost(const Failure& why) {
  for (DeferredWrites* writes : deferred_) writes->discard();
  if (!in_transaction_) return;
  if (dirty_ && !lost_) lost_ = why;
  in_transaction_ = false;
  dirty_ = false;
  unit_open_ = false;
}

void Connection::flush_deferred() {
  try {
    for (DeferredWrites* writes : deferred_) writes->flush();
  } catch (const Failure& why) {
    // The records since the last commit would be stored without what they
    // deferred: none of them is.
    lose(why);
  }
}

void Connection::lose(const Failure& why) {
  if (in_transaction_) {
    try {
      rollback_transaction();
    } catch (const Failure&) {
      // The store's own journal undoes what a failed rollback leaves.
    }
  }
  transaction_lost(why);
}

void Connection::defer(DeferredWrites& writes) {
  if (std::find(deferred_.begin(), deferred_.end(), &writes) == deferred_.end()) deferred_.push_back(&writes);
}

void Connection::withdraw(DeferredWrites& writes) {
  auto it = std::find(deferred_.begin(), deferred_.end(), &writes);
  if (it == deferred_.end()) return;
  if (in_transaction_ && !unit_open_)
    flush_deferred();
  else
    writes.discard();
  std::erase(deferred_, &writes);
}

void Connection::commit() {
  // A check run flushes too: its writes meet the same refusals as a real run's.
  if (in_transaction_ && !unit_open_) flush_deferred();
  if (lost_) {
    Failure why = *std::exchange(lost_, std::nullopt);
    throw why;
  }
  if (!in_transaction_ || unit_open_ || held_) return;
  commit_transaction();
  in_transaction_ = false;
  dirty_ = false;
}

void Connection::roll_back() {
  lost_.reset();
  for (DeferredWrites* writes : deferred_) writes->discard();
  if (!in_transaction_) return;
  unit_open_ = false;
  // A rollback that fails leaves the store's own journal to undo the writes.
  rollback_transaction();
  in_transaction_ = false;
  dirty_ = false;
}

void Connection::begin_unit() {
  begin_write();
  execute("SAVEPOINT record_unit");
  unit_open_ = true;
}

void Connection::end_unit(bool keep) {
  if (!unit_open_) return;
  unit_open_ = false;
  try {
    if (!keep) execute("ROLLBACK TO SAVEPOINT record_unit");
    execute("RELEASE SAVEPOINT record_unit");
  } catch (const Failure&) {
    for (DeferredWrites* writes : deferred_) writes->unit_ended(false);
    throw;
  }
  bool flush = false;
  for (DeferredWrites* writes : deferred_) flush = writes->unit_ended(keep) || flush;
  if (flush) {
    flush_deferred();
    // The record that ended fails with the others lost; the next commit
    // names the first of them.
    if (lost_) throw *lost_;
  }
}

void Connection::require_table(std::string_view name) {
  if (tables_.contains(upper(name))) return;
  if (auto exists = table_exists(name)) {
    if (!*exists) throw failure(ErrorCode::TableNotFound, name);
    return;
  }
  table(name);
}

const TableInfo& Connection::table(std::string_view name) {
  std::string key = upper(name);
  if (auto it = tables_.find(key); it != tables_.end()) return *it->second;
  auto info = load_table(name);
  if (!info || info->columns.empty()) throw failure(ErrorCode::TableNotFound, name);
  std::string select = "SELECT " + row_id_column(dialect_);
  for (const ColumnInfo& column : info->columns) select += ", " + quote_identifier(column.name, dialect_);
  info->rows_from = select + " FROM " + quote_identifier(info->name, dialect_);
  return *tables_.emplace(key, std::move(info)).first->second;
}

}  // namespace kavelo::db
