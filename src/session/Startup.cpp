// What a start of either face needs: where the configuration file is looked
// for, and the texts of a start that cannot go on.

#include "session/Startup.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/RunLog.h"
#include "config/ConfigLoader.h"

#include <QDateTime>
#include <QFileInfo>

namespace mirsalex {

QString programFolder()
{
    return QFileInfo(platform::executablePath()).absolutePath();
}

QString programName()
{
    QString name = QFileInfo(platform::executablePath()).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

QStringList configurationCandidates(const QString& ini, const QString& folderOfProgram,
                                    const QString& nameOfProgram)
{
    if (!ini.isEmpty())
        return {platform::resolve(QFileInfo(ini).absoluteFilePath())};
    // The order LocateIni tries them in: beside the program, then in the
    // shared configuration folder; the program's own name before the
    // product's.
    const QString ext = QStringLiteral(".ini");
    QStringList places;
    for (QString folder : {folderOfProgram, CartellaWindows()}) {
        if (folder.isEmpty())
            continue;
        if (!folder.endsWith(platform::separator()))
            folder += platform::separator();
        for (const QString& name : {nameOfProgram, productName()}) {
            if (!name.isEmpty() && !places.contains(folder + name + ext))
                places << folder + name + ext;
        }
    }
    return places;
}

QString missingConfigurationText(const QStringList& searched)
{
    QString text = QString::fromLatin1(kMissingConfiguration);
    if (!searched.isEmpty()) {
        text += QStringLiteral("\nCercato in:");
        for (const QString& place : searched)
            text += QStringLiteral("\n  ") + place;
    }
    return text;
}

void logMissingConfiguration(const RunLog& log, const QStringList& searched)
{
    // A start that found no configuration file still leaves its trace, so an
    // administrator reading the log sees where the program looked.
    const QString entry = QStringLiteral("Avvio non riuscito\n") + missingConfigurationText(searched) +
                          QStringLiteral("\nEsito: ERRORE all'avvio\n");
    (void)log.append(QDateTime::currentDateTime(), entry);
}

QString damagedPasswordText(const QString& storePath)
{
    return QStringLiteral("ARCHIVIO PASSWORD DANNEGGIATO O ILLEGGIBILE\n") + storePath;
}

} // namespace mirsalex
