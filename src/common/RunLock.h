#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

// One run at a time on a folder. The lock is an advisory lock (flock) on a
// hidden file in the folder: the operating system drops it when the process
// ends, however it ends, so a killed run never leaves a folder locked; on a
// shared folder the lock is seen by the other computer too. The file tells
// who holds the lock (computer, side, process and since when), so a second
// run can name the holder when it is refused. Nothing ever waits for a lock.
class RunLock
{
public:
    struct Holder
    {
        QString computer;
        QString side;
        qint64 pid = 0;
        QString since; // "dd/mm/yyyy hh:mm"
    };

    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock on each folder (a path ending with the separator) for
    // `side` ("DeskTop" or "Portatile"). A folder that does not exist, or in
    // which the lock file can neither be created nor opened (a read-only
    // disk), is passed over: nothing can be changed there by this run either.
    // Returns false, releasing whatever it took, when another run holds one
    // of them; `busyFolder` and `holder` then tell which and who.
    bool acquire(const QStringList& folders, const QString& side, QString* busyFolder = nullptr,
                 Holder* holder = nullptr);
    void release();
    bool held() const { return !m_files.empty(); }

    // Whether another run holds the lock on one of `folders` now, without
    // taking it and without making a lock file: true with `busyFolder` and
    // `holder` when one does. A folder whose lock file is missing, or on a
    // file system without locks, is free. The answer holds only for the
    // moment it was given (a dry run tells whether a run would be refused).
    static bool heldElsewhere(const QStringList& folders, QString* busyFolder = nullptr,
                              Holder* holder = nullptr);

    // The folders this process holds a lock on now; work that must never run
    // beside another run (removing leftover temporary files) asks for it.
    static bool heldByThisProcess(const QString& folder);
    static bool anyHeldByThisProcess();

    // Name of the lock file inside a locked folder.
    static QString fileName();

    // The text shown to the user when a run is refused.
    static QString refusalMessage(const QString& folder, const Holder& holder);

private:
    struct File
    {
        int fd = -1;
        QString folder;
        bool writable = true;
    };
    std::vector<File> m_files;
};

} // namespace mirsalex
