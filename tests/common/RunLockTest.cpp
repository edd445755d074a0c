#include "common/RunLock.h"

#include "support/TempInstall.h"

#include <csignal>
#include <gtest/gtest.h>
#include <QFileInfo>
#include <QSysInfo>
#include <sys/wait.h>
#include <unistd.h>

using namespace mirsalex;
using mirsalex::test::TempInstall;

namespace {

// A process that takes the lock on `folders` and waits to be killed; the
// constructor returns once it holds it.
struct LockingChild
{
    pid_t pid = -1;
    explicit LockingChild(const QStringList& folders)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            RunLock lock;
            const char ok = lock.acquire(folders, QStringLiteral("Portatile")) ? '1' : '0';
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = '0';
        if (::read(ready[0], &ok, 1) != 1 || ok != '1')
            pid = -1;
        ::close(ready[0]);
    }
    void kill()
    {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }
    ~LockingChild()
    {
        if (pid > 0)
            kill();
    }
};

} // namespace

TEST(RunLock, SecondRunIsRefusedAtOnceNamingTheHolderAndAKilledRunLeavesNoLock)
{
    TempInstall inst;
    const QString local = inst.makeDir(QStringLiteral("dati/OP1"));
    const QString exchange = inst.makeDir(QStringLiteral("scambio/OP1"));
    const QString other = inst.makeDir(QStringLiteral("scambio/OP2"));
    LockingChild child({local, exchange});
    ASSERT_GT(child.pid, 0);

    struct Case
    {
        QStringList folders;
        bool granted;
        QString busy;
    } cases[] = {
        {{exchange}, false, exchange},
        {{other, local}, false, local}, // refused on the second: the first is given back
        {{other}, true, {}},
        {{inst.path(QStringLiteral("absent/"))}, true, {}}, // an absent disk is nobody's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folders.join(QLatin1Char(' ')).toStdString());
        RunLock lock;
        QString busy;
        RunLock::Holder holder;
        EXPECT_EQ(lock.acquire(c.folders, QStringLiteral("DeskTop"), &busy, &holder), c.granted);
        EXPECT_EQ(busy, c.busy);
        EXPECT_EQ(lock.held(), c.granted && c.folders.first() == other);
        if (!c.granted) {
            EXPECT_EQ(holder.computer, QSysInfo::machineHostName());
            EXPECT_EQ(holder.side, QStringLiteral("Portatile"));
            EXPECT_EQ(holder.pid, child.pid);
            const QString text = RunLock::refusalMessage(busy, holder);
            EXPECT_TRUE(text.startsWith(QStringLiteral("AGGIORNAMENTO GIÀ IN CORSO\n") + busy))
                << text.toStdString();
            EXPECT_TRUE(text.contains(QSysInfo::machineHostName() + QStringLiteral(" (Portatile)")));
        }
    }
    EXPECT_FALSE(RunLock::heldByThisProcess(other)) << "given back when the lock object ended";

    // The holder is killed: its lock goes with it, and the next run takes it.
    child.kill();
    RunLock lock;
    EXPECT_TRUE(lock.acquire({local, exchange}, QStringLiteral("DeskTop")));
    EXPECT_TRUE(RunLock::heldByThisProcess(exchange));
    RunLock second;
    RunLock::Holder holder;
    EXPECT_FALSE(second.acquire({exchange}, QStringLiteral("DeskTop"), nullptr, &holder));
    EXPECT_EQ(holder.pid, ::getpid());
    lock.release();
    EXPECT_FALSE(QFileInfo::exists(exchange + RunLock::fileName())) << "a run that ends leaves no file";
    EXPECT_TRUE(second.acquire({exchange}, QStringLiteral("DeskTop")));
}
