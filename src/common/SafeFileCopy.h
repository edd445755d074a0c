#pragma once

#include "common/AtomicFile.h"
#include "common/DestinationName.h"
#include "common/Platform.h"

#include <functional>
#include <map>
#include <optional>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace mirsalex {

// Replaces a file with a copy of another without ever leaving it half
// written: the bytes go into a temporary file in the destination folder,
// every write is checked for its full count, the copy takes the source's
// modification time and is flushed to the disk, and only then is it renamed
// over the destination. On any failure the destination keeps its old content
// and the temporary file is removed. The file work itself is done by the
// program's one writer (common/AtomicFile); this class adds what is proper to
// a copy (the source, its time, the batches, the leftovers of killed runs).
class SafeFileCopy
{
public:
    // The low-level write: returns the count written, or -1 with errno set.
    using WriteFn = AtomicFile::WriteFn;

    class Batch;

    // How a copy gets its bytes: written, or shared with the source where
    // the file system makes such a copy (a reflink: the two files part on
    // the first write to either), else written.
    enum class Blocks
    {
        Written,
        SharedWherePossible,
    };

    // When a copy made on its own reaches the disk: flushed (with its
    // folder) before it is renamed, or left to the caller, who flushes its
    // file system before anything depends on it (Batch::flushWith()). Either
    // way it is never seen half written under its name.
    enum class Flush
    {
        Now,
        Later,
    };

    // Copies `source` onto `destination` (both full paths as they stand on
    // disk). Returns the error that stopped the copy, or no error. With a
    // batch, the copy joins it: it is written and dated but put in place by
    // the batch (see Batch), so no error means only that it is waiting.
    static Error copy(const QString& source, const QString& destination, Batch* batch = nullptr,
                      Blocks blocks = Blocks::Written, Flush flush = Flush::Now,
                      DestinationName name = DestinationName::Unknown);

    // Replaces the low-level write (a full or failing disk is simulated with
    // it); an empty function restores the ordinary write.
    static void setWriteHook(WriteFn fn);

    // A batch of copies: a copy() given the batch writes and dates its
    // temporary file but leaves it beside its destination; commit() flushes
    // the file systems once for all of them and only then renames each over
    // its destination. Copies not committed are removed when the batch ends.
    // A copy to a name not yet taken is a file without a name where the file
    // system makes those (a killed run leaves nothing of it), which the
    // commit names instead of renaming; should the name have been taken
    // meanwhile, it is replaced as any other. The batch keeps the folders it
    // meets open, and reaches their files by name alone.
    // The owner of the batch is told of every copy it accepted, once: when
    // the copy is in place (its rename done and the folder flushed), or when
    // it is dropped (a failed commit, the end of the batch).
    //
    // The batch is bounded: once it holds `maxCount` copies or `maxBytes`
    // bytes, or when the next copy would not fit in the free space of its
    // disk, what is pending is put in place before the next copy is written;
    // a copy that meets a full disk while others are pending puts those in
    // place (freeing the space of the files they replace) and is tried once
    // more. So a full disk fails only where a copy made on its own would fail
    // too, and a killed run loses at most one batch of confirmed copies.
    // Single-threaded use only.
    class Batch
    {
    public:
        // A copy of the batch put in place (`placed`) or dropped.
        using Settled = std::function<void(const QString& source, const QString& destination, bool placed)>;

        explicit Batch(int maxCount = 200, qint64 maxBytes = qint64(256) << 20, Settled settled = {});
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        // Puts every pending copy in place, in the order made. Returns the
        // error that stopped it, its path the destination it failed on, or
        // none; on a failure the copies before it stay in place and the rest
        // are dropped. `placed`, when given, receives the number put in place.
        Error commit(int* placed = nullptr);
        int pending() const { return int(m_entries.size()); }
        // Flushes the file system of `folder` too, with the next commit and
        // before any copy is put in place: for what must be on the disk
        // before the files the copies replace (their versions, written
        // without a flush of their own).
        void flushWith(const QString& folder);
        // The process's umask when the batch began.
        mode_t umask() const { return m_umask; }

        // The first commit that failed in this batch (also one made by
        // copy() on its own), with the destination it failed on; and the
        // number of copies that copy() had accepted but that never reached
        // their place because of it.
        [[nodiscard]] const Error& failure() const { return m_failure; }
        const QString& failedDestination() const { return m_failedDestination; }
        int dropped() const { return m_dropped; }

    private:
        friend class SafeFileCopy;
        // A folder the batch has met, source or destination.
        struct Folder
        {
            QString path; // with its trailing separator
            // Open (O_PATH) while the batch lives, so that the files in it
            // are reached by their names alone; -1: by their full paths.
            int fd = -1;
            // The file system makes no unnamed files, or they cannot be
            // named here (learned once).
            bool unnamedRefused = false;
            bool unnamedTried = false;
            // Its free space when last asked since the last commit, with
            // m_bytes then.
            bool roomAsked = false;
            std::optional<qint64> room;
            qint64 bytesThen = 0;
        };
        struct Entry
        {
            Folder* folder = nullptr;
            QByteArray name;     // the destination's name in its folder
            QByteArray temp;     // a named temporary: its full path
            QByteArray tempName; // and its name in the folder
            int fd = -1;         // an unnamed copy, open until it is named
            QString source;
            QString destination;
            qint64 size = 0;
        };
        Folder& folder(const QString& path, Folder*& last);
        void dropTemporary(Entry& entry);
        int place(Entry& entry);
        void discardFrom(size_t index);
        bool full(qint64 nextSize, Folder& folder);
        void tell(const std::vector<Entry>& entries, size_t from, size_t to, bool placed) const;
        std::vector<Entry> m_entries;
        int m_maxCount;
        qint64 m_maxBytes;
        Settled m_settled;
        qint64 m_bytes = 0;
        mode_t m_umask = 0;
        // Keyed by path; the nodes stay where they are while the batch lives.
        std::map<QString, Folder, std::less<>> m_folders;
        int m_folderFds = 0;
        Folder* m_lastSource = nullptr;
        Folder* m_lastDestination = nullptr;
        // Unnamed copies held open, and how many may be (a share of the
        // process's descriptors).
        int m_unnamedOpen = 0;
        int m_unnamedMax = 0;
        QStringList m_flushAlso;
        Error m_failure;
        QString m_failedDestination;
        int m_dropped = 0;
    };

    // Removes from `folder` the temporary files of copies that never ended (a
    // run killed in the middle of a copy): those written more than
    // `olderThanSeconds` ago. Their age is when they were written (their
    // status change), never the modification time, which a copy takes from
    // its source and which is often years old. A younger one may belong to a
    // run in progress on the other computer sharing the exchange folder, and
    // is left alone. Runs only while this process holds a run lock
    // (common/RunLock): without it nothing is removed. Returns the paths
    // removed, in name order.
    static QStringList removeStale(const QString& folder, qint64 olderThanSeconds = staleAge());
    // The temporary files of `folder` that removeStale() would remove, lock
    // or not (what a dry run tells), in name order.
    static QStringList staleTemporaries(const QString& folder, qint64 olderThanSeconds = staleAge());

    // The age after which a temporary file counts as abandoned (an hour);
    // tests shorten it, since a file's status-change time cannot be set back.
    static qint64 staleAge();
    static void setStaleAge(qint64 seconds);
};

} // namespace mirsalex
