#include "db/Database.h"

#include "db/Snapshot.h"
#include "db/TableRecordset.h"
#include "support/ScriptedPrompt.h"
#include "sync/Schema.h"
#include "sync/SyncTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

class DatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString clients(const QString& name)
    {
        QString error;
        const QString p = path(name);
        EXPECT_TRUE(schema::createDatabase(p, schema::Kind::Clients, &error)) << error.toStdString();
        return p;
    }
    QString visits(const QString& name)
    {
        QString error;
        const QString p = path(name);
        EXPECT_TRUE(schema::createDatabase(p, schema::Kind::Visits, &error)) << error.toStdString();
        return p;
    }

    QTemporaryDir m_dir;
};

// A database file that is not a sound SQLite file of ours fails to open with
// a number and a description, and is left exactly as it was.
struct BadFile
{
    const char* label;
    int expected;
    std::function<void(const QString& good, const QString& bad)> make;
};

TEST_F(DatabaseTest, BadFilesFailToOpenAndStayUntouched)
{
    const QString good = clients(QStringLiteral("good.mdb"));
    {
        RawDb raw(good);
        for (int i = 1; i <= 300; ++i)
            raw.insertClient({{QStringLiteral("CliCodice"), i},
                              {QStringLiteral("CliRagsoc"), QString(200, QLatin1Char('x'))}});
    }
    const QByteArray goodBytes = fileBytes(good);
    ASSERT_GT(goodBytes.size(), 8192);

    const std::vector<BadFile> cases = {
        {"missing", DbErr::FileNotFound, [](const QString&, const QString&) {}},
        {"zero bytes", DbErr::UnrecognisedFormat,
         [](const QString&, const QString& bad) { writeBytes(bad, {}); }},
        {"jet file", DbErr::UnrecognisedFormat,
         [](const QString&, const QString& bad) {
             QByteArray jet("\x00\x01\x00\x00Standard Jet DB\x00", 20);
             jet.append(QByteArray(4096, '\x00'));
             writeBytes(bad, jet);
         }},
        {"text file", DbErr::UnrecognisedFormat,
         [](const QString&, const QString& bad) {
             writeBytes(bad, QByteArray("CliCodice;CliRagsoc\n1;ROSSI\n").repeated(20));
         }},
        {"header only", DbErr::UnrecognisedFormat,
         [&](const QString&, const QString& bad) { writeBytes(bad, goodBytes.left(60)); }},
        {"truncated at a page", DbErr::CannotOpenDatabase,
         [&](const QString&, const QString& bad) {
             writeBytes(bad, goodBytes.left(goodBytes.size() / 2 / 4096 * 4096));
         }},
        {"truncated mid page", DbErr::CannotOpenDatabase,
         [&](const QString&, const QString& bad) {
             writeBytes(bad, goodBytes.left(goodBytes.size() - 100));
         }},
        {"garbage after header", DbErr::UnrecognisedFormat,
         [&](const QString&, const QString& bad) {
             QByteArray b = goodBytes;
             for (int i = 16; i < 24; ++i)
                 b[i] = '\x07';
             writeBytes(bad, b);
         }},
    };
    int n = 0;
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.label);
        const QString bad = path(QStringLiteral("bad%1.mdb").arg(++n));
        c.make(good, bad);
        const QByteArray before = fileBytes(bad);
        const bool existed = QFileInfo::exists(bad);

        Database db;
        const Error e = db.open(bad);
        EXPECT_EQ(e.number, c.expected) << e.text.toStdString();
        EXPECT_FALSE(e.text.isEmpty());
        EXPECT_FALSE(db.isOpen());
        EXPECT_EQ(QFileInfo::exists(bad), existed) << "opening never creates a file";
        EXPECT_EQ(fileBytes(bad), before);

        // Attached as the other file of a synchronisation, it fails the same way.
        Database local;
        ASSERT_FALSE(local.open(good));
        const Error a = local.attachTable(QStringLiteral("ClientiEX"), bad, QStringLiteral("Clienti"));
        EXPECT_EQ(a.number, c.expected) << a.text.toStdString();
        EXPECT_FALSE(local.isAttached(QStringLiteral("ClientiEX")));
        EXPECT_FALSE(local.hasTable(QStringLiteral("ClientiEX")));
        EXPECT_EQ(QFileInfo::exists(bad), existed);
        local.close();
        EXPECT_EQ(fileBytes(good), goodBytes);
    }
}

TEST_F(DatabaseTest, MissingTableAndEmptyPathAreReported)
{
    const QString local = clients(QStringLiteral("local.mdb"));
    const QString other = visits(QStringLiteral("other.mdb"));
    Database db;
    EXPECT_EQ(db.open(QString()).number, DbErr::InvalidPath);
    EXPECT_EQ(db.open(m_dir.path()).number, DbErr::CannotOpenFile);
    ASSERT_FALSE(db.open(local));
    const Error e = db.attachTable(QStringLiteral("ClientiEX"), other, QStringLiteral("Clienti"));
    EXPECT_EQ(e.number, DbErr::TableNotFound);
    EXPECT_TRUE(e.text.contains(QLatin1String("Clienti")));
    TableRecordset rs(db);
    EXPECT_EQ(rs.open(QStringLiteral("VisiteN")).number, DbErr::TableNotFound);
    Snapshot snap(db);
    EXPECT_EQ(snap.open(QStringLiteral("SELECT * FROM Nessuna")).number, DbErr::TableNotFound);
}

TEST_F(DatabaseTest, SeekAddEditOnThePrimaryIndex)
{
    const QString p = visits(QStringLiteral("v.mdb"));
    Database db;
    ASSERT_FALSE(db.open(p));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("appuntamenti"))); // names without regard to case
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));

    // Add two rows that differ only in the third key field.
    for (const char* action : {"TEL", "VIS"}) {
        ASSERT_FALSE(rs.addNew());
        ASSERT_FALSE(rs.setValue(QStringLiteral("ApCliente"), 7));
        ASSERT_FALSE(rs.setValue(QStringLiteral("ApData"), 45000.5));
        ASSERT_FALSE(rs.setValue(QStringLiteral("ApAzione"), QString::fromLatin1(action)));
        ASSERT_FALSE(rs.setValue(QStringLiteral("ApNote"), QStringLiteral("nota ") + QLatin1String(action)));
        ASSERT_FALSE(rs.update());
    }
    ASSERT_FALSE(rs.seek({7, 45000.5, QStringLiteral("VIS")}));
    ASSERT_FALSE(rs.noMatch());
    EXPECT_EQ(rs.value(QStringLiteral("ApNote")).toString(), QStringLiteral("nota VIS"));
    EXPECT_EQ(rs.value(QStringLiteral("ApDelete")).toString(), QStringLiteral(" ")) << "table default";

    ASSERT_FALSE(rs.edit());
    ASSERT_FALSE(rs.setValue(QStringLiteral("ApStato"), QStringLiteral("C")));
    ASSERT_FALSE(rs.update());
    EXPECT_EQ(rs.value(QStringLiteral("ApStato")).toString(), QStringLiteral("C"));

    ASSERT_FALSE(rs.seek({7, 45000.5, QStringLiteral("XXX")}));
    EXPECT_TRUE(rs.noMatch());
    Error e;
    rs.value(QStringLiteral("ApNote"), &e);
    EXPECT_EQ(e.number, DbErr::NoCurrentRecord);

    // A new row left without Update is discarded by the next seek.
    ASSERT_FALSE(rs.addNew());
    ASSERT_FALSE(rs.setValue(QStringLiteral("ApCliente"), 8));
    ASSERT_FALSE(rs.seek({7}));
    EXPECT_FALSE(rs.noMatch()) << "a partial key matches on the leading fields";
    EXPECT_EQ(rs.update().number, DbErr::UpdateWithoutEdit);

    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Appuntamenti")).toInt(), 2);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT ApStato FROM Appuntamenti WHERE ApAzione = 'VIS'")).toString(),
              QStringLiteral("C"));
    EXPECT_TRUE(
        raw.value(QStringLiteral("SELECT ApStato FROM Appuntamenti WHERE ApAzione = 'TEL'")).isNull());
}

TEST_F(DatabaseTest, WriteFailuresCarryTheirNumbersAndStoreNothing)
{
    const QString p = clients(QStringLiteral("c.mdb"));
    {
        RawDb raw(p);
        raw.insertClient(
            {{QStringLiteral("CliCodice"), 1}, {QStringLiteral("CliRagsoc"), QStringLiteral("ROSSI")}});
    }
    Database db;
    ASSERT_FALSE(db.open(p));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Clienti")));
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
    EXPECT_EQ(rs.setIndex(QStringLiteral("nessuno")).number, DbErr::IndexNotFound);

    struct Case
    {
        const char* label;
        QVariant code;
        const char* field;
        QVariant value;
        int expected;
    };
    const std::vector<Case> cases = {
        {"duplicate key", 1, "CliRagsoc", QStringLiteral("BIS"), DbErr::DuplicateKey},
        {"null key", QVariant(), "CliRagsoc", QStringLiteral("X"), DbErr::NullInRequiredField},
        {"text in a number field", 2, "CliAbbinamento", QStringLiteral("abc"), DbErr::ConversionError},
        {"blank in a number field", 2, "CliNatoIl", QStringLiteral("  "), DbErr::ConversionError},
        {"unknown field", 2, "CliNessuno", 1, DbErr::ItemNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_FALSE(rs.addNew());
        Error e = rs.setValue(QStringLiteral("CliCodice"), c.code);
        if (!e)
            e = rs.setValue(QLatin1String(c.field), c.value);
        if (!e)
            e = rs.update();
        EXPECT_EQ(e.number, c.expected) << e.text.toStdString();
        EXPECT_FALSE(e.text.isEmpty());
        rs.cancelUpdate();
    }
    // Numeric texts are converted for number fields.
    ASSERT_FALSE(rs.addNew());
    ASSERT_FALSE(rs.setValue(QStringLiteral("CliCodice"), QStringLiteral(" 5 ")));
    ASSERT_FALSE(rs.setValue(QStringLiteral("CliNatoIl"), QStringLiteral("12345.5")));
    ASSERT_FALSE(rs.update());
    db.close();
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Clienti")).toInt(), 2);
    EXPECT_DOUBLE_EQ(
        raw.value(QStringLiteral("SELECT CliNatoIl FROM Clienti WHERE CliCodice = 5")).toDouble(), 12345.5);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT CliRagsoc FROM Clienti WHERE CliCodice = 1")).toString(),
              QStringLiteral("ROSSI"));
}

TEST_F(DatabaseTest, AttachmentReadsAndWritesTheOtherFileAndLeavesNothingBehind)
{
    const QString local = visits(QStringLiteral("local.mdb"));
    const QString other = visits(QStringLiteral("other.mdb"));
    {
        RawDb l(local);
        l.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('TEL', 'TELEFONATA'), ('VIS', 'VISITA')"));
        RawDb o(other);
        o.exec(QStringLiteral("INSERT INTO TabAzioni VALUES ('VIS', 'VISITA IN SEDE'), ('LET', 'LETTERA')"));
    }
    const QByteArray localBefore = fileBytes(local);

    Database db;
    ASSERT_FALSE(db.open(local));
    ASSERT_FALSE(db.attachTable(QStringLiteral("TabAzioniEX"), other, QStringLiteral("TabAzioni")));
    int rows = -1;
    ASSERT_FALSE(db.execute(
        QStringLiteral("INSERT INTO TabAzioni SELECT TabAzioniEX.* FROM TabAzioniEX "
                       "WHERE TbaCodice NOT IN (SELECT DISTINCT TabAzioni.TbaCodice FROM TabAzioni)"),
        &rows));
    EXPECT_EQ(rows, 1);
    ASSERT_FALSE(db.execute(
        QStringLiteral("INSERT INTO TabAzioniEX SELECT TabAzioni.* FROM TabAzioni "
                       "WHERE TbaCodice NOT IN (SELECT DISTINCT TabAzioniEX.TbaCodice FROM TabAzioniEX)"),
        &rows));
    EXPECT_EQ(rows, 1);
    // A table recordset on the local name works on the other file's table.
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("TabAzioniEX")));
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
    ASSERT_FALSE(rs.seek({QStringLiteral("VIS")}));
    ASSERT_FALSE(rs.noMatch());
    EXPECT_EQ(rs.value(QStringLiteral("TbaDescrizione")).toString(), QStringLiteral("VISITA IN SEDE"));
    rs.close();
    db.detachTable(QStringLiteral("TabAzioniEX"));
    EXPECT_FALSE(db.hasTable(QStringLiteral("TabAzioniEX")));
    Snapshot gone(db);
    EXPECT_EQ(gone.open(QStringLiteral("SELECT * FROM TabAzioniEX")).number, DbErr::TableNotFound);
    db.close();

    RawDb l(local);
    RawDb o(other);
    EXPECT_EQ(l.value(QStringLiteral(
                          "SELECT group_concat(TbaCodice) FROM (SELECT TbaCodice FROM TabAzioni ORDER BY 1)"))
                  .toString(),
              QStringLiteral("LET,TEL,VIS"));
    EXPECT_EQ(o.value(QStringLiteral(
                          "SELECT group_concat(TbaCodice) FROM (SELECT TbaCodice FROM TabAzioni ORDER BY 1)"))
                  .toString(),
              QStringLiteral("LET,TEL,VIS"));
    EXPECT_EQ(
        l.value(QStringLiteral("SELECT TbaDescrizione FROM TabAzioni WHERE TbaCodice = 'VIS'")).toString(),
        QStringLiteral("VISITA"));
    // The local file holds nothing of the attachment.
    EXPECT_EQ(l.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name GLOB '*EX*'")).toInt(),
              0);
    EXPECT_FALSE(QFileInfo::exists(local + QStringLiteral("-journal")));
    Q_UNUSED(localBefore);
}

TEST_F(DatabaseTest, AttachingNeverWritesTheLocalFileAndAFailureLeavesNoAttachment)
{
    const QString local = clients(QStringLiteral("local.mdb"));
    const QString other = clients(QStringLiteral("other.mdb"));
    const QByteArray before = fileBytes(local);
    {
        Database db;
        ASSERT_FALSE(db.open(local));
        ASSERT_FALSE(db.attachTable(QStringLiteral("ClientiEX"), other, QStringLiteral("Clienti")));
        // Attaching again under the same name replaces the previous attachment.
        ASSERT_FALSE(db.attachTable(QStringLiteral("ClientiEX"), other, QStringLiteral("Clienti")));
        EXPECT_TRUE(db.hasTable(QStringLiteral("ClientiEX")));
        // A failed attachment under the same name removes the old one too.
        EXPECT_EQ(db.attachTable(QStringLiteral("ClientiEX"), path(QStringLiteral("none.mdb")),
                                 QStringLiteral("Clienti"))
                      .number,
                  DbErr::FileNotFound);
        EXPECT_FALSE(db.hasTable(QStringLiteral("ClientiEX")));
        ASSERT_FALSE(db.attachTable(QStringLiteral("ClientiEX"), other, QStringLiteral("Clienti")));
        // Closed while still attached (as after an interrupted run).
    }
    EXPECT_EQ(fileBytes(local), before) << "attaching wrote to the local file";
    Database again;
    ASSERT_FALSE(again.open(local));
    EXPECT_FALSE(again.hasTable(QStringLiteral("ClientiEX")));
}

TEST_F(DatabaseTest, ExecuteCompletesWholeOrChangesNothing)
{
    const QString p = visits(QStringLiteral("v.mdb"));
    const QString other = visits(QStringLiteral("o.mdb"));
    {
        RawDb raw(p);
        raw.exec(
            QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', 'S'), (2, 'TEL', ' '), (3, 'VIS', 'S')"));
        RawDb o(other);
        o.exec(QStringLiteral("INSERT INTO Azioni VALUES (5, 'TEL', ' '), (2, 'TEL', ' '), (6, 'TEL', ' ')"));
    }
    Database db;
    ASSERT_FALSE(db.open(p));
    ASSERT_FALSE(db.attachTable(QStringLiteral("AzioniEX"), other, QStringLiteral("Azioni")));
    // Row (2, TEL) collides after (5, TEL) went in: nothing stays.
    int rows = -1;
    const Error e = db.execute(QStringLiteral("INSERT INTO Azioni SELECT * FROM AzioniEX"), &rows);
    EXPECT_EQ(e.number, DbErr::DuplicateKey);
    EXPECT_EQ(rows, 0);

    struct Case
    {
        const char* statement;
        int expected;
    };
    const std::vector<Case> refused = {
        {"SELECT * FROM Azioni", DbErr::SelectNotExecutable},
        {"CREATE TABLE x (a)", DbErr::InvalidStatement},
        {"DELETE FROM Nessuna", DbErr::TableNotFound},
        {"INSERT INTO Azioni (AzCliente) VALUES (9)", DbErr::NullInRequiredField},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(db.execute(QLatin1String(c.statement)).number, c.expected);
    }
    ASSERT_FALSE(db.execute(QStringLiteral("DELETE * FROM Azioni WHERE AzDelete = 'S'"), &rows));
    EXPECT_EQ(rows, 2);
    ASSERT_FALSE(db.execute(QStringLiteral("DELETE * FROM AzioniEX WHERE AzCliente = 6"), &rows));
    EXPECT_EQ(rows, 1);
    db.close();
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 1);
    RawDb o(other);
    EXPECT_EQ(o.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 2);
}

// The call before the first change is made once, on the files as they
// stood (no journal beside them), whether the statement is stopped at its
// first row, decided by a query beforehand, taken back on its own (withheld
// writes) or refused; each row changed is counted once, and a point marked
// before stays usable.
TEST_F(DatabaseTest, TheFirstChangeIsToldOnceOnTheUntouchedFileAndCountedOnce)
{
    const QString p = visits(QStringLiteral("v.mdb"));
    const QString other = visits(QStringLiteral("o.mdb"));
    {
        RawDb raw(p);
        raw.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', ' ')"));
        RawDb o(other);
        o.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', ' '), (2, 'TEL', ' '), (3, 'VIS', ' '), "
                              "(4, 'VIS', ' ')"));
    }
    const QString copy = QStringLiteral("INSERT INTO Azioni SELECT * FROM AzioniEX AS s WHERE NOT EXISTS "
                                        "(SELECT 1 FROM Azioni AS t WHERE t.AzCliente = s.AzCliente)");
    const QString missing = QStringLiteral("SELECT 1 FROM AzioniEX AS s WHERE NOT EXISTS (SELECT 1 FROM "
                                           "Azioni AS t WHERE t.AzCliente = s.AzCliente) LIMIT 1");
    enum class Way
    {
        Stopped,
        Probed,
        ProbeSaysNothing,
        Withheld
    };
    for (const Way way : {Way::Stopped, Way::Probed, Way::ProbeSaysNothing, Way::Withheld}) {
        SCOPED_TRACE(int(way));
        const QString file = path(QStringLiteral("v%1.mdb").arg(int(way)));
        QFile::remove(file);
        ASSERT_TRUE(QFile::copy(p, file));
        const bool withheld = way == Way::Withheld;
        Database db;
        db.setWritesWithheld(withheld);
        ASSERT_FALSE(db.open(file));
        ASSERT_FALSE(db.attachTable(QStringLiteral("AzioniEX"), other, QStringLiteral("Azioni")));
        int calls = 0;
        db.setBeforeFirstChange([&]() -> Error {
            ++calls;
            EXPECT_FALSE(QFile::exists(file + QStringLiteral("-journal")));
            RawDb raw(file);
            EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 1);
            return {};
        });
        ASSERT_FALSE(db.beginBatch());
        ASSERT_FALSE(db.markPoint());
        int rows = -1;
        const Error e =
            way == Way::Stopped || withheld
                ? db.execute(copy, &rows)
                : db.executeProbed(copy, way == Way::Probed ? missing : QStringLiteral("SELECT 1 WHERE 0"),
                                   &rows);
        ASSERT_FALSE(e) << e.text.toStdString();
        EXPECT_EQ(rows, 3);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(db.totalChanges(), 3);
        // The point still takes the rows back, and the batch still commits.
        ASSERT_FALSE(db.takeBackToPoint());
        ASSERT_FALSE(db.execute(QStringLiteral("DELETE FROM AzioniEX WHERE AzCliente = 4"), &rows));
        EXPECT_EQ(rows, 1);
        ASSERT_FALSE(db.commitBatch());
        EXPECT_EQ(calls, 1);
        db.close();
        RawDb raw(file);
        EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 1);
        RawDb o(other);
        EXPECT_EQ(o.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), withheld ? 4 : 3);
        if (!withheld)
            o.exec(QStringLiteral("INSERT INTO Azioni VALUES (4, 'VIS', ' ')"));
    }
    // Refused: nothing is written, and nothing after.
    for (const bool probed : {false, true}) {
        Database db;
        ASSERT_FALSE(db.open(p));
        ASSERT_FALSE(db.attachTable(QStringLiteral("AzioniEX"), other, QStringLiteral("Azioni")));
        db.setBeforeFirstChange([]() -> Error { return dbError(DbErr::DiskFull); });
        ASSERT_FALSE(db.beginBatch());
        int rows = -1;
        EXPECT_EQ((probed ? db.executeProbed(copy, missing, &rows) : db.execute(copy, &rows)).number,
                  DbErr::DiskFull);
        EXPECT_EQ(rows, 0);
        EXPECT_EQ(db.execute(QStringLiteral("DELETE FROM Azioni")).number, DbErr::DiskFull);
        db.close();
        RawDb raw(p);
        EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 1);
    }
}

TEST_F(DatabaseTest, BatchesCommitWhatWasStoredAndConnectionsAreSeparate)
{
    const QString p = clients(QStringLiteral("c.mdb"));
    {
        Database db;
        ASSERT_FALSE(db.open(p));
        Database second; // two databases open at once
        ASSERT_FALSE(second.open(p));
        TableRecordset rs(db);
        ASSERT_FALSE(rs.open(QStringLiteral("Clienti")));
        ASSERT_FALSE(db.beginBatch());
        // The second 1 fails; the rows around it stay.
        const std::vector<std::pair<int, int>> rows = {{1, 0}, {2, 0}, {1, DbErr::DuplicateKey}, {3, 0}};
        for (const auto& [code, expected] : rows) {
            ASSERT_FALSE(rs.addNew());
            ASSERT_FALSE(rs.setValue(QStringLiteral("CliCodice"), code));
            EXPECT_EQ(rs.update().number, expected);
            rs.cancelUpdate();
        }
        ASSERT_FALSE(db.commitBatch());
        ASSERT_FALSE(db.beginBatch());
        ASSERT_FALSE(rs.addNew());
        ASSERT_FALSE(rs.setValue(QStringLiteral("CliCodice"), 9));
        ASSERT_FALSE(rs.update());
        db.rollbackBatch();
        // Closing with a batch open keeps what it stored.
        ASSERT_FALSE(db.beginBatch());
        ASSERT_FALSE(rs.addNew());
        ASSERT_FALSE(rs.setValue(QStringLiteral("CliCodice"), 10));
        ASSERT_FALSE(rs.update());
        db.close();
        EXPECT_FALSE(rs.isOpen()) << "closing the database closes its recordsets";
        EXPECT_EQ(rs.seek({1}).number, DbErr::ObjectClosed);
    }
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral(
                            "SELECT group_concat(CliCodice) FROM (SELECT CliCodice FROM Clienti ORDER BY 1)"))
                  .toString(),
              QStringLiteral("1,2,3,10"));
    EXPECT_FALSE(QFileInfo::exists(p + QStringLiteral("-journal")));
}

TEST_F(DatabaseTest, SnapshotWalksRowsForwardAndCountsThem)
{
    const QString p = clients(QStringLiteral("c.mdb"));
    Database db;
    ASSERT_FALSE(db.open(p));
    Snapshot empty(db);
    ASSERT_FALSE(empty.open(QStringLiteral("SELECT * FROM Clienti")));
    EXPECT_EQ(empty.recordCount(), 0);
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(empty.moveNext().number, DbErr::NoCurrentRecord);
    EXPECT_EQ(empty.open(QStringLiteral("DELETE FROM Clienti")).number, DbErr::InvalidOperation);
    db.close();
    {
        RawDb raw(p);
        for (int i = 1; i <= 3; ++i)
            raw.insertClient({{QStringLiteral("CliCodice"), i},
                              {QStringLiteral("CliRagsoc"), QStringLiteral("N%1").arg(i)}});
    }
    ASSERT_FALSE(db.open(p));
    Snapshot snap(db);
    ASSERT_FALSE(snap.open(QStringLiteral("SELECT * FROM Clienti ORDER BY CliCodice DESC")));
    EXPECT_GT(snap.recordCount(), 0);
    QStringList names;
    while (!snap.eof()) {
        names << snap.value(QStringLiteral("cliragsoc")).toString();
        ASSERT_FALSE(snap.moveNext());
    }
    EXPECT_EQ(names, QStringList({QStringLiteral("N3"), QStringLiteral("N2"), QStringLiteral("N1")}));
    EXPECT_EQ(snap.recordCount(), 3);
}

// Values reach the engine bound, whatever they hold (quotes, Null, bytes with
// a NUL inside), in statements run whole and in snapshots; a wrong number of
// values is refused before anything is written.
TEST_F(DatabaseTest, BoundParametersCarryEveryKindAndAreNeverText)
{
    const QString p = visits(QStringLiteral("v.mdb"));
    const QString other = visits(QStringLiteral("o.mdb"));
    {
        RawDb raw(p);
        raw.exec(QStringLiteral("CREATE TABLE Valori (k INTEGER PRIMARY KEY, v)"));
    }
    struct Case
    {
        const char* label;
        QVariant value;
        const char* stored; // typeof || ':' || quote
    };
    const std::vector<Case> cases = {
        {"null", QVariant(), "null:NULL"},
        {"null text", QVariant(QString()), "null:NULL"},
        {"whole", 42, "integer:42"},
        {"64-bit", std::numeric_limits<qint64>::max(), "integer:9223372036854775807"},
        {"real", 2.5, "real:2.5"},
        {"quotes", QStringLiteral("O'Neil'); DELETE FROM Valori; --"),
         "text:'O''Neil''); DELETE FROM Valori; --'"},
        {"empty text", QStringLiteral(""), "text:''"},
        {"accents", QStringLiteral("città"), "text:'città'"},
        {"bytes", QByteArray("a\0b", 3), "blob:X'610062'"},
    };
    Database db;
    ASSERT_FALSE(db.open(p));
    int key = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        int rows = -1;
        ASSERT_FALSE(
            db.execute(QStringLiteral("INSERT INTO Valori (k, v) VALUES (?, ?)"), {++key, c.value}, &rows));
        EXPECT_EQ(rows, 1);
        Snapshot snap(db);
        ASSERT_FALSE(snap.open(
            QStringLiteral("SELECT typeof(v) || ':' || quote(v), v FROM Valori WHERE k = ?"), {key}));
        ASSERT_FALSE(snap.eof());
        EXPECT_EQ(snap.value(0).toString(), QString::fromUtf8(c.stored));
        EXPECT_EQ(snap.field(1), Cell::fromVariant(c.value));
    }
    // A Null bound in a comparison matches the Null rows (IS), and nothing else.
    Snapshot nulls(db);
    ASSERT_FALSE(nulls.open(QStringLiteral("SELECT count(*) FROM Valori WHERE v IS ?"), {QVariant()}));
    EXPECT_EQ(nulls.value(0).toInt(), 2);

    // The wrong number of values: refused, nothing written, nothing read.
    EXPECT_EQ(db.execute(QStringLiteral("INSERT INTO Valori (k, v) VALUES (?, ?)"), {99}).number,
              DbErr::ParameterCount);
    EXPECT_EQ(db.execute(QStringLiteral("DELETE FROM Valori"), {1}).number, DbErr::ParameterCount);
    Snapshot wrong(db);
    EXPECT_EQ(wrong.open(QStringLiteral("SELECT v FROM Valori WHERE k = ?")).number, DbErr::ParameterCount);
    EXPECT_FALSE(wrong.isOpen());

    // Bound values into the other file through its local name, whole or nothing.
    ASSERT_FALSE(db.attachTable(QStringLiteral("AzioniEX"), other, QStringLiteral("Azioni")));
    int rows = -1;
    ASSERT_FALSE(
        db.execute(QStringLiteral("INSERT INTO AzioniEX (AzCliente, AzCodice, AzDelete) VALUES (?, ?, ?)"),
                   {7, QStringLiteral("TEL"), QVariant()}, &rows));
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(db.execute(QStringLiteral("INSERT INTO AzioniEX (AzCliente, AzCodice) VALUES (?, ?)"),
                         {7, QStringLiteral("TEL")})
                  .number,
              DbErr::DuplicateKey);
    ASSERT_FALSE(db.execute(QStringLiteral("DELETE * FROM AzioniEX WHERE AzCliente = ? AND AzDelete IS ?"),
                            {7, QVariant()}, &rows));
    EXPECT_EQ(rows, 1);
    db.close();
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Valori")).toInt(), int(cases.size()));
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'Azioni'")).toInt(),
              1);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 0);
    RawDb o(other);
    EXPECT_EQ(o.value(QStringLiteral("SELECT count(*) FROM Azioni")).toInt(), 0);
}

// Deleting the current row removes that row only, in the file the table
// lives in; with no current row nothing is deleted.
TEST_F(DatabaseTest, RemoveDeletesTheCurrentRowOnly)
{
    const QString local = visits(QStringLiteral("local.mdb"));
    const QString other = visits(QStringLiteral("other.mdb"));
    {
        RawDb l(local);
        l.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', 'S'), (1, 'VIS', ' '), (2, 'TEL', 'S')"));
        RawDb o(other);
        o.exec(QStringLiteral("INSERT INTO Azioni VALUES (1, 'TEL', 'S'), (3, 'LET', ' ')"));
    }
    Database db;
    ASSERT_FALSE(db.open(local));
    ASSERT_FALSE(db.attachTable(QStringLiteral("AzioniEX"), other, QStringLiteral("Azioni")));
    for (const char* table : {"Azioni", "AzioniEX"}) {
        SCOPED_TRACE(table);
        TableRecordset rs(db);
        ASSERT_FALSE(rs.open(QLatin1String(table)));
        ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
        EXPECT_EQ(rs.remove().number, DbErr::NoCurrentRecord) << "no seek yet";
        ASSERT_FALSE(rs.seek({1, QStringLiteral("TEL")}));
        ASSERT_FALSE(rs.noMatch());
        // A pending edit is discarded, the row goes.
        ASSERT_FALSE(rs.edit());
        ASSERT_FALSE(rs.setValue(QStringLiteral("AzDelete"), QStringLiteral(" ")));
        ASSERT_FALSE(rs.remove());
        Error e;
        rs.value(QStringLiteral("AzDelete"), &e);
        EXPECT_EQ(e.number, DbErr::NoCurrentRecord);
        EXPECT_EQ(rs.remove().number, DbErr::NoCurrentRecord) << "deleted once";
        EXPECT_EQ(rs.update().number, DbErr::UpdateWithoutEdit);
        ASSERT_FALSE(rs.seek({1, QStringLiteral("TEL")}));
        EXPECT_TRUE(rs.noMatch());
        ASSERT_FALSE(rs.seek({2, QStringLiteral("XXX")}));
        EXPECT_EQ(rs.remove().number, DbErr::NoCurrentRecord) << "after a failed seek";
    }
    // Inside a batch the deletion is stored with the batch.
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Azioni")));
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
    ASSERT_FALSE(db.beginBatch());
    ASSERT_FALSE(rs.seek({2}));
    ASSERT_FALSE(rs.remove());
    ASSERT_FALSE(db.commitBatch());
    db.close();
    RawDb l(local);
    EXPECT_EQ(l.value(QStringLiteral("SELECT group_concat(AzCliente || AzCodice) FROM Azioni")).toString(),
              QStringLiteral("1VIS"));
    RawDb o(other);
    EXPECT_EQ(o.value(QStringLiteral("SELECT group_concat(AzCliente || AzCodice) FROM Azioni")).toString(),
              QStringLiteral("3LET"));
}

// One value type: a cell read from a row, held, copied and bound again keeps
// its kind and its value, also after the row it came from has gone.
TEST_F(DatabaseTest, CellsKeepTheirValueFromRowToRow)
{
    const QString p = visits(QStringLiteral("v.mdb"));
    const QVariantList values = {QVariant(),
                                 qlonglong(-5),
                                 std::numeric_limits<qint64>::min(),
                                 0.1,
                                 QStringLiteral("ROSSI"),
                                 QStringLiteral(""),
                                 QStringLiteral("a\u0000b"),
                                 QStringLiteral("perché"),
                                 QByteArray("\x00\xff", 2),
                                 QByteArray(5000, 'x')};
    {
        RawDb raw(p);
        raw.exec(QStringLiteral("CREATE TABLE Da (k INTEGER PRIMARY KEY, v)"));
        raw.exec(QStringLiteral("CREATE TABLE A (k INTEGER PRIMARY KEY, v)"));
        for (int i = 0; i < values.size(); ++i)
            raw.exec(QStringLiteral("INSERT INTO Da VALUES (?, ?)"), {i, values[i]});
    }
    Database db;
    ASSERT_FALSE(db.open(p));
    Snapshot snap(db);
    ASSERT_FALSE(snap.open(QStringLiteral("SELECT v FROM Da ORDER BY k")));
    std::vector<Cell> held;
    for (int i = 0; !snap.eof(); ++i) {
        SCOPED_TRACE(i);
        const Cell read = snap.field(0);
        EXPECT_FALSE(read.isHeld() && (read.kind == CellKind::Text || read.kind == CellKind::Bytes))
            << "a field borrows the row's bytes";
        EXPECT_EQ(read, Cell::fromVariant(values[i]));
        EXPECT_EQ(read.toVariant(), Cell::fromVariant(values[i]).toVariant());
        Cell keep;
        keep.take(read);
        EXPECT_TRUE(keep.isHeld());
        held.push_back(keep);
        ASSERT_FALSE(snap.moveNext());
    }
    snap.close();
    // A held cell copied, and the original given another value: the copy stays.
    Cell first = held[4];
    held[4].take(held[9]);
    EXPECT_EQ(first.toVariant().toString(), QStringLiteral("ROSSI"));
    held[4].take(first);

    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("A")));
    for (int i = 0; i < int(held.size()); ++i) {
        ASSERT_FALSE(rs.addNew());
        ASSERT_FALSE(rs.setValue(QStringLiteral("k"), i));
        ASSERT_FALSE(rs.setValue(rs.fieldIndex(QStringLiteral("v")), held[size_t(i)]));
        ASSERT_FALSE(rs.update());
    }
    rs.close();
    db.close();
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Da JOIN A USING (k) WHERE Da.v IS A.v AND "
                                       "typeof(Da.v) = typeof(A.v)"))
                  .toInt(),
              int(values.size()));
}

// The engine is reached through one interface: SQLite's own library, and no
// Qt SQL driver (a second way to the same files) in the process.
TEST_F(DatabaseTest, OneInterfaceToTheEngine)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray loaded = maps.readAll();
    EXPECT_FALSE(loaded.contains("libQt6Sql")) << "Qt SQL is loaded";
    EXPECT_TRUE(loaded.contains("libsqlite3")) << "the engine's own library is not";
}

// Seeks in ascending key order walk the table instead of searching it; they
// must find exactly what a search finds, whatever was written in between:
// rows added behind or ahead, by the recordset itself or by anything else on
// the connection, a row deleted, a batch committed or rolled back.
TEST_F(DatabaseTest, SeeksInKeyOrderFindWhatASearchFinds)
{
    const QString p = clients(QStringLiteral("c.mdb"));
    {
        RawDb raw(p);
        for (int code = 2; code <= 20; code += 2)
            raw.insertClient({{QStringLiteral("CliCodice"), code}});
        for (int code = 100; code <= 160; ++code) // long stretches to step over
            raw.insertClient({{QStringLiteral("CliCodice"), code}});
    }
    enum Action
    {
        Seek,
        Add,         // through the recordset, after a seek found nothing
        OtherWrite,  // an INSERT executed on the same connection
        OtherRecord, // another recordset on the same table adds it
        Edit,        // the current row's visits text
        Remove,      // the current row
        Commit,      // and a new batch
        Rollback     // and a new batch
    };
    struct Step
    {
        Action action;
        int key;
        bool found; // for Seek
    };
    const std::vector<Step> steps = {
        {Seek, 1, false},   {Add, 1, false},         {Seek, 2, true},          {Seek, 3, false},
        {Add, 3, false},    {Seek, 3, true},         {OtherWrite, 5, false},   {Seek, 5, true},
        {Seek, 7, false},   {Add, 7, false},         {Add, 11, false},         {Seek, 11, true},
        {Seek, 12, true},   {Edit, 12, false},       {Seek, 14, true},         {Remove, 14, false},
        {Seek, 14, false},  {Seek, 16, true},        {OtherRecord, 17, false}, {Seek, 17, true},
        {Commit, 0, false}, {Seek, 18, true},        {Seek, 25, false},        {Add, 25, false},
        {Seek, 26, false},  {OtherWrite, 27, false}, {Seek, 27, true},         {Add, 29, false},
        {Seek, 29, true},   {Seek, 25, true},        {Rollback, 0, false},     {Seek, 30, false},
        {Seek, 25, false},  {Seek, 20, true},        {Seek, 101, true},        {Seek, 140, true},
        {Seek, 141, true},  {Seek, 170, false},
    };
    Database db;
    ASSERT_FALSE(db.open(p));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Clienti")));
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
    ASSERT_FALSE(rs.setFetchFields({QStringLiteral("CliCodice"), QStringLiteral("CliVisite")}));
    TableRecordset other(db);
    ASSERT_FALSE(other.open(QStringLiteral("Clienti")));
    ASSERT_FALSE(db.beginBatch());
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(QStringLiteral("step %1, key %2").arg(++n).arg(s.key).toStdString());
        switch (s.action) {
        case Seek:
            ASSERT_FALSE(rs.seek({s.key}));
            EXPECT_EQ(!rs.noMatch(), s.found);
            if (s.found) {
                EXPECT_EQ(rs.value(QStringLiteral("CliCodice")).toInt(), s.key);
                EXPECT_EQ(rs.value(QStringLiteral("CliRagsoc")).isNull(), true) << "read on demand";
            }
            break;
        case Add:
            ASSERT_FALSE(rs.addNew());
            ASSERT_FALSE(rs.setValue(QStringLiteral("CliCodice"), s.key));
            ASSERT_FALSE(rs.update());
            break;
        case OtherWrite:
            ASSERT_FALSE(db.execute(QStringLiteral("INSERT INTO Clienti (CliCodice) VALUES (?)"), {s.key}));
            break;
        case OtherRecord:
            ASSERT_FALSE(other.addNew());
            ASSERT_FALSE(other.setValue(QStringLiteral("CliCodice"), s.key));
            ASSERT_FALSE(other.update());
            break;
        case Edit:
            ASSERT_FALSE(rs.edit());
            ASSERT_FALSE(rs.setValue(QStringLiteral("CliVisite"), QStringLiteral("SSS")));
            ASSERT_FALSE(rs.update());
            EXPECT_EQ(rs.value(QStringLiteral("CliVisite")).toString(), QStringLiteral("SSS"));
            break;
        case Remove:
            ASSERT_FALSE(rs.remove());
            break;
        case Commit:
            ASSERT_FALSE(db.commitBatch());
            ASSERT_FALSE(db.beginBatch());
            break;
        case Rollback:
            db.rollbackBatch();
            ASSERT_FALSE(db.beginBatch());
            break;
        }
    }
    ASSERT_FALSE(db.commitBatch());

    // A walk left open on an attached table does not keep its file attached.
    const QString ex = clients(QStringLiteral("ex.mdb"));
    {
        RawDb e(ex);
        e.insertClient({{QStringLiteral("CliCodice"), 1}});
        e.insertClient({{QStringLiteral("CliCodice"), 3}});
    }
    ASSERT_FALSE(db.attachTable(QStringLiteral("ClientiEX"), ex, QStringLiteral("Clienti")));
    TableRecordset onEx(db);
    ASSERT_FALSE(onEx.open(QStringLiteral("ClientiEX")));
    ASSERT_FALSE(onEx.setIndex(QStringLiteral("primaria")));
    ASSERT_FALSE(onEx.seek({1}));
    EXPECT_FALSE(onEx.noMatch());
    db.detachTable(QStringLiteral("ClientiEX"));
    Snapshot schemas(db);
    ASSERT_FALSE(schemas.open(QStringLiteral("SELECT count(*) FROM pragma_database_list WHERE name = ?"),
                              {QStringLiteral("mx_clienti"
                                              "ex")}));
    EXPECT_EQ(schemas.value(0).toInt(), 0) << "the other file is still attached";
    schemas.close();
    EXPECT_TRUE(onEx.seek({3})) << "its file is gone";
    db.close();
    RawDb raw(p);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT group_concat(CliCodice || coalesce(CliVisite, '')) FROM "
                                       "(SELECT * FROM Clienti WHERE CliCodice < 100 ORDER BY CliCodice)"))
                  .toString(),
              QStringLiteral("1,2,3,4,5,6,7,8,10,11,12SSS,16,17,18,20"));
}

} // namespace
