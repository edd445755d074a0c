#pragma once

#include <QString>

namespace mirsalex {

// What an error's number counts in.
enum class ErrorDomain
{
    None,     // no error
    File,     // the file layer's run-time numbers (53 file not found, 61 disk full, ...;
              // see platform::errorDescription())
    Database, // the database layer's numbers (DbErr in db/DbError.h)
    System,   // an errno value the file layer has not put in its numbers yet
};

// The outcome of everything in this program that can fail, from the file
// layer up to the run's report: success (number 0), or the domain and number
// of the failure, the Italian text the program shows for it and the file,
// table or field concerned (empty when there is none). Every layer words its
// own errors: the file layer through platform::errorDescription(), the
// database layer through dbErrorDescription().
struct [[nodiscard]] Error
{
    ErrorDomain domain = ErrorDomain::None;
    int number = 0; // 0 when there is no error
    QString text;   // the description shown to the user
    QString path;   // the file, folder, table or field concerned

    explicit operator bool() const { return number != 0; }
    // The file or folder is not there (53 file not found, 76 path not
    // found): for a search or a listing, nothing found rather than a failure.
    bool notFound() const { return number == 53 || number == 76; }

    // An errno value with the system's own words for it, for the layers that
    // word or number it again (platform::fileErrorFromErrno()). An err of 0
    // stands for EIO: a failure without a reason is still a failure.
    static Error system(int err, const QString& path);
};

} // namespace mirsalex
