#pragma once

#include <QString>
#include <QStringList>

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

// The statements of one database section of the schema kept with the
// program (its settings, tables and indexes), in order; empty with `error`
// set when the schema cannot be read.
QStringList statements(Kind kind, QString* error = nullptr);

// Creates an empty database of the given kind at `path` from the schema kept
// with the program. Refuses to touch an existing file. Returns false with
// `error` set on failure.
bool createDatabase(const QString& path, Kind kind, QString* error = nullptr);

} // namespace mirsalex::schema
