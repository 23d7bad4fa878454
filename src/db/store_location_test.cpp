#include "db/store_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/failure.h"
#include "test_support.h"

namespace kavelo::db {
namespace {

using Kind = StoreLocation::Kind;

// A file holding `bytes`, with these permissions.
std::string file(const test::TempDir& dir, const std::string& bytes, mode_t mode = 0600) {
  static int made = 0;
  std::string path = dir / ("f" + std::to_string(++made));
  test::write_bytes(path, bytes);
  ::chmod(path.c_str(), mode);
  return path;
}

// The number and a part of the description of what locate_store throws.
std::pair<int, std::string> refusal(const std::string& path) {
  try {
    locate_store(path);
  } catch (const Failure& f) {
    return {f.number(), f.description()};
  }
  return {0, "taken"};
}

TEST(StoreLocation, WhatTheFileHolds) {
  test::TempDir dir;
  struct Case {
    std::string bytes;
    Kind kind;
    std::string connection_string;
  };
  const Case cases[] = {
      {"ODBC;Driver={PostgreSQL Unicode};Server=h;Database=d;\r\n", Kind::Server,
       "Driver={PostgreSQL Unicode};Server=h;Database=d;"},
      // The prefix in any case, the line end of either kind, or none.
      {"odbc;DSN=empresa\nsecond line is not read", Kind::Server, "DSN=empresa"},
      {"ODBC;DSN=x", Kind::Server, "DSN=x"},
      // Anything else is SQLite's to judge.
      {std::string("SQLite format 3\0\x10\0\x01\x01", 20), Kind::Sqlite, ""},
      {"not a link", Kind::Sqlite, ""},
      {"", Kind::Sqlite, ""},
      {" ODBC;DSN=x", Kind::Sqlite, ""},
  };
  for (const Case& c : cases) {
    StoreLocation location = locate_store(file(dir, c.bytes));
    EXPECT_EQ(location.kind, c.kind) << c.bytes;
    EXPECT_EQ(location.connection_string, c.connection_string) << c.bytes;
  }
  // An empty link, and the application's own formats, are no database here.
  EXPECT_EQ(refusal(file(dir, "ODBC;  \r\n")).first, static_cast<int>(ErrorCode::UnrecognizedFormat));
  for (const char* format : {"Standard Jet DB", "Standard ACE DB"}) {
    auto [number, description] = refusal(file(dir, std::string("\x00\x01\x00\x00", 4) + format + std::string(64, '\0')));
    EXPECT_EQ(number, static_cast<int>(ErrorCode::UnrecognizedFormat)) << format;
    EXPECT_NE(description.find("formato de base de datos no admitido en esta plataforma"), std::string::npos)
        << description;
  }
}

TEST(StoreLocation, APasswordOnlyInAFileNoOneElseCanRead) {
  test::TempDir dir;
  const std::string with_password = "ODBC;Driver=x;Uid=u;PWD=secreto;\r\n";
  EXPECT_EQ(locate_store(file(dir, with_password, 0600)).connection_string, "Driver=x;Uid=u;PWD=secreto;");
  EXPECT_EQ(locate_store(file(dir, with_password, 0400)).kind, Kind::Server);
  for (mode_t mode : {0640, 0604, 0620, 0666}) {
    auto [number, description] = refusal(file(dir, with_password, mode));
    EXPECT_NE(description.find("guarda una contraseña"), std::string::npos) << mode << description;
    EXPECT_NE(description.find("chmod 600"), std::string::npos) << mode << description;
  }
  // Without a password the file may be read by anyone.
  EXPECT_EQ(locate_store(file(dir, "ODBC;DSN=x;PWD=;", 0644)).kind, Kind::Server);

  // Passwords are found by their key.
  for (const char* with : {"Driver=x;PWD=a", "Driver=x; password = a ;", "pwd=a"}) EXPECT_TRUE(holds_password(with)) << with;
  for (const char* without : {"Driver=x;PWD=;", "Driver=x;Uid=pwd", "Driver=x;NOPWD=a"})
    EXPECT_FALSE(holds_password(without)) << without;
}

}  // namespace
}  // namespace kavelo::db
