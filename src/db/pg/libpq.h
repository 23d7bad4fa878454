#pragma once
// libpq, loaded at the first connection to a server: a run on a company file
// never loads it, nor the two dozen libraries it brings along.
#include <libpq-fe.h>

namespace kavelo::db::pg {

// The functions of libpq this program calls, by their own names.
struct LibPq {
  decltype(&::PQclear) PQclear;
  decltype(&::PQcancel) PQcancel;
  decltype(&::PQcmdStatus) PQcmdStatus;
  decltype(&::PQcmdTuples) PQcmdTuples;
  decltype(&::PQconnectPoll) PQconnectPoll;
  decltype(&::PQconnectStartParams) PQconnectStartParams;
  decltype(&::PQconnectionNeedsPassword) PQconnectionNeedsPassword;
  decltype(&::PQconsumeInput) PQconsumeInput;
  decltype(&::PQenterPipelineMode) PQenterPipelineMode;
  decltype(&::PQerrorMessage) PQerrorMessage;
  decltype(&::PQexitPipelineMode) PQexitPipelineMode;
  decltype(&::PQfinish) PQfinish;
  decltype(&::PQflush) PQflush;
  decltype(&::PQfreeCancel) PQfreeCancel;
  decltype(&::PQgetCancel) PQgetCancel;
  decltype(&::PQgetResult) PQgetResult;
  decltype(&::PQgetisnull) PQgetisnull;
  decltype(&::PQgetlength) PQgetlength;
  decltype(&::PQgetvalue) PQgetvalue;
  decltype(&::PQisBusy) PQisBusy;
  decltype(&::PQnfields) PQnfields;
  decltype(&::PQntuples) PQntuples;
  decltype(&::PQpingParams) PQpingParams;
  decltype(&::PQpipelineSync) PQpipelineSync;
  decltype(&::PQputCopyData) PQputCopyData;
  decltype(&::PQputCopyEnd) PQputCopyEnd;
  decltype(&::PQresultErrorField) PQresultErrorField;
  decltype(&::PQresultErrorMessage) PQresultErrorMessage;
  decltype(&::PQresultStatus) PQresultStatus;
  decltype(&::PQsendPrepare) PQsendPrepare;
  decltype(&::PQsendQuery) PQsendQuery;
  decltype(&::PQsendQueryParams) PQsendQueryParams;
  decltype(&::PQsendQueryPrepared) PQsendQueryPrepared;
  decltype(&::PQsetErrorVerbosity) PQsetErrorVerbosity;
  decltype(&::PQsetNoticeProcessor) PQsetNoticeProcessor;
  decltype(&::PQsetnonblocking) PQsetnonblocking;
  decltype(&::PQsocket) PQsocket;
  decltype(&::PQstatus) PQstatus;
};

// libpq, loaded the first time; a machine without it fails saying so.
const LibPq& pq();

}  // namespace kavelo::db::pg
