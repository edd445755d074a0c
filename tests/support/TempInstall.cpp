#include "support/TempInstall.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace mirsalex::test {

TempInstall::TempInstall() : m_dir(QDir::tempPath() + QStringLiteral("/mirsalex-test-XXXXXX"))
{
    if (!m_dir.isValid()) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("prog"));
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    m_hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_oldXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/config")));
}

TempInstall::~TempInstall()
{
    if (m_hadXdg)
        qputenv("XDG_CONFIG_HOME", m_oldXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempInstall::root() const
{
    return m_dir.path() + QLatin1Char('/');
}

QString TempInstall::path(const QString& relative) const
{
    return root() + relative;
}

QString TempInstall::programFolder() const
{
    return root() + QStringLiteral("prog/");
}

QString TempInstall::configFolder() const
{
    return root() + QStringLiteral("config/");
}

QString TempInstall::writeIni(const QString& text, const QString& fileName, const QString& folder) const
{
    const QString dir = folder.isEmpty() ? programFolder() : folder;
    QDir().mkpath(dir);
    const QString full = dir + fileName;
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << full.toStdString();
        return full;
    }
    const QByteArray bytes = text.toLatin1();
    if (f.write(bytes) != bytes.size())
        ADD_FAILURE() << "short write on " << full.toStdString();
    return full;
}

QString TempInstall::writeFile(const QString& relative, const QByteArray& content,
                               const QDateTime& modified) const
{
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << full.toStdString();
        return full;
    }
    if (f.write(content) != content.size())
        ADD_FAILURE() << "short write on " << full.toStdString();
    f.close();
    if (modified.isValid())
        setModified(full, modified);
    return full;
}

QString TempInstall::makeDir(const QString& relative) const
{
    QString full = path(relative);
    if (!QDir().mkpath(full))
        ADD_FAILURE() << "cannot create folder " << full.toStdString();
    if (!full.endsWith(QLatin1Char('/')))
        full += QLatin1Char('/');
    return full;
}

void TempInstall::setModified(const QString& fullPath, const QDateTime& modified)
{
    QFile f(fullPath);
    if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(modified, QFileDevice::FileModificationTime))
        ADD_FAILURE() << "cannot set the modification time of " << fullPath.toStdString();
}

QByteArray TempInstall::readBytes(const QString& fullPath)
{
    QFile f(fullPath);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

} // namespace mirsalex::test
