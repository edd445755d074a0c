#pragma once

#include "common/Error.h"

#include <functional>
#include <optional>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace mirsalex::platform {

// The one place where this program meets the operating system's file layer.
// Paths use the native separator; the routines above it build paths by plain
// concatenation of folder (ending with the separator) and name. Every routine
// below that takes a path resolves it first (see resolve()), so callers never
// need to care about the case of names on disk.

// The native path separator ("\" on Windows, "/" on POSIX).
QChar separator();
// The separator as text, for concatenation.
QString sep();
// Root of the current drive (first three characters of the current folder on
// Windows, "/" on POSIX).
QString driveRoot();

// Resolves `path` without regard to case, as the original platform does: when
// the path does not exist as written, each component is matched against the
// entries of its folder ignoring case. Returns the existing path, or the path
// as written (with existing leading components resolved) when nothing matches.
QString resolve(const QString& path);

// Shared configuration folder standing for the Windows folder:
// $XDG_CONFIG_HOME, else ~/.config (with the separator at its end).
QString windowsFolder();

// The user's state folder, where the program keeps what it records of its own
// runs: $XDG_STATE_HOME when it is an absolute path, else ~/.local/state
// (with the separator at its end). It may not exist yet.
QString stateFolder();

bool isDirectory(const QString& path);
// True for an existing plain file (not a folder).
bool isFile(const QString& path);

// Error numbers of the file layer (errors of domain File), in the platform's
// run-time numbering:
// 0 none, 52/64 bad file name, 53 file not found, 54 bad file mode,
// 55 file already open, 57 device I/O error, 61 disk full, 62 input past end,
// 68 device unavailable, 70 permission denied, 71 disk not ready, 75 path/file
// access error, 76 path not found.
//
// Maps an errno value onto the numbers above (POSIX):
//   ENOENT, ENOTDIR              -> 76 path not found (fileErrorFromErrno gives
//                                   53 when only the last component is missing)
//   ENOSPC, EDQUOT, EFBIG        -> 61 disk full
//   EIO                          -> 57 device I/O error
//   ENXIO, ENODEV, ESTALE, ENOTCONN, EHOSTDOWN, EHOSTUNREACH, ENETUNREACH,
//   ETIMEDOUT                    -> 68 device unavailable
//   ENOMEDIUM                    -> 71 disk not ready
//   EACCES, EPERM                -> 70 permission denied
//   EROFS, EISDIR, ENOTEMPTY, ELOOP and anything else -> 75 path/file access error
//   EBUSY, ETXTBSY               -> 55 file already open
//   ENAMETOOLONG, EINVAL, EILSEQ -> 64 bad file name
//   EEXIST                       -> 58 file already exists
//   EMFILE, ENFILE               -> 67 too many files
//   EXDEV                        -> 74 rename across disks
int errorNumberFromErrno(int err);
// The Italian description of an error number (as the platform would give it).
QString errorDescription(int number);
// The file-layer error `number` (domain File) with its description, for `file`;
// no error for 0.
Error fileError(int number, const QString& file);
// The same for an errno value.
Error fileErrorFromErrno(int err, const QString& file);

// Creates one folder level. Returns an error when it cannot be created (an
// existing folder is not an error).
Error makeDirectory(const QString& path);

// Last-modification time of a file, to the second, in local time; nothing when
// the file cannot be dated.
std::optional<QDateTime> modificationTime(const QString& path);
// Sets the last-modification time of a file (to the second).
Error setModificationTime(const QString& path, const QDateTime& when);

struct DirEntry
{
    QString name; // as stored on disk
    bool isDir = false;
};

// Whether `name` matches the wildcard `pattern` (* and ?, without regard to
// case), as listings match them.
bool wildcardMatch(const QString& pattern, const QString& name);

// Lists `folder` for names matching the wildcard `pattern` (* and ?, matched
// without regard to case). With directoriesToo false only plain files are
// returned. The order is the file system's own. An error is returned when the
// folder cannot be read at all (missing path, device error); an empty result
// is not an error.
Error listDirectory(const QString& folder, const QString& pattern, bool directoriesToo, QList<DirEntry>& out);
// The same, the list ending at the first entry `enough` accepts (its last
// then): the folder is read no further, as a search ends at its first find.
// A folder that cannot be read before that fails as it does for the whole
// list.
Error listDirectoryUntil(const QString& folder, const QString& pattern, bool directoriesToo,
                         const std::function<bool(const DirEntry&)>& enough, QList<DirEntry>& out);
// The same as listDirectory(), but an entry that is a symbolic link is never followed: it is
// left out and its full path added to `passedOver`. Every listing leaves out
// names that cannot be told in the system's encoding (not valid UTF-8), since
// no path built on them would reach the file; this one names them in
// `passedOver` too.
Error listDirectoryNoLinks(const QString& folder, const QString& pattern, bool directoriesToo,
                           QList<DirEntry>& out, QStringList& passedOver);

// A plain file of a listing with its modification time in whole seconds
// since the epoch; none when it could not be read.
struct DatedEntry
{
    QString name; // as stored on disk
    std::optional<qint64> modified;
};
// The plain files of listDirectoryNoLinks(), each with its time: one status
// read per entry, taken relative to the open folder while it is listed, so
// that a caller comparing two folders never looks a name up again.
Error listFilesDated(const QString& folder, const QString& pattern, QList<DatedEntry>& out,
                     QStringList& passedOver);

// The first folder below `anchor` on the way to `path` (`path` included)
// that is a symbolic link; empty when there is none, or when `path` does not
// lie below `anchor`. `anchor` itself may be a link.
QString linkBelow(const QString& anchor, const QString& path);

// Full path of the running executable (empty when it cannot be had).
QString executablePath();

// Where this system mounts removable and mountable media: the table of what
// is mounted now, the table of what the administrator expects to be mounted,
// and the folders under which media appear. Under a media folder a medium's
// mount point is <folder>/<name>, or <folder>/<user>/<name> when the next
// folder is the user's own (as the desktop mounts them; always so under
// /run/media).
struct MediaLayout
{
    QString mountTable = QStringLiteral("/proc/self/mounts");
    QString fstab = QStringLiteral("/etc/fstab");
    QStringList mediaFolders = {QStringLiteral("/media"), QStringLiteral("/run/media"),
                                QStringLiteral("/mnt")};
    QString perUserFolder = QStringLiteral("/run/media"); // the one with a user level always
    QString userName;                                     // empty: the user running the program
};
// Test hook: replaces the layout (std::nullopt restores the system's). Never
// set outside tests.
void setMediaLayout(const std::optional<MediaLayout>& layout);

// The mount point of the removable or mountable medium that `path` lies on
// when that medium is absent, as a disk not inserted: its mount point under a
// media folder is missing, or the mount point is there with nothing mounted
// on it while the fstab names it or the desktop made it (a per-user media
// folder). Empty when the medium is there, when the path lies on no such
// medium (a path that is simply wrong), or when the mount table cannot be
// read.
QString absentMedium(const QString& path);

// Test hook. When an injector is set, every file-layer call of this module
// (and of the modules above that consult injectedFailure()) first asks it
// with the operation name ("list", "mkdir", "stat", "utime", "read", "write",
// "copy"; the safe copy also asks "chmod", "fsync" and "rename") and the path
// concerned; a non-zero errno value it returns makes the
// call fail as if the operating system had reported that error. Pass an empty
// function to remove it. Never set outside tests.
using FailureInjector = std::function<int(const QString& operation, const QString& path)>;
void setFailureInjector(FailureInjector injector);
// The errno value the injector asks for (0 when none is set or it lets the call pass).
int injectedFailure(const QString& operation, const QString& path);
// Whether an injector is set: work that would ask it from another thread is
// then done on the calling thread, in order.
bool failureInjectorSet();

// Splits a path given as one text (folder + pattern, e.g. ".../SK*.doc") into
// folder (ending with the separator, or empty) and the last component.
void splitPath(const QString& path, QString& folder, QString& name);

} // namespace mirsalex::platform
