#include "db/pg/libpq.h"

#include <dlfcn.h>

#include <string>

#include "platform/failure.h"

namespace kavelo::db::pg {

const LibPq& pq() {
  static const LibPq library = [] {
    void* handle = ::dlopen(KAVELO_LIBPQ, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
      throw failure(ErrorCode::EngineFailure,
                    std::string("no se puede cargar la biblioteca de PostgreSQL (" KAVELO_LIBPQ "): ") + ::dlerror());
    LibPq functions{};
    auto load = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
      if (!function)
        throw failure(ErrorCode::EngineFailure,
                      std::string("la biblioteca de PostgreSQL (" KAVELO_LIBPQ ") no tiene ") + name);
    };
    load(functions.PQclear, "PQclear");
    load(functions.PQcancel, "PQcancel");
    load(functions.PQcmdStatus, "PQcmdStatus");
    load(functions.PQcmdTuples, "PQcmdTuples");
    load(functions.PQconnectPoll, "PQconnectPoll");
    load(functions.PQconnectStartParams, "PQconnectStartParams");
    load(functions.PQconnectionNeedsPassword, "PQconnectionNeedsPassword");
    load(functions.PQconsumeInput, "PQconsumeInput");
    load(functions.PQenterPipelineMode, "PQenterPipelineMode");
    load(functions.PQerrorMessage, "PQerrorMessage");
    load(functions.PQexitPipelineMode, "PQexitPipelineMode");
    load(functions.PQfinish, "PQfinish");
    load(functions.PQflush, "PQflush");
    load(functions.PQfreeCancel, "PQfreeCancel");
    load(functions.PQgetCancel, "PQgetCancel");
    load(functions.PQgetResult, "PQgetResult");
    load(functions.PQgetisnull, "PQgetisnull");
    load(functions.PQgetlength, "PQgetlength");
    load(functions.PQgetvalue, "PQgetvalue");
    load(functions.PQisBusy, "PQisBusy");
    load(functions.PQnfields, "PQnfields");
    load(functions.PQntuples, "PQntuples");
    load(functions.PQpingParams, "PQpingParams");
    load(functions.PQpipelineSync, "PQpipelineSync");
    load(functions.PQputCopyData, "PQputCopyData");
    load(functions.PQputCopyEnd, "PQputCopyEnd");
    load(functions.PQresultErrorField, "PQresultErrorField");
    load(functions.PQresultErrorMessage, "PQresultErrorMessage");
    load(functions.PQresultStatus, "PQresultStatus");
    load(functions.PQsendPrepare, "PQsendPrepare");
    load(functions.PQsendQuery, "PQsendQuery");
    load(functions.PQsendQueryParams, "PQsendQueryParams");
    load(functions.PQsendQueryPrepared, "PQsendQueryPrepared");
    load(functions.PQsetErrorVerbosity, "PQsetErrorVerbosity");
    load(functions.PQsetNoticeProcessor, "PQsetNoticeProcessor");
    load(functions.PQsetnonblocking, "PQsetnonblocking");
    load(functions.PQsocket, "PQsocket");
    load(functions.PQstatus, "PQstatus");
    return functions;
  }();
  return library;
}

}  // namespace kavelo::db::pg
