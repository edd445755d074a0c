#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <random>

namespace mirsalex::test {
namespace {

// A report with what may differ between a dry run and the run that follows
// taken out: when each began and how long it took, whether it was the dry
// one, and every date and time in a text (a merged database is as new as
// the moment it is committed).
QJsonValue comparable(const QJsonValue& v)
{
    static const QRegularExpression dateTime(
        QStringLiteral("\\d{2}/\\d{2}/\\d{2}(\\d{2})? \\d{2}:\\d{2}(:\\d{2})?"));
    if (v.isString())
        return QString(v.toString()).replace(dateTime, QStringLiteral("<data>"));
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue& item : v.toArray())
            out.append(comparable(item));
        return out;
    }
    if (!v.isObject())
        return v;
    QJsonObject out;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == QLatin1String("started") || it.key() == QLatin1String("duration_ms") ||
            it.key() == QLatin1String("dry_run"))
            continue;
        out.insert(it.key(), comparable(it.value()));
    }
    return out;
}

QJsonObject report(const ProcessResult& r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

// Over generated installations of every size (clients, visits and
// appointments with deletion marks, cards and sheets on both sides), with
// random ticks, answers and confirmations, on both sides in turn: a dry run
// leaves every file as it was, byte for byte and time for time, and reports
// exactly what the real run that follows then reports: each step's outcome,
// every counter, every question with its answer, every change.
TEST(DryRunProperty, ForetellsTheRunOverGeneratedInstallations)
{
    const int installations = qEnvironmentVariableIntValue("MIRSALEX_DRY_RUN_CASES") > 0
                                  ? qEnvironmentVariableIntValue("MIRSALEX_DRY_RUN_CASES")
                                  : 50;
    std::mt19937 random(20261208);
    auto chance = [&random](int percent) { return int(random() % 100) < percent; };
    int runsWithWork = 0;
    for (int i = 0; i < installations; ++i) {
        const int documents = int(random() % 9);
        const int clients = int(random() % 30);
        FixtureInstall inst(1, documents, clients, 100 + i);
        ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
        QByteArray ticks;
        for (int d = 0; d < 5; ++d)
            ticks += chance(80) ? '1' : '0';
        inst.setTicks(ticks);
        QStringList options{QStringLiteral("--operator"), QStringLiteral("P001"), QStringLiteral("--report"),
                            QStringLiteral("json")};
        if (chance(70))
            options << QStringLiteral("--yes");
        if (chance(20))
            options << QStringLiteral("--debug");
        const bool portableFirst = chance(50);
        for (const char* side :
             {portableFirst ? "portable" : "desktop", portableFirst ? "desktop" : "portable"}) {
            const QString label =
                QStringLiteral("installation %1 (%2 documents, %3 clients, ticks %4, %5), %6")
                    .arg(i)
                    .arg(documents)
                    .arg(clients)
                    .arg(QString::fromLatin1(ticks), options.mid(4).join(QLatin1Char(' ')),
                         QLatin1String(side));
            SCOPED_TRACE(label.toStdString());
            const Tree before = snapshot(inst.root());
            const ProcessResult dry =
                inst.batch(QLatin1String(side), options + QStringList{QStringLiteral("--dry-run")});
            ASSERT_TRUE(dry.finished) << testing::PrintToString(dry);
            EXPECT_TRUE(snapshot(inst.root()) == before) << "the dry run changed a file";
            const ProcessResult real = inst.batch(QLatin1String(side), options);
            ASSERT_TRUE(real.finished) << testing::PrintToString(real);
            EXPECT_EQ(dry.exitCode, real.exitCode)
                << testing::PrintToString(dry) << testing::PrintToString(real);

            const QJsonObject foretold = report(dry);
            const QJsonObject done = report(real);
            ASSERT_FALSE(done.isEmpty()) << testing::PrintToString(real);
            EXPECT_TRUE(foretold.value(QStringLiteral("dry_run")).toBool());
            EXPECT_FALSE(done.value(QStringLiteral("dry_run")).toBool());
            for (const char* part : {"exit_status", "steps", "counters", "messages", "changes"}) {
                const QJsonValue a = comparable(foretold.value(QLatin1String(part)));
                const QJsonValue b = comparable(done.value(QLatin1String(part)));
                EXPECT_EQ(a, b)
                    << part << "\n--- dry run\n"
                    << QJsonDocument(QJsonObject{{QStringLiteral("x"), a}}).toJson().toStdString()
                    << "--- run\n"
                    << QJsonDocument(QJsonObject{{QStringLiteral("x"), b}}).toJson().toStdString();
            }
            for (const QJsonValue& c : done.value(QStringLiteral("changes")).toArray()) {
                if (c.toObject().value(QStringLiteral("kind")).toString() != QLatin1String("key")) {
                    ++runsWithWork;
                    break;
                }
            }
        }
    }
    // Most generated cases move rows or files (the second side often finds
    // nothing left to do).
    EXPECT_GT(runsWithWork, installations / 2);
}

} // namespace
} // namespace mirsalex::test
