#include "db/odbc/server_types.h"

#include <fmt/format.h>

#include "db/odbc/server_schema.h"

namespace kavelo::db::odbc {

ColumnKind kind_of_server_type(const std::string& type, const std::string& domain) {
  if (domain == kByteDomain) return ColumnKind::Byte;
  if (domain == kBitDomain) return ColumnKind::Bit;
  if (type == "character varying" || type == "text" || type == "character") return ColumnKind::Text;
  if (type == "smallint") return ColumnKind::Short;
  if (type == "integer") return ColumnKind::Long;
  if (type == "double precision" || type == "real") return ColumnKind::Double;
  if (type == "numeric") return ColumnKind::Currency;
  if (type.starts_with("timestamp") || type == "date") return ColumnKind::DateTime;
  if (type == "boolean") return ColumnKind::Bit;
  return ColumnKind::Untyped;
}

std::string server_type_of(ColumnKind kind, int text_size) {
  switch (kind) {
    case ColumnKind::Text:
      return text_size > 0 ? fmt::format("varchar({})", text_size) : "text";
    case ColumnKind::Byte:
      return kByteDomain;
    case ColumnKind::Short:
      return "smallint";
    case ColumnKind::Long:
      return "integer";
    case ColumnKind::Double:
      return "double precision";
    case ColumnKind::Currency:
      return "numeric(19,4)";
    case ColumnKind::DateTime:
      return "timestamp";
    case ColumnKind::Bit:
      return kBitDomain;
    case ColumnKind::Untyped:
      break;
  }
  return {};
}

}  // namespace kavelo::db::odbc
