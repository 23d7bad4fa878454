#include "db/store_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "testing/temp_database.h"
#include "platform/failure.h"

namespace kavelo::db {
namespace {

class StoreLocationTest : public ::testing::Test {
 protected:
  std::string file(const std::string& bytes, mode_t mode = 0600) {
    std::string path = (database_.dir() / ("f" + std::to_string(++made_))).string();
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), mode);
    return path;
  }
  kavelo::testing::TempDatabase database_{"CREATE TABLE T (A LONG);"};
  int made_ = 0;
};

TEST_F(StoreLocationTest, WhatTheFileHolds) {
  struct Case {
    std::string bytes;
    StoreLocation::Kind kind;
    std::string connection_string;
  };
  const Case cases[] = {
      {"ODBC;Driver={PostgreSQL Unicode};Server=h;Database=d;\r\n", StoreLocation::Kind::Server,
       "Driver={PostgreSQL Unicode};Server=h;Database=d;"},
      // The prefix in any case, the line end of either kind, or none.
      {"odbc;DSN=empresa\nsecond line is not read", StoreLocation::Kind::Server, "DSN=empresa"},
      {"ODBC;DSN=x", StoreLocation::Kind::Server, "DSN=x"},
      // Anything else is SQLite's to judge.
      {"not a link", StoreLocation::Kind::Sqlite, ""},
      {"", StoreLocation::Kind::Sqlite, ""},
      {" ODBC;DSN=x", StoreLocation::Kind::Sqlite, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    StoreLocation location = locate_store(file(c.bytes));
    EXPECT_EQ(location.kind, c.kind);
    EXPECT_EQ(location.connection_string, c.connection_string);
  }
  EXPECT_EQ(locate_store(database_.path()).kind, StoreLocation::Kind::Sqlite);
}

TEST_F(StoreLocationTest, AnEmptyLinkIsNoDatabase) {
  try {
    locate_store(file("ODBC;  \r\n"));
    FAIL() << "an empty link was taken";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::UnrecognizedFormat));
  }
}

TEST_F(StoreLocationTest, APasswordOnlyInAFileNoOneElseCanRead) {
  const std::string with_password = "ODBC;Driver=x;Uid=u;PWD=secreto;\r\n";
  EXPECT_EQ(locate_store(file(with_password, 0600)).connection_string, "Driver=x;Uid=u;PWD=secreto;");
  EXPECT_EQ(locate_store(file(with_password, 0400)).kind, StoreLocation::Kind::Server);
  for (mode_t mode : {0640, 0604, 0620, 0666}) {
    SCOPED_TRACE(mode);
    try {
      locate_store(file(with_password, mode));
      ADD_FAILURE() << "a password readable by others was used";
    } catch (const Failure& f) {
      EXPECT_NE(f.description().find("guarda una contraseña"), std::string::npos) << f.description();
      EXPECT_NE(f.description().find("chmod 600"), std::string::npos) << f.description();
    }
  }
  // Without a password the file may be read by anyone.
  EXPECT_EQ(locate_store(file("ODBC;DSN=x;PWD=;", 0644)).kind, StoreLocation::Kind::Server);
}

TEST(StoreLocation, PasswordsFoundByTheirKey) {
  EXPECT_TRUE(holds_password("Driver=x;PWD=a"));
  EXPECT_TRUE(holds_password("Driver=x; password = a ;"));
  EXPECT_TRUE(holds_password("pwd=a"));
  EXPECT_FALSE(holds_password("Driver=x;PWD=;"));
  EXPECT_FALSE(holds_password("Driver=x;Uid=pwd"));
  EXPECT_FALSE(holds_password("Driver=x;NOPWD=a"));
}

TEST_F(StoreLocationTest, TheApplicationsOwnFormatIsNotSupportedHere) {
  for (const char* format : {"Standard Jet DB", "Standard ACE DB"}) {
    std::string head = std::string("\x00\x01\x00\x00", 4) + format + std::string(64, '\0');
    try {
      locate_store(file(head));
      ADD_FAILURE() << format;
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::UnrecognizedFormat));
      EXPECT_NE(f.description().find("formato de base de datos no admitido en esta plataforma"), std::string::npos)
          << f.description();
    }
  }
}

}  // namespace
}  // namespace kavelo::db
