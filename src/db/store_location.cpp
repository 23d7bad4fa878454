#include "db/store_location.h"

#include <sys/stat.h>

#include <cctype>
#include <fstream>

#include <fmt/format.h>

#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db {
namespace {

constexpr std::string_view kLinkPrefix = "ODBC;";
// A link file is a line of text: more than this is no link file.
constexpr std::size_t kHeadSize = 4096;

std::string read_head(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(kHeadSize, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// The application's own database files carry their format's name at byte 4.
bool is_application_format(std::string_view head) {
  return head.size() >= 19 && (head.substr(4, 15) == "Standard Jet DB" || head.substr(4, 15) == "Standard ACE DB");
}

}  // namespace

bool holds_password(const std::string& connection_string) {
  const std::string text = upper(connection_string);
  std::size_t at = 0;
  while (at < text.size()) {
    auto end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    std::string_view pair = std::string_view(text).substr(at, end - at);
    auto eq = pair.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
      while (!key.empty() && std::isspace(static_cast<unsigned char>(key.front()))) key.remove_prefix(1);
      while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) key.remove_suffix(1);
      while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) value.remove_prefix(1);
      if ((key == "PWD" || key == "PASSWORD") && !value.empty()) return true;
    }
    at = end + 1;
  }
  return false;
}

StoreLocation locate_store(const std::string& path) {
  const std::string head = read_head(path);
  if (is_application_format(head))
    throw Failure(static_cast<int>(ErrorCode::UnrecognizedFormat),
                  describe(ErrorCode::UnrecognizedFormat, path) +
                      " Es un formato de base de datos no admitido en esta plataforma.");
  if (head.size() < kLinkPrefix.size() || upper(std::string_view(head).substr(0, kLinkPrefix.size())) != kLinkPrefix)
    return {};

  std::string line = head.substr(kLinkPrefix.size(), head.find_first_of("\r\n") - kLinkPrefix.size());
  StoreLocation location{StoreLocation::Kind::Server, line};
  if (location.connection_string.find_first_not_of(" \t") == std::string::npos)
    throw failure(ErrorCode::UnrecognizedFormat, path);
  if (holds_password(location.connection_string)) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IROTH | S_IWGRP | S_IWOTH)) != 0)
      throw Failure(static_cast<int>(ErrorCode::CannotOpenFile),
                    fmt::format("El archivo de enlace '{}' guarda una contraseña y otros usuarios pueden leerlo o "
                                "cambiarlo: no se usa. Déjelo solo para su propietario (chmod 600).",
                                path));
  }
  return location;
}

}  // namespace kavelo::db
