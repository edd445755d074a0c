#pragma once

#include "common/Platform.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace mirsalex {

// The run log: one readable entry per run, appended to a text file that the
// user's administrator can read (by default <state folder>mirsalex/mirsalex.log).
//
// An entry is the report of a run, already formatted, framed by two lines
// that carry the run's time:
//
//   === INIZIO 08/12/2026 07:48:40 +01:00 ===
//   ...the report, line by line...
//   === FINE 08/12/2026 07:48:40 +01:00 ===
//   (an empty line)
//
// A report line that itself begins with "===" is written with one blank in
// front, so that only the frame lines begin that way. Line ends are "\n".
//
// Writing is safe against crashes: an entry is appended whole with one write
// to a file opened for appending and is then flushed to the disk (fsync)
// before the run goes on, so bytes written earlier are never touched again.
// A crash (or a full disk) can at worst cut off the entry being written;
// a short write is taken back at once, and when a later run finds the file
// ending in a cut-off entry it first writes the line
// "=== VOCE PRECEDENTE INCOMPLETA ===" on a line of its own, so every entry
// stays readable and told apart. Appending costs the size of one entry, not
// of the whole file. Writers of the same file take turns through an
// exclusive lock on it.
//
// When the file would grow past the size limit, it is rotated first:
// mirsalex.log becomes mirsalex.log.1, .1 becomes .2 and so on, the oldest
// beyond the number kept is removed, and the entry starts a new file. An
// entry is never split between two files.
class RunLog
{
public:
    static constexpr qint64 kDefaultLimit = 1024 * 1024;
    static constexpr int kDefaultKept = 5;

    // <state folder>mirsalex/mirsalex.log (see platform::stateFolder()).
    static QString defaultPath();

    // The log a run writes to: the file of the --log option (a relative name
    // taken from the current folder), or defaultPath() when none is given.
    static RunLog forOption(const QString& logOption);

    // A log at `path`, rotated when it
    // would grow past `limitBytes`, keeping `keptFiles` older files.
    explicit RunLog(QString path = defaultPath(), qint64 limitBytes = kDefaultLimit,
                    int keptFiles = kDefaultKept);

    const QString& path() const { return m_path; }
    // The n-th older file (n = 1 the most recent of them): path + "." + n.
    QString rotatedPath(int n) const;

    // Appends the entry of a run that started at `when` with the report
    // `text`, creating the missing folders and the file (readable by its
    // owner only). Returns the file error when the entry could not be
    // written and made durable; the file then holds what it held before.
    Error append(const QDateTime& when, const QString& text) const;

    // The bytes append() writes for one entry.
    static QByteArray entry(const QDateTime& when, const QString& text);

private:
    QString m_path;
    qint64 m_limit;
    int m_kept;
};

} // namespace mirsalex
