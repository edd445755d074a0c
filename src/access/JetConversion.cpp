#include "access/JetConversion.h"

#include "access/AccessError.h"
#include "access/JetData.h"
#include "access/JetReader.h"
#include "access/JetWriter.h"
#include "common/AtomicFile.h"
#include "db/Database.h"
#include "db/Integrity.h"
#include "db/Sqlite.h"
#include "db/Statement.h"

#include <cerrno>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

namespace mirsalex::access {

namespace {

// The SQLite file being built under its temporary name, removed unless kept.
struct TemporaryDatabase
{
    QString path;
    bool keep = false;
    ~TemporaryDatabase()
    {
        if (!keep && !path.isEmpty()) {
            QFile::remove(path);
            QFile::remove(path + QStringLiteral("-journal"));
        }
    }
};

JetValue readBack(const Statement& s, int column)
{
    const Statement::Column c = s.column(column);
    switch (c.type) {
    case 1: // SQLITE_INTEGER
        return JetValue::integer(c.whole);
    case 2: // SQLITE_FLOAT
        return JetValue::number(c.real);
    case 3: // SQLITE_TEXT
        return JetValue::text(c.bytes.toByteArray());
    case 4: // SQLITE_BLOB
        return JetValue::blob(c.bytes.toByteArray());
    default:
        return JetValue::null();
    }
}

int bindValue(Statement& s, int index, const JetValue& v)
{
    switch (v.kind) {
    case JetValue::Kind::Null:
        return s.bind(index, QVariant());
    case JetValue::Kind::Integer:
        return s.bindInt64(index, v.whole);
    case JetValue::Kind::Real:
        return s.bindDouble(index, v.real);
    case JetValue::Kind::Text:
        return s.bindText(index, v.bytes);
    case JetValue::Kind::Blob:
        return s.bindBlob(index, v.bytes);
    }
    return 1;
}

struct Planned
{
    const JetTable* jet = nullptr;
    const SchemaTable* schema = nullptr;
    std::vector<TargetColumn> columns;
    QByteArray checksum;
};

} // namespace

Error checkJetFile(const QString& path, JetSignature* signature)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return accessError(
            AccessErr::Unreadable,
            QStringLiteral("Il file '%1' non può essere letto (%2).").arg(path, f.errorString()), path);
    const QByteArray head = f.read(0x80);
    const qint64 size = f.size();
    const std::optional<JetSignature> s = jetSignature(head);
    if (!s)
        return accessError(AccessErr::NotAccessFile,
                           QStringLiteral("Il file '%1' non è un database Access.").arg(path), path);
    if (signature)
        *signature = *s;
    if (!s->known())
        return accessError(
            AccessErr::UnknownVersion,
            QStringLiteral("Il file '%1' è un database Access di una versione che il programma non "
                           "legge (%2).")
                .arg(path, s->versionName()),
            path);
    if (s->pageSize <= 0 || size < 2 * qint64(s->pageSize) || size % s->pageSize != 0)
        return accessError(
            AccessErr::BadLength,
            QStringLiteral("Il file Access '%1' è troncato o danneggiato: la sua lunghezza (%2 "
                           "byte) non è un numero intero di pagine da %3 byte.")
                .arg(path)
                .arg(size)
                .arg(s->pageSize),
            path);
    return Error{};
}

Conversion convertJetFile(const QString& source, const QString& target)
{
    QElapsedTimer whole;
    whole.start();
    Conversion c;
    c.source = source;
    c.target = target;
    if (Error e = checkJetFile(source, &c.signature)) {
        c.error = e;
    } else {
        std::vector<JetTable> tables;
        if (Error readError = readJetFile(source, tables))
            c.error = readError;
        else
            writeJetTables(tables, c);
    }
    if (c.error)
        c.tables.clear();
    c.ms = whole.elapsed();
    return c;
}

void writeJetTables(const std::vector<JetTable>& tables, Conversion& c)
{
    const QString& source = c.source;
    const QString& target = c.target;
    auto done = [&](Error e) {
        c.error = e;
        if (e)
            c.tables.clear();
    };
    const QFileInfo targetInfo(target);
    if (target.isEmpty() || targetInfo.exists() || targetInfo.isSymLink())
        return done(accessError(AccessErr::TargetExists,
                                QStringLiteral("Il file '%1' esiste già: la conversione di '%2' non lo "
                                               "sovrascrive.")
                                    .arg(target, source),
                                target));

    QString why;
    const QHash<QString, SchemaTable> schema = schemaTables(&why);
    if (schema.isEmpty())
        return done(accessError(AccessErr::WriteFailed,
                                QStringLiteral("Lo schema del programma non è disponibile (%1).").arg(why),
                                target));

    // The keys first: a file whose rows break one is not converted.
    std::vector<Planned> plan;
    int violations = 0;
    for (const JetTable& t : tables) {
        Planned p;
        p.jet = &t;
        const auto known = schema.constFind(t.name.toLower());
        p.schema = known == schema.constEnd() ? nullptr : &known.value();
        p.columns = targetColumns(t, p.schema);
        if (p.schema) {
            int found = 0;
            c.violations << keyViolations(t, *p.schema, kViolationCap - int(c.violations.size()), &found);
            violations += found;
        }
        plan.push_back(std::move(p));
    }
    if (violations > 0)
        return done(accessError(
            AccessErr::KeyViolations,
            QStringLiteral(
                "Il file Access '%1' non è stato convertito: %2 righe violano una chiave o un indice "
                "delle tabelle del programma.")
                .arg(source)
                .arg(violations),
            source));

    auto writeFailed = [&](const QString& detail) {
        return accessError(AccessErr::WriteFailed,
                           QStringLiteral("Il file '%1' non può essere scritto (%2).").arg(target, detail),
                           target);
    };
    TemporaryDatabase temp;
    temp.path = targetInfo.absolutePath() + QLatin1Char('/') + AtomicFile::temporaryPrefix() +
                targetInfo.fileName() + QLatin1Char('.') +
                QString::number(QRandomGenerator::global()->generate(), 16);
    {
        sqlite::Connection db;
        if (db.open(QUrl::fromLocalFile(temp.path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rwc"),
                    sqlite::kOpenReadWrite | sqlite::kOpenCreate | sqlite::kOpenNoMutex, 0) != sqlite::kOk)
            return done(writeFailed(db.message()));
        if (db.exec(QStringLiteral("PRAGMA journal_mode = DELETE")) != sqlite::kOk)
            return done(writeFailed(db.message()));
        sqlite::Transaction transaction(db, sqlite::Transaction::Mode::Immediate);
        if (transaction.begun() != sqlite::kOk)
            return done(writeFailed(db.message()));
        for (Planned& p : plan) {
            QElapsedTimer clock;
            clock.start();
            const JetTable& t = *p.jet;
            const QString tableName = p.schema ? p.schema->name : t.name;
            QStringList ddl;
            if (p.schema) {
                ddl = p.schema->statements;
                for (const TargetColumn& col : p.columns)
                    if (col.schemaColumn < 0)
                        ddl << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                                   .arg(Database::quoted(tableName), Database::quoted(col.name), col.type);
            } else {
                QStringList defs;
                for (const TargetColumn& col : p.columns)
                    defs << Database::quoted(col.name) + QLatin1Char(' ') + col.type;
                ddl << QStringLiteral("CREATE TABLE %1 (%2)")
                           .arg(Database::quoted(tableName), defs.join(QStringLiteral(", ")));
            }
            for (const QString& sql : ddl)
                if (db.exec(sql) != sqlite::kOk)
                    return done(writeFailed(QStringLiteral("%1: %2").arg(t.name, db.message())));
            QStringList names;
            QStringList marks;
            for (const TargetColumn& col : p.columns) {
                names << Database::quoted(col.name);
                marks << QStringLiteral("?");
            }
            RowChecksum sum;
            if (!p.columns.empty()) {
                Statement insert;
                if (insert.prepare(db.get(),
                                   QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                       .arg(Database::quoted(tableName), names.join(QStringLiteral(", ")),
                                            marks.join(QStringLiteral(", ")))) != sqlite::kOk)
                    return done(writeFailed(insert.error(t.name).text));
                for (const JetRow& row : t.rows) {
                    JetRow stored(p.columns.size());
                    for (size_t i = 0; i < p.columns.size(); ++i) {
                        stored[i] =
                            toColumnKind(i < row.size() ? row[i] : JetValue::null(), p.columns[i].kind);
                        if (bindValue(insert, int(i), stored[i]) != sqlite::kOk)
                            return done(writeFailed(insert.error(t.name).text));
                    }
                    if (insert.step() != sqlite::kDone)
                        return done(writeFailed(insert.error(t.name).text));
                    insert.reset();
                    sum.addRow(stored);
                }
            }
            p.checksum = sum.result();
            c.tables.push_back({t.name, qint64(t.rows.size()), clock.elapsed(), p.schema != nullptr});
        }
        if (transaction.commit() != sqlite::kOk)
            return done(writeFailed(db.message()));
    }

    // Read back what was written.
    auto verifyFailed = [&](const QString& detail) {
        return accessError(AccessErr::VerifyFailed,
                           QStringLiteral("La conversione del file Access '%1' non è stata confermata dalla "
                                          "rilettura (%2): il file '%3' non è stato scritto.")
                               .arg(source, detail, target),
                           target);
    };
    {
        sqlite::Connection db;
        if (db.open(QUrl::fromLocalFile(temp.path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"),
                    sqlite::kOpenReadWrite | sqlite::kOpenNoMutex, 0) != sqlite::kOk)
            return done(verifyFailed(db.message()));
        for (size_t i = 0; i < plan.size(); ++i) {
            const Planned& p = plan[i];
            const QString tableName = p.schema ? p.schema->name : p.jet->name;
            Statement count;
            if (count.prepare(db.get(),
                              QStringLiteral("SELECT count(*) FROM %1").arg(Database::quoted(tableName))) !=
                    sqlite::kOk ||
                count.step() != sqlite::kRow)
                return done(verifyFailed(count.error(tableName).text));
            if (count.int64(0) != qint64(p.jet->rows.size()))
                return done(verifyFailed(QStringLiteral("la tabella %1 ha %2 righe invece di %3")
                                             .arg(p.jet->name)
                                             .arg(count.int64(0))
                                             .arg(p.jet->rows.size())));
            if (p.columns.empty())
                continue;
            QStringList names;
            for (const TargetColumn& col : p.columns)
                names << Database::quoted(col.name);
            Statement rows;
            if (rows.prepare(db.get(), QStringLiteral("SELECT %1 FROM %2")
                                           .arg(names.join(QStringLiteral(", ")),
                                                Database::quoted(tableName))) != sqlite::kOk)
                return done(verifyFailed(rows.error(tableName).text));
            RowChecksum sum;
            int r = 0;
            while ((r = rows.step()) == sqlite::kRow) {
                JetRow row(p.columns.size());
                for (size_t k = 0; k < p.columns.size(); ++k)
                    row[k] = readBack(rows, int(k));
                sum.addRow(row);
            }
            if (r != sqlite::kDone)
                return done(verifyFailed(rows.error(tableName).text));
            if (sum.result() != p.checksum)
                return done(
                    verifyFailed(QStringLiteral("i valori della tabella %1 non sono quelli del file Access")
                                     .arg(p.jet->name)));
        }
    }
    if (Error e = checkDatabaseIntegrity(temp.path))
        return done(verifyFailed(e.text));
    if (AtomicFile::syncPath(temp.path) != 0)
        return done(writeFailed(QStringLiteral("scrittura su disco non riuscita")));
    const int placed = AtomicFile::placeNew(temp.path, targetInfo.absoluteFilePath());
    temp.keep = true; // placeNew() leaves no temporary behind
    if (placed == EEXIST)
        return done(accessError(AccessErr::TargetExists,
                                QStringLiteral("Il file '%1' esiste già: la conversione di '%2' non lo "
                                               "sovrascrive.")
                                    .arg(target, source),
                                target));
    if (placed != 0)
        return done(writeFailed(QString::fromLocal8Bit(std::strerror(placed))));
    return done(Error{});
}

} // namespace mirsalex::access
