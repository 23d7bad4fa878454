#include "db/jet_sql.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>

#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db {
namespace {

enum class TokenKind { Identifier, Keyword, Function, Literal, Symbol };

struct Token {
  TokenKind kind;
  // A view of the translated text, or of the keyword table for keywords and
  // functions (upper-cased): tokens allocate nothing but text literals.
  std::string_view text;
  Value literal;
  // For a literal: which one of the text it is, counted from 0.
  std::uint32_t ordinal = 0;
};

constexpr std::array<std::string_view, 18> kKeywords = {"SELECT", "FROM", "WHERE", "AND", "OR",  "NOT",      "GROUP", "BY",
                                  "HAVING", "ORDER", "ASC",  "DESC", "AS", "IS", "NULL", "IN",
                                  "BETWEEN", "DISTINCT"};
constexpr std::array<std::string_view, 5> kFunctions = {"MAX", "MIN", "COUNT", "SUM", "AVG"};

// The upper-cased letters of a word of up to eight, as one number (no letter
// is a zero byte, so two words make the same number only when they are equal).
constexpr std::uint64_t packed(std::string_view word) {
  std::uint64_t n = 0;
  for (char c : word) n = n << 8 | static_cast<unsigned char>(c);
  return n;
}
template <std::size_t N>
constexpr std::array<std::uint64_t, N> packed_all(const std::array<std::string_view, N>& words) {
  std::array<std::uint64_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = packed(words[i]);
  return out;
}
constexpr std::uint64_t kTrue = packed("TRUE"), kFalse = packed("FALSE");
constexpr auto kPackedKeywords = packed_all(kKeywords);
constexpr auto kPackedFunctions = packed_all(kFunctions);

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// ASCII letters and digits, whatever the locale, and every byte of a UTF-8 character.
bool is_word_char(char c) {
  auto u = static_cast<unsigned char>(c);
  return is_digit(c) || ((u | 0x20) >= 'a' && (u | 0x20) <= 'z') || c == '_' || u >= 0x80;
}

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  std::vector<Token> run() {
    std::vector<Token> tokens;
    // About one token for every five characters of the queries the importers write.
    tokens.reserve(text_.size() / 4 + 4);
    while (true) {
      skip_blanks();
      if (pos_ >= text_.size()) break;
      tokens.push_back(next());
    }
    return tokens;
  }

 private:
  [[noreturn]] void refuse() const { throw failure(ErrorCode::QuerySyntax, text_); }

  void skip_blanks() {
    while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
  }

  Token next() {
    char c = text_[pos_];
    if (c == '\'' || c == '"') return quoted_text(c);
    if (c == '#') return date();
    if (c == '[') return bracketed();
    if (is_digit(c) ||
        (c == '.' && pos_ + 1 < text_.size() && is_digit(text_[pos_ + 1])))
      return number_or_word();
    if (is_word_char(c)) return word();
    return symbol();
  }

  Token quoted_text(char quote) {
    std::string value;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size()) refuse();
      char c = text_[pos_++];
      if (c == quote) {
        if (pos_ < text_.size() && text_[pos_] == quote) {
          value += quote;
          ++pos_;
          continue;
        }
        break;
      }
      value += c;
    }
    return {TokenKind::Literal, {}, Value(std::move(value))};
  }

  // #month/day/year# with an optional time; ISO year-month-day also reads.
  Token date() {
    auto end = text_.find('#', pos_ + 1);
    if (end == std::string_view::npos) refuse();
    std::string_view body = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    auto value = parse_date_literal(body);
    if (!value) refuse();
    return {TokenKind::Literal, {}, Value(*value)};
  }

  static std::optional<DateTime> parse_date_literal(std::string_view body) {
    std::size_t i = 0;
    auto blanks = [&] {
      while (i < body.size() && body[i] == ' ') ++i;
    };
    auto number = [&](int& out) {
      std::size_t start = i;
      out = 0;
      while (i < body.size() && i - start < 4 && is_digit(body[i]))
        out = out * 10 + (body[i++] - '0');
      return i > start;
    };
    auto expect = [&](char c) {
      if (i >= body.size() || body[i] != c) return false;
      ++i;
      return true;
    };
    blanks();
    int a = 0, b = 0, c = 0;
    if (!number(a) || i >= body.size()) return std::nullopt;
    char sep = body[i++];
    if ((sep != '/' && sep != '-') || !number(b) || !expect(sep) || !number(c)) return std::nullopt;
    DateTime d;
    if (sep == '-' && a > 31) {
      d.year = a, d.month = b, d.day = c;
    } else {
      d.month = a, d.day = b, d.year = c < 100 ? (c < 30 ? 2000 + c : 1900 + c) : c;
    }
    blanks();
    if (i < body.size()) {
      if (!number(d.hour) || !expect(':') || !number(d.minute)) return std::nullopt;
      if (expect(':') && !number(d.second)) return std::nullopt;
      blanks();
    }
    if (i != body.size() || !is_valid(d)) return std::nullopt;
    return d;
  }

  Token bracketed() {
    auto end = text_.find(']', pos_ + 1);
    if (end == std::string_view::npos || end == pos_ + 1) refuse();
    std::string_view name = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    return {TokenKind::Identifier, name, {}};
  }

  // Digits that run into letters make a name such as 347IVR, unless the
  // letters are the exponent of a number (1E5).
  Token number_or_word() {
    std::size_t start = pos_;
    std::size_t i = pos_;
    auto digits = [&] {
      while (i < text_.size() && is_digit(text_[i])) ++i;
    };
    digits();
    bool fractional = false;
    if (i < text_.size() && text_[i] == '.') {
      fractional = true;
      ++i;
      digits();
    }
    if (i < text_.size() && (text_[i] == 'E' || text_[i] == 'e')) {
      std::size_t e = i + 1;
      if (e < text_.size() && (text_[e] == '+' || text_[e] == '-')) ++e;
      if (e < text_.size() && is_digit(text_[e])) {
        i = e;
        digits();
        fractional = true;
      }
    }
    if (i < text_.size() && is_word_char(text_[i])) {
      if (fractional) refuse();
      return word();
    }
    std::string_view literal = text_.substr(start, i - start);
    pos_ = i;
    if (!fractional) {
      std::int64_t whole = 0;
      auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), whole);
      if (ec == std::errc() && ptr == literal.data() + literal.size()) {
        if (whole <= INT32_MAX) return {TokenKind::Literal, {}, Value(static_cast<std::int32_t>(whole))};
        return {TokenKind::Literal, {}, Value(static_cast<double>(whole))};
      }
    }
    double number = 0;
    auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), number);
    if (ec != std::errc() || ptr != literal.data() + literal.size()) refuse();
    return {TokenKind::Literal, {}, Value(number)};
  }

  Token word() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && is_word_char(text_[pos_])) ++pos_;
    std::string_view text = text_.substr(start, pos_ - start);
    // No keyword or function is longer than eight letters: a word is compared
    // as the number its upper-cased letters make.
    std::uint64_t up = 0;
    if (text.size() <= 8)
      for (char c : text) up = up << 8 | static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (up == kTrue || up == kFalse) return {TokenKind::Literal, {}, Value(up == kTrue)};
    for (std::size_t i = 0; i < kKeywords.size(); ++i)
      if (up == kPackedKeywords[i]) return {TokenKind::Keyword, kKeywords[i], {}};
    std::size_t after = pos_;
    while (after < text_.size() && text_[after] == ' ') ++after;
    if (after < text_.size() && text_[after] == '(') {
      // Only the aggregates are known; a call of anything else is refused.
      for (std::size_t i = 0; i < kFunctions.size(); ++i)
        if (up == kPackedFunctions[i]) return {TokenKind::Function, kFunctions[i], {}};
      refuse();
    }
    return {TokenKind::Identifier, text, {}};
  }

  Token symbol() {
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    if ((c == '<' && (next == '>' || next == '=')) || (c == '>' && next == '=')) {
      pos_ += 2;
      return {TokenKind::Symbol, text_.substr(pos_ - 2, 2), {}};
    }
    switch (c) {
      case '=': case '<': case '>': case '+': case '-': case '*': case '/':
      case '&': case '(': case ')': case ',': case '.': case ';':
        return {TokenKind::Symbol, text_.substr(pos_++, 1), {}};
      default: refuse();
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool is_keyword(const Token& t, std::string_view word) { return t.kind == TokenKind::Keyword && t.text == word; }
bool is_symbol(const Token& t, char c) { return t.kind == TokenKind::Symbol && t.text.size() == 1 && t.text[0] == c; }

using TokenSpan = std::span<const Token>;

// SQL being written, with the literal of the text that each parameter is.
struct Emitted : TranslatedSql {
  std::vector<std::uint32_t> sources;
};

// Writes tokens as the store's SQL, collecting the literals as parameters.
void emit(TokenSpan tokens, Emitted& out, Dialect dialect) {
  bool glue = true;  // no blank before the next token
  for (const Token& t : tokens) {
    bool dot = is_symbol(t, '.');
    if (!glue && !dot) out.sql += ' ';
    glue = dot;
    switch (t.kind) {
      case TokenKind::Identifier: out.sql += quote_identifier(t.text, dialect); break;
      case TokenKind::Keyword:
      case TokenKind::Function: out.sql += t.text; break;
      case TokenKind::Literal:
        out.sql += '?';
        out.params.push_back(t.literal);
        out.sources.push_back(t.ordinal);
        break;
      case TokenKind::Symbol: out.sql += t.text == "&" ? std::string_view("||") : t.text; break;
    }
  }
}

// A condition holds no list: a comma at its top level (a decimal comma
// written by mistake, "A = 12,5") is refused, whatever a store would make of it.
bool has_top_level_comma(TokenSpan condition) {
  int depth = 0;
  for (const Token& t : condition) {
    if (is_symbol(t, '(')) ++depth;
    if (is_symbol(t, ')')) --depth;
    if (depth == 0 && is_symbol(t, ',')) return true;
  }
  return false;
}

// An ORDER BY list. Null sorts first going up and last going down, on the
// server as in SQLite.
void emit_order(TokenSpan items, Emitted& out, Dialect dialect) {
  if (dialect != Dialect::Postgres) return emit(items, out, dialect);
  bool first = true;
  int depth = 0;
  std::size_t start = 0;
  auto item = [&](std::size_t end) {
    TokenSpan one = items.subspan(start, end - start);
    if (!first) out.sql += ", ";
    first = false;
    emit(one, out, dialect);
    out.sql += !one.empty() && is_keyword(one.back(), "DESC") ? " NULLS LAST" : " NULLS FIRST";
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (is_symbol(items[i], '(')) ++depth;
    if (is_symbol(items[i], ')')) --depth;
    if (depth == 0 && is_symbol(items[i], ',')) {
      item(i);
      start = i + 1;
    }
  }
  item(items.size());
}

// A minus before a number, where no value precedes it, belongs to the number:
// "= -3" binds -3, which every store reads as the number it is.
void fold_signs(std::vector<Token>& tokens) {
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!is_symbol(tokens[i], '-') || tokens[i + 1].kind != TokenKind::Literal) continue;
    const Token* before = i > 0 ? &tokens[i - 1] : nullptr;
    bool unary = !before || before->kind == TokenKind::Keyword ||
                 (before->kind == TokenKind::Symbol && before->text != ")");
    if (!unary) continue;
    const Value& v = tokens[i + 1].literal;
    std::optional<Value> negated;
    if (auto n = v.get_if<std::int32_t>()) negated = *n == INT32_MIN ? Value(-static_cast<double>(*n)) : Value(-*n);
    if (auto d = v.get_if<double>()) negated = Value(-*d);
    if (!negated) continue;
    tokens[i + 1].literal = std::move(*negated);
    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

std::vector<Token> tokenize(std::string_view text) {
  auto tokens = Tokenizer(text).run();
  fold_signs(tokens);
  if (!tokens.empty() && is_symbol(tokens.back(), ';')) tokens.pop_back();
  int depth = 0;
  for (const Token& t : tokens) {
    if (is_symbol(t, ';')) throw failure(ErrorCode::QuerySyntax, text);
    if (is_symbol(t, '(')) ++depth;
    if (is_symbol(t, ')') && --depth < 0) throw failure(ErrorCode::QuerySyntax, text);
  }
  if (depth != 0) throw failure(ErrorCode::QuerySyntax, text);
  std::uint32_t literals = 0;
  for (Token& t : tokens)
    if (t.kind == TokenKind::Literal) t.ordinal = literals++;
  return tokens;
}


// --- The highest value of one group -------------------------------------
//
// "SELECT MAX(c) AS m, g1, g2 FROM t GROUP BY g1, g2 HAVING (g1=1) AND
// (g2=#...#)" asks for one group pinned by its values. SQLite would read every
// row of the group; reading the rows in the order of c from the highest and
// stopping at the first gives the same row (or none when the group is empty),
// through an index on (g1, g2, c) in one step.

// A column reference: Name or Table.Name, possibly in parentheses.
std::optional<std::string> column_of(TokenSpan t) {
  while (t.size() >= 2 && is_symbol(t.front(), '(') && is_symbol(t.back(), ')')) t = t.subspan(1, t.size() - 2);
  if (t.size() == 1 && t[0].kind == TokenKind::Identifier) return upper(t[0].text);
  if (t.size() == 3 && t[0].kind == TokenKind::Identifier && is_symbol(t[1], '.') &&
      t[2].kind == TokenKind::Identifier)
    return upper(t[2].text);
  return std::nullopt;
}

// Splits at the top-level occurrences of `is_separator`.
template <class Pred>
std::vector<TokenSpan> split_top(TokenSpan t, Pred is_separator) {
  std::vector<TokenSpan> parts;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (is_symbol(t[i], '(')) ++depth;
    if (is_symbol(t[i], ')')) --depth;
    if (depth == 0 && is_separator(t[i])) {
      parts.push_back(t.subspan(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(t.subspan(start));
  return parts;
}

// True when the parentheses at both ends enclose the whole span.
bool enclosed(TokenSpan t) {
  if (t.size() < 2 || !is_symbol(t.front(), '(') || !is_symbol(t.back(), ')')) return false;
  int depth = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if (is_symbol(t[i], '(')) ++depth;
    if (is_symbol(t[i], ')') && --depth == 0) return false;
  }
  return true;
}

// One term of a condition made of Column = literal terms joined by AND.
struct Pin {
  std::string column;  // upper-cased
  TokenSpan term;
  Value literal;
};

// The pins of a condition made of Column = literal terms joined by AND, with
// any parentheses; nullopt for any other condition.
std::optional<std::vector<Pin>> pins_of(TokenSpan condition) {
  while (enclosed(condition)) condition = condition.subspan(1, condition.size() - 2);
  std::vector<Pin> pins;
  for (TokenSpan term : split_top(condition, [](const Token& t) { return is_keyword(t, "AND"); })) {
    while (enclosed(term)) term = term.subspan(1, term.size() - 2);
    auto sides = split_top(term, [](const Token& t) { return is_symbol(t, '='); });
    if (sides.size() != 2 || sides[1].size() != 1 || sides[1][0].kind != TokenKind::Literal) return std::nullopt;
    auto column = column_of(sides[0]);
    if (!column) return std::nullopt;
    pins.push_back({*column, term, sides[1][0].literal});
  }
  return pins;
}

std::optional<Emitted> max_of_one_group(const std::vector<Token>& tokens, std::size_t from, std::size_t where,
                                              std::size_t group, std::size_t having, std::size_t order,
                                              Dialect dialect) {
  if (group == 0 || having == 0 || order != 0 || from + 2 != (where ? where : group)) return std::nullopt;
  TokenSpan all(tokens);
  auto items = split_top(all.subspan(1, from - 1), [](const Token& t) { return is_symbol(t, ','); });
  auto groups = split_top(all.subspan(group + 2, having - group - 2), [](const Token& t) { return is_symbol(t, ','); });
  auto pins = pins_of(all.subspan(having + 1));
  if (!pins) return std::nullopt;

  std::vector<std::string> grouped;
  for (TokenSpan g : groups) {
    auto column = column_of(g);
    if (!column) return std::nullopt;
    grouped.push_back(*column);
  }
  // Every pin is on a grouped column and every grouped column is pinned.
  for (const Pin& pin : *pins)
    if (std::find(grouped.begin(), grouped.end(), pin.column) == grouped.end()) return std::nullopt;
  for (const auto& column : grouped) {
    if (std::none_of(pins->begin(), pins->end(), [&](const Pin& pin) { return pin.column == column; }))
      return std::nullopt;
  }
  // One MAX(column) AS alias; every other item a grouped column.
  std::optional<TokenSpan> maximum;
  std::vector<TokenSpan> select;
  for (TokenSpan item : items) {
    if (item.size() >= 6 && item[0].kind == TokenKind::Function && item[0].text == "MAX" &&
        is_keyword(item[item.size() - 2], "AS") && item.back().kind == TokenKind::Identifier &&
        is_symbol(item[item.size() - 3], ')')) {
      TokenSpan argument = item.subspan(2, item.size() - 5);
      if (maximum || !column_of(argument)) return std::nullopt;
      maximum = argument;
      select.push_back(item);
      continue;
    }
    auto column = column_of(item);
    if (!column || std::find(grouped.begin(), grouped.end(), *column) == grouped.end()) return std::nullopt;
    select.push_back(item);
  }
  if (!maximum) return std::nullopt;

  Emitted out;
  out.sql = "SELECT ";
  for (std::size_t i = 0; i < select.size(); ++i) {
    if (i > 0) out.sql += ", ";
    TokenSpan item = select[i];
    if (item[0].kind == TokenKind::Function) {
      emit(*maximum, out, dialect);
      out.sql += " AS ";
      emit(item.subspan(item.size() - 1), out, dialect);
    } else {
      emit(item, out, dialect);
    }
  }
  out.sql += " FROM ";
  emit(all.subspan(from + 1, 1), out, dialect);
  out.sql += " WHERE ";
  if (where) {
    out.sql += "(";
    emit(all.subspan(where + 1, group - where - 1), out, dialect);
    out.sql += ") AND ";
  }
  for (std::size_t i = 0; i < pins->size(); ++i) {
    if (i > 0) out.sql += " AND ";
    out.sql += "(";
    emit((*pins)[i].term, out, dialect);
    out.sql += ")";
  }
  out.sql += " ORDER BY ";
  emit(*maximum, out, dialect);
  // Null is the lowest value in SQLite and the highest on the server: the
  // highest value is the highest that is not Null either way.
  out.sql += dialect == Dialect::Postgres ? " DESC NULLS LAST LIMIT 1" : " DESC LIMIT 1";
  return out;
}

}  // namespace

static std::optional<std::vector<Equality>> equalities_uncached(std::string_view jet_condition) {
  std::vector<Token> tokens;
  try {
    tokens = tokenize(jet_condition);
  } catch (const Failure&) {
    return std::nullopt;
  }
  if (tokens.empty()) return std::nullopt;
  auto pins = pins_of(tokens);
  if (!pins) return std::nullopt;
  std::vector<Equality> out;
  for (Pin& pin : *pins) out.push_back({std::move(pin.column), std::move(pin.literal)});
  return out;
}

std::string quote_identifier(std::string_view name, Dialect dialect) {
  std::string out = "\"";
  // Names on the server are in lower case.
  const std::string folded = dialect == Dialect::Postgres ? lower(name) : std::string();
  if (dialect == Dialect::Postgres) name = folded;
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

Emitted condition_of_tokens(const std::vector<Token>& tokens, std::string_view jet_condition, Dialect dialect) {
  if (tokens.empty()) throw failure(ErrorCode::QuerySyntax, jet_condition);
  for (const Token& t : tokens) {
    if (t.kind == TokenKind::Keyword &&
        (t.text == "SELECT" || t.text == "FROM" || t.text == "WHERE" || t.text == "ORDER" || t.text == "GROUP" ||
         t.text == "HAVING"))
      throw failure(ErrorCode::QuerySyntax, jet_condition);
  }
  if (has_top_level_comma(tokens)) throw failure(ErrorCode::QuerySyntax, jet_condition);
  Emitted out;
  emit(tokens, out, dialect);
  return out;
}

// A select's translation, with the literal of the text that each parameter
// of its query and of its condition is.
struct ShapedSelect {
  TranslatedSelect select;
  std::vector<std::uint32_t> query_sources;
  std::vector<std::uint32_t> where_sources;
};

ShapedSelect select_of_tokens(const std::vector<Token>& tokens, std::string_view jet_sql, Dialect dialect) {
  auto refuse = [&] { return failure(ErrorCode::QuerySyntax, jet_sql); };
  if (tokens.empty() || !is_keyword(tokens.front(), "SELECT")) throw refuse();

  // Where each clause starts, at parenthesis depth 0.
  std::size_t from = 0, where = 0, group = 0, having = 0, order = 0;
  int depth = 0;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (is_symbol(t, '(')) ++depth;
    if (is_symbol(t, ')')) --depth;
    if (depth != 0 || t.kind != TokenKind::Keyword) continue;
    bool by_follows = i + 1 < tokens.size() && is_keyword(tokens[i + 1], "BY");
    std::size_t* slot = t.text == "FROM"                 ? &from
                        : t.text == "WHERE"              ? &where
                        : t.text == "GROUP" && by_follows ? &group
                        : t.text == "HAVING"             ? &having
                        : t.text == "ORDER" && by_follows ? &order
                                                          : nullptr;
    if (slot == nullptr) continue;
    if (*slot != 0) throw refuse();
    *slot = i;
  }
  if (from == 0) throw refuse();
  // The clauses must come in their SQL order.
  std::size_t last = from;
  for (std::size_t at : {where, group, having, order}) {
    if (at == 0) continue;
    if (at < last) throw refuse();
    last = at;
  }

  auto clause_end = [&](std::size_t start) {
    std::size_t end = tokens.size();
    for (std::size_t at : {from, where, group, having, order})
      if (at > start && at < end) end = at;
    return end;
  };
  for (std::size_t at : {where, having})
    if (at != 0 && has_top_level_comma(TokenSpan(tokens).subspan(at + 1, clause_end(at) - at - 1))) throw refuse();

  Emitted query, where_sql;
  TranslatedSelect out;
  if (auto fast = max_of_one_group(tokens, from, where, group, having, order, dialect)) {
    query = std::move(*fast);
  } else if (order == 0) {
    emit(TokenSpan(tokens), query, dialect);
  } else {
    emit(TokenSpan(tokens).first(order + 2), query, dialect);
    query.sql += ' ';
    emit_order(TokenSpan(tokens).subspan(order + 2), query, dialect);
  }

  bool whole_rows = from == 2 && is_symbol(tokens[1], '*') && group == 0 && having == 0 &&
                    clause_end(from) == from + 2 && tokens[from + 1].kind == TokenKind::Identifier;
  if (whole_rows) {
    out.table = std::string(tokens[from + 1].text);
    if (where != 0) {
      auto end = clause_end(where);
      if (end == where + 1) throw refuse();
      emit(TokenSpan(tokens).subspan(where + 1, end - where - 1), where_sql, dialect);
    }
    if (order != 0) {
      Emitted order_sql;
      auto end = clause_end(order);
      if (end <= order + 2) throw refuse();
      emit_order(TokenSpan(tokens).subspan(order + 2, end - order - 2), order_sql, dialect);
      if (!order_sql.params.empty()) throw refuse();
      out.order_by = std::move(order_sql.sql);
    }
  }
  ShapedSelect shaped{std::move(out), std::move(query.sources), std::move(where_sql.sources)};
  shaped.select.query.sql = std::move(query.sql);
  shaped.select.query.params = std::move(query.params);
  shaped.select.where.sql = std::move(where_sql.sql);
  shaped.select.where.params = std::move(where_sql.params);
  return shaped;
}

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Translations kept by a key, a bounded number of them.
template <class T>
class TranslationCache {
 public:
  const T* find(std::string_view key) const {
    auto it = kept_.find(key);
    return it == kept_.end() ? nullptr : &it->second;
  }
  const T& keep(std::string key, T made) {
    // Bounded: the texts that name single lines never come again.
    if (kept_.size() >= kLimit) kept_.clear();
    return kept_.insert_or_assign(std::move(key), std::move(made)).first->second;
  }
  template <class Make>
  T get(std::string_view key, Make make) {
    if (const T* kept = find(key)) return *kept;
    return keep(std::string(key), make());
  }

 private:
  static constexpr std::size_t kLimit = 1024;
  std::unordered_map<std::string, T, TextHash, std::equal_to<>> kept_;
};

// What a text says apart from its literals: two texts of one shape translate
// to the same SQL, their literals bound in the same places. The translation
// depends on nothing else (a literal's value or kind never changes it).
// nullopt for a text whose shape cannot be told this way.
std::optional<std::string> shape_of(const std::vector<Token>& tokens) {
  std::string key;
  key.reserve(tokens.size() * 6);
  for (const Token& t : tokens) {
    key += static_cast<char>('a' + static_cast<int>(t.kind));
    if (t.kind != TokenKind::Literal) {
      if (t.text.find('\0') != std::string_view::npos) return std::nullopt;
      key += t.text;
    }
    key += '\0';
  }
  return key;
}

// The parameters of a shape's SQL, from this text's literals.
std::vector<Value> parameters(const std::vector<std::uint32_t>& sources, const std::vector<const Value*>& literals) {
  std::vector<Value> params;
  params.reserve(sources.size());
  for (std::uint32_t source : sources) params.push_back(*literals[source]);
  return params;
}

std::vector<const Value*> literals_of(const std::vector<Token>& tokens) {
  std::vector<const Value*> literals;
  for (const Token& t : tokens)
    if (t.kind == TokenKind::Literal) literals.push_back(&t.literal);
  return literals;
}

}  // namespace

// A condition mostly looks a record up by its own key, a text that never
// comes again: it is kept by its shape only.
TranslatedSql translate_condition(std::string_view jet_condition, Dialect dialect) {
  static TranslationCache<Emitted> caches[2];
  TranslationCache<Emitted>& cache = caches[static_cast<int>(dialect)];
  auto tokens = tokenize(jet_condition);
  auto shape = shape_of(tokens);
  const Emitted* made = shape ? cache.find(*shape) : nullptr;
  if (!made) {
    Emitted fresh = condition_of_tokens(tokens, jet_condition, dialect);
    if (!shape) return fresh;
    made = &cache.keep(std::move(*shape), std::move(fresh));
  }
  return {made->sql, parameters(made->sources, literals_of(tokens))};
}

// The importers send the same texts again and again (the balance rows of an
// account's levels, the condition of each level): a translation is kept by
// its text, and by its shape for the texts that differ in their literals
// only (the line of each record). A text that fails is translated, and fails,
// every time.
TranslatedSelect translate_select(std::string_view jet_sql, Dialect dialect) {
  static TranslationCache<ShapedSelect> by_shape[2];
  const int d = static_cast<int>(dialect);
  auto tokens = tokenize(jet_sql);
  auto shape = shape_of(tokens);
  const ShapedSelect* made = shape ? by_shape[d].find(*shape) : nullptr;
  if (!made) {
    ShapedSelect fresh = select_of_tokens(tokens, jet_sql, dialect);
    if (!shape) return std::move(fresh.select);
    made = &by_shape[d].keep(std::move(*shape), std::move(fresh));
  }
  TranslatedSelect out;
  out.query.sql = made->select.query.sql;
  out.table = made->select.table;
  out.where.sql = made->select.where.sql;
  out.order_by = made->select.order_by;
  auto literals = literals_of(tokens);
  out.query.params = parameters(made->query_sources, literals);
  out.where.params = parameters(made->where_sources, literals);
  return out;
}

TranslatedSelect translate_select_afresh(std::string_view jet_sql, Dialect dialect) {
  return select_of_tokens(tokenize(jet_sql), jet_sql, dialect).select;
}

TranslatedSql translate_condition_afresh(std::string_view jet_condition, Dialect dialect) {
  return condition_of_tokens(tokenize(jet_condition), jet_condition, dialect);
}

std::string row_id_column(Dialect dialect) {
  return dialect == Dialect::Postgres ? "\"kavelo_row\"" : "rowid";
}


std::optional<std::vector<Equality>> equalities_of(std::string_view jet_condition) {
  static TranslationCache<std::optional<std::vector<Equality>>> cache;
  return cache.get(jet_condition, [&] { return equalities_uncached(jet_condition); });
}

TranslatedSql condition_of(const std::vector<Equality>& terms, Dialect dialect) {
  if (terms.empty()) throw failure(ErrorCode::QuerySyntax, "");
  TranslatedSql out;
  out.params.reserve(terms.size());
  for (const Equality& term : terms) {
    if (!out.sql.empty()) out.sql += " AND ";
    out.sql += quote_identifier(term.column, dialect);
    out.sql += " = ?";
    out.params.push_back(term.value);
  }
  return out;
}

}  // namespace kavelo::db
