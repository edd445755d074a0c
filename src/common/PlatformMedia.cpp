#include "common/Platform.h"

#include <pwd.h>
#include <QDir>
#include <QFile>
#include <unistd.h>

// Removable media: whether the disk a path lies on is inserted, told from
// the file system table and the table of what is mounted.

namespace mirsalex::platform {

namespace {

std::optional<MediaLayout>& mediaLayoutSlot()
{
    static std::optional<MediaLayout> layout;
    return layout;
}

// A field of the mount tables: blanks, tabs, newlines and backslashes are
// written as octal escapes ("\040" for a blank).
QString unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (const char c : digits)
                ok = ok && c >= '0' && c <= '7';
            if (ok) {
                out.append(char(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return QFile::decodeName(out);
}

// The mount points (second field) of a mount table; nothing when the file
// cannot be read.
std::optional<QStringList> mountPoints(const QString& table)
{
    QFile f(table);
    if (table.isEmpty() || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The kernel's table reports no size: read it to its end.
    const QByteArray bytes = f.readAll();
    QStringList points;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QByteArray line = raw.simplified();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2 || !fields.at(1).startsWith('/'))
            continue; // "none", "swap" and the like mount nothing
        QString point = QDir::cleanPath(unescapeMountField(fields.at(1)));
        points << point;
    }
    return points;
}

bool under(const QString& path, const QString& folder)
{
    return path == folder ||
           path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

QString currentUserName()
{
    if (const passwd* pw = ::getpwuid(::geteuid()))
        return QFile::decodeName(pw->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace

void setMediaLayout(const std::optional<MediaLayout>& layout)
{
    mediaLayoutSlot() = layout;
}

QString absentMedium(const QString& path)
{
    if (path.trimmed().isEmpty())
        return QString();
    const MediaLayout layout = mediaLayoutSlot().value_or(MediaLayout{});
    const QString wanted =
        QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));

    // The medium a path lies on: the deepest mount point the fstab names
    // above it, or the mount point under a media folder.
    const std::optional<QStringList> expected = mountPoints(layout.fstab);
    QString fromFstab;
    for (const QString& point : expected.value_or(QStringList())) {
        if (point != QLatin1String("/") && under(wanted, point) && point.size() > fromFstab.size())
            fromFstab = point;
    }
    QString root; // the deepest media folder the path lies in
    for (const QString& folder : layout.mediaFolders) {
        const QString clean = QDir::cleanPath(folder);
        if (wanted != clean && under(wanted, clean) && clean.size() > root.size())
            root = clean;
    }
    QString fromMedia;
    bool desktopMade = false;
    if (!root.isEmpty()) {
        const QStringList rest = wanted.mid(root.size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        const QString user = layout.userName.isEmpty() ? currentUserName() : layout.userName;
        const bool perUser = root == QDir::cleanPath(layout.perUserFolder) ||
                             (!rest.isEmpty() && !user.isEmpty() && rest.at(0) == user);
        // The user's own media folder itself is no medium.
        if (!rest.isEmpty() && (!perUser || rest.size() >= 2)) {
            fromMedia = root + QLatin1Char('/') + rest.at(0);
            if (perUser)
                fromMedia += QLatin1Char('/') + rest.at(1);
            desktopMade = perUser;
        }
    }
    if (fromMedia.isEmpty() && fromFstab.isEmpty())
        return QString();

    // Without the table of what is mounted nothing can be told: the medium
    // counts as there.
    const std::optional<QStringList> mounted = mountPoints(layout.mountTable);
    if (!mounted)
        return QString();
    // A media folder that is itself a disk holds ordinary folders, not media.
    for (const QString& m : *mounted) {
        if (!fromMedia.isEmpty() && m.size() >= root.size() && fromMedia.startsWith(m + QLatin1Char('/')))
            fromMedia.clear();
    }
    const QString point = fromMedia.size() > fromFstab.size() ? fromMedia : fromFstab;
    if (point.isEmpty())
        return QString();
    const QString onDisk = QDir::cleanPath(resolve(point));
    if (mounted->contains(onDisk) || mounted->contains(point))
        return QString();
    if (!isDirectory(point))
        return point; // no mount point: nothing inserted
    // A folder with nothing mounted on it is an absent medium only where a
    // medium is expected; otherwise it is an ordinary folder.
    const bool inFstab = expected && expected->contains(point);
    return inFstab || (desktopMade && point == fromMedia) ? point : QString();
}

} // namespace mirsalex::platform
