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

// True when the rollback journal of a write that did not end lies beside the
// database file at `path` (a process killed inside a transaction): the file
// alone is then not the database, and whoever opens it next rolls the
// journal back onto it.
bool interruptedWriteBeside(const QString& path);

// Rolls back the interrupted write whose journal lies beside the database
// file at `path`, as the engine does when it opens such a file: the file is
// opened for writing and read, the engine puts back the pages the journal
// holds and removes the journal (and a super-journal no other file needs
// any more). Nothing is done when no such journal is there. A journal the
// engine finds not to be hot (a header never written whole, a write across
// several files that had committed) may stay: it no longer belongs to the
// file. Fails when the engine cannot read the file after all (a damaged
// file, a folder that cannot be written, another program holding it).
Error rollBackInterruptedWrite(const QString& path);

} // namespace mirsalex
