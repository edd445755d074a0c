#include "sync/Schema.h"

#include "common/AtomicFile.h"
#include "db/Sqlite.h"

#include <cerrno>
#include <cstring>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>
#include <QUrl>

namespace mirsalex::schema {

namespace {

QString sectionName(Kind kind)
{
    switch (kind) {
    case Kind::Clients:
        return QStringLiteral("clients");
    case Kind::Visits:
        return QStringLiteral("visits");
    case Kind::Indices:
        return QStringLiteral("indices");
    }
    return QString();
}

// The statements of one database section of the schema kept with the program.
QStringList statementsFor(Kind kind, QString* error)
{
    QFile f(QStringLiteral(":/sync/schema.sql"));
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("schema non disponibile");
        return {};
    }
    const QString text = QString::fromUtf8(f.readAll());
    const QString wanted = sectionName(kind);
    QStringList out;
    QString section;
    QString current;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString trimmed = rawLine.trimmed();
        if (trimmed.startsWith(QLatin1String("-- database:"))) {
            section = trimmed.mid(12).trimmed();
            current.clear();
            continue;
        }
        if (section != wanted)
            continue;
        QString line = rawLine;
        const int comment = line.indexOf(QLatin1String("--"));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        current += line + QLatin1Char('\n');
        if (line.endsWith(QLatin1Char(';'))) {
            out << current.trimmed();
            current.clear();
        }
    }
    if (out.isEmpty() && error)
        *error = QStringLiteral("schema senza istruzioni per '%1'").arg(wanted);
    return out;
}

} // namespace

QStringList statements(Kind kind, QString* error)
{
    return statementsFor(kind, error);
}

QString fileName(Kind kind)
{
    switch (kind) {
    case Kind::Clients:
        return QStringLiteral("DatiDV.mdb");
    case Kind::Visits:
        return QStringLiteral("VisiteDV.mdb");
    case Kind::Indices:
        return QStringLiteral("IndiciDV.mdb");
    }
    return QString();
}

bool createDatabase(const QString& path, Kind kind, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo target(path);
    if (path.isEmpty())
        return fail(QStringLiteral("percorso vuoto"));
    if (target.exists() || target.isSymLink())
        return fail(QStringLiteral("il file '%1' esiste già").arg(path));
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("la cartella '%1' non esiste").arg(target.absolutePath()));
    QString why;
    const QStringList statements = statementsFor(kind, &why);
    if (statements.isEmpty())
        return fail(why);

    // Built under a temporary name and put in place only when complete, and
    // never over a file that appeared meanwhile.
    // (Named as every temporary of this program, so that one a killed process
    // left is cleared by a later run.)
    const QString temp = target.absolutePath() + QLatin1Char('/') + AtomicFile::temporaryPrefix() +
                         target.fileName() + QLatin1Char('.') +
                         QString::number(QRandomGenerator::global()->generate(), 16);
    bool built = true;
    {
        // The one place where a database file is created: a new temporary
        // file of its own.
        sqlite::Connection db;
        if (db.open(QUrl::fromLocalFile(temp).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rwc"),
                    sqlite::kOpenReadWrite | sqlite::kOpenCreate | sqlite::kOpenNoMutex, 0) != sqlite::kOk) {
            why = db.message();
            built = false;
        }
        for (int i = 0; built && i < statements.size(); ++i) {
            if (db.exec(statements[i]) != sqlite::kOk) {
                why = db.message();
                built = false;
            }
        }
    }
    if (built && AtomicFile::syncPath(temp) != 0) {
        why = QStringLiteral("scrittura su disco non riuscita");
        built = false;
    }
    if (!built) {
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-journal"));
        return fail(QStringLiteral("impossibile creare '%1': %2").arg(path, why));
    }
    // Never over a file that appeared meanwhile.
    const int err = AtomicFile::placeNew(temp, target.absoluteFilePath());
    if (err == 0)
        return true;
    if (err == EEXIST || target.exists())
        return fail(QStringLiteral("il file '%1' esiste già").arg(path));
    return fail(
        QStringLiteral("impossibile creare '%1': %2").arg(path, QString::fromLocal8Bit(strerror(err))));
}

} // namespace mirsalex::schema
