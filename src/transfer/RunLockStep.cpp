#include "transfer/RunLockStep.h"

#include "common/Platform.h"
#include "common/ProfileFile.h"
#include "config/ConfigLoader.h"

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

CorsaEsclusiva::CorsaEsclusiva(Context& ctx, const RunRequest& request, ChangeSink& sink) : m_ctx(ctx)
{
    const QStringList folders = {folderOf(request.localClients), folderOf(request.exchangeClients)};
    QString busy;
    RunLock::Holder holder;
    if (!m_lock.acquire(folders, request.sideName(), &busy, &holder)) {
        m_refused = true;
        ctx.prompt.show(RunLock::refusalMessage(busy, holder), MsgStyle::ExclamationOk);
        return;
    }
    rimuoviAvanzi(ctx, request, sink);
    tellIniNotWritten();
}

CorsaEsclusiva::~CorsaEsclusiva()
{
    if (!m_refused)
        tellIniNotWritten();
}

void CorsaEsclusiva::tellIniNotWritten()
{
    const QString file = ScritturaIniFallita();
    if (file.isEmpty())
        return;
    AzzeraScritturaIniFallita();
    if (m_iniTold)
        return;
    m_iniTold = true;
    m_ctx.prompt.show(
        QStringLiteral("ATTENZIONE: il file di configurazione non si può scrivere") + QLatin1Char('\n') +
            ProfileFile::locate(file) + QLatin1Char('\n') +
            QStringLiteral("Le scelte e le date di questo aggiornamento non saranno registrate."),
        MsgStyle::ExclamationOk);
}

} // namespace mirsalex
