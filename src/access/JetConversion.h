#pragma once

#include "common/Error.h"
#include "common/JetSignature.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex::access {

struct TableResult
{
    QString name;       // the table's name as the Jet file has it
    qint64 rows = 0;    // rows converted
    qint64 ms = 0;      // time to convert it
    bool known = false; // a table of the program's schema (typed and keyed as the schema says)
};

struct Conversion
{
    QString source;                  // the Jet file
    QString target;                  // the SQLite file written
    JetSignature signature;          // of the source
    std::vector<TableResult> tables; // in the Jet file's order
    QStringList
        violations; // rows breaking a key or index of the schema, table by table, row by row
                    // ("Clienti, riga 12: chiave duplicata (CliCodice = 5)", "..., Null in CliCodice")
    Error error;    // why nothing was converted; empty when the target is complete and verified
    qint64 ms = 0;  // the whole conversion
};

// What can be checked without the library that reads the file: the
// signature (an Access file of a known Jet or ACE version), the page size,
// the file's length a whole number of pages (and at least two of them).
// Fails with a clear Italian text naming the file (numbers in AccessError.h).
// A database password of Jet 3 and Jet 4 does not encrypt the pages, and the
// header tells nothing more that could be trusted: an encrypted file is
// found out by the reader, as a damaged one.
Error checkJetFile(const QString& path, JetSignature* signature = nullptr);

// Converts the Jet file into a NEW SQLite database at `target` (which must
// not exist), journal_mode DELETE as the schema says. Every table but the
// engine's own, every row: tables of the program's schema (matched by name
// without regard to case) with the schema's own statements, their columns
// matched by name and Jet columns the schema lacks added; other tables with
// the Jet types mapped (JetData.h). Verified before it returns: row counts
// per table, PRAGMA integrity_check, and a checksum of every row's values
// read back against the one of the values read from the Jet file. The file
// is built under a temporary name beside the target and put in place only
// when verified; on any failure (bad file, key violations, verification)
// nothing is left at the target and `error` says why; `violations` lists the
// rows. The source is only read.
Conversion convertJetFile(const QString& source, const QString& target);

// The most rows breaking a key listed in Conversion::violations.
constexpr int kViolationCap = 200;

} // namespace mirsalex::access
