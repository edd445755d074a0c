#pragma once

#include "db/DbError.h"

#include <QString>

namespace mirsalex {

// Checks that the database file at `path` is sound through and through, not
// only at its header: every page is read and the engine's own consistency
// check must pass. The file is opened read-only and never changed. Fails
// with the numbers of Database::checkFile(), 3049 for a damaged file (the
// engine's finding in the description), or 3218 when another program holds
// the file for longer than the busy timeout.
Error checkDatabaseIntegrity(const QString& path);

} // namespace mirsalex
