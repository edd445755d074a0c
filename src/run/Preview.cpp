#include "run/Preview.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "transfer/FileTimes.h"

#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <sqlite3.h>

namespace mirsalex {

namespace {

const QString kVisitsFile = QStringLiteral("VisiteDV.mdb");

// The local database opened read-only with the exchange copy attached
// read-only as "ex": nothing this connection does can change either file.
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
        return step == SQLITE_DONE || fail();
    }

    // The single number the query gives, -1 when it cannot be had.
    qint64 count(const QString& sql)
    {
        qint64 n = -1;
        run(sql, [&n](sqlite3_stmt* s) { n = sqlite3_column_int64(s, 0); });
        return n;
    }

    // Runs `sql`, calling `row` on each row. False (and error() set) when it fails.
    template <typename Row> bool run(const QString& sql, Row row)
    {
        sqlite3_stmt* s = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &s, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s);
            return fail();
        }
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            row(s);
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

bool isFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(platform::resolve(path)).isFile();
}

bool isFolder(const QString& path)
{
    return !path.trimmed().isEmpty() && QFileInfo(platform::resolve(path)).isDir();
}

// Whether the newest-wins copy would pass `source` on to `destination`.
bool wouldCopy(const QString& source, const QString& destination)
{
    const QString from = platform::resolve(source);
    const QString to = platform::resolve(destination);
    const std::optional<QDateTime> destinationTime = platform::modificationTime(to);
    if (!destinationTime)
        return true;
    const std::optional<QDateTime> sourceTime = platform::modificationTime(from);
    const QDateTime s = sourceTime.value_or(QDateTime(QDate::currentDate(), QTime(0, 0)));
    return FileTimes::sourceIsNewer(s, from, *destinationTime, to);
}

// A visits-group table: its key columns and its deletion mark, if any.
struct TableRule
{
    const char* name;
    QStringList key;
    const char* mark; // nullptr: no mark
};

QString keyMatch(const QStringList& key, const QString& a, const QString& b)
{
    QStringList parts;
    for (const QString& k : key)
        parts << a + QLatin1Char('.') + k + QStringLiteral(" = ") + b + QLatin1Char('.') + k;
    return parts.join(QStringLiteral(" AND "));
}

// Rows of `from` that the merge would copy into `to`: unmarked, and with no
// row of the same key there (marked or not).
QString toCopy(const TableRule& t, const QString& from, const QString& to)
{
    QString sql =
        QStringLiteral("SELECT count(*) FROM %1.%2 AS s WHERE NOT EXISTS (SELECT 1 FROM %3.%2 AS d WHERE %4)")
            .arg(from, QLatin1String(t.name), to, keyMatch(t.key, QStringLiteral("d"), QStringLiteral("s")));
    if (t.mark)
        sql += QStringLiteral(" AND s.%1 IS NOT 'S'").arg(QLatin1String(t.mark));
    return sql;
}

} // namespace

int Preview::fileCount(int group, int direction) const
{
    int n = 0;
    for (const File& f : files)
        n += f.group == group && f.direction == direction ? 1 : 0;
    return n;
}

Preview PreviewRun(Context& ctx, const WindowState& w)
{
    Preview p;
    p.operatore = ctx.CodOperatore;
    p.side = w.optPC == 0 ? QStringLiteral("DeskTop") : QStringLiteral("Portatile");
    const QString local = w.lbFile[0].caption.trimmed();
    const QString exchange = w.lbFile[1].caption.trimmed();
    const QString sep = platform::sep();

    // Both synchronisation groups start from the two clients databases.
    auto missingDatabase = [&](const QString& step) -> bool {
        if (local.isEmpty() || exchange.isEmpty()) {
            p.skipped << Preview::Skip{step, QStringLiteral("percorso del database non indicato"), QString()};
            return true;
        }
        for (const QString& path : {local, exchange}) {
            if (!isFile(path)) {
                p.skipped << Preview::Skip{step, QStringLiteral("database non trovato"), path};
                return true;
            }
        }
        return false;
    };

    if (w.chkDati.value == 1 && !missingDatabase(QStringLiteral("DATI"))) {
        ReadOnlyPair db;
        if (!db.open(platform::resolve(local), platform::resolve(exchange))) {
            p.errors << QStringLiteral("DATI: ") + db.error();
        } else {
            p.clients = true;
            p.clientsToAdd =
                db.count(QStringLiteral("SELECT count(*) FROM ex.Clienti AS e WHERE NOT EXISTS "
                                        "(SELECT 1 FROM main.Clienti AS l WHERE l.CliCodice = e.CliCodice)"));
            // Visits texts compared as the merge holds them: 13 characters,
            // padded with blanks; Null, blank and a NUL first character read
            // as a blank.
            const QString held =
                QStringLiteral("CASE WHEN %1 IS NULL OR substr(CAST(%1 AS TEXT), 1, 1) = char(0) THEN '' "
                               "ELSE rtrim(substr(CAST(%1 AS TEXT), 1, 13), ' ') END");
            p.visitsTextsToTake = db.count(
                QStringLiteral("SELECT count(*) FROM ex.Clienti AS e JOIN main.Clienti AS l "
                               "ON l.CliCodice = e.CliCodice WHERE %1 <> %2")
                    .arg(held.arg(QStringLiteral("e.CliVisite")), held.arg(QStringLiteral("l.CliVisite"))));
            db.run(QStringLiteral("SELECT e.CliCodice, l.CliRagsoc, e.CliRagsoc FROM ex.Clienti AS e "
                                  "JOIN main.Clienti AS l ON l.CliCodice = e.CliCodice "
                                  "WHERE trim(coalesce(CAST(l.CliRagsoc AS TEXT), '')) <> "
                                  "trim(coalesce(CAST(e.CliRagsoc AS TEXT), ''))"),
                   [&p](sqlite3_stmt* s) {
                       p.nameQuestions << text(s, 0) + QStringLiteral(" : ") + text(s, 1).left(35) +
                                              QLatin1Char('-') + text(s, 2);
                   });
            if (p.clientsToAdd < 0 || p.visitsTextsToTake < 0)
                p.errors << QStringLiteral("DATI: ") + db.error();
            for (const QString& q : std::as_const(p.nameQuestions))
                p.questions << QStringLiteral("NOMINATIVI DIFFERENTI! ") + q;
            const std::optional<QDateTime> lt = platform::modificationTime(platform::resolve(local));
            const std::optional<QDateTime> et = platform::modificationTime(platform::resolve(exchange));
            const QDateTime localTime = lt.value_or(QDateTime(QDate::currentDate(), QTime(0, 0)));
            const QDateTime exchangeTime = et.value_or(QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
            p.clientsFileCopy = true;
            p.questions << (localTime > exchangeTime
                                ? QStringLiteral("Copio: ")
                                : QStringLiteral("DATABASE ORIGINARIO MENO RECENTE! Passo comunque ")) +
                               local + QStringLiteral(" su ") + exchange;
        }
    }

    if (w.chkVisite.value == 1 && !missingDatabase(QStringLiteral("VISITE"))) {
        const QString localVisits = ctx.config.PathDati + ctx.CodOperatore + sep + kVisitsFile;
        const QString exchangeVisits = CartellaDi(exchange) + sep + kVisitsFile;
        const QString missing = !isFile(localVisits)      ? localVisits
                                : !isFile(exchangeVisits) ? exchangeVisits
                                                          : QString();
        ReadOnlyPair db;
        if (!missing.isEmpty()) {
            p.skipped << Preview::Skip{QStringLiteral("VISITE"), QStringLiteral("database non trovato"),
                                       missing};
        } else if (!db.open(platform::resolve(localVisits), platform::resolve(exchangeVisits))) {
            p.errors << QStringLiteral("VISITE: ") + db.error();
        } else {
            p.visits = true;
            const TableRule rules[] = {
                {"TabAzioni", {QStringLiteral("TbaCodice")}, nullptr},
                {"Azioni", {QStringLiteral("AzCliente"), QStringLiteral("AzCodice")}, "AzDelete"},
                {"VisiteN", {QStringLiteral("VsCliente"), QStringLiteral("VsData")}, nullptr},
                {"Appuntamenti",
                 {QStringLiteral("ApCliente"), QStringLiteral("ApData"), QStringLiteral("ApAzione")},
                 "ApDelete"},
            };
            for (const TableRule& t : rules) {
                Preview::Table table;
                table.name = QLatin1String(t.name);
                table.toLocal = db.count(toCopy(t, QStringLiteral("ex"), QStringLiteral("main")));
                table.toExchange = db.count(toCopy(t, QStringLiteral("main"), QStringLiteral("ex")));
                if (t.mark) {
                    const QString marked = QStringLiteral("SELECT count(*) FROM %1.%2 WHERE %3 = 'S'");
                    table.purgedLocal =
                        db.count(marked.arg(QStringLiteral("main"), table.name, QLatin1String(t.mark)));
                    table.purgedExchange =
                        db.count(marked.arg(QStringLiteral("ex"), table.name, QLatin1String(t.mark)));
                }
                if (table.toLocal < 0 || table.toExchange < 0 || table.purgedLocal < 0 ||
                    table.purgedExchange < 0)
                    p.errors << QStringLiteral("VISITE %1: ").arg(table.name) + db.error();
                p.tables << table;
            }
        }
    }

    // Documents: the indices database goes only to the exchange area, always
    // with its question; cards and sheets both ways, newest wins.
    const QString indices = w.lbFileX[0].caption;
    if (w.Check1[0].value == 1) {
        const QString name = QStringLiteral("IndiciDV.mdb");
        if (!isFolder(indices)) {
            p.skipped << Preview::Skip{QStringLiteral("INDICI"), QStringLiteral("cartella non trovata"),
                                       indices};
        } else if (wouldCopy(ctx.config.PathDati + name, indices + name)) {
            p.files << Preview::File{0, 0, name};
            p.questions << QStringLiteral("Copio: ") + ctx.config.PathDati + name + QStringLiteral(" su ") +
                               indices + name;
        }
    }
    struct Group
    {
        int index;
        QString pattern;
        QString localFolder;
        QString label;
    };
    const Group groups[] = {
        {1, QStringLiteral("SK*.doc"), ctx.config.PathTesti, QStringLiteral("SCHEDE CLIENTI")},
        {2, QStringLiteral("XK*.xls"), ctx.config.PathFogli, QStringLiteral("FOGLI CLIENTI")},
    };
    for (const Group& g : groups) {
        const QString exchangeFolder = w.lbFileX[static_cast<size_t>(g.index)].caption;
        if (w.Check1[static_cast<size_t>(g.index)].value != 1)
            continue;
        if (!isFolder(exchangeFolder)) {
            p.skipped << Preview::Skip{g.label, QStringLiteral("cartella non trovata"), exchangeFolder};
            continue;
        }
        for (int direction = 0; direction < 2; ++direction) {
            const QString from = direction == 0 ? g.localFolder : exchangeFolder;
            const QString to = direction == 0 ? exchangeFolder : g.localFolder;
            QList<platform::DirEntry> listed, existing;
            const platform::FileError e1 = platform::listDirectory(from, g.pattern, false, listed);
            const platform::FileError e2 = platform::listDirectory(to, g.pattern, false, existing);
            for (const platform::FileError& e : {e1, e2}) {
                if (e && e.number != 76 && e.number != 53)
                    p.errors << g.label +
                                    QStringLiteral(": errore %1 nella lettura della cartella").arg(e.number);
            }
            QHash<QString, QString> onDisk;
            for (const platform::DirEntry& d : std::as_const(existing))
                onDisk.insert(d.name.toUpper(), d.name);
            const QString fromOnDisk = platform::resolve(from);
            const QString toOnDisk = platform::resolve(to);
            for (const platform::DirEntry& d : std::as_const(listed)) {
                if (d.isDir)
                    continue;
                const QString name = d.name.toUpper();
                if (wouldCopy(fromOnDisk + d.name, toOnDisk + onDisk.value(name, name))) {
                    p.files << Preview::File{g.index, direction, name};
                    if (w.chkDebug.value > 0)
                        p.questions << QStringLiteral("Copio: ") + from + name + QStringLiteral(" su ") + to +
                                           name;
                }
            }
        }
    }
    return p;
}

QString formatPreview(const Preview& p)
{
    QStringList out;
    out << QStringLiteral("=== Anteprima per l'operatore %1 (%2): nulla viene scritto")
               .arg(p.operatore, p.side);
    if (p.clients) {
        out << QStringLiteral("DATI");
        out << QStringLiteral("  clienti da aggiungere all'archivio locale: %1").arg(p.clientsToAdd);
        out << QStringLiteral("  testi visite da riprendere dalla copia di scambio: %1")
                   .arg(p.visitsTextsToTake);
        for (const QString& q : p.nameQuestions)
            out << QStringLiteral("  nominativo differente: ") + q;
        if (p.clientsFileCopy)
            out << QStringLiteral("  poi il database locale viene offerto all'area di scambio (con domanda)");
    }
    if (p.visits) {
        out << QStringLiteral("VISITE");
        for (const Preview::Table& t : p.tables) {
            QString line =
                QStringLiteral("  %1: -> %2 all'area di scambio, <- %3 all'archivio locale")
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
        if (sent + received == 0)
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
        out << QStringLiteral("  ? ") + QString(q).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace mirsalex
