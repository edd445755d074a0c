#pragma once

#include "common/Prompt.h"
#include "db/Database.h"
#include "db/Snapshot.h"
#include "db/TableRecordset.h"

#include <array>
#include <optional>
#include <QString>
#include <QtGlobal>

namespace mirsalex {

// The client the last lookup found or added: code, name held in 35
// characters and visits text held in 13 characters.
struct ClienteCorrente
{
    qint32 codice = 0;
    QString ragsoc;
    QString visite;
};

// A field of a client, in the order in which a new client is written, and
// whether it passes through NumeroOZero (true) or TestoODefault (false).
struct ClientField
{
    const char* name;
    bool numeric;
};
extern const std::array<ClientField, 28> kClientFields;

// Width in which the name and the visits text of a client are held.
constexpr int kRagsocWidth = 35;
constexpr int kVisiteWidth = 13;

// The local clients table opened for indexed search, and the lookup that
// adds a missing client from the exchange row being walked.
class ClientTransfer
{
public:
    ClientTransfer(Prompt& prompt, Database& db);

    // Opens `Clienti` of the local database on its primary index. On failure
    // asks Retry/Cancel, the text asked becoming the step's context text
    // `context`; returns false after Cancel.
    bool ApriClienti(QString& context);

    // Looks up client `Elemento`; when missing, adds it from `exchangeRow`
    // with all its fields normalised. True when it was found locally. A
    // failure is shown (OK goes on, Cancel stops the walk: see stopped())
    // and gives false. The pending batch is committed before any message is
    // shown.
    bool LeggiCliente(qint32 Elemento, const Snapshot& exchangeRow);
    // Whether the user chose Cancel after the last lookup failed.
    bool stopped() const { return m_stopped; }

    const ClienteCorrente& cliente() const;

    // The checks of the client the last lookup found against the exchange
    // row's name (the whole names, blanks around them aside, case counting;
    // cliente() still holds the local one in 35 characters for the question)
    // and visits text (held in 13 characters). Decided on the stored bytes
    // while they are plain ASCII, on the texts otherwise.
    bool sameName(const Snapshot::Field& exchangeName) const;
    bool sameVisits(const Snapshot::Field& exchangeVisits) const;

    TableRecordset& ClientiLocali() { return m_clienti; }

    // A failure that cannot be reported client by client (the batch of
    // stored rows could not be committed): the synchronisation must end.
    Error fatal() const { return m_fatal; }
    // How many clients could not be looked up or added (each reported to the
    // user as it failed): the local table may then lack clients that the
    // exchange copy has.
    int failedClients() const { return m_failedClients; }

    void close() { m_clienti.close(); }

private:
    Error fillFrom(const QVariant& code, const QVariant& name, const QVariant& visits);
    // Fills ClienteCorrente from values as stored: the code at once, the
    // name and the visits text kept and converted only when cliente() is
    // asked for them.
    Error fillFromStored(const Snapshot::Field& code, const Snapshot::Field& name,
                         const Snapshot::Field& visits);
    // Fills ClienteCorrente from the exchange row of a client just added:
    // the code at once, the name and the visits text kept as stored and
    // converted only when cliente() is asked for them.
    Error fillFromRow(const Snapshot& row);
    // Sets local field `field` of the new row from exchange field `column`
    // through NumeroOZero (`numeric`) or TestoODefault.
    Error setNormalised(int field, const Snapshot& row, int column, bool numeric);

    Prompt& m_prompt;
    Database& m_db;
    int m_failedClients = 0;
    bool m_stopped = false;
    TableRecordset m_clienti;
    mutable ClienteCorrente m_cliente;
    // Name and visits text of a client added from the exchange row, as
    // stored there, while m_cliente does not hold them yet.
    // (Cells holding their bytes, their room reused from client to client.)
    using HeldField = Cell;
    HeldField m_heldName;
    HeldField m_heldVisits;
    mutable bool m_held = false;
    // The local name is in m_heldName (kept after cliente() has converted
    // it), or else whole in m_localName.
    bool m_nameHeld = false;
    QString m_localName;
    Error m_fatal;
    std::array<int, 28> m_localIndex{};
    const Snapshot* m_exchangeRow = nullptr; // the walk whose fields are resolved below
    std::array<int, 28> m_exchangeIndex{};
};

// A client's name and visits text as held locally.
QString heldName(const QVariant& name);
QString heldVisits(const QVariant& visits);

// A client's local name whole, as the name check compares it (a blank for a
// Null, an empty or blank name, or one beginning with code 0).
QString localName(const QVariant& name);

// Whether the exchange name matches a local name (see localName): the two
// whole names, each without the blanks around it, are the same.
bool sameNameText(const QString& exchangeName, const QString& localName);

// The same checks on values as stored: the name (exchange and local) and
// the visits text (exchange and local, each held as heldVisits holds it).
// Decided on the bytes when each value is plain ASCII text (or, where a
// Null stands for a blank, Null); no answer otherwise.
std::optional<bool> sameNameStored(const Snapshot::Field& exchange, const Snapshot::Field& local);
std::optional<bool> sameVisitsStored(const Snapshot::Field& exchange, const Snapshot::Field& local);

// The value of a client code as a 32-bit signed integer: 94 when it is Null,
// 13 when it is not a whole number, 6 when it does not fit.
Error clientCode(const QVariant& value, qint32& code);

} // namespace mirsalex
