#pragma once

// Runs the real executables the way a scheduler would: no terminal on stdin,
// a private shared-configuration folder, no display, and a time limit.

#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <map>
#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace mirsalex::test {

struct ProcessResult
{
    bool started = false;
    bool finished = false; // false: killed at the time limit
    int exitCode = -1;
    QString out;
    QString err;

    QString all() const { return out + err; }
};

inline void PrintTo(const ProcessResult& r, std::ostream* os)
{
    *os << "exit " << r.exitCode << (r.finished ? "" : " (killed at the time limit)") << "\n--- stdout\n"
        << r.out.toStdString() << "--- stderr\n"
        << r.err.toStdString();
}

// Folder of mirsalex and mirsalex-fixture: MIRSALEX_BIN_DIR, else the
// build tree's "src" folder beside the folder of this test program.
inline QString binDir()
{
    QString dir = qEnvironmentVariable("MIRSALEX_BIN_DIR");
    if (dir.isEmpty()) {
        const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        const QString guess = QFileInfo(self).absolutePath() + QStringLiteral("/../src");
        if (QFileInfo(guess + QStringLiteral("/mirsalex")).isExecutable())
            dir = guess;
    }
    return dir.isEmpty() ? QString() : QDir(dir).absolutePath() + QLatin1Char('/');
}

inline QString mirsalexPath()
{
    return binDir() + QStringLiteral("mirsalex");
}

inline QString fixturePath()
{
    return binDir() + QStringLiteral("mirsalex-fixture");
}

// Runs a program with stdin on the null device, XDG_CONFIG_HOME at
// `configHome` (XDG_STATE_HOME in its "state" folder), the offscreen platform (none, nor any display, when
// `noDisplay`) and no password in the environment.
inline ProcessResult runProgram(const QString& program, const QStringList& args, const QString& configHome,
                                const QString& workingDir = QString(), int timeoutMs = 30000,
                                bool noDisplay = false)
{
    ProcessResult r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    // The run log goes to a private state folder too.
    env.insert(QStringLiteral("XDG_STATE_HOME"), QDir(configHome).absoluteFilePath(QStringLiteral("state")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (noDisplay) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
    }
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("MIRSALEX_PASSWORD"));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(program, args);
    r.started = p.waitForStarted(10000);
    if (!r.started)
        return r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// One file of a tree: its bytes and modification time.
struct FileState
{
    QByteArray content;
    qint64 modifiedMs = 0;

    bool operator==(const FileState& o) const { return content == o.content && modifiedMs == o.modifiedMs; }
};

inline FileState fileState(const QString& path)
{
    FileState s;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        s.content = f.readAll();
    s.modifiedMs = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    return s;
}

// Every file under `root`, by path relative to it.
using Tree = std::map<QString, FileState>;

inline Tree snapshot(const QString& root)
{
    Tree t;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        t[base.relativeFilePath(path)] = fileState(path);
    }
    return t;
}

// File names in a folder whose upper-cased name starts with `prefix` and
// ends with `suffix` (both upper case).
inline QStringList documentNames(const QString& folder, const QString& prefix, const QString& suffix)
{
    QStringList names;
    const QStringList all = QDir(folder).entryList(QDir::Files);
    for (const QString& n : all) {
        const QString u = n.toUpper();
        if (u.startsWith(prefix) && u.endsWith(suffix))
            names << n;
    }
    return names;
}

// Client codes of a clients database, read with the sqlite3 tool; the text
// of sqlite3's error when the query fails.
inline QSet<qint64> clientCodes(const QString& database, QString* error = nullptr)
{
    QString tool = qEnvironmentVariable("SQLITE3");
    if (tool.isEmpty())
        tool = QStringLiteral("sqlite3");
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(tool, {QStringLiteral("-readonly"), database, QStringLiteral("select CliCodice from Clienti")});
    QSet<qint64> codes;
    if (!p.waitForFinished(15000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(p.readAllStandardError()) + p.errorString();
        return codes;
    }
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& l : lines) {
        bool ok = false;
        const qint64 v = l.trimmed().toLongLong(&ok);
        if (ok)
            codes.insert(v);
    }
    return codes;
}

inline qint64 clientCount(const QString& database)
{
    QString error;
    const QSet<qint64> codes = clientCodes(database, &error);
    return error.isEmpty() ? codes.size() : -1;
}

// Lines of a configuration file split at its "[EXPORT]" section: the lines
// outside it (in order, with their line ends) and the lines inside it.
struct IniParts
{
    QList<QByteArray> outside;
    QList<QByteArray> exportLines;
};

inline IniParts splitIni(const QByteArray& bytes)
{
    IniParts parts;
    bool inExport = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        const QByteArray line = bytes.mid(start, end - start);
        const QByteArray t = line.trimmed();
        if (t.startsWith('['))
            inExport = t.toUpper() == "[EXPORT]";
        (inExport && !t.startsWith('[') ? parts.exportLines : parts.outside).append(line);
        start = end;
    }
    return parts;
}

// The value of a key of section EXPORT (key matched without regard to case),
// or a null text when missing.
inline QString exportValue(const QByteArray& iniBytes, const QString& key)
{
    for (const QByteArray& line : splitIni(iniBytes).exportLines) {
        const QString t = QString::fromLatin1(line).trimmed();
        const qsizetype eq = t.indexOf(QLatin1Char('='));
        if (eq > 0 && t.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return t.mid(eq + 1);
    }
    return QString();
}

// A fresh installation made by mirsalex-fixture in a temporary folder.
class FixtureInstall
{
public:
    FixtureInstall(int operators, int documents, int clients, int seed)
    {
        m_root = m_dir.path() + QStringLiteral("/inst/");
        m_configHome = m_dir.path() + QStringLiteral("/xdg/");
        QDir().mkpath(m_configHome);
        m_result = runProgram(fixturePath(),
                              {QStringLiteral("--out"), m_root, QStringLiteral("--operators"),
                               QString::number(operators), QStringLiteral("--documents"),
                               QString::number(documents), QStringLiteral("--clients"),
                               QString::number(clients), QStringLiteral("--seed"), QString::number(seed)},
                              m_configHome);
    }

    bool ok() const { return m_result.finished && m_result.exitCode == 0; }
    const ProcessResult& result() const { return m_result; }
    QString root() const { return m_root; }
    QString path(const QString& relative) const { return m_root + relative; }
    QString configHome() const { return m_configHome; }
    QString ini(const QString& side) const { return m_root + side + QStringLiteral("/mirsalex.ini"); }

    // Sets the ticks ("PARM" key, five digits) of every operator on both
    // sides, as the window would have saved them.
    void setTicks(const QByteArray& parm) const
    {
        for (const char* side : {"desktop", "portable"}) {
            QFile f(ini(QLatin1String(side)));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            QByteArray bytes = f.readAll();
            f.close();
            bytes.replace("=11111\r\n", "=" + parm + "\r\n");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_EQ(f.write(bytes), bytes.size());
        }
    }

    // mirsalex --batch on one side, with further options.
    ProcessResult batch(const QString& side, const QStringList& more = {}) const
    {
        QStringList args = {QStringLiteral("--batch"), QStringLiteral("--ini"), ini(side)};
        if (side == QLatin1String("portable"))
            args << QStringLiteral("--side") << QStringLiteral("portable");
        args << more;
        return runProgram(mirsalexPath(), args, m_configHome, m_root);
    }

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_configHome;
    ProcessResult m_result;
};

} // namespace mirsalex::test
