// The row-by-row paths of the engine layer: values read and written through
// the engine's own interface come and go exactly as an independent connection
// reads and writes them, and no statement outlives its connection.

#include "db/Database.h"
#include "db/Snapshot.h"
#include "db/TableRecordset.h"
#include "support/ScriptedPrompt.h"
#include "sync/ClientsSync.h"
#include "sync/SyncTestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

class NativeStatementTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("v.mdb"));
        QString error;
        ASSERT_TRUE(schema::createDatabase(m_path, schema::Kind::Clients, &error)) << error.toStdString();
        RawDb raw(m_path);
        // Source rows of every storage kind, and destinations of every kind.
        raw.exec(QStringLiteral("CREATE TABLE Sorgente (k INTEGER PRIMARY KEY, v)"));
        raw.exec(QStringLiteral(
            "CREATE TABLE Destinazione (k INTEGER PRIMARY KEY, t TEXT, i INTEGER, r REAL, a)"));
        for (const Source& s : sources())
            raw.exec(QStringLiteral("INSERT INTO Sorgente VALUES (?, ") + QLatin1String(s.sql) +
                         QLatin1Char(')'),
                     {s.key});
    }

    struct Source
    {
        int key;
        const char* sql; // the stored value
        Snapshot::Stored kind;
        QMetaType::Type variant; // as value() gives it
    };
    static std::vector<Source> sources()
    {
        return {
            {1, "NULL", Snapshot::Stored::Null, QMetaType::QString},
            {2, "42", Snapshot::Stored::Integer, QMetaType::LongLong},
            {3, "-7.25", Snapshot::Stored::Real, QMetaType::Double},
            {4, "'ROSSI'", Snapshot::Stored::Text, QMetaType::QString},
            {5, "''", Snapshot::Stored::Text, QMetaType::QString},
            {6, "'12.5'", Snapshot::Stored::Text, QMetaType::QString},
            {7, "'città è'", Snapshot::Stored::Text, QMetaType::QString},
            {8, "X'00FF10'", Snapshot::Stored::Bytes, QMetaType::QByteArray},
            {9, "'  '", Snapshot::Stored::Text, QMetaType::QString},
            {10, "'abc'", Snapshot::Stored::Text, QMetaType::QString},
            {11, "X''", Snapshot::Stored::Bytes, QMetaType::QByteArray},
            {12, "char(0) || 'a'", Snapshot::Stored::Text, QMetaType::QString},
            {13, "'a' || char(0) || 'b'", Snapshot::Stored::Text, QMetaType::QString},
            {14, "9223372036854775807", Snapshot::Stored::Integer, QMetaType::LongLong},
            {15, "' 7 '", Snapshot::Stored::Text, QMetaType::QString},
            {16, "1e300", Snapshot::Stored::Real, QMetaType::Double},
        };
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(NativeStatementTest, ValuesReadAsAnIndependentConnectionReadsThem)
{
    Database db;
    ASSERT_FALSE(db.open(m_path));
    Snapshot snap(db);
    ASSERT_FALSE(snap.open(QStringLiteral("SELECT k, v FROM Sorgente ORDER BY k")));
    RawDb raw(m_path);
    for (const Source& s : sources()) {
        SCOPED_TRACE(s.sql);
        ASSERT_FALSE(snap.eof());
        const QVariant ours = snap.value(1);
        const QVariant qt = raw.value(QStringLiteral("SELECT v FROM Sorgente WHERE k = ?"), {s.key});
        EXPECT_EQ(ours.typeId(), int(s.variant));
        EXPECT_EQ(ours.isNull(), qt.isNull());
        EXPECT_EQ(ours.typeId(), qt.typeId());
        EXPECT_EQ(ours, qt);
        EXPECT_EQ(snap.field(1).kind, s.kind);
        EXPECT_EQ(snap.field(1).toVariant(), ours);
        // The table recordset reads the same.
        TableRecordset rs(db);
        ASSERT_FALSE(rs.open(QStringLiteral("Sorgente")));
        ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
        ASSERT_FALSE(rs.seek({s.key}));
        ASSERT_FALSE(rs.noMatch());
        EXPECT_EQ(rs.value(QStringLiteral("v")), qt);
        EXPECT_EQ(rs.value(QStringLiteral("v")).typeId(), qt.typeId());
        ASSERT_FALSE(snap.moveNext());
    }
    EXPECT_TRUE(snap.eof());
    EXPECT_EQ(snap.field(1).kind, Snapshot::Stored::Null) << "off a row";
    EXPECT_EQ(snap.recordCount(), int(sources().size()));
}

// A field copied as stored, or bound in place from the snapshot's row, ends
// up exactly as the same value set through setValue(QVariant) would: same
// storage class, same value, same refusals.
TEST_F(NativeStatementTest, CopyingAsStoredGivesWhatConvertingGives)
{
    Database db;
    ASSERT_FALSE(db.open(m_path));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Destinazione")));
    Snapshot snap(db);
    ASSERT_FALSE(snap.open(QStringLiteral("SELECT k, v FROM Sorgente ORDER BY k")));
    const QStringList targets = {QStringLiteral("t"), QStringLiteral("i"), QStringLiteral("r"),
                                 QStringLiteral("a")};
    int key = 0;
    for (; !snap.eof(); static_cast<void>(snap.moveNext())) {
        const QString label = snap.value(1).toString();
        for (const QString& target : targets) {
            SCOPED_TRACE((label + QLatin1String(" -> ") + target).toStdString());
            const int field = rs.fieldIndex(target);
            // Once copied as stored, once bound in place, once converted.
            Error results[3];
            QVariant pending[3];
            for (int way = 0; way < 3; ++way) {
                ASSERT_FALSE(rs.addNew());
                ASSERT_FALSE(rs.setValue(QStringLiteral("k"), ++key));
                results[way] = way == 0   ? rs.setValue(field, snap.field(1))
                               : way == 1 ? rs.setValue(field, snap, snap.field(1))
                                          : rs.setValue(field, snap.value(1));
                if (!results[way]) {
                    pending[way] = rs.value(field);
                    // The first sources read back as their text whichever the field's kind.
                    if (snap.value(0).toInt() <= 10) {
                        EXPECT_EQ(pending[way].toString(), snap.value(1).toString());
                    }
                    results[way] = rs.update();
                }
                rs.cancelUpdate();
            }
            // The pending value reads back the same every way.
            EXPECT_EQ(pending[0], pending[2]);
            EXPECT_EQ(pending[1], pending[2]);
            EXPECT_EQ(results[0].number, results[2].number);
            EXPECT_EQ(results[1].number, results[2].number);
            if (results[2])
                continue;
            RawDb raw(m_path);
            const QString column = Database::quoted(target);
            const QString read = QStringLiteral("SELECT typeof(") + column +
                                 QStringLiteral(") || ':' || quote(") + column +
                                 QStringLiteral(") FROM Destinazione WHERE k = ?");
            const QString converted = raw.value(read, {key}).toString();
            EXPECT_FALSE(converted.isEmpty());
            EXPECT_EQ(raw.value(read, {key - 2}).toString(), converted) << "copied as stored";
            EXPECT_EQ(raw.value(read, {key - 1}).toString(), converted) << "bound in place";
        }
    }
    EXPECT_GT(key, 3 * 4 * 15);
}

// A value bound in place lives in the snapshot's row: once the walk has
// moved on, the pending row is refused and nothing is stored; an edit stores
// it and reads it back.
TEST_F(NativeStatementTest, ValuesBoundInPlaceNeedTheSnapshotToStayOnItsRow)
{
    Database db;
    ASSERT_FALSE(db.open(m_path));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Destinazione")));
    ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria")));
    Snapshot snap(db);
    ASSERT_FALSE(snap.open(QStringLiteral("SELECT k, v FROM Sorgente WHERE k IN (4, 10) ORDER BY k")));
    const int t = rs.fieldIndex(QStringLiteral("t"));

    ASSERT_FALSE(rs.addNew());
    ASSERT_FALSE(rs.setValue(QStringLiteral("k"), 1));
    ASSERT_FALSE(rs.setValue(t, snap, snap.field(1)));
    EXPECT_EQ(rs.value(t).toString(), QStringLiteral("ROSSI"));
    ASSERT_FALSE(snap.moveNext());
    EXPECT_EQ(rs.update().number, DbErr::NoCurrentRecord);
    rs.cancelUpdate();
    ASSERT_FALSE(rs.seek({1}));
    EXPECT_TRUE(rs.noMatch()) << "nothing stored";

    // Stored while the snapshot stays; then changed by an edit.
    ASSERT_FALSE(rs.addNew());
    ASSERT_FALSE(rs.setValue(QStringLiteral("k"), 2));
    ASSERT_FALSE(rs.setValue(t, snap, snap.field(1)));
    ASSERT_FALSE(rs.update());
    ASSERT_FALSE(rs.seek({2}));
    ASSERT_FALSE(rs.noMatch());
    EXPECT_EQ(rs.value(t).toString(), QStringLiteral("abc"));
    ASSERT_FALSE(rs.edit());
    const Snapshot::Field blank{Snapshot::Stored::Text, 0, 0, QByteArrayView(" ", 1)};
    ASSERT_FALSE(rs.setValue(t, snap, blank));
    ASSERT_FALSE(rs.update());
    EXPECT_EQ(rs.value(t).toString(), QStringLiteral(" "));
    ASSERT_FALSE(snap.moveNext());
    EXPECT_TRUE(snap.eof());
    rs.close();
    snap.close();
    db.close();
    RawDb raw(m_path);
    EXPECT_EQ(
        raw.value(QStringLiteral("SELECT group_concat(k || '=' || quote(t)) FROM Destinazione")).toString(),
        QStringLiteral("2=' '"));
}

// Closing the database finalizes every statement first, so the connection
// really closes and the file is free, even in the middle of a walk and
// whichever object goes first.
TEST_F(NativeStatementTest, ClosingMidWalkReleasesTheFile)
{
    for (bool databaseFirst : {false, true}) {
        SCOPED_TRACE(databaseFirst ? "database destroyed first" : "database closed");
        auto db = std::make_unique<Database>();
        ASSERT_FALSE(db->open(m_path));
        auto snap = std::make_unique<Snapshot>(*db);
        ASSERT_FALSE(snap->open(QStringLiteral("SELECT * FROM Sorgente")));
        ASSERT_FALSE(snap->moveNext()); // a read in progress
        auto rs = std::make_unique<TableRecordset>(*db);
        ASSERT_FALSE(rs->open(QStringLiteral("Destinazione")));
        ASSERT_FALSE(rs->setIndex(QStringLiteral("primaria")));
        ASSERT_FALSE(rs->seek({1}));
        ASSERT_FALSE(db->beginBatch());
        ASSERT_FALSE(rs->addNew());
        ASSERT_FALSE(rs->setValue(QStringLiteral("k"), 500));
        ASSERT_FALSE(rs->setValue(rs->fieldIndex(QStringLiteral("t")), snap->field(1)));
        ASSERT_FALSE(rs->update());
        if (databaseFirst) {
            db.reset();
        } else {
            db->close();
            EXPECT_FALSE(snap->isOpen());
            EXPECT_FALSE(rs->isOpen());
            EXPECT_EQ(snap->moveNext().number, DbErr::ObjectClosed);
        }
        {
            // Another connection can take the file for itself.
            RawDb raw(m_path);
            raw.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            EXPECT_EQ(raw.value(QStringLiteral("SELECT count(*) FROM Destinazione WHERE k = 500")).toInt(), 1)
                << "the pending batch was committed on closing";
            raw.exec(QStringLiteral("DELETE FROM Destinazione"));
            raw.exec(QStringLiteral("COMMIT"));
        }
        rs.reset();
        snap.reset();
        db.reset();
        EXPECT_FALSE(QFileInfo::exists(m_path + QStringLiteral("-journal")));
    }
}

TEST_F(NativeStatementTest, FailuresKeepTheirNumbersAndAbandonTheRow)
{
    Database db;
    ASSERT_FALSE(db.open(m_path));
    {
        RawDb raw(m_path);
        raw.exec(
            QStringLiteral("CREATE TABLE Vincoli (k INTEGER NOT NULL PRIMARY KEY, c TEXT CHECK (c <> 'NO'), "
                           "u TEXT UNIQUE)"));
    }
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Vincoli")));
    struct Case
    {
        const char* label;
        int key;
        const char* c;
        const char* u;
        int expected;
    };
    const std::vector<Case> cases = {
        {"stored", 1, "SI", "A", 0},
        {"check rule", 2, "NO", "B", DbErr::ValidationRule},
        {"unique index", 3, "SI", "A", DbErr::DuplicateKey},
        {"duplicate key", 1, "SI", "C", DbErr::DuplicateKey},
        {"stored after failures", 4, "SI", "D", 0},
    };
    ASSERT_FALSE(db.beginBatch());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_FALSE(rs.addNew());
        ASSERT_FALSE(rs.setValue(QStringLiteral("k"), c.key));
        ASSERT_FALSE(rs.setValue(QStringLiteral("c"), QString::fromUtf8(c.c)));
        ASSERT_FALSE(rs.setValue(QStringLiteral("u"), QString::fromUtf8(c.u)));
        const Error e = rs.update();
        EXPECT_EQ(e.number, c.expected) << e.text.toStdString();
        rs.cancelUpdate();
    }
    ASSERT_FALSE(db.commitBatch());
    // A statement the engine cannot compile is refused with its number.
    Snapshot snap(db);
    EXPECT_EQ(snap.open(QStringLiteral("SELECT nessuna FROM Vincoli")).number, DbErr::ItemNotFound);
    EXPECT_EQ(snap.open(QStringLiteral("SELECT 1; SELECT 2")).number, DbErr::Reserved);
    db.close();
    RawDb raw(m_path);
    EXPECT_EQ(raw.value(QStringLiteral("SELECT group_concat(k) FROM (SELECT k FROM Vincoli ORDER BY k)"))
                  .toString(),
              QStringLiteral("1,4"));
}

} // namespace
