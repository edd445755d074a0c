#pragma once

#include <QString>
#include <QtGlobal>

namespace mirsalex {

// Values loaded from the configuration file; one record for the whole
// process, filled by the loading steps and read by everyone.
struct Configurazione
{
    QString FileIni;
    QString PathDati;
    QString PathWork;
    QString OperatoreBase;
    QString DbDati;
    QString DbVisite;
    QString DbWork;
    QString PathModuli;
    QString PathModuliOperatore;
    QString PathSave;
    QString PathStampe;
    QString PathTemp;
    QString PathTesti;
    QString PathFogli;
    QString PathImpExp;
    bool FlagMovPos = false;
    QString TipoStampa = QStringLiteral("V");
    QString CodLire = QStringLiteral("LIT");
    QString CodEuro = QStringLiteral("EUR");
    QString CodBase = QStringLiteral("EUR");
    double CambioLire = 1936.27;
    quint32 ColoreEvidenza = 0x0080FFFF; // red 255, green 255, blue 128 as 0x00BBGGRR
    QString FormatoImporti = QStringLiteral("#,###,###,##0.00");
    quint8 Mandato1 = 9;
    quint8 Mandato2 = 9;
    QString CauSaldoIniPiu = QStringLiteral("SI+");
    QString CauSaldoIniMeno = QStringLiteral("SI-");
    QString CauPiu = QStringLiteral("PM+");
    QString CauMeno = QStringLiteral("PM-");
    quint8 Periodo = 4;
    qint16 AnnoSolare = 0;
    QString VitaRiv;
};

} // namespace mirsalex
