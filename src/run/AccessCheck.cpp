#include "run/AccessCheck.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "runtypes/RunRequest.h"
#include "sync/Schema.h"

#include <QFileInfo>

namespace mirsalex {

namespace {

// A value for the command line, quoted when the shell would split it.
QString shellWord(const QString& s)
{
    static const QString plain =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+:,=@%");
    bool needsQuotes = s.isEmpty();
    for (const QChar c : s)
        needsQuotes = needsQuotes || !plain.contains(c);
    if (!needsQuotes)
        return s;
    QString quoted = s;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

std::vector<AccessDatabase> accessDatabasesOf(const RunRequest& request)
{
    QStringList candidates;
    const QString localClients = request.localClients.trimmed();
    const QString exchangeClients = request.exchangeClients.trimmed();
    if (request.ticks.dati == 1 || request.ticks.visite == 1)
        candidates << localClients << exchangeClients;
    if (request.ticks.visite == 1) {
        const QString visits = schema::fileName(schema::Kind::Visits);
        candidates << request.dataFolder + request.operatorCode + platform::sep() + visits;
        if (!exchangeClients.isEmpty())
            candidates << CartellaDi(exchangeClients) + platform::sep() + visits;
    }
    if (request.ticks.gruppi[0] == 1) {
        const QString indices = schema::fileName(schema::Kind::Indices);
        candidates << request.dataFolder + indices;
        if (!request.exchangeFolders[0].isEmpty())
            candidates << request.exchangeFolders[0] + indices;
    }
    std::vector<AccessDatabase> found;
    QStringList seen;
    for (const QString& candidate : std::as_const(candidates)) {
        if (candidate.isEmpty())
            continue;
        const QString path = platform::resolve(candidate);
        if (seen.contains(path) || !QFileInfo(path).isFile())
            continue;
        seen << path;
        if (const auto signature = jetSignatureOf(path))
            found.push_back({path, *signature});
    }
    return found;
}

QString importAccessCommand(const RunRequest& request)
{
    QString command = QStringLiteral("mirsalex --import-access");
    if (!request.configFile.isEmpty())
        command += QStringLiteral(" --ini ") + shellWord(request.configFile);
    command += QStringLiteral(" --operator ") + shellWord(request.operatorCode);
    command += request.portable ? QStringLiteral(" --side portable") : QStringLiteral(" --side desktop");
    return command;
}

QString accessDatabasesMessage(const std::vector<AccessDatabase>& found, const RunRequest& request)
{
    QString text = QStringLiteral("DATABASE DI ACCESS");
    for (const AccessDatabase& db : found)
        text += QLatin1Char('\n') + db.path + QStringLiteral(" (") + db.signature.versionName() +
                QLatin1Char(')');
    text += found.size() == 1 ? QStringLiteral("\nè un database di Access: va convertito")
                              : QStringLiteral("\nsono database di Access: vanno convertiti");
    text += QStringLiteral(" una volta sola nel formato di questo programma, con il comando:\n") +
            importAccessCommand(request) +
            QStringLiteral("\nL'aggiornamento non è stato eseguito: nessun dato è stato trasferito.");
    return text;
}

} // namespace mirsalex
