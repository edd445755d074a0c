#include "transfer/RunLockStep.h"

#include "common/Platform.h"
#include "common/ProfileFile.h"
#include "common/Prompt.h"

namespace mirsalex {

namespace {

QString folderOf(const QString& path)
{
    const QString p = path.trimmed();
    if (!p.contains(platform::separator()))
        return QString();
    QString folder, name;
    platform::splitPath(p, folder, name);
    return folder;
}

// The folders a run locks: those of the local and of the exchange clients
// database.
QStringList lockedFolders(const RunRequest& request)
{
    return {folderOf(request.localClients), folderOf(request.exchangeClients)};
}

} // namespace

void removeLeftovers(const RunRequest& request, ChangeSink& sink)
{
    // What killed runs left half written: copies of databases beside them,
    // and the profile file's temporary beside it.
    QStringList stale = {folderOf(request.localClients), folderOf(request.exchangeClients),
                         folderOf(ProfileFile::locate(request.configFile))};
    stale.removeDuplicates();
    for (const QString& folder : std::as_const(stale)) {
        if (!folder.isEmpty())
            sink.removeStaleTemporaries(platform::resolve(folder));
    }
}

ExclusiveRun::ExclusiveRun(const RunRequest& request, ChangeSink& sink)
{
    const QStringList folders = lockedFolders(request);
    QString busy;
    RunLock::Holder holder;
    if (!m_lock.acquire(folders, request.sideName(), &busy, &holder)) {
        m_refused = true;
        request.prompt->show(RunLock::refusalMessage(busy, holder), MsgStyle::ExclamationOk);
        return;
    }
    removeLeftovers(request, sink);
}

bool ExclusiveRun::wouldBeRefused(const RunRequest& request)
{
    QString busy;
    RunLock::Holder holder;
    if (!RunLock::heldElsewhere(lockedFolders(request), &busy, &holder))
        return false;
    request.prompt->show(RunLock::refusalMessage(busy, holder), MsgStyle::ExclamationOk);
    return true;
}

} // namespace mirsalex
