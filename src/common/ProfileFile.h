#pragma once

#include "common/Error.h"

#include <QString>

namespace mirsalex {

// Profile (".ini") files as the Windows profile functions handle them:
// section and key names matched without regard to case and surrounding
// blanks, enclosing quotes of a value removed, comment lines ignored, the
// first of duplicate sections or keys wins, a bare file name meaning the
// shared configuration folder. Writing replaces one value in place and keeps
// every other byte of the file; the file is replaced atomically.
namespace ProfileFile {

// The full path a profile file name stands for (a bare name lies in the
// shared configuration folder); resolved without regard to case.
QString locate(const QString& fileName);

// Reads a value. Returns the number of characters copied (at most
// bufferSize - 1) and the value in `out`; `defaultValue` when the key,
// section or file is missing or the file cannot be read. A file that is
// there but could not be read is told apart from a missing one: `failure`
// (when given) then says why ("non si può leggere: 57-Errore di I/O sul
// DEVICE", ...), and stays empty otherwise.
int read(const QString& fileName, const QString& section, const QString& key, const QString& defaultValue,
         QString& out, int bufferSize, QString* failure = nullptr);

// Why the file cannot serve as a profile file, in Italian ("non si può
// leggere: 70-Autorizzazione negata", "non è un file di testo ...", "non
// contiene nessuna sezione [...]"); empty when it can, and for a missing
// file. An empty file is a valid one.
QString problem(const QString& fileName);

// Writes key=value into the section, creating section or key when missing.
// The change is made under the file's lock (common/FileLock): the file is
// read again, only this key is changed, and the new file is renamed into
// place before the lock is given back, so changes of other processes made
// meanwhile are kept. A key that already holds the value, byte for byte as
// the file stores it, is not written again. Returns the error (the file,
// and why it could not be written; it is then untouched); `changed`, when
// given, tells whether the file was changed.
Error write(const QString& fileName, const QString& section, const QString& key, const QString& value,
            bool* changed = nullptr);

// Whether the file holds key=value already, so that write() would change
// nothing.
bool holds(const QString& fileName, const QString& section, const QString& key, const QString& value);

// Removes the line of a key (the first of that name in the first section of
// that name), with its line end, keeping every other byte of the file; the
// file is replaced atomically, under its lock like a write. A key, section
// or file that is not there is no error (and no change). Returns the error
// when the file could not be written.
Error remove(const QString& fileName, const QString& section, const QString& key, bool* changed = nullptr);

} // namespace ProfileFile
} // namespace mirsalex
