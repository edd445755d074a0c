#include "run/RunReport.h"

#include "common/Helpers.h"
#include "common/Prompt.h"

#include <cstring>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace mirsalex {

CheckState& casella(WindowState& w, Casella box)
{
    switch (box) {
    case Casella::Dati:
        return w.chkDati;
    case Casella::Visite:
        return w.chkVisite;
    case Casella::Indici:
        return w.Check1[0];
    case Casella::Schede:
        return w.Check1[1];
    case Casella::Fogli:
        break;
    }
    return w.Check1[2];
}

const CheckState& casella(const WindowState& w, Casella box)
{
    return casella(const_cast<WindowState&>(w), box);
}

const StepReport* RunReport::firstFailure() const
{
    for (const StepReport& s : steps) {
        if (s.failed())
            return &s;
    }
    return nullptr;
}

std::vector<const StepReport*> RunReport::incompleteSteps() const
{
    std::vector<const StepReport*> list;
    for (const StepReport& s : steps) {
        if (s.incomplete())
            list.push_back(&s);
    }
    return list;
}

const StepReport& RunReport::of(const char* name) const
{
    for (const StepReport& s : steps) {
        if (s.step && std::strcmp(s.step->name, name) == 0)
            return s;
    }
    static const StepReport none;
    return none;
}

int RunReport::exitStatus() const
{
    if (refused)
        return exitstatus::kLocked;
    if (!configurationUnread.isEmpty() || firstFailure())
        return exitstatus::kFailed;
    for (const StepReport& s : steps) {
        // A step asked for and never reached can only follow a failure; it is
        // counted as one all the same, should a report ever hold it alone.
        if (s.state == StepReport::State::NotReached)
            return exitstatus::kFailed;
    }
    return incompleteSteps().empty() ? exitstatus::kCompleted : exitstatus::kIncomplete;
}

QString describeStep(const StepReport& s)
{
    switch (s.state) {
    case StepReport::State::NotTicked:
        return QStringLiteral("non richiesto");
    case StepReport::State::NotReached:
        return QStringLiteral("non eseguito: la sessione si e' fermata a un errore precedente");
    case StepReport::State::Ran:
        break;
    }
    const StepOutcome& o = s.outcome;
    auto withReason = [&o](QString text) {
        if (!o.reason.isEmpty())
            text += QStringLiteral(": ") + o.reason;
        if (!o.path.isEmpty())
            text += QStringLiteral(": ") + o.path;
        return text;
    };
    switch (o.status) {
    case StepOutcome::Status::Done:
        return QStringLiteral("completato");
    case StepOutcome::Status::Skipped:
        return withReason(QStringLiteral("saltato"));
    case StepOutcome::Status::Stopped:
        return withReason(QStringLiteral("interrotto"));
    case StepOutcome::Status::Failed:
        break;
    }
    QString text = o.error != 0 ? QStringLiteral("NON riuscito (errore %1)").arg(o.error)
                                : QStringLiteral("NON riuscito");
    if (o.chainGoesOn)
        text += QStringLiteral(", la sessione e' proseguita");
    return withReason(text);
}

QString stepStatusName(const StepReport& s)
{
    switch (s.state) {
    case StepReport::State::NotTicked:
        return QStringLiteral("not_ticked");
    case StepReport::State::NotReached:
        return QStringLiteral("not_reached");
    case StepReport::State::Ran:
        break;
    }
    switch (s.outcome.status) {
    case StepOutcome::Status::Done:
        return QStringLiteral("done");
    case StepOutcome::Status::Skipped:
        return QStringLiteral("skipped");
    case StepOutcome::Status::Stopped:
        return QStringLiteral("stopped");
    case StepOutcome::Status::Failed:
        break;
    }
    return QStringLiteral("failed");
}

namespace {

// The buttons as the boxes name them, and as --answers and scripts do.
struct AnswerNames
{
    int answer;
    const char* shown;
    const char* script;
};
constexpr AnswerNames kAnswers[] = {
    {AnswerOk, "OK", "ok"},
    {AnswerCancel, "Annulla", "cancel"},
    {AnswerAbort, "Interrompi", "abort"},
    {AnswerRetry, "Riprova", "retry"},
    {AnswerIgnore, "Ignora", "ignore"},
    {AnswerYes, "Sì", "yes"},
    {AnswerNo, "No", "no"},
};

QString answerName(int answer, bool script)
{
    for (const AnswerNames& a : kAnswers) {
        if (a.answer == answer)
            return script ? QLatin1String(a.script) : QString::fromUtf8(a.shown);
    }
    return script ? QStringLiteral("none") : QStringLiteral("nessuna");
}

QString pair(qint64 toExchange, qint64 toLocal)
{
    return QStringLiteral("->") + AllineaDestra(QVariant(toExchange), 5) +
           AllineaDestra(QVariant(toLocal), 5) + QStringLiteral(" <-");
}

// The last line of a report: how the run as a whole ended.
QString outcomeLine(const RunReport& report)
{
    switch (report.exitStatus()) {
    case exitstatus::kCompleted:
        return QStringLiteral("Esito: completato");
    case exitstatus::kIncomplete: {
        QStringList names;
        for (const StepReport* s : report.incompleteSteps())
            names << QLatin1String(s->step->name);
        return QStringLiteral("Esito: INCOMPLETO, passi saltati o interrotti: ") +
               names.join(QStringLiteral(", "));
    }
    default:
        break;
    }
    if (!report.configurationUnread.isEmpty())
        return QStringLiteral("Esito: ERRORE, file di configurazione non leggibile: ") +
               QString(report.configurationUnread).replace(QLatin1Char('\n'), QStringLiteral(": "));
    const StepReport* failed = report.firstFailure();
    if (!failed)
        return QStringLiteral("Esito: ERRORE, la sessione si e' fermata prima della fine");
    QString line = QStringLiteral("Esito: ERRORE in ") + QLatin1String(failed->step->name);
    if (failed->outcome.error != 0)
        line += QStringLiteral(" (errore %1)").arg(failed->outcome.error);
    return line;
}

} // namespace

QString runLogText(const RunReport& report, const std::vector<ShownBox>& boxes)
{
    QStringList lines;
    lines << QStringLiteral("Operatore: ") + report.operatore;
    lines << QStringLiteral("Lato: ") +
                 (report.portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"));
    lines << QStringLiteral("Passi:");
    for (const StepReport& s : report.steps) {
        QString line = describeStep(s);
        if (s.step && s.step->sync == &SyncSteps::SincronizzaClienti && s.state == StepReport::State::Ran &&
            report.clientiAggiunti >= 0)
            line += QStringLiteral(" (clienti aggiunti: %1)").arg(report.clientiAggiunti);
        lines << QStringLiteral("  %1 %2").arg(QLatin1String(s.step ? s.step->name : "?"), -24).arg(line);
    }
    lines << QStringLiteral("Contatori:");
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("CLIENTI aggiunti"), -16)
                 .arg(report.clientiAggiunti >= 0 ? QString::number(report.clientiAggiunti)
                                                  : QStringLiteral("non contati"));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("VISITE"), -16)
                 .arg(pair(report.visiteAggiunteScambio, report.visiteAggiunteLocale));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("APPUNTAMENTI"), -16)
                 .arg(pair(report.appuntamentiAggiuntiScambio, report.appuntamentiAggiuntiLocale));
    lines << QStringLiteral("  %1 ->%2")
                 .arg(QStringLiteral("INDICI"), -16)
                 .arg(AllineaDestra(QVariant(report.documenti[0][0]), 5));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("SCHEDE CLIENTI"), -16)
                 .arg(pair(report.documenti[1][0], report.documenti[1][1]));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("FOGLI CLIENTI"), -16)
                 .arg(pair(report.documenti[2][0], report.documenti[2][1]));
    lines << QStringLiteral("Messaggi: %1").arg(boxes.size());
    int n = 0;
    for (const ShownBox& b : boxes) {
        lines << QStringLiteral("  [%1] %2 (stile %3), risposta: %4")
                     .arg(++n)
                     .arg(b.title)
                     .arg(b.style)
                     .arg(answerName(b.answer, false));
        // The text line by line, indented under its box.
        for (const QString& t :
             QString(b.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(QLatin1Char('\n')))
            lines << QStringLiteral("      ") + t;
    }
    lines << outcomeLine(report);
    lines << (report.durationMs >= 0
                  ? QStringLiteral("Durata: %1 s").arg(double(report.durationMs) / 1000.0, 0, 'f', 3)
                  : QStringLiteral("Durata: non misurata"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray runReportJson(const RunReport& report, const std::vector<ShownBox>& boxes)
{
    QJsonObject root;
    root[QStringLiteral("operator")] = report.operatore;
    root[QStringLiteral("side")] = report.portable ? QStringLiteral("portable") : QStringLiteral("desktop");
    // ISO 8601 local time with its offset from UTC: "2026-12-08T08:38:01.841+01:00".
    QJsonValue started;
    if (report.started.isValid()) {
        const int offset = report.started.offsetFromUtc();
        const int minutes = (offset < 0 ? -offset : offset) / 60;
        started = report.started.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
                  QStringLiteral("%1%2:%3")
                      .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                      .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                      .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    root[QStringLiteral("started")] = started;
    root[QStringLiteral("duration_ms")] = report.durationMs;
    root[QStringLiteral("exit_status")] = report.exitStatus();

    QJsonArray steps;
    for (const StepReport& s : report.steps) {
        QJsonObject o;
        o[QStringLiteral("name")] = QLatin1String(s.step ? s.step->name : "");
        o[QStringLiteral("ticked")] = s.state != StepReport::State::NotTicked;
        o[QStringLiteral("status")] = stepStatusName(s);
        const bool ran = s.state == StepReport::State::Ran;
        o[QStringLiteral("error")] = ran ? int(s.outcome.error) : 0;
        o[QStringLiteral("reason")] = ran ? s.outcome.reason : QString();
        o[QStringLiteral("path")] = ran ? s.outcome.path : QString();
        steps.append(o);
    }
    root[QStringLiteral("steps")] = steps;

    auto twoWays = [](const char* a, qint64 va, const char* b, qint64 vb) {
        QJsonObject o;
        o[QLatin1String(a)] = va;
        o[QLatin1String(b)] = vb;
        return o;
    };
    QJsonObject documents;
    documents[QStringLiteral("indices")] = report.documenti[0][0];
    documents[QStringLiteral("cards")] =
        twoWays("sent", report.documenti[1][0], "received", report.documenti[1][1]);
    documents[QStringLiteral("sheets")] =
        twoWays("sent", report.documenti[2][0], "received", report.documenti[2][1]);
    QJsonObject counters;
    counters[QStringLiteral("clients_added")] =
        report.clientiAggiunti >= 0 ? QJsonValue(report.clientiAggiunti) : QJsonValue();
    counters[QStringLiteral("visits")] =
        twoWays("to_exchange", report.visiteAggiunteScambio, "to_local", report.visiteAggiunteLocale);
    counters[QStringLiteral("appointments")] = twoWays("to_exchange", report.appuntamentiAggiuntiScambio,
                                                       "to_local", report.appuntamentiAggiuntiLocale);
    counters[QStringLiteral("documents")] = documents;
    root[QStringLiteral("counters")] = counters;

    QJsonArray messages;
    for (const ShownBox& b : boxes) {
        QJsonObject o;
        o[QStringLiteral("title")] = b.title;
        o[QStringLiteral("style")] = b.style;
        o[QStringLiteral("text")] = b.text;
        o[QStringLiteral("answer")] = answerName(b.answer, true);
        messages.append(o);
    }
    root[QStringLiteral("messages")] = messages;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace mirsalex
