#pragma once
// A failure of the program: a number and a Spanish description, as the error
// report shows them. Every description comes from the catalogue in failure.cpp.
#include <stdexcept>
#include <string>
#include <string_view>

namespace kavelo {

enum class ErrorCode : int {
  // Run-time errors of file reading and conversions.
  Overflow = 6,
  OutOfStringSpace = 14,
  TypeMismatch = 13,
  BadFileNameOrNumber = 52,
  FileNotFound = 53,
  InputPastEndOfFile = 62,
  PathFileAccess = 75,
  PathNotFound = 76,
  // Errors of the database engine.
  NoKeyIndex = 3015,
  NoCurrentRecord = 3021,
  DuplicateValue = 3022,
  DatabaseFileNotFound = 3024,
  UpdateWithoutEdit = 3020,
  QuerySyntax = 3075,
  TableNotFound = 3078,
  TooFewParameters = 3061,
  TextTooLong = 3163,
  ItemNotFound = 3265,
  RequiredValue = 3314,
  ValidationRule = 3317,
  UnrecognizedFormat = 3343,
  DataTypeConversion = 3421,
  DatabaseInUse = 3045,
  TableInUse = 3211,
  CannotOpenFile = 3051,
  ReadOnly = 3027,
  InvalidOperation = 3251,
  DiskIo = 3043,
  DiskFull = 3035,
  EngineFailure = 3000,
  // kavelo's own.
  BadRecordIdentifier = 4001,
  NulInText = 4002,
  NarrowBalance = 4003,
};

class Failure : public std::runtime_error {
 public:
  Failure(int number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  int number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

// The catalogue's description for a code; `detail` fills the one place some
// descriptions have for a name (a file, a column, a table).
std::string describe(ErrorCode code, std::string_view detail = {});

// A Failure with the catalogue's description.
Failure failure(ErrorCode code, std::string_view detail = {});

}  // namespace kavelo
