#pragma once
// The ODBC driver manager, opened at the first connection to a server instead
// of being linked: a run on a company file neither maps it nor resolves its
// symbols at start, and a machine without it can still load company files.
#include <sql.h>
#include <sqlext.h>

namespace kavelo::db::odbc {

struct DriverManager {
  decltype(&::SQLAllocHandle) AllocHandle;
  decltype(&::SQLBindParameter) BindParameter;
  decltype(&::SQLCloseCursor) CloseCursor;
  decltype(&::SQLColAttribute) ColAttribute;
  decltype(&::SQLDescribeCol) DescribeCol;
  decltype(&::SQLDisconnect) Disconnect;
  decltype(&::SQLDriverConnect) DriverConnect;
  decltype(&::SQLEndTran) EndTran;
  decltype(&::SQLExecDirect) ExecDirect;
  decltype(&::SQLExecute) Execute;
  decltype(&::SQLFetch) Fetch;
  decltype(&::SQLFreeHandle) FreeHandle;
  decltype(&::SQLFreeStmt) FreeStmt;
  decltype(&::SQLGetConnectAttr) GetConnectAttr;
  decltype(&::SQLGetData) GetData;
  decltype(&::SQLGetDiagRec) GetDiagRec;
  decltype(&::SQLNumResultCols) NumResultCols;
  decltype(&::SQLPrepare) Prepare;
  decltype(&::SQLRowCount) RowCount;
  decltype(&::SQLSetConnectAttr) SetConnectAttr;
  decltype(&::SQLSetEnvAttr) SetEnvAttr;
};

// The functions of the driver manager `library` (a file name the dynamic
// loader searches for, or a path). Throws an engine failure naming the library
// and the loader's reason when it cannot be opened or lacks a function; a
// library once opened stays open.
DriverManager load_driver_manager(const char* library);

// The system's driver manager, opened at the first call.
const DriverManager& driver_manager();

}  // namespace kavelo::db::odbc
