#pragma once

#include <ostream>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

// Lets GoogleTest print texts readably in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace mirsalex::test {

// A throw-away installation for one test: a temporary root holding a program
// folder ("prog/") and a shared configuration folder ("config/") that
// XDG_CONFIG_HOME points at for the lifetime of the object (the previous value
// is restored on destruction). Every path returned ends up under root().
//
//   TempInstall inst;
//   QString ini = inst.writeIni("[PATH]\nFILE=" + inst.path("dati/") + "\n");
//   inst.writeFile("dati/A12/SK1.doc", "x", QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)));
class TempInstall
{
public:
    TempInstall();
    ~TempInstall();
    TempInstall(const TempInstall&) = delete;
    TempInstall& operator=(const TempInstall&) = delete;

    bool isValid() const { return m_dir.isValid(); }

    // Root of the installation, with a trailing separator.
    QString root() const;
    // root() + relative (no check, no creation).
    QString path(const QString& relative) const;
    // The program folder (root + "prog/"), with a trailing separator.
    QString programFolder() const;
    // The shared configuration folder XDG_CONFIG_HOME points at, with a trailing separator.
    QString configFolder() const;

    // Writes a configuration file from text (encoded Latin-1, written as given:
    // put "\r\n" in the text for CRLF files) into `folder` (the program folder
    // when empty) and returns its full path.
    QString writeIni(const QString& text, const QString& fileName = QStringLiteral("Mirsal.ini"),
                     const QString& folder = QString()) const;

    // Creates a file under the root (folders made as needed) with the given
    // bytes and, when `modified` is valid, that modification time. Returns the
    // full path; fails the test when it cannot be made.
    QString writeFile(const QString& relative, const QByteArray& content = QByteArray(),
                      const QDateTime& modified = QDateTime()) const;

    // Creates a folder (and its parents) under the root; returns its full
    // path with a trailing separator.
    QString makeDir(const QString& relative) const;

    // Sets a file's modification time; fails the test when it cannot.
    static void setModified(const QString& fullPath, const QDateTime& modified);
    // Reads a whole file's bytes (empty when missing).
    static QByteArray readBytes(const QString& fullPath);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldXdg;
    bool m_hadXdg = false;
};

} // namespace mirsalex::test
