#include "session/OperatorFolders.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"

#include <algorithm>
#include <QSet>

namespace mirsalex {

namespace {

// Characters of the folder name at the start of an operator list item.
constexpr int kItemNameWidth = 14;

QList<platform::DirEntry> subfolders(const QString& pathDati)
{
    QList<platform::DirEntry> entries;
    if (pathDati.isEmpty() || platform::listDirectory(pathDati, QStringLiteral("*"), true, entries))
        return {};
    std::stable_sort(entries.begin(), entries.end(),
                     [](const platform::DirEntry& a, const platform::DirEntry& b) {
                         return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
                     });
    QList<platform::DirEntry> folders;
    for (const platform::DirEntry& e : std::as_const(entries)) {
        if (e.isDir && !e.name.startsWith(QLatin1Char('.')))
            folders << e;
    }
    return folders;
}

} // namespace

bool holdsOperatorDatabase(const QString& folder)
{
    QList<platform::DirEntry> files;
    for (const QString& db : {QStringLiteral("DatiDV.mdb"), QStringLiteral("VisiteDV.mdb")}) {
        files.clear();
        if (!platform::listDirectory(folder, db, false, files) && !files.isEmpty())
            return true;
    }
    return false;
}

QStringList operatorFolders(const QString& pathDati)
{
    QStringList codes;
    for (const platform::DirEntry& e : subfolders(pathDati)) {
        const QString code = e.name.toUpper();
        if (holdsOperatorDatabase(pathDati + e.name + platform::sep()) && code.size() <= 13 &&
            CodiceOperatoreValido(code))
            codes << code;
    }
    return codes;
}

QStringList ElencoCartelleOperatori(const QString& pathDati, const QStringList& items)
{
    const QString folder = platform::resolve(pathDati);
    QSet<QString> operators;
    for (const platform::DirEntry& e : subfolders(folder)) {
        if (holdsOperatorDatabase(folder + e.name + platform::sep()))
            operators.insert(FixedWidth(e.name.toUpper(), kItemNameWidth));
    }
    if (operators.isEmpty())
        return items;
    QStringList kept;
    for (const QString& item : items) {
        if (operators.contains(item.left(kItemNameWidth)))
            kept << item;
    }
    return kept.isEmpty() ? items : kept;
}

} // namespace mirsalex
