// The checks of a client both sides have, decided on the stored bytes, give
// exactly what the same checks on the texts give; and a table opened for
// search hands out the values it read as stored.

#include "changes/ApplyChanges.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "db/TableRecordset.h"
#include "support/ScriptedPrompt.h"
#include "sync/ClientsSync.h"
#include "sync/ClientTransfer.h"
#include "sync/Schema.h"
#include "sync/SyncTestSupport.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>
#include <vector>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

struct Value
{
    const char* label;
    Snapshot::Stored kind;
    QByteArray bytes;
    Snapshot::Field field() const { return Snapshot::Field{kind, 12345, 1.5, bytes}; }
};

Value text(const char* label, QByteArray bytes)
{
    return {label, Snapshot::Stored::Text, std::move(bytes)};
}

const QByteArray k35 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678"; // 35 characters

std::vector<Value> values()
{
    return {
        {"null", Snapshot::Stored::Null, {}},
        text("empty", ""),
        text("blank", " "),
        text("blanks", "     "),
        text("name", "ROSSI MARIO"),
        text("name lower case", "rossi mario"),
        text("name leading blanks", "  ROSSI MARIO"),
        text("name trailing blanks", "ROSSI MARIO   "),
        text("name both blanks", " ROSSI MARIO "),
        text("name inner blanks", "ROSSI  MARIO"),
        text("visits short", "SN"),
        text("visits short padded", "SN           "),
        text("visits 13", "SNSNSNSNSNSNS"),
        text("visits 12 + blank", "SNSNSNSNSNSN "),
        text("visits 14", "SNSNSNSNSNSNSX"),
        text("visits 14 other", "SNSNSNSNSNSNSY"),
        text("visits 13 + blanks", "SNSNSNSNSNSNS   "),
        text("visits leading blank", " SNSNSNSNSNSNS"),
        text("35", k35),
        text("35 + more", k35 + "9XYZ"),
        text("35 + blanks", k35 + "   "),
        text("34 + blank", k35.left(34) + " "),
        text("34", k35.left(34)),
        text("blank + 35", " " + k35),
        text("blank + 34", " " + k35.left(34)),
        text("NUL", QByteArray(1, '\0')),
        text("NUL first", QByteArray("\0ROSSI", 6)),
        text("NUL last", QByteArray("ROSSI\0", 6)),
        text("blank then NUL", QByteArray(" \0", 2)),
        text("non-ASCII", "ROSS\xc3\x8c"),
        text("non-ASCII first", "\xc3\x80"
                                "BC"),
        text("non-ASCII past 35", k35 + "\xc3\x88"),
        text("non-ASCII at 13", "SNSNSNSNSNSN\xc3\x88"),
        text("not UTF-8", "ROSS\xff"),
        {"bytes", Snapshot::Stored::Bytes, "ROSSI MARIO"},
        {"whole number", Snapshot::Stored::Integer, {}},
        {"real number", Snapshot::Stored::Real, {}},
    };
}

bool plainText(const Value& v)
{
    if (v.kind != Snapshot::Stored::Text)
        return false;
    for (const char c : v.bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

TEST(ClientCompareTest, NameOnBytesAgreesWithNameOnTexts)
{
    const std::vector<Value> all = values();
    int decided = 0;
    for (const Value& e : all) {
        for (const Value& l : all) {
            SCOPED_TRACE(std::string("exchange ") + e.label + ", local " + l.label);
            const bool onTexts =
                sameNameText(e.field().toVariant().toString(), localName(l.field().toVariant()));
            const std::optional<bool> onBytes = sameNameStored(e.field(), l.field());
            const bool decidable = plainText(e) && (plainText(l) || l.kind == Snapshot::Stored::Null);
            EXPECT_EQ(onBytes.has_value(), decidable);
            if (onBytes) {
                EXPECT_EQ(*onBytes, onTexts);
                ++decided;
            }
        }
    }
    EXPECT_GT(decided, 500);
}

TEST(ClientCompareTest, VisitsOnBytesAgreeWithVisitsOnTexts)
{
    const std::vector<Value> all = values();
    int decided = 0;
    for (const Value& e : all) {
        for (const Value& l : all) {
            SCOPED_TRACE(std::string("exchange ") + e.label + ", local " + l.label);
            const bool onTexts = heldVisits(e.field().toVariant()) == heldVisits(l.field().toVariant());
            const std::optional<bool> onBytes = sameVisitsStored(e.field(), l.field());
            const auto plainOrNull = [](const Value& v) {
                return plainText(v) || v.kind == Snapshot::Stored::Null;
            };
            EXPECT_EQ(onBytes.has_value(), plainOrNull(e) && plainOrNull(l));
            if (onBytes) {
                EXPECT_EQ(*onBytes, onTexts);
                ++decided;
            }
        }
    }
    EXPECT_GT(decided, 500);
}

// Known answers, so that both ways cannot agree on a wrong rule.
TEST(ClientCompareTest, KnownAnswers)
{
    struct Case
    {
        const char* label;
        bool name; // name check (true) or visits check
        QByteArray exchange;
        QByteArray local;
        bool same;
    };
    const Case cases[] = {
        {"blanks around the name", true, "  ROSSI ", "ROSSI", true},
        {"case counts", true, "Rossi", "ROSSI", false},
        {"names differing after 35 differ", true, k35 + "EXTRA", k35 + "OTHER", false},
        {"the longer name differs", true, k35 + "X", k35, false},
        {"identical long names agree", true, k35 + "EXTRA", k35 + "EXTRA", true},
        {"long names, blanks around aside", true, " " + k35 + "EXTRA  ", k35 + "EXTRA", true},
        {"the 35th counts", true, k35.left(34) + "X", k35, false},
        {"empty local name is a blank", true, "", "", true},
        {"NUL-led local name is a blank", true, "", QByteArray("\0A", 2), true},
        {"NUL-led exchange name is kept", true, QByteArray("\0A", 2), QByteArray("\0A", 2), false},
        {"visits padded to 13", false, "SN", "SN         ", true},
        {"visits cut at 13", false, "SNSNSNSNSNSNSX", "SNSNSNSNSNSNSY", true},
        {"visits leading blank counts", false, " SN", "SN", false},
        {"empty visits are a blank", false, "", "   ", true},
        {"visits differ", false, "SN", "NS", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Snapshot::Field e{Snapshot::Stored::Text, 0, 0, c.exchange};
        const Snapshot::Field l{Snapshot::Stored::Text, 0, 0, c.local};
        const std::optional<bool> onBytes = c.name ? sameNameStored(e, l) : sameVisitsStored(e, l);
        ASSERT_TRUE(onBytes.has_value());
        EXPECT_EQ(*onBytes, c.same);
        const bool onTexts = c.name ? sameNameText(e.toVariant().toString(), localName(l.toVariant()))
                                    : heldVisits(e.toVariant()) == heldVisits(l.toVariant());
        EXPECT_EQ(onTexts, c.same);
    }
    // A Null stands for a blank in the visits text.
    const Snapshot::Field null;
    const Snapshot::Field blanks{Snapshot::Stored::Text, 0, 0, QByteArrayView("  ")};
    EXPECT_EQ(sameVisitsStored(null, blanks), std::optional<bool>(true));
    EXPECT_EQ(sameNameStored(blanks, null), std::optional<bool>(true));
    // A Null exchange name is never decided here.
    EXPECT_FALSE(sameNameStored(null, blanks).has_value());
}

// The name check of a client both sides have compares the whole names: two
// long names that differ only after the 35 characters the question shows
// ask, and the question shows the local name in its 35 characters; two
// identical long names ask nothing. Both the name as stored (plain ASCII)
// and the converted text (non-ASCII) are covered.
TEST(ClientCompareTest, LongNamesAreComparedWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString local = dir.filePath(QStringLiteral("DatiDV.mdb"));
    QDir(dir.path()).mkpath(QStringLiteral("scambio"));
    const QString exchange = dir.filePath(QStringLiteral("scambio/DatiDV.mdb"));
    QString error;
    ASSERT_TRUE(schema::createDatabase(local, schema::Kind::Clients, &error)) << error.toStdString();
    ASSERT_TRUE(schema::createDatabase(exchange, schema::Kind::Clients, &error)) << error.toStdString();
    const QString name = QString::fromLatin1(k35);
    const QString accented = QString::fromUtf8("ROSSI E FIGLI S.N.C. DI GIOVANNI ROSSI\u00c8");
    const auto row = [](qint32 code, const QString& n, const QString& visits) {
        return QVariantMap{{QStringLiteral("CliCodice"), code},
                           {QStringLiteral("CliRagsoc"), n},
                           {QStringLiteral("CliVisite"), visits}};
    };
    {
        RawDb l(local);
        RawDb e(exchange);
        l.insertClient(row(1, name + QStringLiteral("ALFA"), QStringLiteral("A")));
        e.insertClient(row(1, name + QStringLiteral("BETA"), QStringLiteral("B")));
        l.insertClient(row(2, name + QStringLiteral("GAMMA"), QStringLiteral("A")));
        e.insertClient(row(2, QStringLiteral("  ") + name + QStringLiteral("GAMMA "), QStringLiteral("C")));
        l.insertClient(row(3, accented + QStringLiteral("A"), QStringLiteral("A")));
        e.insertClient(row(3, accented + QStringLiteral("B"), QStringLiteral("D")));
        l.insertClient(row(4, accented, QStringLiteral("A")));
        e.insertClient(row(4, accented, QStringLiteral("E")));
    }
    const QString ini = dir.filePath(QStringLiteral("Mirsal.ini"));
    writeBytes(ini, "[EXPORT]\n");
    ScriptedPrompt prompt;
    RunRequest request;
    request.configFile = ini;
    request.operatorCode = QStringLiteral("001");
    request.prompt = &prompt;
    request.localClients = local;
    request.exchangeClients = exchange;
    ApplyChanges sink;
    RunState w{request, sink};
    w.ticks.dati = 1;
    const auto question = [](int code, const QString& localName, const QString& exchangeName) {
        return QStringLiteral("NOMINATIVI DIFFERENTI!\n") + QString::number(code) + QStringLiteral(" : ") +
               localName.left(35) + QLatin1Char('-') + exchangeName + QStringLiteral("\nContinuo comunque?");
    };
    prompt.expect(question(1, name, name + QStringLiteral("BETA")), AnswerYes, MsgStyle::Question);
    prompt.expect(question(3, accented, accented + QStringLiteral("B")), AnswerYes, MsgStyle::Question);
    prompt.expect(QString(), AnswerNo); // the copy of the whole file, declined

    EXPECT_EQ(syncClients(w).result(), 0);
    EXPECT_EQ(prompt.pending(), 0);
    ASSERT_GE(prompt.messages.size(), 2);
    EXPECT_EQ(prompt.messages[0].text, question(1, name, name + QStringLiteral("BETA")));
    EXPECT_EQ(prompt.messages[1].text, question(3, accented, accented + QStringLiteral("B")));
    RawDb l(local);
    const QStringList visits{QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"),
                             QStringLiteral("E")};
    for (int code = 1; code <= 4; ++code)
        EXPECT_EQ(l.client(code).value(QStringLiteral("CliVisite")).toString(),
                  visits[code - 1].leftJustified(13, QLatin1Char(' ')))
            << code;
}

// A table opened for search hands out the fields a seek read as stored,
// gives the same values through value(), and stops handing out a field
// once it has been written.
TEST(ClientCompareTest, SeekKeepsValuesAsStored)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("s.mdb"));
    {
        RawDb raw(path);
        raw.exec(QStringLiteral("CREATE TABLE T (k INTEGER PRIMARY KEY, t TEXT, n, r REAL, b BLOB, x TEXT)"));
        raw.exec(QString::fromUtf8("INSERT INTO T VALUES (1, 'ROSS\xc3\x8c', NULL, 2.5, x'00ff', 'far')"));
    }
    Database db;
    ASSERT_FALSE(db.open(path));
    TableRecordset t(db);
    ASSERT_FALSE(t.open(QStringLiteral("T")));
    ASSERT_FALSE(t.setIndex(QStringLiteral("primaria")));
    ASSERT_FALSE(t.setFetchFields(
        {QStringLiteral("t"), QStringLiteral("n"), QStringLiteral("r"), QStringLiteral("b")}));
    ASSERT_FALSE(t.seek({1}));
    ASSERT_FALSE(t.noMatch());

    struct Expect
    {
        const char* field;
        Snapshot::Stored kind;
        QVariant value;
    };
    const Expect expected[] = {
        {"k", Snapshot::Stored::Integer, QVariant(qlonglong(1))},
        {"t", Snapshot::Stored::Text, QVariant(QStringLiteral("ROSS\u00cc"))},
        {"n", Snapshot::Stored::Null, QVariant(QMetaType::fromType<QString>())},
        {"r", Snapshot::Stored::Real, QVariant(2.5)},
        {"b", Snapshot::Stored::Bytes, QVariant(QByteArray("\x00\xff", 2))},
    };
    for (const Expect& x : expected) {
        SCOPED_TRACE(x.field);
        const int i = t.fieldIndex(QLatin1String(x.field));
        Snapshot::Field f;
        ASSERT_TRUE(t.stored(i, f));
        EXPECT_EQ(f.kind, x.kind);
        EXPECT_EQ(f.toVariant(), x.value);
        EXPECT_EQ(f.toVariant().typeId(), x.value.typeId());
        EXPECT_EQ(t.value(i), x.value);
        EXPECT_EQ(t.value(i).isNull(), x.value.isNull());
        ASSERT_TRUE(t.stored(i, f)); // still held once built
    }
    // A field left out of the seek is read on demand, not held as stored.
    Snapshot::Field far;
    EXPECT_FALSE(t.stored(t.fieldIndex(QStringLiteral("x")), far));
    EXPECT_EQ(t.value(t.fieldIndex(QStringLiteral("x"))).toString(), QStringLiteral("far"));

    // Written: value() gives the new value, stored() no longer answers.
    const int ti = t.fieldIndex(QStringLiteral("t"));
    ASSERT_FALSE(t.edit());
    Snapshot::Field pending;
    EXPECT_FALSE(t.stored(ti, pending));
    ASSERT_FALSE(t.setValue(ti, QStringLiteral("BIANCHI")));
    ASSERT_FALSE(t.update());
    EXPECT_FALSE(t.stored(ti, pending));
    EXPECT_EQ(t.value(ti).toString(), QStringLiteral("BIANCHI"));
    // A failed seek leaves nothing to hand out.
    ASSERT_FALSE(t.seek({2}));
    EXPECT_TRUE(t.noMatch());
    EXPECT_FALSE(t.stored(t.fieldIndex(QStringLiteral("r")), pending));
    t.close();
    db.close();
}

} // namespace
