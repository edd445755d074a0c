#include "common/SystemInfo.h"

#include "common/FileErrors.h"
#include "common/Platform.h"
#include "common/Prompt.h"

#include <algorithm>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

namespace mirsalex {

namespace {

const QString kChiaveMsinfo = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kChiaveStrumenti = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kMsinfo = QStringLiteral("MSINFO32.EXE");

QString withSeparator(const QString& folder)
{
    return folder.endsWith(platform::separator()) ? folder : folder + platform::separator();
}

struct Search
{
    Prompt& prompt;
    const QString& name;
    const CartellaVisitata& visit;
    QSet<QString> seen;
    QString found;
    bool stopped = false;

    void folder(const QString& path)
    {
        if (!found.isEmpty() || stopped)
            return;
        // A folder reached again through a link would loop for ever.
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            return;
        seen.insert(canonical);
        const QString current = withSeparator(path);
        if (EsisteFile(prompt, current + name, 0)) {
            // The name as the disk spells it; as asked when the folder
            // cannot be listed again.
            QList<platform::DirEntry> entries;
            static_cast<void>(platform::listDirectory(current, name, false, entries));
            found = current + (entries.isEmpty() ? name : entries.constFirst().name);
            return;
        }
        // The subfolders are copied first: the search moves on from here.
        QList<platform::DirEntry> entries;
        if (platform::listDirectory(current, QStringLiteral("*"), true, entries))
            return;
        QStringList subfolders;
        for (const platform::DirEntry& e : entries) {
            if (e.isDir && !e.name.startsWith(QLatin1Char('.')))
                subfolders << e.name;
        }
        std::sort(subfolders.begin(), subfolders.end(), [](const QString& a, const QString& b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        if (visit && !visit(current, subfolders)) {
            stopped = true;
            return;
        }
        for (const QString& sub : subfolders) {
            folder(current + sub);
            prompt.processEvents();
            if (!found.isEmpty() || stopped)
                return;
        }
    }
};

} // namespace

bool SystemInfo::LeggiValoreRegistro(RegistryRoot, const QString&, const QString&, QString& text)
{
    // No registry on this platform: the key cannot be opened.
    text.clear();
    return false;
}

bool SystemInfo::avvia(const QString& program)
{
    if (program.trimmed().isEmpty())
        return false;
    return QProcess::startDetached(program, {}, QDir::rootPath());
}

QStringList SystemInfo::cartelleProgrammi() const
{
    // Programs the administrator installed, those of the distribution, then
    // the add-on packages (the folder most like the Windows program folder).
    return {QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"), QStringLiteral("/opt")};
}

void AvviaInfoSistema(SystemInfo& info, qint16& codErrore)
{
    QString value;
    if (info.LeggiValoreRegistro(RegistryRoot::LocalMachine, kChiaveMsinfo, QStringLiteral("PATH"), value)) {
        // The value holds the tool's full path.
        if (!info.avvia(value))
            codErrore = 1;
        return;
    }
    if (info.LeggiValoreRegistro(RegistryRoot::LocalMachine, kChiaveStrumenti, QStringLiteral("MSINFO"),
                                 value)) {
        const QString tool = withSeparator(value) + kMsinfo;
        if (platform::isFile(tool)) {
            if (!info.avvia(tool))
                codErrore = 1;
            return;
        }
    }
    codErrore = 1;
}

QString CercaSuDisco(Prompt& prompt, const QString& root, const QString& name, const CartellaVisitata& visit)
{
    if (root.trimmed().isEmpty() || name.trimmed().isEmpty() || !platform::isDirectory(root))
        return QString();
    Search search{prompt, name, visit, {}, {}, false};
    search.folder(QDir::cleanPath(root));
    return search.found;
}

} // namespace mirsalex
