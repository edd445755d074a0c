#include "session/ReportText.h"

#include "common/Helpers.h"
#include "common/Prompt.h"

#include <algorithm>
#include <cstring>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace mirsalex {

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
QString outcomeLineOf(const RunReport& report)
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
    if (!report.accessDatabases.empty()) {
        QStringList paths;
        for (const RunReport::AccessFile& f : report.accessDatabases)
            paths << f.path;
        return QStringLiteral("Esito: ERRORE, database di Access da convertire (") + report.importCommand +
               QStringLiteral("): ") + paths.join(QStringLiteral(", "));
    }
    if (!report.configurationUnwritten.isEmpty())
        return QStringLiteral("Esito: ERRORE, file di configurazione non scrivibile: ") +
               QString(report.configurationUnwritten).replace(QLatin1Char('\n'), QStringLiteral(": "));
    const StepReport* failed = report.firstFailure();
    if (!failed)
        return QStringLiteral("Esito: ERRORE, la sessione si e' fermata prima della fine");
    QString line = QStringLiteral("Esito: ERRORE in ") + QLatin1String(failed->step->name);
    if (failed->outcome.error != 0)
        line += QStringLiteral(" (errore %1)").arg(failed->outcome.error);
    return line;
}

// The versions of a run: the entry it made and what pruning removed.
QStringList versionsLines(const RunReport::Versions& v)
{
    QStringList lines;
    if (v.off) {
        lines << QStringLiteral("Versioni: DISATTIVATE per questo aggiornamento (--no-versions)");
        return lines;
    }
    if (!v.entry.isEmpty())
        lines << QStringLiteral("Versioni: voce %1 in %2").arg(v.entry, v.folder);
    else
        lines << QStringLiteral("Versioni: nessuna voce (nulla da conservare)");
    if (!v.failure.isEmpty())
        lines << QStringLiteral("Versioni NON conservate: ") +
                     QString(v.failure).replace(QLatin1Char('\n'), QStringLiteral(": "));
    lines << QStringLiteral("Versioni rimosse: ") +
                 (v.pruned.isEmpty() ? QStringLiteral("nessuna") : v.pruned.join(QStringLiteral(", ")));
    return lines;
}

// The count of rows left different per table compared.
QString divergenceCounts(const RunReport& report)
{
    QStringList counts;
    for (size_t t = 0; t < report.divergenze.size(); ++t) {
        if (report.divergenze[t] >= 0)
            counts
                << QStringLiteral("%1 %2").arg(QLatin1String(kDivergenceTables[t])).arg(report.divergenze[t]);
    }
    return counts.isEmpty() ? QStringLiteral("nessuna tabella confrontata")
                            : counts.join(QStringLiteral(", "));
}

} // namespace

QStringList divergenceLines(const RunReport& report)
{
    QStringList lines;
    lines << QStringLiteral("Righe diverse sui due lati (l'aggiornamento non le modifica): ") +
                 divergenceCounts(report);
    for (const RowItem& r : report.rows) {
        if (r.kind != RowItem::Kind::Divergence)
            continue;
        QString line = QStringLiteral("    %1 %2").arg(r.table, r.key);
        if (!r.text.isEmpty())
            line += QStringLiteral(" (%1)").arg(r.text);
        QStringList fields;
        for (qsizetype c = 0; c < r.columns.size(); ++c)
            fields << QStringLiteral("%1 locale \"%2\", scambio \"%3\"")
                          .arg(r.columns[c], r.localValues.value(c), r.exchangeValues.value(c));
        lines << line + QStringLiteral(": ") + fields.join(QStringLiteral("; "));
    }
    return lines;
}

QString runOutcomeLine(const RunReport& report)
{
    if (report.exitStatus() == exitstatus::kCompleted)
        return QStringLiteral("Aggiornamento completato.");
    if (!report.accessDatabases.empty()) {
        QStringList paths;
        for (const RunReport::AccessFile& f : report.accessDatabases)
            paths << f.path;
        return QStringLiteral("NESSUN DATO TRASFERITO. Database di Access da convertire: ") +
               paths.join(QStringLiteral(", "));
    }
    bool anyDone = false;
    // The groups that did not complete, gathered by what happened to them:
    // one missing exchange area is told once, not once per step.
    QStringList reasons;
    std::vector<QStringList> groups;
    for (const StepReport& s : report.steps) {
        if (s.state == StepReport::State::Ran && s.outcome.status == StepOutcome::Status::Done)
            anyDone = true;
        if (s.state == StepReport::State::NotTicked ||
            (s.state == StepReport::State::Ran && s.outcome.status == StepOutcome::Status::Done))
            continue;
        const QString reason = describeStep(s);
        qsizetype at = reasons.indexOf(reason);
        if (at < 0) {
            reasons << reason;
            groups.emplace_back();
            at = reasons.size() - 1;
        }
        const QString group = QLatin1String(s.step ? s.step->group : "?");
        if (!groups[size_t(at)].contains(group))
            groups[size_t(at)] << group;
    }
    QStringList parts;
    for (qsizetype i = 0; i < reasons.size(); ++i)
        parts << groups[size_t(i)].join(QStringLiteral(", ")) + QStringLiteral(": ") + reasons.at(i);
    QString head = !anyDone                ? QStringLiteral("NESSUN DATO TRASFERITO.")
                   : report.firstFailure() ? QStringLiteral("AGGIORNAMENTO NON RIUSCITO.")
                                           : QStringLiteral("AGGIORNAMENTO INCOMPLETO.");
    if (parts.isEmpty())
        return head;
    return head + QLatin1Char(' ') + parts.join(QStringLiteral("; "));
}

QString answerText(int answer)
{
    return answerName(answer, false);
}

QString runLogText(const RunReport& report, const std::vector<ShownBox>& boxes)
{
    QStringList lines;
    lines << QStringLiteral("Operatore: ") + report.operatore;
    lines << QStringLiteral("Lato: ") +
                 (report.portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"));
    lines << QStringLiteral("Passi:");
    for (const StepReport& s : report.steps) {
        QString line = describeStep(s);
        if (s.step && s.step->sync == &SyncSteps::clients && s.state == StepReport::State::Ran &&
            report.clientiAggiunti >= 0)
            line += QStringLiteral(" (clienti aggiunti: %1)").arg(report.clientiAggiunti);
        lines << QStringLiteral("  %1 %2").arg(QLatin1String(s.step ? s.step->name : "?"), -24).arg(line);
    }
    lines << (report.dryRun ? QStringLiteral("Contatori (anteprima: nulla è stato scritto):")
                            : QStringLiteral("Contatori:"));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("CLIENTI aggiunti"), -16)
                 .arg(report.clientiAggiunti >= 0 ? QString::number(report.clientiAggiunti)
                                                  : QStringLiteral("non contati"));
    if (report.clientiAggiunti >= 0)
        lines << QStringLiteral("  %1 %2").arg(QStringLiteral("TESTI VISITE"), -16).arg(report.testiVisite);
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("VISITE"), -16)
                 .arg(pair(report.visiteAggiunteScambio, report.visiteAggiunteLocale));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("APPUNTAMENTI"), -16)
                 .arg(pair(report.appuntamentiAggiuntiScambio, report.appuntamentiAggiuntiLocale));
    for (size_t t = 0; t < report.tabelle.size(); ++t) {
        const TableCounters& c = report.tabelle[t];
        lines << QStringLiteral("  %1 %2, eliminati %3 locali, %4 nell'area di scambio")
                     .arg(QLatin1String(kVisitsTableNames[t]), -16)
                     .arg(pair(c.toExchange, c.toLocal))
                     .arg(c.purgedLocal)
                     .arg(c.purgedExchange);
    }
    lines
        << QStringLiteral("  %1 %2").arg(QStringLiteral("DATABASE copiati"), -16).arg(report.databasiCopiati);
    lines << QStringLiteral("  %1 ->%2")
                 .arg(QStringLiteral("INDICI"), -16)
                 .arg(AllineaDestra(QVariant(report.documenti[0][0]), 5));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("SCHEDE CLIENTI"), -16)
                 .arg(pair(report.documenti[1][0], report.documenti[1][1]));
    lines << QStringLiteral("  %1 %2")
                 .arg(QStringLiteral("FOGLI CLIENTI"), -16)
                 .arg(pair(report.documenti[2][0], report.documenti[2][1]));
    lines
        << QStringLiteral("  %1 %2").arg(QStringLiteral("RIGHE DIVERSE"), -16).arg(divergenceCounts(report));
    if (report.versions.asked && !report.dryRun)
        lines << versionsLines(report.versions);
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
    lines << outcomeLineOf(report);
    lines << (report.durationMs >= 0
                  ? QStringLiteral("Durata: %1 s").arg(double(report.durationMs) / 1000.0, 0, 'f', 3)
                  : QStringLiteral("Durata: non misurata"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString previewText(const RunReport& report, const std::vector<ShownBox>& boxes)
{
    QStringList lines;
    lines << QStringLiteral("=== Anteprima per l'operatore %1 (%2): nulla viene scritto")
                 .arg(report.operatore,
                      report.portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop"));
    QString text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + runLogText(report, boxes);
    QStringList keys, databases, files, removals;
    for (const ChangeSink::Change& c : report.changes) {
        switch (c.kind) {
        case ChangeSink::Change::Kind::Key:
            keys << QStringLiteral("    ") + c.detail;
            break;
        case ChangeSink::Change::Kind::Database:
            databases << QStringLiteral("    %1 (righe modificate: %2)").arg(c.path, c.detail);
            break;
        case ChangeSink::Change::Kind::File:
            files << QStringLiteral("    %1  <-  %2").arg(c.path, c.source());
            break;
        case ChangeSink::Change::Kind::Removal:
            removals << QStringLiteral("    ") + c.path;
            break;
        }
    }
    // Files by place: each group and direction is one destination folder,
    // its files in name order.
    files.sort(Qt::CaseInsensitive);
    QStringList out = divergenceLines(report);
    out << QStringLiteral("Modifiche che l'aggiornamento farebbe:");
    out << QStringLiteral("  chiavi del file di configurazione: %1").arg(keys.size()) << keys;
    out << QStringLiteral("  database modificati: %1").arg(databases.size()) << databases;
    out << QStringLiteral("  file copiati: %1").arg(files.size()) << files;
    // Leftovers of killed runs, told only when there are some.
    if (!removals.isEmpty())
        out << QStringLiteral("  file temporanei rimossi: %1").arg(removals.size()) << removals;
    return text + out.join(QLatin1Char('\n')) + QLatin1Char('\n');
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
    root[QStringLiteral("dry_run")] = report.dryRun;
    root[QStringLiteral("exit_status")] = report.exitStatus();
    if (!report.accessDatabases.empty()) {
        QJsonArray files;
        for (const RunReport::AccessFile& f : report.accessDatabases)
            files.append(
                QJsonObject{{QStringLiteral("path"), f.path}, {QStringLiteral("version"), f.version}});
        root[QStringLiteral("access_databases")] = files;
        root[QStringLiteral("import_command")] = report.importCommand;
    }
    if (report.versions.asked && !report.dryRun) {
        QJsonObject v;
        v[QStringLiteral("off")] = report.versions.off;
        v[QStringLiteral("entry")] =
            report.versions.entry.isEmpty() ? QJsonValue() : QJsonValue(report.versions.entry);
        v[QStringLiteral("folder")] = report.versions.folder;
        v[QStringLiteral("pruned")] = QJsonArray::fromStringList(report.versions.pruned);
        v[QStringLiteral("failure")] = report.versions.failure;
        root[QStringLiteral("versions")] = v;
    }

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
    documents[QStringLiteral("databases_copied")] = report.databasiCopiati;
    counters[QStringLiteral("documents")] = documents;
    counters[QStringLiteral("visits_texts")] =
        report.clientiAggiunti >= 0 ? QJsonValue(report.testiVisite) : QJsonValue();
    QJsonObject tables;
    for (size_t t = 0; t < report.tabelle.size(); ++t) {
        const TableCounters& c = report.tabelle[t];
        QJsonObject o = twoWays("to_exchange", c.toExchange, "to_local", c.toLocal);
        o[QStringLiteral("purged_local")] = c.purgedLocal;
        o[QStringLiteral("purged_exchange")] = c.purgedExchange;
        tables[QLatin1String(kVisitsTableNames[t])] = o;
    }
    counters[QStringLiteral("tables")] = tables;
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

    // What the run changed (a dry run: would change), in order.
    QJsonArray changes;
    for (const ChangeSink::Change& c : report.changes) {
        QJsonObject o;
        static const char* const kinds[] = {"key", "file", "database", "removal"};
        o[QStringLiteral("kind")] = QLatin1String(kinds[int(c.kind)]);
        o[QStringLiteral("path")] = c.path;
        o[QStringLiteral("detail")] = c.detail;
        changes.append(o);
    }
    root[QStringLiteral("changes")] = changes;

    // The rows both sides hold with different content: the count per table
    // (null when not compared) and each row.
    QJsonObject divergences, divergenceCounts;
    for (size_t t = 0; t < report.divergenze.size(); ++t)
        divergenceCounts[QLatin1String(kDivergenceTables[t])] =
            report.divergenze[t] >= 0 ? QJsonValue(report.divergenze[t]) : QJsonValue();
    QJsonArray divergentRows;
    for (const RowItem& r : report.rows) {
        if (r.kind != RowItem::Kind::Divergence)
            continue;
        QJsonObject o;
        o[QStringLiteral("table")] = r.table;
        o[QStringLiteral("key")] = r.key;
        o[QStringLiteral("text")] = r.text;
        QJsonArray fields;
        for (qsizetype c = 0; c < r.columns.size(); ++c) {
            QJsonObject f;
            f[QStringLiteral("name")] = r.columns[c];
            f[QStringLiteral("local")] = r.localValues.value(c);
            f[QStringLiteral("exchange")] = r.exchangeValues.value(c);
            fields.append(f);
        }
        o[QStringLiteral("fields")] = fields;
        divergentRows.append(o);
    }
    divergences[QStringLiteral("tables")] = divergenceCounts;
    divergences[QStringLiteral("duration_ms")] = report.divergenzeMs;
    divergences[QStringLiteral("side_ms")] = report.divergenzeSideMs;
    divergences[QStringLiteral("rows")] = divergentRows;
    root[QStringLiteral("divergences")] = divergences;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString sortedPreviewFiles(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    auto isFile = [](const QString& line) {
        return line.startsWith(QLatin1String("  -> ")) || line.startsWith(QLatin1String("  <- "));
    };
    for (qsizetype i = 0; i < lines.size();) {
        if (!isFile(lines.at(i))) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < lines.size() && isFile(lines.at(end)))
            ++end;
        // Sent files first, then received, each in name order.
        std::stable_sort(lines.begin() + i, lines.begin() + end, [](const QString& a, const QString& b) {
            const bool sentA = a.startsWith(QLatin1String("  -> "));
            const bool sentB = b.startsWith(QLatin1String("  -> "));
            return sentA != sentB ? sentA : a.mid(5).compare(b.mid(5), Qt::CaseInsensitive) < 0;
        });
        i = end;
    }
    return lines.join(QLatin1Char('\n'));
}

QString reportOutcomeLine(const RunReport& report)
{
    return outcomeLineOf(report);
}

} // namespace mirsalex
