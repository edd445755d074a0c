#pragma once

#include <QString>

namespace mirsalex::schema {

// The operator's databases.
enum class Kind
{
    Clients, // DatiDV.mdb: Clienti
    Visits,  // VisiteDV.mdb: TabAzioni, Azioni, VisiteN, Appuntamenti
    Indices, // IndiciDV.mdb
};

// The file name of a database kind ("DatiDV.mdb", "VisiteDV.mdb", "IndiciDV.mdb").
QString fileName(Kind kind);

// Creates an empty database of the given kind at `path` from the schema kept
// with the program. Refuses to touch an existing file. Returns false with
// `error` set on failure.
bool createDatabase(const QString& path, Kind kind, QString* error = nullptr);

} // namespace mirsalex::schema
