#pragma once

#include "common/JetSignature.h"

#include <QString>
#include <vector>

namespace mirsalex {

struct RunRequest;

// A database a run would open that is still in the Access format of the main
// application: it must be converted (mirsalex --import-access) before a run
// can merge or copy it.
struct AccessDatabase
{
    QString path; // as found on the disk
    JetSignature signature;
};

// The Access databases among those the request's ticked steps would open:
// the clients databases (local and exchange copy), the visits databases
// beside them, the indices database and its exchange copy. Files that are
// missing or are no Access file are not listed.
std::vector<AccessDatabase> accessDatabasesOf(const RunRequest& request);

// The command that converts the operator's Access databases for this
// installation and side.
QString importAccessCommand(const RunRequest& request);

// The box that stops the run: the files, what they are, and the command.
QString accessDatabasesMessage(const std::vector<AccessDatabase>& found, const RunRequest& request);

} // namespace mirsalex
