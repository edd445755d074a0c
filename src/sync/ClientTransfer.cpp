#include "sync/ClientTransfer.h"

#include "common/Helpers.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace mirsalex {

namespace {

// True when TestoODefault replaces a stored text by its default: empty, only
// blanks, or beginning with the character of code 0.
bool textTakesDefault(QByteArrayView text)
{
    if (text.isEmpty() || text.front() == '\0')
        return true;
    for (const char c : text) {
        if (c != ' ')
            return false;
    }
    return true;
}

bool plainAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Blanks (only) removed at both ends.
QByteArrayView trimBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.sliced(begin, end - begin);
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.sliced(begin, end - begin);
}

QByteArrayView firstBytes(QByteArrayView text, qsizetype n)
{
    return text.first(qMin(text.size(), n));
}

// A text (or Null) held in a width as plain ASCII, before its padding: what
// TestoODefault gives (a blank for a Null, an empty or blank text or one
// beginning with the character of code 0), cut to `width`. No answer for a
// value of any other kind or not plain ASCII.
std::optional<QByteArrayView> heldBytes(const Snapshot::Field& value, qsizetype width)
{
    static const QByteArrayView blank(" ", 1);
    if (value.kind == Snapshot::Stored::Null)
        return blank;
    if (value.kind != Snapshot::Stored::Text || !plainAscii(value.bytes))
        return std::nullopt;
    return textTakesDefault(value.bytes) ? blank : firstBytes(value.bytes, width);
}

} // namespace

QString heldName(const QVariant& name)
{
    return FixedWidth(TestoODefault(name), kRagsocWidth);
}

QString heldVisits(const QVariant& visits)
{
    return FixedWidth(TestoODefault(visits), kVisiteWidth);
}

QString localName(const QVariant& name)
{
    return TestoODefault(name);
}

bool sameNameText(const QString& exchangeName, const QString& localName)
{
    return trimBlanks(QStringView(exchangeName)) == trimBlanks(QStringView(localName));
}

std::optional<bool> sameNameStored(const Snapshot::Field& exchange, const Snapshot::Field& local)
{
    // The exchange name is taken as it is, never replaced by a default.
    if (exchange.kind != Snapshot::Stored::Text || !plainAscii(exchange.bytes))
        return std::nullopt;
    // Both names whole: two names that differ only after the characters the
    // window shows are different clients.
    const std::optional<QByteArrayView> whole = heldBytes(local, local.bytes.size());
    if (!whole)
        return std::nullopt;
    return trimBlanks(exchange.bytes) == trimBlanks(*whole);
}

std::optional<bool> sameVisitsStored(const Snapshot::Field& exchange, const Snapshot::Field& local)
{
    const std::optional<QByteArrayView> a = heldBytes(exchange, kVisiteWidth);
    const std::optional<QByteArrayView> b = heldBytes(local, kVisiteWidth);
    if (!a || !b)
        return std::nullopt;
    // Both are padded with blanks to the same width: they agree where both
    // have characters, and the longer one has only blanks beyond.
    const qsizetype common = qMin(a->size(), b->size());
    if (a->first(common) != b->first(common))
        return false;
    const QByteArrayView rest = a->size() > common ? a->sliced(common) : b->sliced(common);
    for (const char c : rest) {
        if (c != ' ')
            return false;
    }
    return true;
}

const std::array<ClientField, 28> kClientFields = {{
    {"CliCodice", true},        {"CliRagsoc", false},        {"CliRagsocEstesa", false},
    {"CliIndirizzo", false},    {"CliLocalita", false},      {"CliCap", false},
    {"CliProvincia", false},    {"CliNazione", false},       {"CliTelefono", false},
    {"CliTelefono1", false},    {"CliTelefono2", false},     {"CliTelefono3", false},
    {"CliPartitaIva", false},   {"CliCodiceFiscale", false}, {"CliCategoria", false},
    {"CliAgevolazione", false}, {"CliSesso", false},         {"CliNatoA", false},
    {"CliNatoIl", true},        {"CliDocumTipo", false},     {"CliDocumento", false},
    {"CliDocRilascA", false},   {"CliDocRilascIl", false},   {"CliContoCo", false},
    {"CliVisite", false},       {"CliAbbinamento", true},    {"CliUltimaVisita", true},
    {"CliOraVisita", false},
}};

Error clientCode(const QVariant& value, qint32& code)
{
    code = 0;
    if (value.isNull())
        return dbError(DbErr::InvalidUseOfNull);
    double number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long: {
        const qlonglong v = value.toLongLong();
        if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
            return dbError(DbErr::Overflow);
        code = qint32(v);
        return {};
    }
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::ULong: {
        const qulonglong v = value.toULongLong();
        if (v > qulonglong(std::numeric_limits<qint32>::max()))
            return dbError(DbErr::Overflow);
        code = qint32(v);
        return {};
    }
    case QMetaType::Double:
    case QMetaType::Float:
        number = value.toDouble();
        break;
    case QMetaType::QString: {
        const QString t = value.toString().trimmed();
        bool ok = false;
        const qlonglong v = t.toLongLong(&ok);
        if (ok) {
            if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
                return dbError(DbErr::Overflow);
            code = qint32(v);
            return {};
        }
        number = t.toDouble(&ok);
        if (!ok)
            return dbError(DbErr::TypeMismatch);
        break;
    }
    default:
        return dbError(DbErr::TypeMismatch);
    }
    // A code with a fractional part names no client: rounding it would merge
    // the row into another client.
    if (!std::isfinite(number) || std::floor(number) != number)
        return dbError(DbErr::TypeMismatch);
    if (number < double(std::numeric_limits<qint32>::min()) ||
        number > double(std::numeric_limits<qint32>::max()))
        return dbError(DbErr::Overflow);
    code = qint32(number);
    return {};
}

ClientTransfer::ClientTransfer(Prompt& prompt, Database& db) : m_prompt(prompt), m_db(db), m_clienti(db)
{
    m_localIndex.fill(-1);
}

bool ClientTransfer::ApriClienti(QString& context)
{
    // Asked again for as long as the user chooses Retry.
    for (;;) {
        Error e = m_clienti.open(QStringLiteral("Clienti"));
        if (!e)
            e = m_clienti.setIndex(QStringLiteral("primaria"));
        if (!e) {
            // Only these are compared after a lookup; the others are read on demand.
            static_cast<void>(m_clienti.setFetchFields(
                {QStringLiteral("CliCodice"), QStringLiteral("CliRagsoc"), QStringLiteral("CliVisite")}));
            for (size_t i = 0; i < kClientFields.size(); ++i)
                m_localIndex[i] = m_clienti.fieldIndex(QLatin1String(kClientFields[i].name));
            return true;
        }
        m_clienti.close();
        context = QStringLiteral("ERRORE IN APERTURA ARCHIVIO 'CLIENTI'") + QLatin1Char('\n') +
                  QString::number(e.number) + QStringLiteral(": ") + e.text;
        if (m_prompt.show(context, MsgStyle::ExclamationRetryCancel, context) != AnswerRetry)
            return false;
    }
}

Error ClientTransfer::fillFrom(const QVariant& code, const QVariant& name, const QVariant& visits)
{
    qint32 c = 0;
    if (Error e = clientCode(NumeroOZero(code), c))
        return e;
    m_held = false;
    m_nameHeld = false;
    m_localName = localName(name);
    m_cliente.codice = c;
    m_cliente.ragsoc = heldName(name);
    m_cliente.visite = heldVisits(visits);
    return {};
}

Error ClientTransfer::fillFromStored(const Snapshot::Field& code, const Snapshot::Field& name,
                                     const Snapshot::Field& visits)
{
    qint32 c = 0;
    if (code.kind == Snapshot::Stored::Integer && code.whole >= std::numeric_limits<qint32>::min() &&
        code.whole <= std::numeric_limits<qint32>::max())
        c = qint32(code.whole);
    else if (Error e = clientCode(NumeroOZero(code.toVariant()), c))
        return e;
    m_cliente.codice = c;
    m_heldName.take(name);
    m_heldVisits.take(visits);
    m_held = true;
    m_nameHeld = true;
    return {};
}

Error ClientTransfer::fillFromRow(const Snapshot& row)
{
    return fillFromStored(row.field(m_exchangeIndex[0]), row.field(m_exchangeIndex[1]),
                          row.field(m_exchangeIndex[24]));
}

const ClienteCorrente& ClientTransfer::cliente() const
{
    if (m_held) {
        m_cliente.ragsoc = heldName(m_heldName.toVariant());
        m_cliente.visite = heldVisits(m_heldVisits.toVariant());
        m_held = false;
    }
    return m_cliente;
}

bool ClientTransfer::sameName(const Snapshot::Field& exchangeName) const
{
    // The whole local name, not the 35 characters the question shows.
    if (m_nameHeld) {
        if (const std::optional<bool> same = sameNameStored(exchangeName, m_heldName.view()))
            return *same;
        return sameNameText(exchangeName.toVariant().toString(), localName(m_heldName.toVariant()));
    }
    return sameNameText(exchangeName.toVariant().toString(), m_localName);
}

bool ClientTransfer::sameVisits(const Snapshot::Field& exchangeVisits) const
{
    if (m_held) {
        if (const std::optional<bool> same = sameVisitsStored(exchangeVisits, m_heldVisits.view()))
            return *same;
    }
    return heldVisits(exchangeVisits.toVariant()) == cliente().visite;
}

Error ClientTransfer::setNormalised(int field, const Snapshot& row, int column, bool numeric)
{
    // The common cases are decided on the value as stored: one that the
    // normaliser passes unchanged is bound straight from the exchange row,
    // one it replaces by its default gets the default, bound from constant
    // storage. Both give exactly what the normalisers give.
    static const Snapshot::Field zero{Snapshot::Stored::Integer, 0, 0, {}};
    static const Snapshot::Field blank{Snapshot::Stored::Text, 0, 0, QByteArrayView(" ", 1)};
    const Snapshot::Field value = row.field(column);
    if (numeric) {
        if (value.kind == Snapshot::Stored::Integer || value.kind == Snapshot::Stored::Real)
            return m_clienti.setValue(field, row, value); // a number passes unchanged
        if (value.kind == Snapshot::Stored::Null)
            return m_clienti.setValue(field, row, zero);
        return m_clienti.setValue(field, NumeroOZero(value.toVariant()));
    }
    if (value.kind == Snapshot::Stored::Null)
        return m_clienti.setValue(field, row, blank);
    if (value.kind == Snapshot::Stored::Text)
        return m_clienti.setValue(field, row, textTakesDefault(value.bytes) ? blank : value);
    return m_clienti.setValue(field, QVariant(TestoODefault(value.toVariant())));
}

bool ClientTransfer::LeggiCliente(qint32 Elemento, const Snapshot& exchangeRow)
{
    m_stopped = false;
    bool result = false;
    Error e = m_clienti.seek({Elemento});
    if (!e && m_clienti.noMatch()) {
        e = m_clienti.addNew();
        if (m_exchangeRow != &exchangeRow) {
            for (size_t i = 0; i < kClientFields.size(); ++i)
                m_exchangeIndex[i] = exchangeRow.fieldIndex(QLatin1String(kClientFields[i].name));
            m_exchangeRow = &exchangeRow;
        }
        for (size_t i = 0; !e && i < kClientFields.size(); ++i) {
            if (m_exchangeIndex[i] < 0) {
                e = dbError(DbErr::ItemNotFound);
                break;
            }
            if (m_localIndex[i] < 0) {
                e = dbError(DbErr::ItemNotFound);
                break;
            }
            e = setNormalised(m_localIndex[i], exchangeRow, m_exchangeIndex[i], kClientFields[i].numeric);
        }
        if (!e)
            e = m_clienti.update();
        if (!e)
            e = fillFromRow(exchangeRow);
    } else if (!e) {
        if (m_localIndex[0] < 0 || m_localIndex[1] < 0 || m_localIndex[24] < 0)
            e = dbError(DbErr::ItemNotFound);
        else {
            Snapshot::Field code, name, visits;
            if (m_clienti.stored(m_localIndex[0], code) && m_clienti.stored(m_localIndex[1], name) &&
                m_clienti.stored(m_localIndex[24], visits))
                e = fillFromStored(code, name, visits);
            else
                e = fillFrom(m_clienti.value(m_localIndex[0]), m_clienti.value(m_localIndex[1]),
                             m_clienti.value(m_localIndex[24]));
        }
        if (!e)
            result = true;
    }
    if (!e)
        return result;

    // Failure: the row being added is abandoned; what was stored before is
    // made durable before the user is asked anything.
    m_clienti.cancelUpdate();
    if (m_db.changesRefused()) {
        // No version of the file could be kept: nothing is written to it.
        m_fatal = e;
        return result;
    }
    ++m_failedClients;
    if (Error c = m_db.commitBatch()) {
        m_fatal = c;
        return result;
    }
    m_stopped = m_prompt.show(QStringLiteral("ERRORE IN AGGIORNAMENTO CLIENTE  ") + QString::number(Elemento),
                              MsgStyle::ExclamationOkCancel, QStringLiteral("ERRORE")) == AnswerCancel;
    return result;
}

} // namespace mirsalex
