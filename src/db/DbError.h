#pragma once

#include "common/Error.h"

#include <QString>

namespace mirsalex {

// Error numbers of the database engine layer. They follow the numbering the
// program has always shown to its users for engine failures (the 3000 range),
// next to a few run-time numbers raised while reading values.
namespace DbErr {
constexpr int Overflow = 6;             // a value does not fit its destination
constexpr int TypeMismatch = 13;        // a value is not of the kind expected
constexpr int InvalidUseOfNull = 94;    // a required value is Null
constexpr int Reserved = 3000;          // engine failure without a message of its own
constexpr int UpdateWithoutEdit = 3020; // Update without AddNew or Edit
constexpr int NoCurrentRecord = 3021;
constexpr int DuplicateKey = 3022;
constexpr int FileNotFound = 3024;
constexpr int DiskFull = 3026;
constexpr int ReadOnly = 3027;
constexpr int ResourcesExhausted = 3035;
constexpr int DiskOrNetworkError = 3043;
constexpr int InvalidPath = 3044;
constexpr int CannotOpenDatabase = 3049; // damaged or truncated file
constexpr int CannotOpenFile = 3051;     // permissions, lock, or not a readable file
constexpr int IndexNotFound = 3015;
constexpr int SelectNotExecutable = 3065;
constexpr int TableNotFound = 3078;
constexpr int RecordLocked = 3218;
constexpr int InvalidOperation = 3219;
constexpr int ItemNotFound = 3265; // no field of that name
constexpr int NullInRequiredField = 3314;
constexpr int ValidationRule = 3317;
constexpr int ObjectExists = 3012;
constexpr int ObjectClosed = 3420;
constexpr int ConversionError = 3421;
constexpr int UnrecognisedFormat = 3343;
constexpr int InvalidStatement = 3129;
constexpr int ParameterCount = 3061;  // the values given are not the statement's parameters
constexpr int KeyTypeMismatch = 3464; // a key field holds a value of the wrong kind
} // namespace DbErr

// A failure of the database layer (domain Database): the standard
// description of `number`; `object` names the file, table or field concerned
// where the description has a place for it, and is kept as the error's path.
Error dbError(int number, const QString& object = QString());
// As dbError(), with the engine's own words added for the record.
Error dbErrorWithDetail(int number, const QString& object, const QString& detail);

// The standard Italian description of an error number.
QString dbErrorDescription(int number, const QString& object = QString());

} // namespace mirsalex
