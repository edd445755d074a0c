#include "run/Preview.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "db/Database.h"
#include "db/Integrity.h"
#include "sync/ClientTransfer.h"
#include "sync/Schema.h"
#include "sync/TwoWayMerge.h"
#include "sync/VisitsSync.h"
#include "transfer/FileTimes.h"

#include <optional>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <sqlite3.h>
#include <type_traits>

namespace mirsalex {

namespace {

const QChar kLf(10);

// The local database opened read-only with the exchange copy attached
// read-only as "ex": nothing this connection does can change either file,
// and neither is ever created.
class ReadOnlyPair
{
public:
    ReadOnlyPair() = default;
    ~ReadOnlyPair() { sqlite3_close_v2(m_db); }
    ReadOnlyPair(const ReadOnlyPair&) = delete;
    ReadOnlyPair& operator=(const ReadOnlyPair&) = delete;

    bool open(const QString& local, const QString& exchange)
    {
        const int rc =
            sqlite3_open_v2(uri(local).constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (rc != SQLITE_OK)
            return fail();
        sqlite3_busy_timeout(m_db, 5000);
        sqlite3_stmt* attach = nullptr;
        if (sqlite3_prepare_v2(m_db, "ATTACH DATABASE ? AS ex", -1, &attach, nullptr) != SQLITE_OK)
            return fail();
        const QByteArray other = uri(exchange);
        sqlite3_bind_text(attach, 1, other.constData(), int(other.size()), SQLITE_TRANSIENT);
        const int step = sqlite3_step(attach);
        sqlite3_finalize(attach);
        // A file that is not a database shows at its first read.
        return step == SQLITE_DONE && count(QStringLiteral("SELECT count(*) FROM main.sqlite_master")) >= 0 &&
               count(QStringLiteral("SELECT count(*) FROM ex.sqlite_master")) >= 0;
    }

    // The single number the query gives, -1 when it cannot be had.
    qint64 count(const QString& sql)
    {
        qint64 n = -1;
        if (!run(sql, [&n](sqlite3_stmt* s) { n = sqlite3_column_int64(s, 0); }))
            return -1;
        return n;
    }

    // Runs `sql`, calling `row` on each row until it returns false. False
    // (and error() set) when the query fails.
    template <typename Row> bool run(const QString& sql, Row row)
    {
        sqlite3_stmt* s = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &s, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s);
            return fail();
        }
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            if constexpr (std::is_same_v<decltype(row(s)), bool>) {
                if (!row(s)) {
                    rc = SQLITE_DONE;
                    break;
                }
            } else {
                row(s);
            }
        }
        sqlite3_finalize(s);
        return rc == SQLITE_DONE || fail();
    }

    QString error() const { return m_error; }

private:
    static QByteArray uri(const QString& path)
    {
        return (QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
                QStringLiteral("?mode=ro"))
            .toUtf8();
    }
    bool fail()
    {
        m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("memoria esaurita");
        return false;
    }

    sqlite3* m_db = nullptr;
    QString m_error;
};

QString text(sqlite3_stmt* s, int column)
{
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return t ? QString::fromUtf8(t, sqlite3_column_bytes(s, column)) : QString();
}

// A column as the merges read it.
QVariant value(sqlite3_stmt* s, int column)
{
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(s, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s, column));
    case SQLITE_TEXT:
        return QVariant(text(s, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(s, column)),
                                   sqlite3_column_bytes(s, column)));
    default:
        return QVariant();
    }
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(platform::resolve(a)).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(platform::resolve(b)).canonicalFilePath();
}

// Whether the run's file test would find `path`: a file of that name in its
// folder, or (for a folder, with its trailing separator) any file in it. A
// missing removable disk is a question the run would ask (Retry/Cancel); it
// is listed and counts as not found.
bool found(Preview& p, const QString& path)
{
    if (path.trimmed().isEmpty())
        return false;
    QString folder, pattern;
    platform::splitPath(path, folder, pattern);
    if (pattern.isEmpty())
        pattern = QStringLiteral("*");
    const bool skipHidden = !pattern.startsWith(QLatin1Char('.'));
    QList<platform::DirEntry> entries;
    if (!platform::listDirectory(folder, pattern, false, entries)) {
        for (const platform::DirEntry& e : std::as_const(entries)) {
            if (!skipHidden || !e.name.startsWith(QLatin1Char('.')))
                return true;
        }
    }
    const QString medium = platform::absentMedium(path);
    if (!medium.isEmpty())
        p.questions << QStringLiteral("DISCO NON PRONTO (%1): riprovo? ").arg(medium) + path;
    return false;
}

std::optional<qint64> seconds(const QString& onDisk)
{
    const std::optional<QDateTime> t = platform::modificationTime(onDisk);
    if (!t)
        return std::nullopt;
    return t->toSecsSinceEpoch();
}

QString messageDate(qint64 s)
{
    return MessageDate(QDateTime::fromSecsSinceEpoch(s, Qt::LocalTime));
}

// The newest-wins decision of the file copy, on the times as they stand (or
// as earlier copies of the same run would leave them).
struct CopyCheck
{
    bool pass = false;
    QString box; // the text of its box, shown when the copy confirms
};

CopyCheck checkCopy(const QString& source, const QString& destination, const QString& sourceOnDisk,
                    const QString& destinationOnDisk, std::optional<qint64> sourceTime,
                    std::optional<qint64> destinationTime, bool force)
{
    const qint64 s =
        sourceTime ? *sourceTime : QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
    CopyCheck c;
    c.pass = force || !destinationTime;
    if (!c.pass)
        c.pass = sourceTime ? FileTimes::sourceIsNewer(s, sourceOnDisk, *destinationTime, destinationOnDisk)
                            : s > *destinationTime;
    if (!c.pass) {
        c.box = QStringLiteral("NON passo: ") + kLf + source + kLf + QStringLiteral("del  ") +
                messageDate(s) + kLf + QStringLiteral("su") + kLf + destination + kLf +
                QStringLiteral("del  ") + messageDate(*destinationTime);
    } else {
        c.box = QStringLiteral("Copio: ") + kLf + source + kLf + QStringLiteral("del  ") + messageDate(s) +
                kLf + QStringLiteral("su") + kLf +
                (destinationTime ? destination + kLf + QStringLiteral("del  ") + messageDate(*destinationTime)
                                 : destination + QStringLiteral("  inesistente"));
    }
    return c;
}

bool unfinishedWriteBeside(const QString& path)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    return (journal.exists() && journal.size() > 0) || QFileInfo::exists(path + QStringLiteral("-wal"));
}

// ---------------------------------------------------------------------------
// Clients

// Returns false when the run would end after this step.
bool previewClients(Preview& p, const QString& local, const QString& exchange)
{
    const QString step = QStringLiteral("DATI");
    if (local.isEmpty() || exchange.isEmpty()) {
        p.skipped << Preview::Skip{step, QStringLiteral("percorso del database non indicato"), QString()};
        return true;
    }
    for (const QString& path : {local, exchange}) {
        if (!found(p, path)) {
            p.skipped << Preview::Skip{step, QStringLiteral("database non trovato"), path};
            return true;
        }
    }
    if (sameFile(local, exchange)) {
        p.skipped << Preview::Skip{step, QStringLiteral("il database di scambio è il database locale"),
                                   exchange};
        return true;
    }
    const QString localPath = platform::resolve(local);
    const QString exchangePath = platform::resolve(exchange);
    const std::optional<qint64> localTime = seconds(localPath);
    const std::optional<qint64> exchangeTime = seconds(exchangePath);

    ReadOnlyPair db;
    if (!db.open(localPath, exchangePath)) {
        p.errors << step + QStringLiteral(": ") + db.error();
        return false;
    }
    p.clients = true;

    // The walk over the exchange clients, in the order the run takes them:
    // each missing client is added, each known one has its name checked and
    // its visits text taken over. What the walk has done so far is what the
    // later rows meet (a code twice in the exchange copy is added once).
    struct Held
    {
        QVariant name;
        QVariant visits;
    };
    QHash<qint32, Held> now;
    QString stop;
    const bool read = db.run(
        QStringLiteral("SELECT e.CliCodice, e.CliRagsoc, e.CliVisite, l.CliCodice IS NOT NULL, l.CliRagsoc, "
                       "l.CliVisite FROM ex.Clienti AS e LEFT JOIN main.Clienti AS l "
                       "ON l.CliCodice = e.CliCodice"),
        [&](sqlite3_stmt* s) -> bool {
            qint32 code = 0;
            if (const DbError e = clientCode(value(s, 0), code)) {
                stop = QStringLiteral("codice cliente non valido (%1)").arg(text(s, 0));
                return false;
            }
            if (sqlite3_column_type(s, 1) == SQLITE_NULL) {
                stop = QStringLiteral("cliente %1 senza nominativo").arg(code);
                return false;
            }
            const QVariant exchangeName = value(s, 1);
            const QVariant exchangeVisits = value(s, 2);
            auto known = now.find(code);
            if (known == now.end() && sqlite3_column_int(s, 3) != 0)
                known = now.insert(code, Held{value(s, 4), value(s, 5)});
            if (known == now.end()) {
                ++p.clientsToAdd;
                now.insert(code, Held{QVariant(TestoODefault(exchangeName)),
                                      QVariant(TestoODefault(exchangeVisits))});
                return true;
            }
            if (!sameNameText(exchangeName.toString(), localName(known->name))) {
                const QString q = QString::number(code) + QStringLiteral(" : ") + heldName(known->name) +
                                  QLatin1Char('-') + exchangeName.toString();
                p.nameQuestions << q;
                p.questions << QStringLiteral("NOMINATIVI DIFFERENTI!") + kLf + q + kLf +
                                   QStringLiteral("Continuo comunque?");
            }
            if (heldVisits(exchangeVisits) != heldVisits(known->visits)) {
                ++p.visitsTextsToTake;
                known->visits = exchangeVisits;
            }
            return true;
        });
    if (!read) {
        p.errors << step + QStringLiteral(": ") + db.error();
        return false;
    }
    if (!stop.isEmpty()) {
        p.messages << QStringLiteral("ERRORE IN CONNESSIONE TABELLA CLIENTI (") + stop +
                          QStringLiteral("): l'aggiornamento si ferma qui");
        return false;
    }

    // The whole file then replaces the exchange copy, when it is sound.
    if (const DbError damaged = checkDatabaseIntegrity(localPath)) {
        p.messages << QStringLiteral("DATABASE NON COPIATO NELL'AREA DI SCAMBIO! Il database locale è ") +
                          (damaged.number == DbErr::RecordLocked
                               ? QStringLiteral("in uso da un altro programma")
                               : QStringLiteral("danneggiato")) +
                          QStringLiteral(": ") + local;
        return true;
    }
    if (unfinishedWriteBeside(localPath) || unfinishedWriteBeside(exchangePath)) {
        p.messages << QStringLiteral(
            "Errore nell'aggiornamento del DataBase (scrittura non terminata accanto "
            "al database)");
        return true;
    }
    const qint64 localSeconds =
        localTime ? *localTime : QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
    const qint64 exchangeSeconds =
        exchangeTime ? *exchangeTime : QDateTime(QDate(1899, 12, 30), QTime(0, 0)).toSecsSinceEpoch();
    bool force = false;
    if (localSeconds <= exchangeSeconds) {
        p.questions << QStringLiteral("DATABASE ORIGINARIO MENO RECENTE! ") + kLf +
                           QStringLiteral("Passo comunque ") + kLf + local + kLf + QStringLiteral("del  ") +
                           messageDate(localSeconds) + kLf + QStringLiteral("su") + kLf + exchange + kLf +
                           QStringLiteral("del  ") + messageDate(exchangeSeconds);
        force = true;
    }
    // A walk that writes leaves the local file dated now.
    const bool written = p.clientsToAdd > 0 || p.visitsTextsToTake > 0;
    const std::optional<qint64> sourceTime = written ? QDateTime::currentSecsSinceEpoch() : localTime;
    const CopyCheck c = checkCopy(local, exchange, localPath, exchangePath, sourceTime, exchangeTime, force);
    (c.pass ? p.questions : p.messages) << c.box;
    p.clientsFileCopy = c.pass;
    return true;
}

// ---------------------------------------------------------------------------
// Visits group

QString keyMatch(const MergePolicy& t, const QString& a, const QString& b)
{
    QStringList parts;
    for (const QString& k : t.keys)
        parts << a + QLatin1Char('.') + Database::quoted(k) + QStringLiteral(" = ") + b + QLatin1Char('.') +
                     Database::quoted(k);
    return parts.join(QStringLiteral(" AND "));
}

// Rows of schema `from` with no row of the same key in schema `to`, that
// the merge copies (a marked row never is). `alsoNotIn`: and none in that
// schema either.
QString missingRows(const MergePolicy& t, const QString& from, const QString& to,
                    const QString& alsoNotIn = {})
{
    const QString table = Database::quoted(t.table);
    QString sql = QStringLiteral("SELECT count(*) FROM %1.%2 AS s WHERE NOT EXISTS (SELECT 1 FROM %3.%2 AS d "
                                 "WHERE %4)")
                      .arg(from, table, to, keyMatch(t, QStringLiteral("d"), QStringLiteral("s")));
    if (!alsoNotIn.isEmpty())
        sql += QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM %1.%2 AS d WHERE %3)")
                   .arg(alsoNotIn, table, keyMatch(t, QStringLiteral("d"), QStringLiteral("s")));
    if (!t.mark.isEmpty())
        sql += QStringLiteral(" AND CAST(s.%1 AS TEXT) IS NOT 'S'").arg(Database::quoted(t.mark));
    return sql;
}

void previewVisits(Context& ctx, Preview& p, const QString& local, const QString& exchange)
{
    const QString step = QStringLiteral("VISITE");
    if (local.isEmpty() || exchange.isEmpty()) {
        p.skipped << Preview::Skip{step, QStringLiteral("percorso del database non indicato"), QString()};
        return;
    }
    for (const QString& path : {local, exchange}) {
        if (!found(p, path)) {
            p.skipped << Preview::Skip{step, QStringLiteral("database non trovato"), path};
            return;
        }
    }
    const QString visits = schema::fileName(schema::Kind::Visits);
    const QString localVisits = ctx.config.PathDati + ctx.CodOperatore + platform::sep() + visits;
    const QString exchangeVisits = CartellaDi(exchange) + platform::sep() + visits;
    for (const QString& path : {localVisits, exchangeVisits}) {
        if (!found(p, path)) {
            p.skipped << Preview::Skip{step, QStringLiteral("database delle visite non trovato"), path};
            return;
        }
    }
    if (sameFile(localVisits, exchangeVisits)) {
        p.skipped << Preview::Skip{step, QStringLiteral("il database di scambio è il database locale"),
                                   exchangeVisits};
        return;
    }
    ReadOnlyPair db;
    if (!db.open(platform::resolve(localVisits), platform::resolve(exchangeVisits))) {
        p.errors << step + QStringLiteral(": ") + db.error();
        return;
    }
    p.visits = true;
    const QString main = QStringLiteral("main");
    const QString ex = QStringLiteral("ex");

    // Action codes: the whole rows whose code the other side lacks, local
    // side first (a code the run has just added is one the exchange has).
    {
        const MergePolicy& t = actionCodesPolicy();
        const QString key = Database::quoted(t.keys.constFirst());
        const QString table = Database::quoted(t.table);
        const QString notIn =
            QStringLiteral("SELECT count(*) FROM %1.%3 WHERE %4 NOT IN (SELECT DISTINCT %4 FROM %2.%3)");
        Preview::Table row;
        row.name = t.table;
        row.toLocal = db.count(notIn.arg(ex, main, table, key));
        row.toExchange = db.count(notIn.arg(main, ex, table, key));
        if (row.toLocal < 0 || row.toExchange < 0)
            p.errors << step + QLatin1Char(' ') + t.table + QStringLiteral(": ") + db.error();
        p.tables << row;
    }

    // The two-pass merges: the exchange's missing rows come in first, then
    // the local ones go out. A row just come in goes out again only when its
    // key matches nothing (a Null in it).
    for (const MergePolicy* t : twoWayPolicies()) {
        Preview::Table row;
        row.name = t->table;
        row.toLocal = db.count(missingRows(*t, ex, main));
        const qint64 out = db.count(missingRows(*t, main, ex));
        const qint64 back = db.count(missingRows(*t, ex, main, ex));
        row.toExchange = out < 0 || back < 0 ? -1 : out + back;
        if (!t->mark.isEmpty()) {
            const QString marked = QStringLiteral("SELECT count(*) FROM %1.%2 WHERE %3 = 'S'");
            row.purgedLocal =
                db.count(marked.arg(main, Database::quoted(t->table), Database::quoted(t->mark)));
            row.purgedExchange =
                db.count(marked.arg(ex, Database::quoted(t->table), Database::quoted(t->mark)));
        }
        if (row.toLocal < 0 || row.toExchange < 0 || row.purgedLocal < 0 || row.purgedExchange < 0)
            p.errors << step + QLatin1Char(' ') + t->table + QStringLiteral(": ") + db.error();
        p.tables << row;
    }
}

// ---------------------------------------------------------------------------
// Documents

// Times of files as the run's earlier copies leave them: a copy keeps its
// source's time. Keyed by the path on disk.
using Times = QHash<QString, std::optional<qint64>>;

std::optional<qint64> timeOf(const Times& t, const QString& onDisk)
{
    const auto it = t.find(onDisk);
    return it != t.end() ? *it : seconds(onDisk);
}

// One direction of a card or sheet group. `added` receives the names new
// to the destination (its listing, next time, includes them). Returns false
// when the run would end here.
bool previewDirection(Preview& p, bool confirm, int group, int direction, const QString& from,
                      const QString& to, const QString& pattern, const QString& errorText, Times& times,
                      QHash<QString, QStringList>& added)
{
    if (from.trimmed().isEmpty() || to.trimmed().isEmpty()) {
        p.messages << errorText + pattern + QStringLiteral(": l'aggiornamento si ferma qui");
        return false;
    }
    const QString fromOnDisk = platform::resolve(from);
    const QString toOnDisk = platform::resolve(to);
    QList<platform::DirEntry> listed, existing;
    for (const auto& [folder, out] : {std::pair{fromOnDisk, &listed}, std::pair{toOnDisk, &existing}}) {
        const platform::FileError e = platform::listDirectory(folder, pattern, false, *out);
        if (e && e.number != 76 && e.number != 53) {
            p.messages << errorText + pattern + QStringLiteral(": l'aggiornamento si ferma qui");
            return false;
        }
    }
    QStringList names;
    for (const platform::DirEntry& d : std::as_const(listed)) {
        if (!d.isDir)
            names << d.name;
    }
    names << added.value(fromOnDisk);
    QHash<QString, QString> onDisk;
    for (const platform::DirEntry& d : std::as_const(existing)) {
        if (!d.isDir)
            onDisk.insert(d.name.toUpper(), d.name);
    }
    for (const QString& n : added.value(toOnDisk))
        onDisk.insert(n.toUpper(), n);
    const QString toFolder = toOnDisk.endsWith(platform::separator()) ? toOnDisk : toOnDisk + platform::sep();
    const QString fromFolder =
        fromOnDisk.endsWith(platform::separator()) ? fromOnDisk : fromOnDisk + platform::sep();
    for (const QString& name : std::as_const(names)) {
        const QString upper = name.toUpper();
        const QString source = fromFolder + name;
        const QString destination = toFolder + onDisk.value(upper, upper);
        const std::optional<qint64> sourceTime = timeOf(times, source);
        const CopyCheck c = checkCopy(from + upper, to + upper, source, destination, sourceTime,
                                      timeOf(times, destination), false);
        if (confirm)
            (c.pass ? p.questions : p.messages) << c.box;
        if (!c.pass)
            continue;
        p.files << Preview::File{group, direction, upper};
        if (!onDisk.contains(upper)) {
            onDisk.insert(upper, upper);
            added[toOnDisk] << upper;
        }
        times.insert(destination, sourceTime);
    }
    return true;
}

void previewDocuments(Context& ctx, const WindowState& w, Preview& p)
{
    const QString indici = w.lbFileX[0].caption;
    if (w.Check1[0].value == 1 && !found(p, indici)) {
        p.skipped << Preview::Skip{QStringLiteral("INDICI"),
                                   QStringLiteral("cartella di scambio vuota o assente"), indici};
    } else if (w.Check1[0].value == 1) {
        p.groupsRun << 0;
        const QString name = QStringLiteral("IndiciDV.mdb");
        const QString source = ctx.config.PathDati + name;
        if (checkDatabaseIntegrity(platform::resolve(source)).number == DbErr::CannotOpenDatabase) {
            p.messages << QStringLiteral("Errore nell'aggiornamento degli INDICI") + kLf +
                              QStringLiteral("Il database locale è danneggiato:") + kLf + source +
                              QStringLiteral(": l'aggiornamento si ferma qui");
            return;
        }
        const QString sourceOnDisk = platform::resolve(source);
        const QString destinationOnDisk = platform::resolve(indici + name);
        const CopyCheck c = checkCopy(source, indici + name, sourceOnDisk, destinationOnDisk,
                                      seconds(sourceOnDisk), seconds(destinationOnDisk), false);
        (c.pass ? p.questions : p.messages) << c.box;
        if (c.pass)
            p.files << Preview::File{0, 0, name};
    }

    struct Group
    {
        int index;
        QString pattern;
        QString localFolder;
        QString label;
        QString sendError;
        QString receiveError;
    };
    const Group groups[] = {
        {1, QStringLiteral("SK*.doc"), ctx.config.PathTesti, QStringLiteral("SCHEDE CLIENTI"),
         QStringLiteral("Errore nell'invio della Scheda "),
         QStringLiteral("Errore nella ricezione della Scheda ")},
        {2, QStringLiteral("XK*.xls"), ctx.config.PathFogli, QStringLiteral("FOGLI CLIENTI"),
         QStringLiteral("Errore nell'invio del Foglio "),
         QStringLiteral("Errore nella ricezione del Foglio ")},
    };
    const bool confirm = w.chkDebug.value > 0;
    for (const Group& g : groups) {
        const QString exchange = w.lbFileX[static_cast<size_t>(g.index)].caption;
        if (w.Check1[static_cast<size_t>(g.index)].value != 1)
            continue;
        if (!found(p, exchange)) {
            p.skipped << Preview::Skip{g.label, QStringLiteral("cartella di scambio vuota o assente"),
                                       exchange};
            continue;
        }
        p.groupsRun << g.index;
        Times times;
        QHash<QString, QStringList> added;
        if (!previewDirection(p, confirm, g.index, 0, g.localFolder, exchange, g.pattern, g.sendError, times,
                              added) ||
            !previewDirection(p, confirm, g.index, 1, exchange, g.localFolder, g.pattern, g.receiveError,
                              times, added))
            return;
    }
}

} // namespace

int Preview::fileCount(int group, int direction) const
{
    int n = 0;
    for (const File& f : files)
        n += f.group == group && f.direction == direction ? 1 : 0;
    return n;
}

int Preview::exitStatus() const
{
    if (!errors.isEmpty())
        return 1;
    return skipped.isEmpty() ? 0 : 3;
}

Preview PreviewRun(Context& ctx, const WindowState& w)
{
    Preview p;
    p.operatore = ctx.CodOperatore;
    p.side = w.optPC == 0 ? QStringLiteral("DeskTop") : QStringLiteral("Portatile");
    p.folders = ctx.wouldCreate;
    p.folders.removeDuplicates();
    const QString local = w.lbFile[0].caption.trimmed();
    const QString exchange = w.lbFile[1].caption.trimmed();

    // The steps in the run's order; one after which the run would end stops
    // the preview there too.
    if (w.chkDati.value == 1 && !previewClients(p, local, exchange))
        return p;
    if (w.chkVisite.value == 1)
        previewVisits(ctx, p, local, exchange);
    previewDocuments(ctx, w, p);
    return p;
}

QString formatPreview(const Preview& p)
{
    QStringList out;
    out << QStringLiteral("=== Anteprima per l'operatore %1 (%2): nulla viene scritto")
               .arg(p.operatore, p.side);
    for (const QString& f : p.folders)
        out << QStringLiteral("cartella da creare: ") + f;
    if (p.clients) {
        out << QStringLiteral("DATI");
        out << QStringLiteral("  clienti da aggiungere all'archivio locale: %1").arg(p.clientsToAdd);
        out << QStringLiteral("  testi visite da riprendere dalla copia di scambio: %1")
                   .arg(p.visitsTextsToTake);
        for (const QString& q : p.nameQuestions)
            out << QStringLiteral("  nominativo differente: ") + q;
        out << (p.clientsFileCopy ? QStringLiteral("  database locale -> area di scambio")
                                  : QStringLiteral("  database locale NON copiato nell'area di scambio"));
    }
    if (p.visits) {
        out << QStringLiteral("VISITE");
        for (const Preview::Table& t : p.tables) {
            QString line =
                QStringLiteral("  %1 -> %2 all'area di scambio, <- %3 all'archivio locale")
                    .arg(t.name.leftJustified(12), QString::number(t.toExchange), QString::number(t.toLocal));
            if (t.purgedLocal || t.purgedExchange)
                line += QStringLiteral("; eliminati (segnati \"S\"): %1 locali, %2 nell'area di scambio")
                            .arg(t.purgedLocal)
                            .arg(t.purgedExchange);
            out << line;
        }
    }
    const QString groupNames[] = {QStringLiteral("INDICI"), QStringLiteral("SCHEDE CLIENTI"),
                                  QStringLiteral("FOGLI CLIENTI")};
    for (int g = 0; g < 3; ++g) {
        const int sent = p.fileCount(g, 0);
        const int received = p.fileCount(g, 1);
        if (sent + received == 0 && !p.groupsRun.contains(g))
            continue;
        out << QStringLiteral("%1: -> %2  <- %3").arg(groupNames[g]).arg(sent).arg(received);
        for (const Preview::File& f : p.files) {
            if (f.group == g)
                out << (f.direction == 0 ? QStringLiteral("  -> ") : QStringLiteral("  <- ")) + f.name;
        }
    }
    for (const Preview::Skip& s : p.skipped)
        out << QStringLiteral("NON eseguito %1: %2").arg(s.step, s.reason) +
                   (s.path.isEmpty() ? QString() : QStringLiteral(": ") + s.path);
    for (const QString& e : p.errors)
        out << QStringLiteral("ERRORE: ") + e;
    out << QStringLiteral("Domande che l'aggiornamento farebbe: %1").arg(p.questions.size());
    for (const QString& q : p.questions)
        out << QStringLiteral("  ? ") + QString(q).replace(kLf, QLatin1Char(' '));
    if (!p.messages.isEmpty()) {
        out << QStringLiteral("Messaggi che l'aggiornamento mostrerebbe: %1").arg(p.messages.size());
        for (const QString& m : p.messages)
            out << QStringLiteral("  ! ") + QString(m).replace(kLf, QLatin1Char(' '));
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace mirsalex
