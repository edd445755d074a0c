#include "sync/VisitsSync.h"

#include "changes/ApplyChanges.h"
#include "changes/VersioningChanges.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "run/RunDriver.h"
#include "run/Steps.h"
#include "support/ScriptedPrompt.h"
#include "sync/SyncTestSupport.h"
#include "sync/TwoWayMerge.h"

#include <chrono>
#include <functional>
#include <QDir>
#include <thread>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

using StepFunction = StepOutcome (*)(RunState&);

// One two-pass merge as the tests see it: its step, table, fields, texts,
// and the values of a row of a given client.
struct Merge
{
    const char* name;
    StepFunction step;
    QString table;
    QStringList keys;
    QStringList fields; // every field written, keys first, without the mark
    QString mark;
    QString passIn;
    QString passOut;
    QString marker;
    VisitsTable counters; // where the run counts the table's rows
    std::function<QVariantList(int client)> values;
    // An SQL expression of n for each field, for tables of many rows.
    QStringList generated;
};

void PrintTo(const Merge& m, std::ostream* os)
{
    *os << m.name;
}

const Merge kActions{
    "Azioni",
    &syncActions,
    QStringLiteral("Azioni"),
    {QStringLiteral("AzCliente"), QStringLiteral("AzCodice")},
    {QStringLiteral("AzCliente"), QStringLiteral("AzCodice")},
    QStringLiteral("AzDelete"),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'Azioni'"),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'Azioni-EX'"),
    QStringLiteral("DATZ"),
    kAzioni,
    [](int c) {
        return QVariantList{c, QStringLiteral("COD%1").arg(c % 7)};
    },
    {QStringLiteral("n"), QStringLiteral("'TEL'")},
};

const Merge kVisits{
    "Visite",
    &syncVisits,
    QStringLiteral("VisiteN"),
    {QStringLiteral("VsCliente"), QStringLiteral("VsData")},
    {QStringLiteral("VsCliente"), QStringLiteral("VsData"), QStringLiteral("VsVersato"),
     QStringLiteral("VsPrelevato"), QStringLiteral("VsTrasferitoP"), QStringLiteral("VsTrasferitoN"),
     QStringLiteral("VsSaldo"), QStringLiteral("VsDataSaldo"), QStringLiteral("VsPercAss"),
     QStringLiteral("VsPercTir"), QStringLiteral("VsTipoElenco")},
    QString(),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'VISITE'"),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'VISITE-EX'"),
    QStringLiteral("DATV"),
    kVisiteN,
    [](int c) {
        // Every kind a column can hold, Null and a text in an amount column
        // included.
        return QVariantList{c,
                            45000.5 + c,
                            100.25 * c,
                            QVariant(),
                            0,
                            -3,
                            QStringLiteral("circa 10"),
                            45100.0,
                            12,
                            QVariant(),
                            c % 2 ? QStringLiteral("A") : QString()};
    },
    {QStringLiteral("n"), QStringLiteral("45000.5"), QStringLiteral("n * 1.5"), QStringLiteral("NULL"),
     QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("NULL"), QStringLiteral("NULL"),
     QStringLiteral("NULL"), QStringLiteral("NULL"), QStringLiteral("'A'")},
};

const Merge kAppointments{
    "Appuntamenti",
    &syncAppointments,
    QStringLiteral("Appuntamenti"),
    {QStringLiteral("ApCliente"), QStringLiteral("ApData"), QStringLiteral("ApAzione")},
    {QStringLiteral("ApCliente"), QStringLiteral("ApData"), QStringLiteral("ApAzione"),
     QStringLiteral("ApNote"), QStringLiteral("ApStato"), QStringLiteral("ApCausa")},
    QStringLiteral("ApDelete"),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'APPUNTAMENTI'"),
    QStringLiteral("ERRORE NELL'APERTURA DELLA TAB. 'APPUNTAMENTI-EX'"),
    QStringLiteral("DATP"),
    kAppuntamenti,
    [](int c) {
        return QVariantList{c,
                            45000.75,
                            QStringLiteral("TEL"),
                            QStringLiteral("nota  %1 ").arg(c),
                            QVariant(),
                            QByteArray("\x01\x02", 2)};
    },
    {QStringLiteral("n"), QStringLiteral("45000.75"), QStringLiteral("'TEL'"), QStringLiteral("'nota'"),
     QStringLiteral("NULL"), QStringLiteral("NULL")},
};

const QString kEnd = QStringLiteral("FINE AGGIORNAMENTO");

class VisitsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("dati/001"));
        QDir(m_dir.path()).mkpath(QStringLiteral("scambio"));
        m_localClients = m_dir.filePath(QStringLiteral("dati/001/DatiDV.mdb"));
        m_exchangeClients = m_dir.filePath(QStringLiteral("scambio/DatiDV.mdb"));
        m_local = m_dir.filePath(QStringLiteral("dati/001/VisiteDV.mdb"));
        m_exchange = m_dir.filePath(QStringLiteral("scambio/VisiteDV.mdb"));
        m_ini = m_dir.filePath(QStringLiteral("Mirsal.ini"));
        writeBytes(m_ini, "[EXPORT]\n");
        for (const QString& p : {m_localClients, m_exchangeClients})
            ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Clients));
        for (const QString& p : {m_local, m_exchange})
            ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Visits));
        request.configFile = m_ini;
        request.dataFolder = m_dir.filePath(QStringLiteral("dati")) + QLatin1Char('/');
        request.prompt = &prompt;
        request.localClients = m_localClients;
        request.exchangeClients = m_exchangeClients;
        request.portable = true;
        request.operatorCode = QStringLiteral("001");
        request.ticks.visite = 1;
        w.request = request;
        w.ticks = request.ticks;
    }

    QString marker(const QString& name) const
    {
        return LeggiIni(m_ini, QStringLiteral("EXPORT"), QStringLiteral("X") + name + QStringLiteral("001"));
    }

    QTemporaryDir m_dir;
    QString m_localClients, m_exchangeClients, m_local, m_exchange, m_ini;
    ScriptedPrompt prompt;
    RunRequest request;
    ApplyChanges sink;
    RunState w{RunRequest{}, sink};
};

class TwoWayMergeTest : public VisitsFixture, public ::testing::WithParamInterface<Merge>
{
protected:
    const Merge& m() const { return GetParam(); }

    void insert(const QString& path, int client, const QVariant& mark = QStringLiteral(" "))
    {
        QVariantList values = m().values(client);
        QStringList names = m().fields;
        if (!m().mark.isEmpty()) {
            names << m().mark;
            values << mark;
        }
        RawDb db(path);
        db.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(m().table, names.join(QLatin1Char(',')),
                         QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                values);
    }
    // Every row of the table, each field as an SQL literal (so its kind
    // shows), in key order.
    QString dump(const QString& path, bool withMark = true, const QString& where = QStringLiteral("1"))
    {
        QStringList fields = m().fields;
        if (withMark && !m().mark.isEmpty())
            fields << m().mark;
        for (QString& f : fields)
            f = QStringLiteral("quote(") + f + QLatin1Char(')');
        RawDb db(path);
        return db
            .value(QStringLiteral(
                       "SELECT group_concat(r, char(10)) FROM (SELECT %1 AS r FROM %2 WHERE %4 ORDER BY %3)")
                       .arg(fields.join(QStringLiteral(" || '|' || ")), m().table,
                            m().keys.join(QLatin1Char(',')), where))
            .toString();
    }
    QStringList clients(const QString& path)
    {
        RawDb db(path);
        return db
            .value(QStringLiteral("SELECT group_concat(c) FROM (SELECT %1 || %2 AS c FROM %3 ORDER BY %1)")
                       .arg(m().keys[0],
                            m().mark.isEmpty() ? QStringLiteral("''")
                                               : QStringLiteral("quote(%1)").arg(m().mark),
                            m().table))
            .toString()
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    }
    // A trigger in `path` that refuses to add the rows of `client`: the
    // statement fails (ABORT), or the engine gives up the whole transaction
    // (ROLLBACK, as on a full disk).
    void refuse(const QString& path, int client, const char* how = "ABORT")
    {
        RawDb db(path);
        db.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 WHEN NEW.%2 = %3 "
                               "BEGIN SELECT RAISE(%4, 'refused'); END")
                    .arg(m().table, m().keys[0])
                    .arg(client)
                    .arg(QLatin1String(how)));
    }
    const TableCounters& counted() const { return w.tables[m().counters]; }
    StepOutcome run() { return m().step(w); }
};

TEST_P(TwoWayMergeTest, EqualSidesWriteNothingButTheMarker)
{
    for (int c : {1, 2, 3}) {
        insert(m_local, c);
        insert(m_exchange, c);
    }
    const QByteArray local = fileBytes(m_local), exchange = fileBytes(m_exchange);
    w.tables[m().counters] = {99, 99, 99, 99};

    EXPECT_EQ(run().status, StepOutcome::Status::Done);

    EXPECT_EQ(fileBytes(m_local), local);
    EXPECT_EQ(fileBytes(m_exchange), exchange);
    EXPECT_EQ(counted().toLocal, 0);
    EXPECT_EQ(counted().toExchange, 0);
    EXPECT_EQ(counted().purgedLocal, 0);
    EXPECT_EQ(counted().purgedExchange, 0);
    EXPECT_EQ(marker(m().marker).size(), 14);
    EXPECT_EQ(w.ticks.visite, 2);
    EXPECT_EQ(w.localVisits, m_local);
    EXPECT_EQ(w.exchangeVisits, m_exchange);
    EXPECT_FALSE(QFile::exists(m_local + QStringLiteral("-journal")));
}

TEST_P(TwoWayMergeTest, OneSidedRowsCrossBothWaysWithEveryValueIntact)
{
    for (int c : {1, 3, 5})
        insert(m_local, c);
    for (int c : {2, 4})
        insert(m_exchange, c);
    // On both sides with another value: each side keeps its own.
    insert(m_local, 6);
    insert(m_exchange, 6, QStringLiteral("N"));
    const QString other = m().fields.size() > m().keys.size() ? m().fields.last() : m().mark;
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("UPDATE %1 SET %2 = 'N' WHERE %3 = 6").arg(m().table, other, m().keys[0]));
    }
    const QString local6 = dump(m_local, true, m().keys[0] + QStringLiteral(" = 6"));
    const QString exchange6 = dump(m_exchange, true, m().keys[0] + QStringLiteral(" = 6"));

    EXPECT_EQ(run().status, StepOutcome::Status::Done);

    // Every field as it was, Null, texts with blanks and bytes included.
    const QString oneSided = m().keys[0] + QStringLiteral(" <> 6");
    EXPECT_EQ(dump(m_local, false, oneSided), dump(m_exchange, false, oneSided));
    EXPECT_EQ(dump(m_local, false, oneSided).count(QLatin1Char('\n')), 4);
    EXPECT_EQ(dump(m_local, true, m().keys[0] + QStringLiteral(" = 6")), local6);
    EXPECT_EQ(dump(m_exchange, true, m().keys[0] + QStringLiteral(" = 6")), exchange6);
    EXPECT_NE(local6, exchange6);
    if (!m().mark.isEmpty()) {
        EXPECT_EQ(clients(m_local),
                  QStringList({QStringLiteral("1' '"), QStringLiteral("2' '"), QStringLiteral("3' '"),
                               QStringLiteral("4' '"), QStringLiteral("5' '"), QStringLiteral("6' '")}));
        EXPECT_TRUE(clients(m_exchange).contains(QStringLiteral("6'N'")));
    }
    EXPECT_EQ(counted().toLocal, 2);
    EXPECT_EQ(counted().toExchange, 3);
}

// The merges of tables with a deletion mark.
class MarkedMergeTest : public TwoWayMergeTest
{
};

TEST_P(MarkedMergeTest, MarkedRowsAreNeverCopiedAndPurgedOnBothSides)
{
    insert(m_local, 1, QStringLiteral("S"));    // marked here only
    insert(m_exchange, 2, QStringLiteral("S")); // marked there only
    insert(m_local, 3, QStringLiteral("S"));    // marked on both sides
    insert(m_exchange, 3, QStringLiteral("S"));
    insert(m_exchange, 4, QStringLiteral("S")); // marked there, unmarked here
    insert(m_local, 4, QStringLiteral(" "));
    // Not marks: Null, empty, blanks, lower case, longer, NUL first.
    const QVariantList unmarked = {QVariant(),           QString(),
                                   QStringLiteral("  "), QStringLiteral("s"),
                                   QStringLiteral("S "), QString(QChar(0)) + QStringLiteral("S")};
    for (int i = 0; i < unmarked.size(); ++i)
        insert(m_exchange, 10 + i, unmarked[i]);

    EXPECT_EQ(run().status, StepOutcome::Status::Done);
    const QStringList copied = {QStringLiteral("10' '"), QStringLiteral("11' '"), QStringLiteral("12' '"),
                                QStringLiteral("13' '"), QStringLiteral("14' '"), QStringLiteral("15' '")};
    EXPECT_EQ(clients(m_local), QStringList{QStringLiteral("4' '")} + copied);
    EXPECT_FALSE(clients(m_exchange).join(QLatin1Char(',')).contains(QStringLiteral("'S'")));
    EXPECT_EQ(clients(m_exchange).size(), 6);
    EXPECT_EQ(counted().toLocal, 6);
    EXPECT_EQ(counted().toExchange, 0);
    EXPECT_EQ(counted().purgedLocal, 2);    // 1 and 3
    EXPECT_EQ(counted().purgedExchange, 3); // 2, 3 and 4

    // The next run brings the row that was marked on the other side back
    // there, unmarked.
    EXPECT_EQ(run().status, StepOutcome::Status::Done);
    EXPECT_TRUE(clients(m_exchange).contains(QStringLiteral("4' '")));
    EXPECT_EQ(counted().toExchange, 1);
    EXPECT_EQ(dump(m_local, false), dump(m_exchange, false));
}

TEST_P(TwoWayMergeTest, FailureInTheSecondPassKeepsWhatWasStored)
{
    for (int c : {1, 2, 3, 4, 5})
        insert(m_local, c);
    insert(m_exchange, 100);
    insert(m_local, 50, QStringLiteral("S"));
    insert(m_exchange, 50, QStringLiteral("S"));
    refuse(m_exchange, 4);
    prompt.expect(m().passOut, AnswerOk, MsgStyle::Ok);

    const StepOutcome out = run();

    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_GT(out.result(), 0);
    EXPECT_EQ(out.result(), out.error);
    ASSERT_EQ(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0].text, m().passOut);
    EXPECT_EQ(prompt.messages[0].title, applicationTitle());
    // The first pass's row and the rows before the refused one stay; no purge.
    const QStringList local = clients(m_local), exchange = clients(m_exchange);
    EXPECT_EQ(local.size(), 7);
    EXPECT_EQ(exchange.size(), 5); // 1, 2, 3, 50 and 100
    for (const QStringList& side : {local, exchange}) {
        const QString all = side.join(QLatin1Char(','));
        EXPECT_TRUE(all.contains(QStringLiteral("100"))) << qPrintable(all);
        EXPECT_TRUE(all.contains(QStringLiteral("50"))) << qPrintable(all);
        EXPECT_TRUE(all.startsWith(QStringLiteral("1"))) << qPrintable(all);
    }
    EXPECT_FALSE(exchange.join(QLatin1Char(',')).contains(QStringLiteral("4")));
    EXPECT_EQ(counted().toLocal, 1);
    EXPECT_EQ(counted().toExchange, 3);
    EXPECT_TRUE(marker(m().marker).isEmpty());
    EXPECT_EQ(w.ticks.visite, 1);
}

// The second pass fails in a way that makes the engine give up the whole
// transaction: the first pass's row is stored all the same; nothing of the
// second pass is, and none is counted.
TEST_P(TwoWayMergeTest, AGivenUpTransactionInTheSecondPassKeepsTheFirstPass)
{
    for (int c : {1, 2, 3, 4, 5})
        insert(m_local, c);
    insert(m_exchange, 100);
    insert(m_local, 50, QStringLiteral("S"));
    refuse(m_exchange, 4, "ROLLBACK");
    prompt.expect(m().passOut, AnswerOk, MsgStyle::Ok);

    const StepOutcome out = run();

    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    const QStringList local = clients(m_local), exchange = clients(m_exchange);
    EXPECT_EQ(local.size(), 7) << qPrintable(local.join(QLatin1Char(',')));
    EXPECT_TRUE(local.join(QLatin1Char(',')).contains(QStringLiteral("100")));
    EXPECT_EQ(exchange.size(), 1) << qPrintable(exchange.join(QLatin1Char(',')));
    EXPECT_EQ(counted().toLocal, 1);
    EXPECT_EQ(counted().toExchange, 0);
    EXPECT_EQ(counted().purgedLocal, 0);
}

TEST_P(TwoWayMergeTest, NullKeysAndDuplicateKeysGoThroughTheErrorPath)
{
    // An exchange file whose table has lost its key and constraints.
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("ALTER TABLE %1 RENAME TO old").arg(m().table));
        ex.exec(QStringLiteral("CREATE TABLE %1 AS SELECT * FROM old WHERE 0").arg(m().table));
        ex.exec(QStringLiteral("DROP TABLE old"));
    }
    insert(m_local, 7);
    insert(m_exchange, 1);
    insert(m_exchange, 1); // twice
    insert(m_exchange, 9);
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("UPDATE %1 SET %2 = NULL WHERE %3 = 9")
                    .arg(m().table, m().keys.last(), m().keys[0]));
    }
    prompt.expect(m().passIn, AnswerOk, MsgStyle::Ok);

    const StepOutcome out = run();
    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_EQ(out.error, DbErr::NullInRequiredField);
    EXPECT_EQ(clients(m_local).size(), 2); // 1 once, and 7 kept
    EXPECT_EQ(counted().toLocal, 1);
    EXPECT_TRUE(marker(m().marker).isEmpty());
}

TEST_P(TwoWayMergeTest, CountsPastSixteenBits)
{
    const int rows = 40000;
    {
        RawDb ex(m_exchange);
        QStringList names = m().fields;
        QStringList values = m().generated;
        ex.exec(QStringLiteral("INSERT INTO %1 (%2) WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                               "FROM s WHERE n < %3) SELECT %4 FROM s")
                    .arg(m().table, names.join(QLatin1Char(',')))
                    .arg(rows)
                    .arg(values.join(QLatin1Char(','))));
    }
    EXPECT_EQ(run().status, StepOutcome::Status::Done);
    RawDb local(m_local);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM ") + m().table).toInt(), rows);
    EXPECT_EQ(counted().toLocal, rows);
}

// With versions kept, a merge copies its two databases just before its
// first row changes: one that finds both sides equal keeps no version of
// them; one that adds a row keeps both, as they stood; one whose versions
// cannot be kept (a full disk) fails as a file that cannot be opened and
// writes no row.
TEST_P(TwoWayMergeTest, DatabasesAreKeptOnlyWhenARowChanges)
{
    for (int c : {1, 2}) {
        insert(m_local, c);
        insert(m_exchange, c);
    }
    VersionSettings settings;
    settings.root = m_dir.filePath(QStringLiteral("versions")) + QLatin1Char('/');
    const VersionStore store(settings, QStringLiteral("001"), true);
    auto keptDatabases = [&](VersioningChanges& versioning) {
        versioning.finish(nullptr);
        std::map<QString, QByteArray> kept;
        if (const std::optional<VersionEntry> entry = store.find(versioning.entryId())) {
            for (const VersionItem& i : entry->items) {
                if (i.kind == VersionItem::Kind::Database)
                    kept[i.path] = fileBytes(entry->folder + i.version);
            }
        }
        return kept;
    };
    {
        VersioningChanges versioning(store, prompt);
        RunState v{request, versioning};
        v.ticks = request.ticks;
        EXPECT_EQ(m().step(v).status, StepOutcome::Status::Done);
        EXPECT_TRUE(keptDatabases(versioning).empty());
    }
    insert(m_exchange, 3);
    {
        const QByteArray local = fileBytes(m_local), exchange = fileBytes(m_exchange);
        VersioningChanges versioning(store, prompt);
        RunState v{request, versioning};
        v.ticks = request.ticks;
        EXPECT_EQ(m().step(v).status, StepOutcome::Status::Done);
        EXPECT_EQ(v.tables[m().counters].toLocal, 1);
        const std::map<QString, QByteArray> kept = keptDatabases(versioning);
        ASSERT_EQ(kept.size(), 2u);
        EXPECT_EQ(kept.at(platform::resolve(m_local)), local);
        EXPECT_EQ(kept.at(platform::resolve(m_exchange)), exchange);
    }
    insert(m_local, 4);
    {
        const QByteArray local = fileBytes(m_local), exchange = fileBytes(m_exchange);
        VersioningChanges versioning(store, prompt);
        RunState v{request, versioning};
        v.ticks = request.ticks;
        SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
            errno = ENOSPC;
            return -1;
        });
        prompt.expect(QStringLiteral("VERSIONI: IMPOSSIBILE CONSERVARE LA VERSIONE DEI FILE"));
        prompt.expect(kVisitsOpenLocal);
        const StepOutcome out = m().step(v);
        SafeFileCopy::setWriteHook({});
        EXPECT_EQ(out.status, StepOutcome::Status::Failed);
        EXPECT_EQ(out.error, DbErr::DiskFull);
        EXPECT_EQ(prompt.pending(), 0);
        EXPECT_EQ(fileBytes(m_local), local);
        EXPECT_EQ(fileBytes(m_exchange), exchange);
        EXPECT_TRUE(keptDatabases(versioning).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Visits, TwoWayMergeTest, ::testing::Values(kActions, kVisits, kAppointments),
                         [](const auto& p) { return std::string(p.param.name); });
INSTANTIATE_TEST_SUITE_P(Visits, MarkedMergeTest, ::testing::Values(kActions, kAppointments),
                         [](const auto& p) { return std::string(p.param.name); });

// The row-by-row walk that takes over after a refused statement counts and
// keeps every row before the refused one, however many.
TEST_F(VisitsFixture, WalkAfterARefusedRowCountsPastSixteenBits)
{
    const int rows = 32800;
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) WITH RECURSIVE s(n) AS (SELECT 1 "
                               "UNION ALL SELECT n + 1 FROM s WHERE n < %1) SELECT n, 45000 FROM s")
                    .arg(rows));
        RawDb local(m_local);
        local.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON VisiteN WHEN NEW.VsCliente = %1 "
                                  "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                       .arg(rows));
    }
    prompt.expect(kVisits.passIn, AnswerOk, MsgStyle::Ok);
    EXPECT_EQ(syncVisits(w).status, StepOutcome::Status::Failed);
    EXPECT_EQ(w.tables[kVisiteN].toLocal, rows - 1);
    RawDb local(m_local);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM VisiteN")).toInt(), rows - 1);
}

// What every step of the group shares: a missing or unreadable file.
struct GroupStep
{
    const char* name;
    StepFunction step;
    QString openLocal;
    QString openExchange;
};

void PrintTo(const GroupStep& s, std::ostream* os)
{
    *os << s.name;
}

class VisitsStepTest : public VisitsFixture, public ::testing::WithParamInterface<GroupStep>
{
};

TEST_P(VisitsStepTest, MissingExchangeFileIsSkippedSilently)
{
    ASSERT_TRUE(QFile::remove(m_exchange));
    for (int round = 0; round < 2; ++round) { // the rewritten paths give the same paths
        const StepOutcome out = GetParam().step(w);
        EXPECT_EQ(out.status, StepOutcome::Status::Skipped);
        EXPECT_EQ(out.path, m_exchange);
        EXPECT_EQ(w.localVisits, m_local);
        EXPECT_EQ(w.exchangeVisits, m_exchange);
    }
    EXPECT_TRUE(prompt.messages.isEmpty());
    EXPECT_EQ(w.ticks.visite, 1);
    EXPECT_EQ(fileBytes(m_ini), QByteArray("[EXPORT]\n"));
}

TEST_P(VisitsStepTest, UnreadableFileFailsWithItsContext)
{
    const QByteArray junk = "not a database, not at all, and long enough to be read as a header of one......";
    for (const bool local : {false, true}) { // the exchange file first, then the local one too
        writeBytes(local ? m_local : m_exchange, junk);
        const QString text = local ? GetParam().openLocal : GetParam().openExchange;
        prompt.expect(text, AnswerOk, MsgStyle::Ok);
        EXPECT_GT(GetParam().step(w).result(), 0);
        EXPECT_EQ(prompt.messages.value(prompt.messages.size() - 1).text, text);
        // The local file is left closed and as it was.
        EXPECT_FALSE(QFile::exists(m_local + QStringLiteral("-journal")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Visits, VisitsStepTest,
    ::testing::Values(GroupStep{"UnisciTabAzioni", &mergeActionCodes,
                                QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE VISITE"),
                                QStringLiteral("ERRORE IN CONNESSIONE TABELLA DELLE AZIONI")},
                      GroupStep{"SincronizzaAzioni", &syncActions, kVisitsOpenLocal, kVisitsOpenExchange},
                      GroupStep{"SincronizzaVisite", &syncVisits, kVisitsOpenLocal, kVisitsOpenExchange},
                      GroupStep{"SincronizzaAppuntamenti", &syncAppointments, kVisitsOpenLocal,
                                kVisitsOpenExchange}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(VisitsFixture, ActionCodesCrossWholeAndSharedCodesStayAsTheyAre)
{
    {
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('A', 'Alfa'), ('B', 'Beta locale')"));
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('B', 'Beta remoto'), ('C', NULL)"));
    }
    EXPECT_EQ(mergeActionCodes(w).status, StepOutcome::Status::Done);
    const QString codes =
        QStringLiteral("SELECT group_concat(TbaCodice || '=' || quote(TbaDescrizione)) FROM "
                       "(SELECT * FROM TabAzioni ORDER BY 1)");
    RawDb local(m_local);
    RawDb ex(m_exchange);
    EXPECT_EQ(local.value(codes).toString(), QStringLiteral("A='Alfa',B='Beta locale',C=NULL"));
    EXPECT_EQ(ex.value(codes).toString(), QStringLiteral("A='Alfa',B='Beta remoto',C=NULL"));
    EXPECT_EQ(w.ticks.visite, 1); // the later steps grey the box
}

TEST_F(VisitsFixture, ActionCodesFailedSecondStatementKeepsTheFirst)
{
    {
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('A', 'Alfa')"));
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('C', 'Ci')"));
        ex.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TabAzioni "
                               "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    const QString text = QStringLiteral("ERRORE IN CONNESSIONE TABELLA DELLE AZIONI");
    prompt.expect(text, AnswerOk, MsgStyle::Ok);
    const StepOutcome out = mergeActionCodes(w);
    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_EQ(out.reason, text);
    RawDb local(m_local);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM TabAzioni")).toInt(), 2);
}

TEST_F(VisitsFixture, ChainStopsAtTheFirstFailure)
{
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('C', 'Ci')"));
        ex.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) VALUES (1, 45000)"));
        ex.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Azioni "
                               "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'C', ' ')"));
    }
    request.ticks = Ticks{};
    request.ticks.visite = 1;
    prompt.expect(kActions.passOut, AnswerOk, MsgStyle::Ok);
    prompt.expect(kEnd, AnswerOk, MsgStyle::Ok);
    RunDriver driver(StandardSteps());

    const RunReport report = driver.run(request, sink);
    EXPECT_EQ(RunDriver::outcome(report), RunDriver::Outcome::Failed);

    RawDb local(m_local);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM TabAzioni")).toInt(), 1);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM VisiteN")).toInt(), 0);
    EXPECT_TRUE(marker(QStringLiteral("DATV")).isEmpty());
    EXPECT_EQ(report.ticksAfter.visite, 1);
    EXPECT_EQ(report.visiteAggiunteScambio, 0);
    EXPECT_EQ(report.visiteAggiunteLocale, 0);
    EXPECT_EQ(report.tabelle[kTabAzioni].toLocal, 1);
    EXPECT_EQ(report.of("SincronizzaAzioni").outcome.status, StepOutcome::Status::Failed);
    EXPECT_EQ(report.of("SincronizzaVisite").state, StepReport::State::NotReached);
}

TEST_F(VisitsFixture, AFileAnotherProgramIsWritingIsWaitedForByEachPass)
{
    // Each pass takes the file it writes when it begins: a file that another
    // program is writing is waited for, not failed at the first row.
    {
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) VALUES (1, 45000)"));
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) VALUES (2, 45001)"));
    }
    for (const QString& held : {m_exchange, m_local}) {
        RawDb holder(held);
        holder.exec(QStringLiteral("BEGIN IMMEDIATE"));
        std::thread release([&holder] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            holder.exec(QStringLiteral("ROLLBACK"));
        });
        const StepOutcome outcome = syncVisits(w);
        release.join();
        EXPECT_EQ(outcome.result(), 0) << held.toStdString();
        EXPECT_TRUE(prompt.messages.isEmpty());
    }
    for (const QString& file : {m_local, m_exchange}) {
        RawDb db(file);
        EXPECT_EQ(db.value(QStringLiteral("SELECT count(*) FROM VisiteN")).toInt(), 2) << file.toStdString();
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Files made by other versions, by hand or by other tools.

namespace odd {

struct TableStep
{
    const char* name;
    StepFunction step;
    QString table;
    QString message; // the context text a refusal shows first
    QString marker;  // empty: the step writes none
    QString oneRow;  // VALUES of one row, as the exchange copy holds it
};

void PrintTo(const TableStep& s, std::ostream* os)
{
    *os << s.name;
}

const QString kConnect = QStringLiteral("ERRORE IN CONNESSIONE TABELLA DELLE AZIONI");

class OddFileTest : public VisitsFixture, public ::testing::WithParamInterface<TableStep>
{
protected:
    QString all(const QString& path, const QString& table)
    {
        RawDb db(path);
        return db
            .value(
                QStringLiteral("SELECT group_concat(r, ';') FROM (SELECT quote(%1) AS r FROM %2 ORDER BY 1)")
                    .arg(QStringLiteral("TbaCodice"), table))
            .toString();
    }
};

// A local file without the table is never "merged" with the exchange's own
// table: the step fails before anything is written, on either side.
TEST_P(OddFileTest, ALocalFileWithoutTheTableFailsAndChangesNothing)
{
    {
        RawDb local(m_local);
        local.exec(QStringLiteral("DROP TABLE ") + GetParam().table);
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("INSERT INTO %1 VALUES %2").arg(GetParam().table, GetParam().oneRow));
    }
    const QByteArray exchangeBefore = fileBytes(m_exchange);
    const QByteArray iniBefore = fileBytes(m_ini);
    prompt.expect(GetParam().message, AnswerOk, MsgStyle::Ok);

    const StepOutcome out = GetParam().step(w);

    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_EQ(out.error, DbErr::TableNotFound);
    EXPECT_EQ(fileBytes(m_exchange), exchangeBefore);
    EXPECT_EQ(fileBytes(m_ini), iniBefore);
    EXPECT_EQ(w.ticks.visite, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Visits, OddFileTest,
    ::testing::Values(TableStep{"TabAzioni", &mergeActionCodes, QStringLiteral("TabAzioni"), kConnect,
                                QString(), QStringLiteral("('TEL', 'Telefonata')")},
                      TableStep{"Azioni", &syncActions, QStringLiteral("Azioni"), kActions.passIn,
                                QStringLiteral("DATZ"), QStringLiteral("(1, 'TEL', 'S')")},
                      TableStep{"VisiteN", &syncVisits, QStringLiteral("VisiteN"), kVisits.passIn,
                                QStringLiteral("DATV"),
                                QStringLiteral("(1, 45000, 1, 2, 3, 4, 5, 6, 7, 8, 'A')")},
                      TableStep{"Appuntamenti", &syncAppointments, QStringLiteral("Appuntamenti"),
                                kAppointments.passIn, QStringLiteral("DATP"),
                                QStringLiteral("(1, 45000, 'TEL', 'n', 's', 'c', 'S')")}),
    [](const auto& p) { return std::string(p.param.name); });

// Action codes move column by column, by name, whatever order each side
// created its columns in; different columns refuse the step untouched.
TEST_F(VisitsFixture, ActionCodesMoveByColumnNameAndDifferentColumnsAreRefused)
{
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("DROP TABLE TabAzioni"));
        ex.exec(QStringLiteral(
            "CREATE TABLE TabAzioni (TbaDescrizione TEXT, TbaCodice TEXT NOT NULL PRIMARY KEY)"));
        ex.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('Telefonata', 'TEL')"));
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('VIS', 'Visita')"));
    }
    EXPECT_EQ(mergeActionCodes(w).status, StepOutcome::Status::Done);
    const QString pairs = QStringLiteral("SELECT group_concat(TbaCodice || '=' || TbaDescrizione, ',') FROM "
                                         "(SELECT * FROM TabAzioni ORDER BY TbaCodice)");
    EXPECT_EQ(RawDb(m_local).value(pairs).toString(), QStringLiteral("TEL=Telefonata,VIS=Visita"));
    EXPECT_EQ(RawDb(m_exchange).value(pairs).toString(), QStringLiteral("TEL=Telefonata,VIS=Visita"));

    RawDb(m_exchange).exec(QStringLiteral("ALTER TABLE TabAzioni ADD COLUMN TbaColore TEXT"));
    RawDb(m_exchange).exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('Nuova', 'NEW', 'rosso')"));
    const QByteArray localBefore = fileBytes(m_local), exchangeBefore = fileBytes(m_exchange);
    prompt.expect(kConnect +
                      QStringLiteral("\nLe due tabelle TabAzioni non hanno gli stessi campi: TbaColore"),
                  AnswerOk, MsgStyle::Ok);
    const StepOutcome out = mergeActionCodes(w);
    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_EQ(fileBytes(m_local), localBefore);
    EXPECT_EQ(fileBytes(m_exchange), exchangeBefore);
}

// Text keys that differ only in case (accented letters included) are one
// key, as the main application's engine compares them; each side keeps its
// own spelling. Both the set-based statement and the walk that takes over
// after a refused row see it so.
TEST_F(VisitsFixture, TextKeysDifferingOnlyInCaseAreOneKey)
{
    for (const bool walk : {false, true}) {
        SCOPED_TRACE(walk ? "walk" : "statement");
        {
            RawDb local(m_local);
            RawDb ex(m_exchange);
            for (const char* t : {"TabAzioni", "Azioni", "Appuntamenti"}) {
                local.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
                ex.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
            }
            local.exec(QStringLiteral("DROP TRIGGER IF EXISTS refuse"));
            local.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('TEL', 'l'), ('ÈCO', 'l')"));
            ex.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('tel', 'x'), ('èco', 'x'), ('Nuovo', 'x'), "
                                   "('NUOVO', 'x')"));
            local.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', ' '), (2, 'ÈCO', ' ')"));
            ex.exec(QStringLiteral(
                "INSERT INTO Azioni VALUES (1, 'tel', ' '), (2, 'èco', ' '), (3, 'nuovo', ' '), "
                "(3, 'NUOVO', ' ')"));
            local.exec(QStringLiteral("INSERT INTO Appuntamenti VALUES (1, 45000, 'TEL', 'l', '', '', ' ')"));
            ex.exec(QStringLiteral("INSERT INTO Appuntamenti VALUES (1, 45000, 'Tel', 'x', '', '', ' ')"));
            if (walk) { // a refused row, the last in key order, sends the pass to the walk
                ex.exec(QStringLiteral("INSERT INTO Azioni VALUES (99, 'X', ' ')"));
                local.exec(
                    QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Azioni WHEN NEW.AzCliente = 99 "
                                   "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
                prompt.expect(kActions.passIn, AnswerOk, MsgStyle::Ok);
            }
        }
        EXPECT_EQ(mergeActionCodes(w).status, StepOutcome::Status::Done);
        EXPECT_EQ(syncActions(w).status, walk ? StepOutcome::Status::Failed : StepOutcome::Status::Done);
        EXPECT_EQ(syncAppointments(w).status, StepOutcome::Status::Done);
        RawDb local(m_local);
        RawDb ex(m_exchange);
        const QString codes =
            QStringLiteral("SELECT group_concat(TbaCodice, ',') FROM (SELECT TbaCodice FROM TabAzioni "
                           "ORDER BY TbaCodice)");
        const QString actions =
            QStringLiteral("SELECT group_concat(AzCliente || AzCodice, ',') FROM (SELECT * FROM "
                           "Azioni ORDER BY AzCliente, AzCodice)");
        const QString appointments = QStringLiteral("SELECT group_concat(ApAzione) FROM Appuntamenti");
        EXPECT_EQ(local.value(codes).toString(), QStringLiteral("NUOVO,TEL,ÈCO"));
        EXPECT_EQ(ex.value(codes).toString(), QStringLiteral("NUOVO,Nuovo,tel,èco"));
        EXPECT_EQ(local.value(actions).toString(), QStringLiteral("1TEL,2ÈCO,3NUOVO"));
        EXPECT_EQ(ex.value(actions).toString(), walk ? QStringLiteral("1tel,2èco,3NUOVO,3nuovo,99X")
                                                     : QStringLiteral("1tel,2èco,3NUOVO,3nuovo"));
        EXPECT_EQ(local.value(appointments).toString(), QStringLiteral("TEL"));
        EXPECT_EQ(ex.value(appointments).toString(), QStringLiteral("Tel"));
        EXPECT_EQ(prompt.messages.size(), walk ? 1 : 0);
        prompt.messages.clear();
    }
}

// A number key holding a text is refused with the file, before anything is
// copied; the reason names the table, the side, the field and the value.
TEST_F(VisitsFixture, ANumberKeyHoldingATextRefusesTheTable)
{
    {
        RawDb ex(m_exchange);
        ex.exec(
            QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) VALUES (1, 45000), (2, '15/03/2023')"));
        RawDb local(m_local);
        local.exec(QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData) VALUES (3, 45001)"));
    }
    const QByteArray localBefore = fileBytes(m_local), exchangeBefore = fileBytes(m_exchange);
    prompt.expect(kVisits.passIn +
                      QStringLiteral("\nNella tabella VisiteN del database REMOTO il campo chiave "
                                     "VsData contiene \"15/03/2023\""),
                  AnswerOk, MsgStyle::Ok);
    const StepOutcome out = syncVisits(w);
    EXPECT_EQ(out.status, StepOutcome::Status::Failed);
    EXPECT_EQ(out.error, DbErr::KeyTypeMismatch);
    EXPECT_EQ(fileBytes(m_local), localBefore);
    EXPECT_EQ(fileBytes(m_exchange), exchangeBefore);
    EXPECT_TRUE(marker(QStringLiteral("DATV")).isEmpty());
}

} // namespace odd
