#include "db/open_store.h"

#include <filesystem>

#include "db/pg/pg_store.h"
#include "db/sqlite_store.h"
#include "db/store_location.h"

namespace kavelo::db {

std::unique_ptr<Store> open_store(const std::string& path, std::chrono::milliseconds wait,
                                  const RegionalSettings& regional) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw failure(ErrorCode::DatabaseFileNotFound, path);
  StoreLocation location;
  try {
    location = locate_store(path);
  } catch (const Failure& refused) {
    // What the file holds does not change from one attempt to the next.
    throw OpenRefused(refused);
  }
  if (location.kind == StoreLocation::Kind::Sqlite) return std::make_unique<SqliteStore>(path, wait, regional);
  return std::make_unique<pg::PgStore>(location.connection_string, regional);
}

}  // namespace kavelo::db
