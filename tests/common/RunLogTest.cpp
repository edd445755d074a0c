#include "common/RunLog.h"

#include "support/TempInstall.h"

#include <csignal>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimeZone>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

// Sets an environment variable for the lifetime of the object (unset when
// the value is null) and puts back what was there.
class EnvGuard
{
public:
    EnvGuard(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Log bytes as text, for readable failure messages.
std::string text(const QByteArray& bytes)
{
    return bytes.toStdString();
}

QDateTime at(int minute)
{
    return QDateTime(QDate(2026, 12, 8), QTime(7, minute, 40), QTimeZone(3600));
}

// A report of about `size` bytes that names its run.
QString report(int run, int size = 0)
{
    QString text = QStringLiteral("Operatore P001, lato DeskTop, esecuzione %1\nDATI: completato").arg(run);
    if (size > 0)
        text += QLatin1Char('\n') + QString(size, QLatin1Char('x'));
    return text;
}

struct Parsed
{
    QList<QByteArray> entries; // whole, well-framed entries in file order
    int tornNotes = 0;
};

// Splits a log into its whole entries by their frame lines, skipping
// cut-off ones and counting the notes written after them.
Parsed parse(const QByteArray& log)
{
    static const QByteArray note = "=== VOCE PRECEDENTE INCOMPLETA ===\n\n";
    Parsed p;
    qsizetype pos = 0;
    while (pos < log.size()) {
        if (log.mid(pos, note.size()) == note) {
            ++p.tornNotes;
            pos += note.size();
            continue;
        }
        const qsizetype begin = log.indexOf("=== INIZIO ", pos);
        const qsizetype frame = begin < 0 ? -1 : log.indexOf("\n===", begin);
        if (frame < 0)
            break;
        if (!log.mid(frame + 1).startsWith("=== FINE ")) {
            pos = frame + 1; // cut off: what follows starts on a line of its own
            continue;
        }
        const qsizetype end = log.indexOf(" ===\n\n", frame);
        if (end < 0)
            break;
        p.entries << log.mid(begin, end + 6 - begin);
        pos = end + 6;
    }
    return p;
}

} // namespace

TEST(RunLog, StateFolderFollowsXdgStateHomeElseHome)
{
    TempInstall inst;
    const EnvGuard home("HOME", QFile::encodeName(inst.path(QStringLiteral("home"))));
    struct Case
    {
        QByteArray xdg; // null: unset
        QString expected;
    };
    const Case cases[] = {
        {inst.path(QStringLiteral("state")).toUtf8(), inst.path(QStringLiteral("state/"))},
        {inst.path(QStringLiteral("state/")).toUtf8(), inst.path(QStringLiteral("state/"))},
        {QByteArray(), inst.path(QStringLiteral("home/.local/state/"))},
        {QByteArray(""), inst.path(QStringLiteral("home/.local/state/"))},
        {QByteArray("relative/state"), inst.path(QStringLiteral("home/.local/state/"))},
    };
    for (const Case& c : cases) {
        const EnvGuard xdg("XDG_STATE_HOME", c.xdg);
        EXPECT_EQ(platform::stateFolder(), c.expected) << c.xdg.constData();
        EXPECT_EQ(RunLog::defaultPath(), c.expected + QStringLiteral("mirsalex/mirsalex.log"));
        EXPECT_EQ(RunLog::forOption(QString()).path(), RunLog::defaultPath());
    }
    EXPECT_EQ(RunLog::forOption(QStringLiteral("altro.log")).path(),
              QDir::current().absoluteFilePath("altro.log"));
}

TEST(RunLog, AppendsFramedEntriesCreatingFoldersPrivately)
{
    TempInstall inst;
    const EnvGuard xdg("XDG_STATE_HOME", inst.path(QStringLiteral("no/such/state")).toUtf8());
    const RunLog log;
    ASSERT_FALSE(log.append(at(48), QStringLiteral("riga uno\r\n=== finta cornice\r\nriga tre")));
    ASSERT_FALSE(log.append(at(50), report(2)));

    const QByteArray first = "=== INIZIO 08/12/2026 07:48:40 +01:00 ===\n"
                             "riga uno\n"
                             " === finta cornice\n"
                             "riga tre\n"
                             "=== FINE 08/12/2026 07:48:40 +01:00 ===\n"
                             "\n";
    EXPECT_EQ(text(RunLog::entry(at(48), QStringLiteral("riga uno\r\n=== finta cornice\r\nriga tre"))),
              text(first));
    EXPECT_EQ(text(readAll(log.path())), text(first + RunLog::entry(at(50), report(2))));
    EXPECT_EQ(QFileInfo(log.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
              QFile::Permissions());
}

TEST(RunLog, RotatesWholeEntriesKeepingTheNewestFiles)
{
    TempInstall inst;
    const qint64 limit = 600;
    const RunLog log(inst.path(QStringLiteral("log/run.log")), limit, 2);
    QList<QByteArray> written;
    for (int run = 1; run <= 12; ++run) {
        const QString text = report(run, run == 9 ? 1000 : 80); // run 9 alone exceeds the limit
        ASSERT_FALSE(log.append(at(run), text)) << run;
        written << RunLog::entry(at(run), text);
    }
    EXPECT_FALSE(QFileInfo::exists(log.rotatedPath(3)));

    // Oldest to newest, the kept files hold the newest entries, each whole
    // and in order, none lost between the files; only the oversized entry
    // makes a file pass the limit.
    QList<QByteArray> kept;
    for (const QString& file : {log.rotatedPath(2), log.rotatedPath(1), log.path()}) {
        const QByteArray bytes = readAll(file);
        ASSERT_FALSE(bytes.isEmpty()) << file.toStdString();
        const Parsed p = parse(bytes);
        EXPECT_EQ(text(p.entries.join()), text(bytes)) << file.toStdString();
        if (!bytes.contains("esecuzione 9\n")) {
            EXPECT_LE(bytes.size(), limit) << file.toStdString();
        } else {
            EXPECT_EQ(p.entries.size(), 1);
        }
        kept += p.entries;
    }
    ASSERT_LE(kept.size(), written.size());
    EXPECT_EQ(kept, written.mid(written.size() - kept.size()));
    EXPECT_TRUE(kept.size() >= 4);
}

TEST(RunLog, CutOffEntryOfACrashedRunLeavesEarlierEntriesIntact)
{
    TempInstall inst;
    const RunLog log(inst.path(QStringLiteral("run.log")));
    ASSERT_FALSE(log.append(at(1), report(1)));
    const QByteArray before = readAll(log.path());
    // What a crash in the middle of the second run's write leaves.
    const QByteArray second = RunLog::entry(at(2), report(2));
    {
        QFile f(log.path());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(second.left(second.size() / 2));
    }
    ASSERT_FALSE(log.append(at(3), report(3)));

    const QByteArray after = readAll(log.path());
    EXPECT_TRUE(after.startsWith(before + second.left(second.size() / 2)));
    const Parsed p = parse(after);
    EXPECT_EQ(p.tornNotes, 1);
    EXPECT_EQ(p.entries, (QList<QByteArray>{before, RunLog::entry(at(3), report(3))}));
    EXPECT_TRUE(after.endsWith("\n=== VOCE PRECEDENTE INCOMPLETA ===\n\n" + RunLog::entry(at(3), report(3))));
}

TEST(RunLog, KilledWriterNeverDamagesEarlierEntries)
{
    TempInstall inst;
    const RunLog log(inst.path(QStringLiteral("run.log")), qint64(1) << 40);
    const int size = 1024 * 1024; // large entries take long enough to write to be caught in the middle
    const int most = 40;
    // Where each entry of the writer ends in the file.
    QSet<qint64> boundaries{0};
    qint64 end = 0;
    for (int run = 1; run <= most; ++run)
        boundaries.insert(end += RunLog::entry(at(run % 60), report(run, size)).size());

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int run = 1; run <= most; ++run) {
            if (log.append(at(run % 60), report(run, size)))
                ::_exit(1);
        }
        ::pause();
        ::_exit(0);
    }
    // Killed as soon as the file is seen between two entry ends (in the
    // middle of a write), or else once the writer has written them all.
    int status = 0;
    for (;;) {
        ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the writer ended by itself";
        struct stat st
        {
        };
        const qint64 now = ::stat(QFile::encodeName(log.path()).constData(), &st) == 0 ? st.st_size : 0;
        if (now >= end || (now > 0 && !boundaries.contains(now)))
            break;
    }
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    ASSERT_FALSE(log.append(at(0), QStringLiteral("dopo")));
    const QByteArray after = readAll(log.path());
    const Parsed p = parse(after);
    ASSERT_GE(p.entries.size(), 1);
    EXPECT_LE(p.tornNotes, 1);
    for (int i = 0; i + 1 < p.entries.size(); ++i)
        EXPECT_EQ(p.entries[i], RunLog::entry(at((i + 1) % 60), report(i + 1, size))) << "entry " << i + 1;
    EXPECT_EQ(p.entries.last(), RunLog::entry(at(0), QStringLiteral("dopo")));
    EXPECT_TRUE(after.endsWith(p.entries.last()));
}

TEST(RunLog, FullDiskTakesBackThePartWritten)
{
    TempInstall inst;
    const RunLog log(inst.path(QStringLiteral("run.log")));
    ASSERT_FALSE(log.append(at(1), report(1)));
    const QByteArray before = readAll(log.path());

    // The file size limit stands for a disk that fills up in the middle of
    // the entry: the write stops short, then fails.
    struct rlimit saved
    {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = rlim_t(before.size() + 100);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Error e = log.append(at(2), report(2, 2000));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(e.number, 61); // disk full
    EXPECT_EQ(text(readAll(log.path())), text(before));
    ASSERT_FALSE(log.append(at(3), report(3)));
    EXPECT_EQ(text(readAll(log.path())), text(before + RunLog::entry(at(3), report(3))));
}
