#include "config/ConfigLoader.h"

#include "common/Helpers.h"
#include "common/Platform.h"
#include "common/ProfileFile.h"

#include <cerrno>
#include <cmath>
#include <optional>
#include <QDate>

namespace mirsalex {

namespace {

const QString kSectionPath = QStringLiteral("PATH");
const QString kSectionParametri = QStringLiteral("PARAMETRI");
const QString kSectionEuro = QStringLiteral("EURO");

// Longest configured folder text in which a "%" marker is recognised.
constexpr int kMaxMarkerPosition = 255;
// More decimals than this cannot be meant: the amount format is left as it was.
constexpr int kMaxDecimals = 255;

QString withSeparator(const QString& folder)
{
    return folder.endsWith(platform::separator()) ? folder : folder + platform::separator();
}

// Rounds half to even, as the original numeric conversions do, and checks the
// target range; nothing when out of range.
std::optional<long long> roundToRange(double value, long long low, long long high)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value); // default rounding mode: half to even
    if (r < double(low) || r > double(high))
        return std::nullopt;
    return static_cast<long long>(r);
}

// Leading-number reading of a text: blanks are skipped wherever they are, an
// optional sign, digits, a decimal point and an exponent are taken, anything
// else ends the number; a text without a leading number gives 0.
double leadingNumber(const QString& text)
{
    QString digits;
    bool seenDigit = false, seenPoint = false, seenExp = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
            c == QLatin1Char('\r'))
            continue;
        if (c.isDigit() && c.unicode() < 128) {
            digits += c;
            seenDigit = true;
        } else if ((c == QLatin1Char('+') || c == QLatin1Char('-')) &&
                   (digits.isEmpty() || digits.back() == QLatin1Char('e'))) {
            digits += c;
        } else if (c == QLatin1Char('.') && !seenPoint && !seenExp) {
            digits += c;
            seenPoint = true;
        } else if ((c == QLatin1Char('e') || c == QLatin1Char('E') || c == QLatin1Char('d') ||
                    c == QLatin1Char('D')) &&
                   seenDigit && !seenExp) {
            digits += QLatin1Char('e');
            seenExp = true;
        } else {
            break;
        }
    }
    // Drop an unfinished exponent or sign at the end.
    while (!digits.isEmpty() && (digits.back() == QLatin1Char('e') || digits.back() == QLatin1Char('+') ||
                                 digits.back() == QLatin1Char('-')))
        digits.chop(1);
    if (!seenDigit)
        return 0.0;
    bool ok = false;
    const double v = digits.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

// True when `code` may stand in a folder path: empty (the files then lie
// under the root folder itself) or a plain folder name.
bool codeIsFolderSafe(const QString& code)
{
    if (code.isEmpty())
        return true;
    if (code.contains(QLatin1String("..")) || code == QLatin1String("."))
        return false;
    for (const QChar c : code) {
        const char16_t u = c.unicode();
        if (u < 32 || u == 127 || QStringLiteral("<>:\"/\\|?*").contains(c) || c == platform::separator())
            return false;
    }
    return true;
}

void showFolderError(Context& ctx, const QString& first, const QString& path, const Error& err)
{
    ctx.prompt.show(first + QLatin1Char('\n') + path + QLatin1Char('\n') + QString::number(err.number) +
                        QLatin1Char('-') + err.text,
                    MsgStyle::Ok);
}

// Tests a folder and creates it (one level) when missing; with `wouldCreate`
// (a load that writes nothing) the folder is listed there instead.
Error ensureFolder(const QString& folder, QStringList* wouldCreate)
{
    if (platform::isDirectory(folder))
        return Error{};
    if (wouldCreate) {
        // Folders are made one level at a time: one whose parent is neither
        // there nor about to be made could not be made either.
        auto bare = [](QString p) {
            while (p.size() > 1 && p.endsWith(platform::separator()))
                p.chop(1);
            return p;
        };
        const QString path = bare(folder);
        const QString parent = path.left(qMax<qsizetype>(path.lastIndexOf(platform::separator()), 1));
        bool parentComing = false;
        for (const QString& f : std::as_const(*wouldCreate))
            parentComing = parentComing || bare(f) == parent;
        if (!parent.isEmpty() && !platform::isDirectory(parent) && !parentComing)
            return platform::fileErrorFromErrno(ENOENT, folder);
        *wouldCreate << folder;
        return Error{};
    }
    return platform::makeDirectory(folder);
}

} // namespace

QString productName()
{
    return QStringLiteral("Mirsal");
}

IniLocation LocateIni(const QString& programFolder, const QString& programName)
{
    const QString ext = QStringLiteral(".ini");
    const QString local = programFolder.isEmpty() ? QString() : withSeparator(programFolder);
    const QString shared = CartellaWindows();
    struct Candidate
    {
        QString folder;
        QString name;
        bool bare;
    };
    const Candidate candidates[] = {
        {local, programName + ext, false},
        {local, productName() + ext, false},
        {shared, programName + ext, true},
        {shared, productName() + ext, true},
    };
    IniLocation loc;
    for (const Candidate& c : candidates) {
        if (c.folder.isEmpty() || c.name == ext)
            continue;
        const QString full = platform::resolve(c.folder + c.name);
        if (!platform::isFile(full))
            continue;
        loc.found = true;
        loc.fullPath = full;
        if (c.bare) {
            QString folder, name;
            platform::splitPath(full, folder, name);
            loc.fileIni = name;
        } else {
            loc.fileIni = full;
        }
        return loc;
    }
    loc.fileIni = productName() + ext;
    return loc;
}

QString LeggiIni(const QString& file, const QString& section, const QString& key, QString* failure)
{
    QString buffer, why;
    const int count = ProfileFile::read(file, section, key, QString(), buffer, 100, &why);
    if (!why.isEmpty() && failure && failure->isEmpty())
        *failure = ProfileFile::locate(file) + QLatin1Char('\n') + why;
    if (qint16(count) <= 0)
        return QString();
    QString value = TagliaNul(buffer);
    const qsizetype tab = value.indexOf(QLatin1Char('\t'));
    if (tab >= 0)
        value.truncate(tab);
    const qsizetype comment = value.indexOf(QLatin1String(" ;"));
    if (comment >= 0)
        value.truncate(comment);
    qsizetype a = 0, b = value.size();
    while (a < b && value.at(a) == QLatin1Char(' '))
        ++a;
    while (b > a && value.at(b - 1) == QLatin1Char(' '))
        --b;
    return value.mid(a, b - a);
}

QString LeggiIni(Context& ctx, const QString& section, const QString& key)
{
    return LeggiIni(ctx.config.FileIni, section, key, &ctx.LetturaIniFallita);
}

Error ScriviIni(const QString& file, const QString& section, const QString& key, const QString& value,
                bool* changed)
{
    return ProfileFile::write(file, section, key, value, changed);
}

QString MessaggioScritturaIni(const Error& error)
{
    return QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE") + QLatin1Char('\n') + error.path +
           QLatin1Char('\n') + QStringLiteral("non si può scrivere: ") + QString::number(error.number) +
           QLatin1Char('-') + error.text;
}

QString MessaggioDataNonRegistrata(const Error& error)
{
    return MessaggioScritturaIni(error) + QLatin1Char('\n') +
           QStringLiteral("La data di questo aggiornamento non è stata registrata.");
}

namespace {

// Longest operator code: the folder names and keys of the operator are built on it.
constexpr int kMaxCodeLength = 13;

// What is wrong with the configuration file or its operator codes; empty
// when nothing is.
QString problemaIni(Context& ctx)
{
    const QString& fileIni = ctx.config.FileIni;
    const QString problem = ProfileFile::problem(fileIni);
    if (!problem.isEmpty())
        return QStringLiteral("Il file ") + problem + QLatin1Char('.');
    QStringList tooLong;
    for (const char* section : {"BASE", "EXPORT"}) {
        const QString code = LeggiIni(ctx, QString::fromLatin1(section), QStringLiteral("OPERATORE"));
        if (code.size() > kMaxCodeLength)
            tooLong << QStringLiteral("[") + QString::fromLatin1(section) + QStringLiteral("] OPERATORE");
    }
    if (!tooLong.isEmpty())
        return tooLong.join(QStringLiteral(", ")) +
               QStringLiteral(": codice operatore troppo lungo (al massimo ") +
               QString::number(kMaxCodeLength) + QStringLiteral(" caratteri), non usato.");
    return QString();
}

} // namespace

void CaricaPercorsi(Context& ctx)
{
    Configurazione& c = ctx.config;
    // A load starts afresh: what it reads is what a run will rely on.
    ctx.LetturaIniFallita.clear();
    // A file that cannot be read, or is no configuration file at all, is told
    // as such: every value would otherwise silently take its default.
    ctx.ProblemaIni = problemaIni(ctx);
    if (!ctx.ProblemaIni.isEmpty())
        ctx.prompt.show(QStringLiteral("ERRORE NEL FILE DI CONFIGURAZIONE") + QLatin1Char('\n') +
                            ProfileFile::locate(c.FileIni) + QLatin1Char('\n') + ctx.ProblemaIni,
                        MsgStyle::ExclamationOk);
    const QString root = platform::driveRoot().left(3);
    c.PathDati = LeggiIni(ctx, kSectionPath, QStringLiteral("FILE"));
    if (c.PathDati.trimmed().isEmpty())
        c.PathDati = root;
    c.PathDati = withSeparator(c.PathDati);
    c.PathWork = LeggiIni(ctx, kSectionPath, QStringLiteral("WORK"));
    if (c.PathWork.trimmed().isEmpty())
        c.PathWork = root;
    c.PathWork = withSeparator(c.PathWork);
    c.OperatoreBase = LeggiIni(ctx, QStringLiteral("BASE"), QStringLiteral("OPERATORE"));
}

QString PreparaCartella(Context& ctx, const QString& label, const QString& folder, QStringList* wouldCreate)
{
    const QString first = QStringLiteral("ERRORE ") + label;
    // No folder at all (its default came from a folder that could not be
    // prepared, and that failure was already reported): it stays empty rather
    // than becoming the root folder.
    if (folder.trimmed().isEmpty())
        return QString();
    QString path = folder;
    const qsizetype marker = path.indexOf(QLatin1Char('%'));
    if (marker >= kMaxMarkerPosition) {
        showFolderError(ctx, first, path, platform::fileError(64, path));
        return QString();
    }
    if (marker >= 0)
        path.truncate(marker);
    path = withSeparator(path);
    if (const Error err = ensureFolder(path, wouldCreate)) {
        showFolderError(ctx, first, path, err);
        return QString();
    }
    if (marker >= 0) {
        // An operator code that is no plain folder name gets no folder of its
        // own: reported like a bad file name, the field stays empty.
        if (!codeIsFolderSafe(ctx.CodOperatore)) {
            showFolderError(ctx, first, path + ctx.CodOperatore, platform::fileError(64, path));
            return QString();
        }
        path += ctx.CodOperatore + platform::separator();
        if (const Error err = ensureFolder(path, wouldCreate)) {
            showFolderError(ctx, first, path, err);
            return QString();
        }
    }
    return path;
}

void CaricaParametri(Context& ctx, QStringList* wouldCreate)
{
    Configurazione& c = ctx.config;
    const QString& op = ctx.CodOperatore;
    const QString sep = platform::sep();
    // The code is part of every per-operator path: one that could lead out of
    // the data folder gives no per-operator path at all.
    const bool opSafe = codeIsFolderSafe(op);

    // 1. Database files of the operator.
    c.DbDati = opSafe ? c.PathDati + op + sep + QStringLiteral("DatiDV.mdb") : QString();
    c.DbVisite = opSafe ? c.PathDati + op + sep + QStringLiteral("VisiteDV.mdb") : QString();
    c.DbWork = opSafe ? c.PathWork + op + sep + QStringLiteral("WorkDV.mdb") : QString();

    // 2-3. Report modules.
    c.PathModuli = LeggiIni(ctx, QStringLiteral("REPORT"), QStringLiteral("MODULI"));
    if (c.PathModuli.isEmpty())
        c.PathModuli = c.PathDati;
    if (!opSafe)
        c.PathModuliOperatore.clear();
    else if (!op.trimmed().isEmpty())
        c.PathModuliOperatore = c.PathModuli + op + sep;

    // 4-5. Save folder, then the operator's own inside it.
    c.PathSave = LeggiIni(ctx, kSectionPath, QStringLiteral("SAVE"));
    if (c.PathSave.isEmpty())
        c.PathSave = c.PathDati + QStringLiteral("save") + sep;
    c.PathSave = withSeparator(c.PathSave);
    if (const Error err = ensureFolder(c.PathSave, wouldCreate))
        showFolderError(ctx, QStringLiteral("ERRORE SAVE"), c.PathSave, err);
    if (opSafe) {
        c.PathSave = c.PathSave + op + sep;
        if (const Error err = ensureFolder(c.PathSave, wouldCreate))
            showFolderError(ctx, QStringLiteral("ERRORE SAVE"), c.PathSave, err);
    } else {
        c.PathSave.clear();
    }

    // 6. Prints.
    c.PathStampe = LeggiIni(ctx, kSectionPath, QStringLiteral("STAMPE"));
    if (c.PathStampe.isEmpty())
        c.PathStampe = c.PathDati;

    // 7-10. Working folders, created when missing.
    QString v = LeggiIni(ctx, kSectionPath, QStringLiteral("TEMP"));
    c.PathTemp = PreparaCartella(ctx, QStringLiteral("TEMP"),
                                 v.isEmpty() ? c.PathDati + QStringLiteral("temp") + sep : v, wouldCreate);
    v = LeggiIni(ctx, kSectionPath, QStringLiteral("TESTI"));
    c.PathTesti = PreparaCartella(ctx, QStringLiteral("TESTI"), v.isEmpty() ? c.PathDati : v, wouldCreate);
    v = LeggiIni(ctx, kSectionPath, QStringLiteral("FOGLI"));
    c.PathFogli = PreparaCartella(ctx, QStringLiteral("FOGLI"), v.isEmpty() ? c.PathTesti : v, wouldCreate);
    v = LeggiIni(ctx, kSectionPath, QStringLiteral("IMPEXP"));
    c.PathImpExp = PreparaCartella(ctx, QStringLiteral("IMPEXP"), v.isEmpty() ? c.PathTemp : v, wouldCreate);

    // 11. Positive movements flag.
    c.FlagMovPos = LeggiIni(ctx, kSectionParametri, QStringLiteral("cmmovpos")).trimmed().toUpper() ==
                   QLatin1String("S");

    // 12. Print type: the comparison is case-sensitive.
    v = LeggiIni(ctx, QStringLiteral("STAMPA"), QStringLiteral("TIPO"));
    c.TipoStampa = v.isEmpty() ? QStringLiteral(" ") : v.left(1);
    if (c.TipoStampa != QLatin1String("V") && c.TipoStampa != QLatin1String("D") &&
        c.TipoStampa != QLatin1String("P"))
        c.TipoStampa = QStringLiteral("V");

    // 13-14. Currency codes.
    c.CodLire = QStringLiteral("LIT");
    v = LeggiIni(ctx, kSectionEuro, QStringLiteral("CODLIT"));
    if (!v.isEmpty())
        c.CodLire = v.trimmed();
    c.CodEuro = QStringLiteral("EUR");
    v = LeggiIni(ctx, kSectionEuro, QStringLiteral("CODEUR"));
    if (!v.isEmpty())
        c.CodEuro = v.trimmed();

    // 15. Lire per euro.
    c.CambioLire = 1936.27;
    v = LeggiIni(ctx, kSectionEuro, QStringLiteral("LIRE"));
    if (!v.isEmpty() && IsNumeric(v.trimmed()))
        c.CambioLire = ToNumber(v.trimmed());

    // 16. Highlight colour: red 255, green 255, blue 128.
    c.ColoreEvidenza = 0x0080FFFFu;

    // 17. Base currency.
    c.CodBase = c.CodEuro;
    v = LeggiIni(ctx, kSectionEuro, QStringLiteral("CODBASE"));
    if (!v.isEmpty())
        c.CodBase = v.trimmed();

    // 18. Amount format from the number of decimals.
    QString d = LeggiIni(ctx, kSectionParametri, QStringLiteral("DECIMALI"));
    if (d.trimmed().isEmpty() || !IsNumeric(d))
        d = QStringLiteral("2");
    const double decimals = ToNumber(d);
    if (decimals > 0) {
        if (const auto n = roundToRange(decimals, 0, kMaxDecimals))
            c.FormatoImporti = QStringLiteral("#,###,###,##0.") + QString(qsizetype(*n), QLatin1Char('0'));
    } else {
        c.FormatoImporti = QStringLiteral("###,###,##0");
    }

    // 19. Mandate numbers "a-b"; a missing or zero number becomes 9.
    c.Mandato1 = 0;
    c.Mandato2 = 0;
    const QString m = LeggiIni(ctx, kSectionParametri, QStringLiteral("MANDATO"));
    const qsizetype dash = m.indexOf(QLatin1Char('-'));
    if (!m.trimmed().isEmpty() && dash >= 0) {
        if (const auto a = roundToRange(leadingNumber(m.left(dash)), 0, 255))
            c.Mandato1 = quint8(*a);
        if (const auto b = roundToRange(leadingNumber(m.mid(dash + 1)), 0, 255))
            c.Mandato2 = quint8(*b);
    }
    if (c.Mandato1 == 0)
        c.Mandato1 = 9;
    if (c.Mandato2 == 0)
        c.Mandato2 = 9;

    // 20. Movement reasons.
    auto orDefault = [&](const QString& key, const QString& def) {
        const QString value = LeggiIni(ctx, kSectionParametri, key);
        return value.isEmpty() ? def : value;
    };
    c.CauSaldoIniPiu = orDefault(QStringLiteral("SaldoIni+"), QStringLiteral("SI+"));
    c.CauSaldoIniMeno = orDefault(QStringLiteral("SaldoIni-"), QStringLiteral("SI-"));
    c.CauPiu = orDefault(QStringLiteral("CauPlus"), QStringLiteral("PM+"));
    c.CauMeno = orDefault(QStringLiteral("CauMinus"), QStringLiteral("PM-"));

    // 21. Period.
    c.Periodo = 4;
    v = LeggiIni(ctx, kSectionParametri, QStringLiteral("Periodo")).trimmed();
    if (IsNumeric(v)) {
        if (const auto n = roundToRange(ToNumber(v), 0, 255))
            c.Periodo = quint8(*n);
    }

    // 22. Reference calendar year.
    c.AnnoSolare = qint16(QDate::currentDate().year() - 1);
    v = LeggiIni(ctx, kSectionParametri, QStringLiteral("AnnoSolare")).trimmed();
    if (IsNumeric(v)) {
        if (const auto n = roundToRange(ToNumber(v), -32768, 32767))
            c.AnnoSolare = qint16(*n);
    }

    // 23. Raw value.
    c.VitaRiv = LeggiIni(ctx, kSectionParametri, QStringLiteral("vitariv"));
}

bool CodiceOperatoreValido(const QString& code)
{
    if (CompareBinary(code, QStringLiteral("0")) <= 0 || code.size() > kMaxCodeLength)
        return false;
    if (!codeIsFolderSafe(code))
        return false;
    // Windows folder names cannot end with a blank or a dot, nor be a device name.
    if (code.endsWith(QLatin1Char(' ')) || code.endsWith(QLatin1Char('.')))
        return false;
    static const QStringList reserved = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),  QStringLiteral("NUL"),
        QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
        QStringLiteral("COM5"), QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
        QStringLiteral("LPT4"), QStringLiteral("LPT5"), QStringLiteral("LPT6"), QStringLiteral("LPT7"),
        QStringLiteral("LPT8"), QStringLiteral("LPT9")};
    const QString stem = code.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    return !reserved.contains(stem);
}

} // namespace mirsalex
