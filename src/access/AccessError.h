#pragma once

#include "common/Error.h"

#include <QString>

namespace mirsalex::access {

// Error numbers of the Access file converter (domain Database, a range of
// their own above the engine's 3000 range). The text names the file.
namespace AccessErr {
constexpr int NotAccessFile = 4101;  // no Access signature at the start of the file
constexpr int UnknownVersion = 4102; // an Access file of a version this program does not read
constexpr int BadLength = 4103;      // empty, or not a whole number of pages
constexpr int Encrypted = 4104;      // password protected or encrypted
constexpr int Unreadable = 4105;     // cannot be opened or read
constexpr int Damaged = 4106;        // the reader failed, crashed or took too long on it
constexpr int KeyViolations = 4107;  // rows break a key or an index of the schema
constexpr int TargetExists = 4108;   // the SQLite file to write is already there
constexpr int WriteFailed = 4109;    // the SQLite file could not be written
constexpr int VerifyFailed = 4110;   // the written file does not read back as the Jet file
} // namespace AccessErr

// An error of the converter: `text` already worded (in Italian), `path` the file.
inline Error accessError(int number, const QString& text, const QString& path)
{
    return Error{ErrorDomain::Database, number, text, path};
}

} // namespace mirsalex::access
