#include "db/engine.h"

#include <filesystem>
#include <thread>
#include <utility>

#include "db/connection.h"
#include "db/jet_sql.h"
#include "db/recordset_impl.h"
#include "db/sqlite_connection.h"
#include "db/store_location.h"
#include "platform/failure.h"

namespace kavelo::db {

Database::Database(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

Database::~Database() { close(); }

void Database::close() {
  if (connection_) std::exchange(connection_, nullptr)->release();
}

Recordset Database::open_recordset(std::string_view jet_sql, RecordsetType) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  return Recordset(std::make_unique<RecordsetImpl>(connection_, std::string(jet_sql),
                                                   translate_select(jet_sql, connection_->dialect())));
}

void Database::check_recordset(std::string_view jet_sql) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  TranslatedSelect select = translate_select(jet_sql, connection_->dialect());
  if (select.table) connection_->require_table(*select.table);
}

const std::vector<ColumnInfo>& Database::columns(std::string_view table) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  return connection_->table(table).columns;
}

bool Database::refuses_changes(std::string_view table) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  return connection_->table(table).refuses_changes;
}

void Database::lock_for_writing(const std::vector<std::string>& tables) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  connection_->lock_for_writing(tables);
}

void Database::defer(DeferredWrites& writes) {
  if (!connection_) throw failure(ErrorCode::InvalidOperation);
  connection_->defer(writes);
}

void Database::withdraw(DeferredWrites& writes) {
  if (connection_) connection_->withdraw(writes);
}

RecordUnit::RecordUnit(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {
  connection_->begin_unit();
}

RecordUnit::RecordUnit(RecordUnit&& other) noexcept : connection_(std::move(other.connection_)) {}

RecordUnit::~RecordUnit() {
  if (!connection_) return;
  try {
    connection_->end_unit(false);
  } catch (const Failure&) {
    // Undoing failed only when the database itself fails; the transaction
    // then ends unfinished and the record with it.
  }
}

void RecordUnit::commit() {
  if (connection_) std::exchange(connection_, nullptr)->end_unit(true);
}

Engine& Engine::instance() {
  static Engine engine;
  return engine;
}

std::shared_ptr<Connection> Engine::connection_for(const std::string& path) {
  // A path seen before names its connection without asking the file system.
  if (auto it = by_path_.find(path); it != by_path_.end() && it->second->usable()) return it->second;
  // A connection the server dropped is replaced; what it held uncommitted was
  // reported lost when it failed.
  std::erase_if(connections_, [](const auto& connection) { return !connection->usable(); });
  std::erase_if(by_path_, [](const auto& entry) { return !entry.second->usable(); });
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw failure(ErrorCode::DatabaseFileNotFound, path);
  std::string key = std::filesystem::canonical(path, ec).string();
  if (ec) throw failure(ErrorCode::DatabaseFileNotFound, path);
  for (const auto& connection : connections_) {
    if (connection->key() == key) return by_path_[path] = connection;
  }
  std::shared_ptr<Connection> connection;
  StoreLocation location = locate_store(path);
  if (location.kind == StoreLocation::Kind::Sqlite) {
    connection = std::make_shared<SqliteConnection>(path, key, busy_wait_);
  } else {
    if (!server_opener_)
      throw failure(ErrorCode::EngineFailure, "este programa no puede abrir bases de datos de servidor (ODBC)");
    connection = server_opener_(path, key, location.connection_string, busy_wait_);
  }
  if (check_run_) connection->hold_writes();
  connections_.push_back(connection);
  return by_path_[path] = connection;
}

Database Engine::open_database(const std::string& path) {
  auto connection = connection_for(path);
  connection->acquire();
  return Database(std::move(connection));
}

RecordUnit Engine::begin_record(const std::string& path) { return RecordUnit(connection_for(path)); }

bool Engine::record_boundary() {
  ++records_since_commit_;
  // A check run holds its one transaction to the end: there is nothing to
  // commit and the lock stays taken.
  if (check_run_) return false;
  if (records_since_commit_ < policy_.records && std::chrono::steady_clock::now() - last_commit_ < policy_.interval)
    return false;
  commit();
  // The write lock is free for a moment, so that another program waiting to
  // write (the accounting application) gets its turn during a long run.
  std::this_thread::sleep_for(policy_.pause);
  return true;
}

void Engine::commit() {
  for (const auto& connection : connections_) connection->commit();
  records_since_commit_ = 0;
  last_commit_ = std::chrono::steady_clock::now();
}

void Engine::shutdown() {
  if (check_run_) {
    // Every connection is closed even when one of them fails to roll back.
    std::vector<std::shared_ptr<Connection>> connections = std::move(connections_);
    by_path_.clear();
    connections_.clear();
    for (const auto& connection : connections) connection->roll_back();
    return;
  }
  commit();
  by_path_.clear();
  connections_.clear();
}

}  // namespace kavelo::db
