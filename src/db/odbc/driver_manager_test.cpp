#include "db/odbc/driver_manager.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace kavelo::db::odbc {
namespace {

TEST(DriverManager, TheSystemsOneServesAnEnvironment) {
  const DriverManager& api = driver_manager();
  SQLHANDLE environment = SQL_NULL_HANDLE;
  ASSERT_EQ(api.AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment), SQL_SUCCESS);
  EXPECT_EQ(api.SetEnvAttr(environment, SQL_ATTR_ODBC_VERSION,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0),
            SQL_SUCCESS);
  EXPECT_EQ(api.FreeHandle(SQL_HANDLE_ENV, environment), SQL_SUCCESS);
  EXPECT_EQ(&driver_manager(), &api);
}

TEST(DriverManager, ALibraryThatCannotServeIsNamedWithTheReason) {
  struct Case {
    const char* library;
    const char* reason;  // part of the loader's own words
  };
  // The C library opens, but has none of the functions.
  for (const Case& c : {Case{"libkavelo-no-such-odbc.so.9", "No such file"}, Case{"libc.so.6", "SQLAllocHandle"}}) {
    try {
      load_driver_manager(c.library);
      ADD_FAILURE() << c.library << " loaded";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), 3000);
      EXPECT_NE(failure.description().find(std::string("gestor de controladores ODBC ") + c.library + ": "),
                std::string::npos)
          << failure.description();
      EXPECT_NE(failure.description().find(c.reason), std::string::npos) << failure.description();
    }
  }
}

}  // namespace
}  // namespace kavelo::db::odbc
