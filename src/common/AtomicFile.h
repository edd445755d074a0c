#pragma once

#include "common/Error.h"

#include <functional>
#include <optional>
#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace mirsalex {

// The one way this program puts a file on disk. Every file it writes goes
// through here, so the rules are kept in one place:
//
// * the bytes go into a temporary file beside the destination (same folder,
//   so the same disk), named <prefix><name><suffix>XXXXXX, the prefix being
//   temporaryPrefix() unless told otherwise, so that whatever a killed
//   process leaves is known for ours and can be cleared later;
// * every write is checked for its full count: a short write goes on with
//   the rest, an interrupted one is tried again, a write that takes nothing
//   means the disk is full (ENOSPC);
// * the file gets its permissions, is flushed to the disk (fsync) and closed,
//   and only then renamed over the destination;
// * the folder is flushed too, so that the new name lasts.
//
// On any failure before the rename the temporary is removed and the
// destination keeps its old content.
//
// The low-level helpers at the end (syncFile(), renameFile(), ...) serve the
// writers that cannot work on one whole file at once: a batch of copies
// flushed together before their renames, the run log's appends, a database
// built by SQLite under a temporary name.
class AtomicFile
{
public:
    // Where a write stopped; callers word their own messages from it.
    enum class Step
    {
        None,
        Create,      // creating the temporary
        Write,       // writing its bytes
        Permissions, // setting its permissions
        Sync,        // flushing it to the disk
        Close,       // closing it (a failing close may mean lost data)
        Rename,      // putting it in place of the destination
        FolderSync,  // flushing the folder (only when folderSyncRequired)
    };

    // The low-level write: returns the count written, or -1 with errno set.
    using WriteFn = std::function<qint64(int fd, const char* data, qint64 size)>;
    // The flush of a file to the disk: returns 0 or the errno value.
    using SyncFn = std::function<int(int fd)>;

    // The prefix of every temporary this program leaves in a folder while it
    // writes there; no file name of the product begins with it.
    static QString temporaryPrefix() { return QStringLiteral(".~mirsalex-"); }

    struct Options
    {
        // The temporary is <folder><tempPrefix><name><tempSuffix>XXXXXX.
        QString tempPrefix = temporaryPrefix();
        QString tempSuffix = QStringLiteral(".");
        // Permissions given to the file by saveToFile(); none keeps those of
        // the destination, or gives a new file 0666 less the umask.
        std::optional<mode_t> mode;
        // The permissions the temporary is created with, instead of 0600:
        // for a caller that knows the umask takes nothing from them (the
        // copies of a batch), so that setPermissions() with the same mode
        // has nothing left to change.
        std::optional<mode_t> createMode;
        // Owner given to the file when allowed to (saveToFile()); an ordinary
        // user cannot and need not, so a refusal is no error.
        std::optional<uid_t> owner;
        std::optional<gid_t> group;
        // saveToFile() sets the permissions before writing (a file that must
        // never hold its bytes under wider permissions), else after.
        bool permissionsFirst = false;
        // A file system that keeps no permissions of its own (FAT, many
        // network shares) refuses to change them: with this set, such a
        // refusal is no error.
        bool permissionsMayBeRefused = false;
        // A folder that cannot be flushed fails the write (after the rename:
        // the new content is in place but may not survive a crash). Without
        // it the folder's flush is done as well as the file system allows.
        bool folderSyncRequired = false;
        // The platform layer's failure injector is asked before "chmod",
        // "fsync" and "rename", with the destination (fault tests).
        bool askInjector = false;
        // Replaces the low-level write (tests simulate short and failing
        // writes with it); empty: the ordinary write.
        WriteFn write;
        // Off: commit() flushes neither the temporary nor its folder, for a
        // caller that flushes the whole file system (syncFileSystem())
        // before anything depends on the file. The injector is still asked.
        bool flushToDisk = true;
        // Replaces the flush of the temporary before its rename (tests
        // watch and fail it); empty: syncFile().
        SyncFn sync;
        // The destination's folder, open (O_PATH will do): the temporary is
        // created relative to it, sparing the walk of the whole path. The
        // caller keeps it open as long as the file.
        int folderFd = -1;
        // With folderFd: the temporary is made without a name (O_TMPFILE)
        // where the file system allows it, so that a killed run leaves
        // nothing behind; takeUnnamed() then hands it over open, and the
        // caller names it (linkUnnamed()). Where the file system refuses, it
        // is an ordinary temporary and unnamedRefused() says so.
        bool unnamed = false;
    };

    explicit AtomicFile(QString destination);
    AtomicFile(QString destination, Options options);
    // A temporary not put in place or handed over is closed and removed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file (mode 0600, or createMode, until
    // setPermissions()).
    [[nodiscard]] bool open();
    // Writes every byte, or fails (see the rules above).
    [[nodiscard]] bool write(const char* data, qint64 size);
    [[nodiscard]] bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    [[nodiscard]] bool setPermissions(mode_t mode);
    // Gives the file an owner and group when allowed to; never fails.
    void setOwner(uid_t owner, gid_t group);
    // The temporary's descriptor, for what only its writer knows to do (the
    // times of a copy); -1 when not open.
    int handle() const { return m_fd; }
    const QString& destination() const { return m_destination; }

    // Flushes and closes the temporary, renames it over the destination and
    // flushes the folder.
    [[nodiscard]] bool commit();
    // Closes the temporary without flushing it and hands it over: it stays
    // beside the destination under its temporary name, for a caller that
    // flushes many at once (syncFileSystem()) and then puts each in place
    // (renameFile()). Returns its encoded path, relative to
    // Options::folderFd when one was given; empty on failure.
    [[nodiscard]] QByteArray release();
    // Hands over an unnamed temporary (isUnnamed()) still open, for a
    // caller that flushes many at once and then names each (linkUnnamed());
    // -1 when there is none.
    [[nodiscard]] int takeUnnamed();
    // The temporary has no name (Options::unnamed, and the file system
    // allowed it).
    bool isUnnamed() const { return m_fd >= 0 && m_temp.isEmpty(); }
    // Options::unnamed was asked for and the file system refused it.
    bool unnamedRefused() const { return m_unnamedRefused; }
    // Closes and removes the temporary.
    void discard();

    // The last failure: domain System, its errno value and the file
    // concerned (the temporary up to Close, the destination at Rename, the
    // folder at FolderSync); no error when none.
    [[nodiscard]] const Error& error() const { return m_error; }
    // The step that failed last; None when none did.
    [[nodiscard]] Step failedStep() const { return m_failedStep; }

    // --- helpers ----------------------------------------------------------

    // Writes every byte of `data` to `fd` (see the rules above); 0 or the
    // errno value, with the count written in `written`.
    [[nodiscard]] static int writeAll(int fd, const char* data, qint64 size, qint64* written = nullptr,
                                      const WriteFn& writeFn = {});
    // Flushes a file's data and attributes (fsync) / its data only (fdatasync).
    [[nodiscard]] static int syncFile(int fd);
    [[nodiscard]] static int syncFileData(int fd);
    // Flushes the file at `path`.
    [[nodiscard]] static int syncPath(const QString& path);
    // Flushes a folder, making the names created, renamed or removed in it
    // last; an empty folder is the current one. A file system that cannot
    // flush a folder (EINVAL, ENOTSUP) is no error.
    [[nodiscard]] static int syncFolder(const QString& folder);
    // Flushes the whole file system holding `folder` (syncfs).
    [[nodiscard]] static int syncFileSystem(const QString& folder);
    // Renames `from` over `to`, replacing it (rename).
    [[nodiscard]] static int renameFile(const QByteArray& from, const QByteArray& to);
    [[nodiscard]] static int renameFile(const QString& from, const QString& to);
    // The same, the names taken relative to an open folder.
    [[nodiscard]] static int renameFileAt(int folderFd, const QByteArray& from, const QByteArray& to);
    // Removes a temporary handed over by release().
    static void removeTemporary(const QByteArray& temp);
    static void removeTemporaryAt(int folderFd, const QByteArray& name);
    // Gives the unnamed file open at `fd` (takeUnnamed()) the name `name` in
    // the open folder `folderFd`, never over a file already there (EEXIST).
    // Returns 0 or the errno value.
    [[nodiscard]] static int linkUnnamed(int fd, int folderFd, const QByteArray& name);
    // Gives it a new temporary name beside `name` instead, as open() would
    // have (`temp` receives it): for a name taken meanwhile, which the
    // caller then replaces by a rename.
    [[nodiscard]] static int linkUnnamedAsTemporary(int fd, int folderFd, const QByteArray& name,
                                                    QByteArray* temp);
    // Whether an unnamed file can be made in the open folder `folderFd` and
    // then named there: tried once with an empty file, named as a temporary
    // and removed at once.
    [[nodiscard]] static bool unnamedFilesNamed(int folderFd);
    // Puts the complete file `temp` in place at `destination`, never over a
    // file that is already there, and flushes the folder. The temporary is
    // gone afterwards whatever happens. Returns 0, or the errno value of the
    // hard link that was tried first (EEXIST when the destination exists).
    [[nodiscard]] static int placeNew(const QString& temp, const QString& destination);
    // The permissions a new file gets: 0666 less the umask.
    static mode_t newFileMode();

private:
    bool fail(Step step, int err, const QString& path);
    QString tempPath() const;

    QString m_destination;
    Options m_options;
    QByteArray m_temp; // encoded path of the temporary (relative to folderFd); empty when none
    int m_fd = -1;
    std::optional<mode_t> m_mode; // the temporary's permissions, when known
    bool m_unnamedRefused = false;
    Error m_error;
    Step m_failedStep = Step::None;
};

// Writes `bytes` to `path` through an AtomicFile: the whole new content or,
// on any failure, the old one. Returns the error (domain System), or none;
// `failedStep`, when given, receives the step that failed.
Error saveToFile(const QString& path, const QByteArray& bytes, const AtomicFile::Options& options = {},
                 AtomicFile::Step* failedStep = nullptr);

} // namespace mirsalex
