#include "db/store_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/failure.h"
#include "test_support.h"

namespace kavelo::db {
namespace {

// What locate_store makes of a file holding `bytes` with these permissions:
// "ODBC;" and the connection string of a link, "SQLite" for a file that is
// SQLite's to judge, or the number and description of the refusal (the path
// as RUTA).
std::string located(const test::TempDir& dir, const std::string& bytes, mode_t mode) {
  const std::string path = dir / "ENLACE.MDB";
  ::chmod(path.c_str(), 0600);
  test::write_bytes(path, bytes);
  ::chmod(path.c_str(), mode);
  try {
    StoreLocation location = locate_store(path);
    return (location.kind == StoreLocation::Kind::Server ? "ODBC;" : "SQLite") + location.connection_string;
  } catch (const Failure& f) {
    std::string text = std::to_string(f.number()) + " " + f.description();
    return text.replace(text.find(path), path.size(), "RUTA");
  }
}

TEST(StoreLocation, WhatTheFileHoldsAndWhoElseMayReadIt) {
  test::TempDir dir;
  const std::string password = "ODBC;Driver=x;Uid=u;PWD=secreto;\r\n", jet = std::string("\x00\x01\x00\x00", 4);
  const std::string not_a_database = "3343 No se reconoce el formato de la base de datos 'RUTA'.",
                    unsupported = " Es un formato de base de datos no admitido en esta plataforma.";
  const std::string shared =
      "3051 El archivo de enlace 'RUTA' guarda una contraseña y otros usuarios pueden leerlo o cambiarlo: no se "
      "usa. Déjelo solo para su propietario (chmod 600).";
  struct Case {
    std::string bytes;
    mode_t mode;
    std::string located;
  };
  const Case cases[] = {
      {"ODBC;Driver={PostgreSQL Unicode};Server=h;Database=d;\r\n", 0600,
       "ODBC;Driver={PostgreSQL Unicode};Server=h;Database=d;"},
      // The prefix in any case, the line end of either kind, or none.
      {"odbc;DSN=empresa\nsecond line is not read", 0600, "ODBC;DSN=empresa"},
      {"ODBC;DSN=x", 0600, "ODBC;DSN=x"},
      // Anything else is SQLite's to judge.
      {std::string("SQLite format 3\0\x10\0\x01\x01", 20), 0600, "SQLite"},
      {"not a link", 0600, "SQLite"}, {"", 0600, "SQLite"}, {" ODBC;DSN=x", 0600, "SQLite"},
      // An empty link, and the application's own formats, are no database here.
      {"ODBC;  \r\n", 0600, not_a_database},
      {jet + "Standard Jet DB" + std::string(64, '\0'), 0600, not_a_database + unsupported},
      {jet + "Standard ACE DB" + std::string(64, '\0'), 0600, not_a_database + unsupported},
      // A password only in a file no one else can read or change; without
      // one the file may be read by anyone.
      {password, 0600, "ODBC;Driver=x;Uid=u;PWD=secreto;"},
      {password, 0640, shared}, {password, 0604, shared}, {password, 0620, shared}, {password, 0666, shared},
      {"ODBC;DSN=x;PWD=;", 0644, "ODBC;DSN=x;PWD=;"},
      {password, 0400, "ODBC;Driver=x;Uid=u;PWD=secreto;"},
  };
  for (const Case& c : cases) EXPECT_EQ(located(dir, c.bytes, c.mode), c.located) << c.bytes << " " << c.mode;

  // Passwords are found by their key.
  for (const char* with : {"Driver=x;PWD=a", "Driver=x; password = a ;", "pwd=a"}) EXPECT_TRUE(holds_password(with)) << with;
  for (const char* without : {"Driver=x;PWD=;", "Driver=x;Uid=pwd", "Driver=x;NOPWD=a"})
    EXPECT_FALSE(holds_password(without)) << without;
}

}  // namespace
}  // namespace kavelo::db
