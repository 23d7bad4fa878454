#pragma once
// What an SqliteStore keeps of each table it has read: filled by reading the
// table's description (sqlite_table.cpp), used by the reads and writes
// (sqlite_store.cpp).
#include <string>
#include <unordered_map>
#include <vector>

#include "db/sqlite_store.h"

namespace kavelo::db {

struct SqliteStore::TableState {
  std::string name;                  // quoted
  std::vector<std::string> columns;  // quoted
  bool rowid = true;                 // rows have SQLite's rowid
  // Columns that a unique index of their own keeps apart, compared by the
  // column's own collation, in a table without triggers: a row with a new
  // value of one of them can be offered to the table (INSERT OR IGNORE)
  // before it is looked up, at one statement instead of two.
  std::vector<int> offered;
  // A row is offered only while the rows stored are new: a file of new keys
  // is offered row after row, one of known keys is looked up.
  bool last_added = true;
  std::unordered_map<std::string, Statement*> statements;
  // The last shape written and its statement: a record mostly writes the
  // same columns as the one before it.
  std::string last_shape;
  Statement* last_statement = nullptr;
};

}  // namespace kavelo::db
