#include "transfer/RunLockStep.h"

#include "common/Platform.h"
#include "common/ProfileFile.h"

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

void rimuoviAvanzi(Context& ctx, const RunRequest& request, ChangeSink& sink)
{
    // What killed runs left half written: copies of databases beside them,
    // and the profile file's temporary beside it.
    QStringList stale = {folderOf(request.localClients), folderOf(request.exchangeClients),
                         folderOf(ProfileFile::locate(ctx.config.FileIni))};
    stale.removeDuplicates();
    for (const QString& folder : std::as_const(stale)) {
        if (!folder.isEmpty())
            sink.removeStaleTemporaries(platform::resolve(folder));
    }
}

CorsaEsclusiva::CorsaEsclusiva(Context& ctx, const RunRequest& request, ChangeSink& sink)
{
    const QStringList folders = lockedFolders(request);
    QString busy;
    RunLock::Holder holder;
    if (!m_lock.acquire(folders, request.sideName(), &busy, &holder)) {
        m_refused = true;
        ctx.prompt.show(RunLock::refusalMessage(busy, holder), MsgStyle::ExclamationOk);
        return;
    }
    rimuoviAvanzi(ctx, request, sink);
}

bool CorsaEsclusiva::sarebbeRifiutata(Context& ctx, const RunRequest& request)
{
    QString busy;
    RunLock::Holder holder;
    if (!RunLock::heldElsewhere(lockedFolders(request), &busy, &holder))
        return false;
    ctx.prompt.show(RunLock::refusalMessage(busy, holder), MsgStyle::ExclamationOk);
    return true;
}

} // namespace mirsalex
