#include "transfer/FileTimes.h"

#include <QFile>
#include <QFileInfo>
#include <sys/vfs.h>
#include <utility>

namespace mirsalex::FileTimes {

namespace {

// Magic numbers of the file systems that keep times to 2 seconds.
constexpr unsigned long kMsdosMagic = 0x4d44;     // FAT12/16/32 (msdos, vfat)
constexpr unsigned long kExfatMagic = 0x2011BAB0; // exFAT

std::function<bool(const QString&)>& hook()
{
    static std::function<bool(const QString&)> fn;
    return fn;
}

} // namespace

bool twoSecondTimes(const QString& path)
{
    if (hook())
        return hook()(path);
    // A missing file lives (or will live) on the file system of its folder.
    QString probe = path;
    while (!probe.isEmpty() && !QFileInfo::exists(probe)) {
        const int cut = probe.lastIndexOf(QLatin1Char('/'), probe.endsWith(QLatin1Char('/')) ? -2 : -1);
        if (cut < 0)
            return false;
        probe = probe.left(cut + 1);
    }
    if (probe.isEmpty())
        return false;
    struct statfs info
    {
    };
    if (::statfs(QFile::encodeName(probe).constData(), &info) != 0)
        return false;
    const auto type = static_cast<unsigned long>(info.f_type);
    return type == kMsdosMagic || type == kExfatMagic;
}

void setTwoSecondHook(std::function<bool(const QString&)> fn)
{
    hook() = std::move(fn);
}

bool sourceIsNewer(const QDateTime& sourceTime, const QString& source, const QDateTime& destinationTime,
                   const QString& destination)
{
    return sourceIsNewer(sourceTime.toSecsSinceEpoch(), source, destinationTime.toSecsSinceEpoch(),
                         destination);
}

bool sourceIsNewer(qint64 s, const QString& source, qint64 d, const QString& destination)
{
    return sourceIsNewer(
        s, d, [&] { return twoSecondTimes(source); }, [&] { return twoSecondTimes(destination); });
}

bool sourceIsNewer(qint64 s, qint64 d, const std::function<bool()>& sourceCoarse,
                   const std::function<bool()>& destinationCoarse)
{
    if (s <= d)
        return false;
    // Within the 2-second step of a FAT disk, a copy whose even-second time
    // was set by that disk is the same version as its original.
    if (s - d <= 2) {
        if (d % 2 == 0 && destinationCoarse())
            return false;
        if (s % 2 == 0 && sourceCoarse())
            return false;
    }
    return true;
}

} // namespace mirsalex::FileTimes
