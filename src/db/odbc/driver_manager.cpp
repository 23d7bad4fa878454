#include "db/odbc/driver_manager.h"

#include <dlfcn.h>

#include <fmt/format.h>

#include "platform/failure.h"

namespace kavelo::db::odbc {
namespace {

[[noreturn]] void cannot_load(const char* library) {
  const char* reason = ::dlerror();
  throw failure(ErrorCode::EngineFailure,
                fmt::format("no se puede cargar el gestor de controladores ODBC {}: {}", library,
                            reason != nullptr ? reason : "motivo desconocido"));
}

template <typename Function>
void bind(void* module, const char* library, const char* name, Function& function) {
  void* address = ::dlsym(module, name);
  if (address == nullptr) cannot_load(library);
  function = reinterpret_cast<Function>(address);
}

}  // namespace

DriverManager load_driver_manager(const char* library) {
  void* module = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) cannot_load(library);
  DriverManager api{};
  bind(module, library, "SQLAllocHandle", api.AllocHandle);
  bind(module, library, "SQLBindParameter", api.BindParameter);
  bind(module, library, "SQLCloseCursor", api.CloseCursor);
  bind(module, library, "SQLColAttribute", api.ColAttribute);
  bind(module, library, "SQLDescribeCol", api.DescribeCol);
  bind(module, library, "SQLDisconnect", api.Disconnect);
  bind(module, library, "SQLDriverConnect", api.DriverConnect);
  bind(module, library, "SQLEndTran", api.EndTran);
  bind(module, library, "SQLExecDirect", api.ExecDirect);
  bind(module, library, "SQLExecute", api.Execute);
  bind(module, library, "SQLFetch", api.Fetch);
  bind(module, library, "SQLFreeHandle", api.FreeHandle);
  bind(module, library, "SQLFreeStmt", api.FreeStmt);
  bind(module, library, "SQLGetConnectAttr", api.GetConnectAttr);
  bind(module, library, "SQLGetData", api.GetData);
  bind(module, library, "SQLGetDiagRec", api.GetDiagRec);
  bind(module, library, "SQLNumResultCols", api.NumResultCols);
  bind(module, library, "SQLPrepare", api.Prepare);
  bind(module, library, "SQLRowCount", api.RowCount);
  bind(module, library, "SQLSetConnectAttr", api.SetConnectAttr);
  bind(module, library, "SQLSetEnvAttr", api.SetEnvAttr);
  return api;
}

const DriverManager& driver_manager() {
  // A failure leaves it unset, so that the next connection tries again.
  static const DriverManager api = load_driver_manager(KAVELO_ODBC_LIBRARY);
  return api;
}

}  // namespace kavelo::db::odbc
