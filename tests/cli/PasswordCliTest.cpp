// The access password set from the command line, and the batch gate that
// reads it without a terminal.

#include "cli/CliSupport.h"

#include <QTemporaryDir>

using namespace mirsalex::test;

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
};

Outcome runWithInput(const QStringList& args, const QByteArray& input, const QString& home,
                     const QString& password = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("MIRSALEX_PASSWORD"));
    if (!password.isNull())
        env.insert(QStringLiteral("MIRSALEX_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.start(mirsalexPath(), args);
    EXPECT_TRUE(p.waitForStarted(10000));
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

class PasswordCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ini = dir.filePath(QStringLiteral("mirsalex.ini"));
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[PATH]\nFILE=" + dir.path().toUtf8() + "/\n");
        store = dir.filePath(QStringLiteral("mirsalex.pwd"));
    }
    QStringList setArgs() const { return {QStringLiteral("--set-password"), QStringLiteral("--ini"), ini}; }

    QTemporaryDir dir;
    QString ini;
    QString store;
};

} // namespace

TEST_F(PasswordCli, SetRefuseAndClear)
{
    struct Case
    {
        const char* name;
        QByteArray input;
        int exitCode;
        bool stored;
    };
    const Case cases[] = {
        {"mismatch", "abc12\nabc13\n", 2, false},
        {"tooLong", "abcdefghijklm\nabcdefghijklm\n", 2, false},
        {"notLettersOrDigits", "ab-12\nab-12\n", 2, false},
        {"noInput", "", 2, false},
        {"accepted", "abc12\nabc12\n", 0, true},
        {"clearedByAnEmptyEntry", "\n\n", 0, false},
    };
    for (const Case& c : cases) {
        const Outcome r = runWithInput(setArgs(), c.input, dir.path());
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << "\n" << r.out.toStdString();
        EXPECT_EQ(QFileInfo::exists(store), c.stored) << c.name;
        if (c.stored) {
            EXPECT_EQ(QFileInfo(store).permissions() &
                          (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                      QFile::Permissions())
                << "only the owner may read the store";
            QFile f(store);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_FALSE(f.readAll().toUpper().contains("ABC12")) << "never the password in clear";
        }
    }
}

TEST_F(PasswordCli, BatchWithoutTerminalTakesThePasswordFromTheEnvironment)
{
    ASSERT_EQ(runWithInput(setArgs(), "Pw7\nPw7\n", dir.path()).exitCode, 0);
    const QStringList batch{QStringLiteral("--batch"), QStringLiteral("--ini"), ini};
    const Outcome none = runWithInput(batch, QByteArray(), dir.path());
    EXPECT_EQ(none.exitCode, 2) << none.out.toStdString();
    const Outcome wrong = runWithInput(batch, QByteArray(), dir.path(), QStringLiteral("pw8"));
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.out.contains(QStringLiteral("PASSWORD ERRATA"))) << wrong.out.toStdString();
    // The right one, typed in lower case: the start-up goes on (no operator
    // folder here, so the run itself ends the program as the exit button).
    const Outcome right = runWithInput(batch, QByteArray(), dir.path(), QStringLiteral("pw7"));
    EXPECT_FALSE(right.out.contains(QStringLiteral("PASSWORD ERRATA"))) << right.out.toStdString();
}
