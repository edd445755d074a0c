// The real sample (Monitor.mdb, Jet 4, fetched by fetch-sample.sh) converted
// and checked against mdb-export, and 200 damaged copies of it.
#include "access/AccessError.h"
#include "access/JetConversion.h"
#include "access/JetReader.h"
#include "db/Sqlite.h"
#include "db/Statement.h"

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <random>

using namespace mirsalex;
using namespace mirsalex::access;

namespace {

QString sample()
{
    return qEnvironmentVariable("MIRSALEX_JET_SAMPLE");
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The fields of mdb-export's CSV: quoted with ", doubled inside.
std::vector<QStringList> parseCsv(const QString& text)
{
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool any = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += '"', ++i;
            else if (ch == '"')
                quoted = false;
            else
                field += ch;
        } else if (ch == '"') {
            quoted = true;
        } else if (ch == ',') {
            row << field, field.clear();
        } else if (ch == '\n') {
            row << field, field.clear();
            rows.push_back(row), row.clear();
        } else {
            field += ch;
        }
        any = true;
    }
    if (any && (!field.isEmpty() || !row.isEmpty()))
        rows.push_back(row << field);
    return rows;
}

// A value read back from the SQLite file as mdb-export writes it.
QString asExported(const Statement& s, int column, int jetType)
{
    const Statement::Column c = s.column(column);
    if (c.type == 5)
        return QString();
    if (jetType == JetType::DateTime) {
        const qint64 secs = qRound64(c.real * 86400.0);
        return QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(secs).toString("yyyy-MM-dd hh:mm:ss");
    }
    if (c.type == 1)
        return QString::number(c.whole);
    if (c.type == 2)
        return c.real == qint64(c.real) ? QString::number(qint64(c.real)) : QString::number(c.real, 'g', 16);
    return QString::fromUtf8(c.bytes.toByteArray());
}

} // namespace

TEST(JetFile, SampleConvertsWithTheValuesOfMdbExport)
{
    ASSERT_TRUE(QFile::exists(sample())) << "sample missing: " << sample().toStdString();
    QTemporaryDir dir;
    const QByteArray before = QCryptographicHash::hash(
        [] {
            QFile f(sample());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }(),
        QCryptographicHash::Sha256);

    const Conversion c = convertJetFile(sample(), dir.filePath("Monitor.sqlite"));
    ASSERT_FALSE(c.error) << c.error.text.toStdString();
    EXPECT_EQ(c.signature.version, JetSignature::Version::Jet4);

    QStringList names;
    for (const TableResult& t : c.tables)
        names << t.name;
    EXPECT_EQ(names, run("mdb-tables", {"-1", sample()}).split('\n', Qt::SkipEmptyParts));

    std::vector<JetTable> jet;
    ASSERT_FALSE(readJetFile(sample(), jet));
    ASSERT_EQ(jet.size(), c.tables.size());
    sqlite::Connection db;
    ASSERT_EQ(db.open(QUrl::fromLocalFile(c.target).toString() + "?mode=ro", 1, 0), sqlite::kOk);
    for (size_t t = 0; t < jet.size(); ++t) {
        const auto exported = parseCsv(
            run("mdb-export", {"-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", sample(), jet[t].name}));
        ASSERT_FALSE(exported.empty());
        QStringList columns;
        for (const JetColumn& col : jet[t].columns)
            columns << '"' + col.name + '"';
        EXPECT_EQ(exported[0], QStringList(columns).replaceInStrings("\"", ""));
        EXPECT_EQ(qint64(exported.size() - 1), c.tables[t].rows);
        Statement s;
        ASSERT_EQ(
            s.prepare(db.get(),
                      QString("SELECT %1 FROM \"%2\" ORDER BY rowid").arg(columns.join(','), jet[t].name)),
            sqlite::kOk);
        for (size_t r = 1; r < exported.size(); ++r) {
            ASSERT_EQ(s.step(), sqlite::kRow);
            QStringList got;
            for (int k = 0; k < columns.size(); ++k)
                got << asExported(s, k, jet[t].columns[k].type);
            EXPECT_EQ(got, exported[r]) << "row " << r;
        }
        EXPECT_EQ(s.step(), sqlite::kDone);
    }
    const QByteArray after = QCryptographicHash::hash(
        [] {
            QFile f(sample());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }(),
        QCryptographicHash::Sha256);
    EXPECT_EQ(before, after);
}

TEST(JetFile, CheckRefusesWhatIsNoWholeAccessFile)
{
    QTemporaryDir dir;
    QFile in(sample());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    auto write = [&](const QString& name, const QByteArray& b) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(b);
        return f.fileName();
    };
    JetSignature sig;
    EXPECT_FALSE(checkJetFile(sample(), &sig));
    EXPECT_EQ(sig.pageSize, 4096);
    EXPECT_EQ(checkJetFile(write("short.mdb", bytes.left(bytes.size() - 100))).number, AccessErr::BadLength);
    EXPECT_EQ(checkJetFile(write("page.mdb", bytes.left(4096))).number, AccessErr::BadLength);
    EXPECT_EQ(checkJetFile(write("text.mdb", "not a database")).number, AccessErr::NotAccessFile);
    QByteArray later = bytes;
    later[0x14] = char(0x09);
    const Error e = checkJetFile(write("later.mdb", later));
    EXPECT_EQ(e.number, AccessErr::UnknownVersion);
    EXPECT_TRUE(e.text.contains(dir.filePath("later.mdb")));
}

TEST(JetFile, DamagedCopiesFailCleanly)
{
    ASSERT_TRUE(QFile::exists(sample()));
    QFile in(sample());
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray original = in.readAll();
    const int page = 4096;
    setJetReadTimeout(10000);
    std::mt19937 random(20250125);
    int failed = 0, converted = 0, cutInAPage = 0;
    const Conversion whole = convertJetFile(sample(), QTemporaryDir().filePath("x.sqlite"));
    ASSERT_FALSE(whole.error);
    QMap<int, int> byNumber;
    for (int i = 0; i < 200; ++i) {
        QTemporaryDir dir;
        QByteArray bytes = original;
        const int kind = i % 3;
        if (kind == 0) { // truncated anywhere, on a page boundary one time in two
            const int at = int(random() % original.size());
            bytes.truncate(i % 2 ? at : at / page * page);
        } else { // bytes flipped in the header page, or in the data pages
            const int flips = 1 + int(random() % 16);
            for (int f = 0; f < flips; ++f) {
                const int at =
                    kind == 1 ? int(random() % page) : page + int(random() % (original.size() - page));
                bytes[at] = char(bytes[at] ^ (1 << (random() % 8)));
            }
        }
        const QString source = dir.filePath("Copia.mdb");
        {
            QFile f(source);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        const Conversion c = convertJetFile(source, dir.filePath("Copia.sqlite"));
        QFile back(source);
        ASSERT_TRUE(back.open(QIODevice::ReadOnly));
        EXPECT_EQ(back.readAll(), bytes) << "copy " << i;
        const QStringList left =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (c.error) {
            ++failed;
            ++byNumber[c.error.number];
            EXPECT_FALSE(c.error.text.isEmpty());
            EXPECT_EQ(left, QStringList{"Copia.mdb"}) << "copy " << i;
        } else {
            // Bytes nobody reads, a value, pages after the last one used:
            // every table and row is still there.
            ++converted;
            cutInAPage += kind == 0 && bytes.size() % page != 0;
            ASSERT_EQ(c.tables.size(), whole.tables.size()) << "copy " << i;
            for (size_t t = 0; t < c.tables.size(); ++t)
                EXPECT_EQ(c.tables[t].rows, whole.tables[t].rows) << "copy " << i;
            EXPECT_EQ(left, QStringList({"Copia.mdb", "Copia.sqlite"})) << "copy " << i;
        }
    }
    setJetReadTimeout(0);
    EXPECT_EQ(cutInAPage, 0);
    EXPECT_GT(failed, 0);
    std::cout << "damaged copies: " << failed << " refused, " << converted << " converted;";
    for (auto it = byNumber.begin(); it != byNumber.end(); ++it)
        std::cout << " " << it.key() << ": " << it.value();
    std::cout << std::endl;
}
