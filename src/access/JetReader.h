#pragma once

#include "access/JetData.h"
#include "common/Error.h"

#include <QString>
#include <vector>

namespace mirsalex::access {

// Reads every table of a Jet file but the engine's own (MSys...), with every
// row, through libmdb.
//
// libmdb trusts the file it reads: a damaged file can make it read out of
// bounds, crash or loop. So it never runs in this process: a child process
// (fork) opens the file read-only, reads it and streams the tables over a
// pipe; this process enforces a time limit and a limit on what it takes in,
// and a child that fails, is killed by a signal, overruns either limit or
// sends anything but a whole, well-formed stream means a damaged file. The
// file is never written.
Error readJetFile(const QString& path, std::vector<JetTable>& tables);

// The time the reader is given for a file, in milliseconds (by default one
// minute plus two seconds a megabyte); 0 restores the default. For tests.
void setJetReadTimeout(int milliseconds);

} // namespace mirsalex::access
