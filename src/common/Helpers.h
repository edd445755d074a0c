#pragma once

#include <QDate>
#include <QString>
#include <QVariant>

namespace mirsalex {

// Small stateless value and path routines shared by every part of the program.

// Right-aligns the trimmed text of `value` in `width` characters (blanks in
// front); a text of `width` characters or more, or an empty one, is returned
// as it is. A null value is an error: returns std::nullopt-like empty
// optional through `ok` (false) so the caller can report it.
QString AllineaDestra(const QVariant& value, int width, bool* ok = nullptr);

// The value of a field, or 0 when it is null, blank or not numeric (a date
// counts as not numeric). A numeric text stays a text.
QVariant NumeroOZero(const QVariant& value);

// The text of a field, never empty: null, blank, or beginning with a NUL
// character gives the default (a single blank when none or blank is given).
QString TestoODefault(const QVariant& value, const QVariant& defaultValue = QVariant());

// Everything before the last separator of a path, or the empty text.
QString CartellaDi(const QString& path);

// The year of a date in four digits.
QString AnnoDi(const QDate& date);

// The text up to the first NUL character.
QString TagliaNul(const QString& text);

// The Windows folder equivalent, upper-cased on Windows only, with a trailing
// separator; empty when it cannot be had.
QString CartellaWindows();

// a..z become A..Z; every other code is returned unchanged.
int TastoMaiuscolo(int code);

// Holds `text` in exactly `width` characters: cut, or padded with blanks.
QString FixedWidth(const QString& text, int width);

// True for a value held as a number (integer or floating point, not a truth
// value or a character).
bool IsNumberValue(const QVariant& value);

// True when `text` is numeric by the user's locale rules (or the C locale).
bool IsNumeric(const QString& text);
// Numeric value of a text read as in IsNumeric; 0 when not numeric.
double ToNumber(const QString& text);

// Date-time stamp stored in the configuration: "dd/mm/yy hh:mm".
QString DateStamp(const QDateTime& when);
// Date format of the copy messages: "dd/mm/yyyy hh:mm".
QString MessageDate(const QDateTime& when);

// Character-code comparison of texts (binary order, as the original platform
// compares strings), returns <0, 0, >0.
int CompareBinary(const QString& a, const QString& b);

} // namespace mirsalex
