#include "common/Helpers.h"

#include "common/Platform.h"

#include <algorithm>
#include <cmath>
#include <QDateTime>
#include <QLocale>

namespace mirsalex {

namespace {

bool isNullValue(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

// Trims blanks (spaces only, as the original string functions do).
QString trimSpaces(const QString& s)
{
    qsizetype a = 0, b = s.size();
    while (a < b && s.at(a) == QLatin1Char(' '))
        ++a;
    while (b > a && s.at(b - 1) == QLatin1Char(' '))
        --b;
    return s.mid(a, b - a);
}

// Numbers, and the truth values and character codes a database or a window
// hands over as numbers too.
bool isNumericType(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return IsNumberValue(v);
    }
}

bool parseNumber(const QString& text, double* value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double v = QLocale::system().toDouble(t, &ok);
    if (!ok)
        v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    if (value)
        *value = v;
    return true;
}

} // namespace

bool IsNumberValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

QString AllineaDestra(const QVariant& value, int width, bool* ok)
{
    if (ok)
        *ok = !isNullValue(value);
    if (isNullValue(value))
        return QString();
    const QString t = trimSpaces(value.toString());
    if (t.isEmpty() || t.size() >= width)
        return t;
    return QString(width - t.size(), QLatin1Char(' ')) + t;
}

QVariant NumeroOZero(const QVariant& value)
{
    if (isNullValue(value))
        return QVariant(0);
    if (isNumericType(value))
        return value;
    if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray &&
        value.typeId() != QMetaType::QChar)
        return QVariant(0); // dates and other kinds are not numbers
    const QString text = value.toString();
    if (text.trimmed().isEmpty() || !IsNumeric(text))
        return QVariant(0);
    return value;
}

QString TestoODefault(const QVariant& value, const QVariant& defaultValue)
{
    QString def = isNullValue(defaultValue) ? QString() : defaultValue.toString();
    if (trimSpaces(def).isEmpty())
        def = QStringLiteral(" ");
    QString s = isNullValue(value) ? def : value.toString();
    if (trimSpaces(s).isEmpty())
        s = def;
    if (!s.isEmpty() && s.at(0).unicode() == 0)
        s = def;
    return s;
}

QString CartellaDi(const QString& path)
{
    const qsizetype at = path.lastIndexOf(platform::separator());
    return at < 0 ? QString() : path.left(at);
}

QString AnnoDi(const QDate& date)
{
    if (!date.isValid())
        return QString();
    return QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString TagliaNul(const QString& text)
{
    const qsizetype at = text.indexOf(QChar(0));
    return at < 0 ? text : text.left(at);
}

QString CartellaWindows()
{
    // The platform layer gives the folder already in its own spelling (upper
    // case on Windows, as the system reports it there; as is elsewhere, where
    // names are case-sensitive on disk).
    QString folder = TagliaNul(platform::windowsFolder());
    while (folder.endsWith(QLatin1Char(' ')))
        folder.chop(1);
    if (folder.isEmpty())
        return QString();
    if (!folder.endsWith(platform::separator()))
        folder += platform::separator();
    return folder;
}

int TastoMaiuscolo(int code)
{
    return (code >= 97 && code <= 122) ? code - 32 : code;
}

QString FixedWidth(const QString& text, int width)
{
    if (width <= 0)
        return QString();
    return text.leftJustified(width, QLatin1Char(' '), true);
}

bool IsNumeric(const QString& text)
{
    return parseNumber(text, nullptr);
}

double ToNumber(const QString& text)
{
    double v = 0;
    return parseNumber(text, &v) ? v : 0.0;
}

// Both date formats use "/" and ":" whatever the machine's locale, so a stamp
// written on one computer reads the same on the other.
QString DateStamp(const QDateTime& when)
{
    return QLocale::c().toString(when, QStringLiteral("dd/MM/yy HH:mm"));
}

QString MessageDate(const QDateTime& when)
{
    return QLocale::c().toString(when, QStringLiteral("dd/MM/yyyy HH:mm"));
}

int CompareBinary(const QString& a, const QString& b)
{
    const auto* pa = a.utf16();
    const auto* pb = b.utf16();
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] != pb[i])
            return pa[i] < pb[i] ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace mirsalex
