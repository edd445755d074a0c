#pragma once

#include <QtGlobal>
#include <vector>

struct sqlite3;

namespace mirsalex {

// Adds mx_walk, mx_listed, mx_text and mx_number to the SQL of
// `connection` (see Database::setWalkNotes); mx_walk notes its rows in
// `*walkNotes` while that is set, mx_listed looks its value up in `*listed`
// (in ascending order) while that is set.
void addProgramFunctions(sqlite3* connection, std::vector<qint64>** walkNotes,
                         const std::vector<qint64>** listed);

} // namespace mirsalex
