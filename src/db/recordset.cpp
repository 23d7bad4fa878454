#include "db/recordset_impl.h"

#include <strings.h>

#include <algorithm>
#include <numeric>

#include <fmt/format.h>

#include "db/engine.h"
#include "platform/failure.h"

namespace kavelo::db {

RecordsetImpl::RecordsetImpl(std::shared_ptr<Connection> connection, std::string jet_sql, TranslatedSelect select)
    : connection_(std::move(connection)), jet_sql_(std::move(jet_sql)), row_id_(row_id_column(connection_->dialect())) {
  if (select.table) {
    table_ = &connection_->table(*select.table);
    where_ = std::move(select.where);
    order_by_ = std::move(select.order_by);
    load_keys();  // also positions the set on its first row
  } else {
    read_query(select.query);
  }
}

void RecordsetImpl::require_table() const {
  if (!on_table()) throw failure(ErrorCode::ReadOnly);
}

std::string RecordsetImpl::where_with(std::string_view extra) const {
  std::string sql;
  if (!where_.sql.empty()) sql = " WHERE (" + where_.sql + ")";
  if (!extra.empty()) sql += (sql.empty() ? " WHERE " : " AND ") + std::string(extra);
  return sql;
}

std::string RecordsetImpl::order() const {
  return " ORDER BY " + (order_by_.empty() ? row_id_ : order_by_ + ", " + row_id_);
}

void RecordsetImpl::read_row(Cursor& cursor, std::vector<Value>& row) const {
  row.resize(table_->columns.size());
  for (std::size_t i = 0; i < row.size(); ++i) cursor.read_into(static_cast<int>(i + 1), table_->columns[i].kind, row[i]);
}

Cursor& RecordsetImpl::reading(const std::string& sql, Cursor** kept) {
  connection_->begin_read();
  return prepared(sql, kept);
}

Cursor& RecordsetImpl::prepared(const std::string& sql, Cursor** kept) {
  if (!kept) return connection_->prepare(sql, jet_sql_);
  if (*kept) {
    (*kept)->renew(jet_sql_);
    return **kept;
  }
  return *(*kept = &connection_->prepare(sql, jet_sql_));
}

bool RecordsetImpl::fetch(const std::string& sql, const std::vector<Value>& params, std::optional<RowId> rowid) {
  return fetch(reading(sql), params, rowid);
}

bool RecordsetImpl::fetch(Cursor& cursor, const std::vector<Value>& params, std::optional<RowId> rowid) {
  CursorScope scope(cursor);
  cursor.bind_all(params);
  if (rowid) cursor.bind_row_id(static_cast<int>(params.size() + 1), *rowid);
  if (!cursor.step()) return false;
  rowid_ = cursor.read_row_id(0);
  read_row(cursor, current_);
  eof_ = false;
  return true;
}

void RecordsetImpl::load_keys() {
  // An ordered set needs all its rowids to walk in its order; a set in rowid
  // order is kept only when it is small, and is otherwise read a row at a time.
  bool ordered = !order_by_.empty();
  // Without an order of its own the set is read as SQLite finds it best (an
  // ORDER BY rowid would make it walk the table) and put in rowid order here.
  std::string sql = rows_from() + where_with({}) + (ordered ? order() : fmt::format(" LIMIT {}", kCachedRows + 1));
  Cursor& cursor = reading(sql);
  CursorScope scope(cursor);
  cursor.bind_all(where_.params);
  keys_.emplace();
  cached_rows_.clear();
  while (cursor.step()) {
    keys_->push_back(cursor.read_row_id(0));
    // The rows of a small set are kept, so that walking it and finding in it
    // ask nothing more.
    if (keys_->size() > kCachedRows) {
      cached_rows_.clear();
      if (!ordered) break;
      continue;
    }
    read_row(cursor, cached_rows_.emplace_back());
  }
  if (!ordered && keys_->size() > kCachedRows) {
    keys_.reset();
    pending_first_ = true;
    return settle();
  }
  if (!ordered) sort_by_rowid();
  move_to_key_position(0);
}

void RecordsetImpl::sort_by_rowid() {
  std::vector<std::size_t> order(keys_->size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return (*keys_)[a] < (*keys_)[b]; });
  std::vector<RowId> keys;
  std::vector<std::vector<Value>> rows;
  for (std::size_t i : order) {
    keys.push_back((*keys_)[i]);
    rows.push_back(std::move(cached_rows_[i]));
  }
  *keys_ = std::move(keys);
  cached_rows_ = std::move(rows);
}

bool RecordsetImpl::complete() const { return keys_ && cached_rows_.size() == keys_->size(); }

std::optional<bool> RecordsetImpl::matches_in_memory(const std::vector<Equality>& terms, std::size_t row) const {
  for (const Equality& term : terms) {
    int at = table_->find(term.column);
    if (at < 0) return std::nullopt;  // SQL names the missing column
    auto equal = same_value(table_->columns[static_cast<std::size_t>(at)],
                            cached_rows_[row][static_cast<std::size_t>(at)], term.value);
    if (!equal) return std::nullopt;
    if (!*equal) return false;
  }
  return true;
}

void RecordsetImpl::move_to_key_position(std::size_t position) {
  key_position_ = position;
  eof_ = true;
  if (key_position_ < cached_rows_.size()) {
    rowid_ = (*keys_)[key_position_];
    current_ = cached_rows_[key_position_];
    eof_ = false;
  }
  while (eof_ && key_position_ < keys_->size()) {
    // A row deleted by someone else since the set opened is passed over.
    if (fetch(rows_from() + " WHERE " + row_id_ + " = ?", {}, (*keys_)[key_position_])) break;
    ++key_position_;
  }
  if (!eof_) visited_ = std::max<std::int64_t>(visited_, static_cast<std::int64_t>(key_position_) + 1);
}

void RecordsetImpl::settle() {
  if (!pending_first_) return;
  pending_first_ = false;
  eof_ = !fetch(rows_from() + where_with({}) + order() + " LIMIT 1", where_.params);
  if (!eof_) visited_ = std::max<std::int64_t>(visited_, 1);
}

void RecordsetImpl::read_query(const TranslatedSql& query) {
  Cursor& cursor = reading(query.sql);
  CursorScope scope(cursor);
  cursor.bind_all(query.params);
  bool more = cursor.step();
  int columns = cursor.column_count();
  std::vector<ColumnKind> kinds;
  for (int i = 0; i < columns; ++i) {
    names_.push_back(cursor.column_name(i));
    kinds.push_back(cursor.column_kind(i));
  }
  for (; more; more = cursor.step()) {
    std::vector<Value> row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) row.push_back(cursor.read(i, kinds[static_cast<std::size_t>(i)]));
    rows_.push_back(std::move(row));
  }
  counted_ = true;
  row_position_ = 0;
  eof_ = rows_.empty();
  if (!eof_) current_ = rows_.front();
}

void RecordsetImpl::cancel_edit() {
  mode_ = Mode::Browse;
  offering_ = false;
  buffer_.clear();
}

void RecordsetImpl::move_first() {
  cancel_edit();
  if (!on_table()) {
    row_position_ = 0;
    eof_ = rows_.empty();
    if (!eof_) current_ = rows_[0];
    return;
  }
  if (keys_) return move_to_key_position(0);
  pending_first_ = true;
  settle();
}

void RecordsetImpl::move_next() {
  cancel_edit();
  settle();
  if (eof_) throw failure(ErrorCode::NoCurrentRecord);
  if (!on_table()) {
    eof_ = ++row_position_ >= rows_.size();
    if (!eof_) current_ = rows_[row_position_];
    return;
  }
  if (keys_) return move_to_key_position(key_position_ + 1);
  eof_ = !fetch(rows_from() + where_with(row_id_ + " > ?") + order() + " LIMIT 1", where_.params, rowid_);
  if (!eof_) ++visited_;
}

void RecordsetImpl::move_last() {
  cancel_edit();
  pending_first_ = false;
  if (!on_table()) {
    eof_ = rows_.empty();
    if (!eof_) current_ = rows_[row_position_ = rows_.size() - 1];
    return;
  }
  if (keys_) {
    if (!keys_->empty()) move_to_key_position(keys_->size() - 1);
  } else {
    eof_ = !fetch(rows_from() + where_with({}) + " ORDER BY " + row_id_ + " DESC LIMIT 1", where_.params);
  }
  counted_ = true;
}

std::int64_t RecordsetImpl::record_count() {
  settle();
  if (!on_table()) return static_cast<std::int64_t>(rows_.size());
  if (keys_) return counted_ ? static_cast<std::int64_t>(keys_->size()) : visited_;
  if (!counted_) return visited_;
  Cursor& cursor = reading(
      "SELECT count(*) FROM " + quote_identifier(table_->name, connection_->dialect()) + where_with({}));
  CursorScope scope(cursor);
  cursor.bind_all(where_.params);
  if (!cursor.step()) throw failure(ErrorCode::EngineFailure, "count(*)");
  return cursor.read_row_id(0);
}

int RecordsetImpl::field_count() const {
  return static_cast<int>(on_table() ? table_->columns.size() : names_.size());
}

const std::string& RecordsetImpl::field_name(int index) const {
  if (index < 0 || index >= field_count()) throw failure(ErrorCode::ItemNotFound, std::to_string(index));
  auto i = static_cast<std::size_t>(index);
  return on_table() ? table_->columns[i].name : names_[i];
}

int RecordsetImpl::index_of(std::string_view name) const {
  if (on_table()) {
    // Callers mostly name the columns in the table's order: try the column
    // after the last one found before hashing the name.
    if (next_column_ < table_->columns.size() && CaselessEqual{}(table_->columns[next_column_].name, name))
      return static_cast<int>(next_column_++);
    int at = table_->find(name);
    if (at < 0) throw failure(ErrorCode::ItemNotFound, name);
    next_column_ = static_cast<std::size_t>(at) + 1;
    return at;
  }
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i].size() == name.size() && strncasecmp(names_[i].data(), name.data(), name.size()) == 0)
      return static_cast<int>(i);
  throw failure(ErrorCode::ItemNotFound, name);
}

Value RecordsetImpl::get(int index) {
  settle();
  if (index < 0 || index >= field_count()) throw failure(ErrorCode::ItemNotFound, std::to_string(index));
  auto i = static_cast<std::size_t>(index);
  if (offering_ && !buffer_[i]) decide();
  if (mode_ != Mode::Browse && buffer_[i]) return *buffer_[i];
  if (mode_ == Mode::Adding) return table_->columns[i].default_value;
  if (eof_) throw failure(ErrorCode::NoCurrentRecord);
  return current_[i];
}

void RecordsetImpl::find_first(std::string_view criteria) {
  if (!on_table()) throw failure(ErrorCode::InvalidOperation);
  cancel_edit();
  if (complete()) {
    if (auto terms = equalities_of(criteria); terms && found_in_memory(*terms)) return;
  }
  find_with_sql(translate_condition(criteria, connection_->dialect()));
}

void RecordsetImpl::find_first(const std::vector<Equality>& terms) {
  if (!on_table()) throw failure(ErrorCode::InvalidOperation);
  cancel_edit();
  if (complete() && found_in_memory(terms)) return;
  find_with_sql(condition_of(terms, connection_->dialect()));
}

bool RecordsetImpl::found_in_memory(const std::vector<Equality>& terms) {
  std::optional<std::size_t> found;
  for (std::size_t row = 0; row < cached_rows_.size() && !found; ++row) {
    auto match = matches_in_memory(terms, row);
    if (!match) return false;
    if (*match) found = row;
  }
  no_match_ = !found;
  if (found) move_to_key_position(*found);
  return true;
}

void RecordsetImpl::find_with_sql(const TranslatedSql& condition) {
  const std::vector<Value>* params = &condition.params;
  std::vector<Value> joined;
  if (!where_.params.empty()) {
    joined = where_.params;
    joined.insert(joined.end(), condition.params.begin(), condition.params.end());
    params = &joined;
  }
  // A fetch that finds nothing leaves the set's current row where it was.
  const std::string& sql = find_sql(condition.sql);
  no_match_ = !fetch(reading(sql, &find_cursor_), *params);
  if (no_match_) return;
  pending_first_ = false;
  if (keys_) {
    auto it = std::find(keys_->begin(), keys_->end(), rowid_);
    key_position_ = static_cast<std::size_t>(it - keys_->begin());
  }
}

const std::string& RecordsetImpl::find_sql(const std::string& condition) {
  if (find_sql_.empty() || condition != find_condition_) {
    find_sql_ = rows_from() + where_with("(" + condition + ")") + order() + " LIMIT 1";
    find_condition_ = condition;
    find_cursor_ = nullptr;
  }
  return find_sql_;
}

void RecordsetImpl::add_new() {
  require_table();
  mode_ = Mode::Adding;
  buffer_.assign(table_->columns.size(), std::nullopt);
}

void RecordsetImpl::edit() {
  require_table();
  settle();
  if (eof_) throw failure(ErrorCode::NoCurrentRecord);
  mode_ = Mode::Editing;
  buffer_.assign(table_->columns.size(), std::nullopt);
}

void RecordsetImpl::add_or_edit(const std::vector<Equality>& terms) {
  if (!on_table()) throw failure(ErrorCode::InvalidOperation);
  int at = terms.size() == 1 ? table_->find(terms.front().column) : -1;
  // A small set kept whole finds in memory, at no cost; a set with a
  // condition of its own must not add a row that the table holds outside it.
  if (at >= 0 && last_stored_new_ && where_.sql.empty() && !complete() &&
      std::find(table_->unique_columns.begin(), table_->unique_columns.end(), at) != table_->unique_columns.end()) {
    cancel_edit();
    add_new();
    offering_ = true;
    offered_terms_ = terms;
    offered_column_ = static_cast<std::size_t>(at);
    return;
  }
  find_for_writing(terms);
}

void RecordsetImpl::find_for_writing(const std::vector<Equality>& terms) {
  find_first(terms);
  if (no_match_)
    add_new();
  else
    edit();
}

void RecordsetImpl::decide() {
  std::vector<std::optional<Value>> written = std::move(buffer_);
  find_for_writing(offered_terms_);
  buffer_ = std::move(written);
}

bool RecordsetImpl::offers_its_key() const {
  const std::optional<Value>& key = buffer_[offered_column_];
  return key && same_value(table_->columns[offered_column_], *key, offered_terms_.front().value) == true;
}

void RecordsetImpl::set(int index, const Value& value) {
  require_table();
  if (mode_ == Mode::Browse) throw failure(ErrorCode::UpdateWithoutEdit);
  auto i = static_cast<std::size_t>(index);
  buffer_[i] = convert_for_column(table_->columns[i], value);
}

void RecordsetImpl::set(int index, Value&& value) {
  require_table();
  if (mode_ == Mode::Browse) throw failure(ErrorCode::UpdateWithoutEdit);
  auto i = static_cast<std::size_t>(index);
  buffer_[i] = convert_for_column(table_->columns[i], std::move(value));
}

RecordsetImpl::StoreStatement& RecordsetImpl::store_statement() {
  // The columns set, as a key: the same shape of row reuses its statement.
  shape_.assign(1, offering_ ? 'O' : mode_ == Mode::Adding ? 'A' : 'E');
  for (const auto& value : buffer_) shape_ += value ? '1' : '0';
  // A record usually writes the same columns as the one before it.
  if (last_store_ && shape_ == last_shape_) return *last_store_;
  auto it = store_statements_.find(shape_);
  if (it == store_statements_.end()) it = store_statements_.emplace(shape_, StoreStatement{build_store_sql()}).first;
  last_shape_ = shape_;
  last_store_ = &it->second;
  return it->second;
}

std::string RecordsetImpl::build_store_sql() const {
  std::string names, values;
  for (std::size_t i = 0; i < buffer_.size(); ++i) {
    if (!buffer_[i]) continue;
    if (!names.empty()) names += ", ", values += ", ";
    names += quote_identifier(table_->columns[i].name, connection_->dialect());
    if (mode_ == Mode::Editing) names += " = ?";
    values += '?';
  }
  std::string table = quote_identifier(table_->name, connection_->dialect());
  // An offered row that the table refuses is left out, without an error: it
  // is then looked up and stored as any other.
  std::string insert = offering_ ? "INSERT OR IGNORE INTO " : "INSERT INTO ";
  std::string sql = mode_ == Mode::Editing ? "UPDATE " + table + " SET " + names + " WHERE " + row_id_ + " = ?"
                    : names.empty()        ? insert + table + " DEFAULT VALUES"
                                           : insert + table + " (" + names + ") VALUES (" + values + ")";
  return sql;
}

bool RecordsetImpl::update() {
  require_table();
  if (mode_ == Mode::Browse) throw failure(ErrorCode::UpdateWithoutEdit);
  if (offering_ && !offers_its_key()) decide();
  if (mode_ == Mode::Editing) {
    // A row that would get back exactly the values it holds is not written:
    // loading the same file again changes nothing and writes nothing. A row
    // with any change is written whole, as set, so the statements stay few.
    bool changes = false;
    for (std::size_t i = 0; i < buffer_.size() && !changes; ++i) changes = buffer_[i] && !(*buffer_[i] == current_[i]);
    if (!changes) {
      cancel_edit();
      last_stored_new_ = false;
      return false;
    }
  }

  connection_->begin_write();
  bool stored = true;
  {
    StoreStatement& store = store_statement();
    Cursor& cursor = prepared(store.sql, &store.cursor);
    CursorScope scope(cursor);
    int index = 0;
    for (const auto& value : buffer_)
      if (value) cursor.bind(++index, *value, Binding::Referenced);
    if (mode_ == Mode::Editing) cursor.bind_row_id(index + 1, rowid_);
    // A refused store leaves the row being written as it is; the next move drops it.
    cursor.step();
    if (offering_) stored = cursor.rows_written() > 0;
  }
  if (!stored) {
    decide();
    return update();
  }
  const bool adds_row = mode_ == Mode::Adding;
  if (mode_ == Mode::Editing) {
    // Only the columns written change, in the current row and in the set's
    // own copy of it.
    const bool cached = keys_ && key_position_ < cached_rows_.size();
    for (std::size_t i = 0; i < buffer_.size(); ++i) {
      if (!buffer_[i]) continue;
      if (cached) cached_rows_[key_position_][i] = *buffer_[i];
      current_[i] = std::move(*buffer_[i]);
    }
  } else if (complete()) {
    // An added row joins the end of a set that is kept whole, as the engine
    // stored it (defaults included).
    RowId added = connection_->last_insert_row_id();
    Cursor& row = connection_->prepare(rows_from() + " WHERE " + row_id_ + " = ?", jet_sql_);
    CursorScope row_scope(row);
    row.bind_row_id(1, added);
    if (row.step()) {
      keys_->push_back(added);
      read_row(row, cached_rows_.emplace_back());
    }
    // A set that grows large is no longer kept: it is searched with SQL.
    if (keys_->size() > kCachedRows) {
      cached_rows_.clear();
      if (order_by_.empty()) keys_.reset();
    }
  }
  cancel_edit();
  last_stored_new_ = adds_row;
  return adds_row;
}

// The public face.

Recordset::Recordset() = default;
Recordset::Recordset(std::unique_ptr<RecordsetImpl> impl) : impl_(std::move(impl)) {}
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;
Recordset::~Recordset() = default;

namespace {
RecordsetImpl& open(const std::unique_ptr<RecordsetImpl>& impl) {
  if (!impl) throw failure(ErrorCode::InvalidOperation);
  return *impl;
}
}  // namespace

bool Recordset::eof() const { return open(impl_).eof(); }
void Recordset::move_first() { open(impl_).move_first(); }
void Recordset::move_next() { open(impl_).move_next(); }
void Recordset::move_last() { open(impl_).move_last(); }
std::int64_t Recordset::record_count() const { return open(impl_).record_count(); }
int Recordset::field_count() const { return open(impl_).field_count(); }
const std::string& Recordset::field_name(int index) const { return open(impl_).field_name(index); }
Value Recordset::get(std::string_view name) const { return open(impl_).get(open(impl_).index_of(name)); }
Value Recordset::get(int index) const { return open(impl_).get(index); }
void Recordset::find_first(std::string_view criteria) { open(impl_).find_first(criteria); }
void Recordset::find_first(const std::vector<Equality>& terms) { open(impl_).find_first(terms); }
bool Recordset::no_match() const { return open(impl_).no_match(); }
bool Recordset::adding() const { return open(impl_).adding(); }
void Recordset::add_new() { open(impl_).add_new(); }
void Recordset::edit() { open(impl_).edit(); }
void Recordset::add_or_edit(const std::vector<Equality>& terms) { open(impl_).add_or_edit(terms); }
void Recordset::set(std::string_view name, const Value& value) {
  open(impl_).set(open(impl_).index_of(name), value);
}
int Recordset::column_index(std::string_view name) const {
  try {
    return open(impl_).index_of(name);
  } catch (const Failure& f) {
    if (f.number() == static_cast<int>(ErrorCode::ItemNotFound)) return -1;
    throw;
  }
}
void Recordset::set(int index, Value&& value) {
  if (index < 0 || index >= open(impl_).field_count()) throw failure(ErrorCode::ItemNotFound, std::to_string(index));
  open(impl_).set(index, std::move(value));
}
bool Recordset::update() { return open(impl_).update(); }
void Recordset::close() { impl_.reset(); }

}  // namespace kavelo::db
