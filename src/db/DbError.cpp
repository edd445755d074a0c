#include "db/DbError.h"

namespace mirsalex {

QString dbErrorDescription(int number, const QString& object)
{
    switch (number) {
    case 0:
        return QString();
    case DbErr::Overflow:
        return QStringLiteral("Overflow");
    case DbErr::TypeMismatch:
        return QStringLiteral("Tipo non corrispondente");
    case DbErr::KeyTypeMismatch:
        return QStringLiteral("Tipo di dati non corrispondente nell'espressione criterio.");
    case DbErr::InvalidUseOfNull:
        return QStringLiteral("Utilizzo non valido di Null");
    case DbErr::IndexNotFound:
        return QStringLiteral("'%1' non è un indice di questa tabella.").arg(object);
    case DbErr::ObjectExists:
        return QStringLiteral("L'oggetto '%1' esiste già.").arg(object);
    case DbErr::UpdateWithoutEdit:
        return QStringLiteral("Update o CancelUpdate senza AddNew o Edit.");
    case DbErr::NoCurrentRecord:
        return QStringLiteral("Nessun record corrente.");
    case DbErr::DuplicateKey:
        return QStringLiteral(
            "Le modifiche richieste alla tabella non sono state apportate perché creerebbero "
            "valori duplicati nell'indice, nella chiave primaria o nella relazione.");
    case DbErr::FileNotFound:
        return QStringLiteral("Impossibile trovare il file '%1'.").arg(object);
    case DbErr::DiskFull:
        return QStringLiteral("Spazio su disco insufficiente.");
    case DbErr::ReadOnly:
        return QStringLiteral("Impossibile aggiornare. Il database o l'oggetto è di sola lettura.");
    case DbErr::ResourcesExhausted:
        return QStringLiteral("Risorse di sistema esaurite.");
    case DbErr::DiskOrNetworkError:
        return QStringLiteral("Errore del disco o della rete.");
    case DbErr::InvalidPath:
        return QStringLiteral("'%1' non è un percorso valido.").arg(object);
    case DbErr::CannotOpenDatabase:
        return QStringLiteral("Impossibile aprire il database '%1'. Il file potrebbe essere danneggiato.")
            .arg(object);
    case DbErr::CannotOpenFile:
        return QStringLiteral("Impossibile aprire il file '%1'. È in uso esclusivo da parte di un altro "
                              "utente oppure non si dispone delle autorizzazioni necessarie.")
            .arg(object);
    case DbErr::SelectNotExecutable:
        return QStringLiteral("Impossibile eseguire una query di selezione.");
    case DbErr::TableNotFound:
        return QStringLiteral("Impossibile trovare la tabella o la query di input '%1'.").arg(object);
    case DbErr::InvalidStatement:
        return QStringLiteral("Istruzione SQL non valida; prevista 'DELETE', 'INSERT' o 'UPDATE'.");
    case DbErr::ParameterCount:
        return QStringLiteral("Numero di parametri errato. Previsti %1.").arg(object);
    case DbErr::RecordLocked:
        return QStringLiteral("Impossibile aggiornare. Il database è attualmente bloccato.");
    case DbErr::InvalidOperation:
        return QStringLiteral("Operazione non valida.");
    case DbErr::ItemNotFound:
        return QStringLiteral("Elemento non trovato in questo insieme.");
    case DbErr::NullInRequiredField:
        return QStringLiteral("Il campo '%1' non può contenere un valore Null.").arg(object);
    case DbErr::ValidationRule:
        return QStringLiteral("Uno o più valori non sono consentiti dalla regola di convalida.");
    case DbErr::UnrecognisedFormat:
        return QStringLiteral("Formato di database '%1' non riconosciuto.").arg(object);
    case DbErr::ObjectClosed:
        return QStringLiteral("Oggetto non valido o non più impostato.");
    case DbErr::ConversionError:
        return QStringLiteral("Errore di conversione del tipo di dati.");
    default:
        return QStringLiteral("Errore riservato (%1); non esiste alcun messaggio per questo errore.")
            .arg(number);
    }
}

Error dbError(int number, const QString& object)
{
    if (number == 0)
        return Error{};
    // The object of ParameterCount is the count expected, not a path.
    return Error{ErrorDomain::Database, number, dbErrorDescription(number, object),
                 number == DbErr::ParameterCount ? QString() : object};
}

Error dbErrorWithDetail(int number, const QString& object, const QString& detail)
{
    Error e = dbError(number, object);
    if (!detail.isEmpty())
        e.text += QStringLiteral(" (") + detail + QLatin1Char(')');
    return e;
}

} // namespace mirsalex
