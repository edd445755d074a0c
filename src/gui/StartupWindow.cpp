#include "gui/StartupWindow.h"

#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "config/PasswordStore.h"
#include "gui/AboutWindow.h"
#include "gui/FolderChooser.h"
#include "gui/PasswordDialog.h"
#include "gui/PreviewDialog.h"
#include "gui/VersionsDialog.h"
#include "gui/WindowHelpers.h"
#include "run/RecordingPrompt.h"
#include "session/AccessImport.h"
#include "session/OperatorFolders.h"
#include "session/ReportText.h"
#include "session/Startup.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

const QString kCaption = QStringLiteral("AGGIORNAMENTO DATI DALLA SEDE");
const QString kExport = QStringLiteral("EXPORT");

// Longest operator code; the list items hold the folder name in one more.
constexpr int kCodeLength = 13;

QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void showCheck(QCheckBox* box, const CheckState& state)
{
    box->setText(escapeMnemonic(state.caption));
    box->setChecked(state.value > 0);
    // A group done in this window stays ticked and greyed.
    box->setEnabled(state.value != 2);
}

void showPath(QLabel* label, const QString& text)
{
    if (label->text() != text) {
        label->setText(text);
        label->setToolTip(text);
    }
}

// Answers every box with the answer of Escape, showing nothing.
class SilentPrompt : public Prompt
{
protected:
    int ask(const QString&, int style, const QString&) override
    {
        switch (MsgStyle::buttons(style)) {
        case MsgStyle::OkCancel:
        case MsgStyle::RetryCancel:
        case MsgStyle::YesNoCancel:
            return AnswerCancel;
        case MsgStyle::YesNo:
            return AnswerNo;
        case MsgStyle::AbortRetryIgnore:
            return AnswerAbort;
        default:
            return AnswerOk;
        }
    }
};

} // namespace

StartupWindow::StartupWindow(Context& ctx, OperatorForm& state, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_state(state), m_runModal([](QDialog& d) { return d.exec(); }),
      m_chooseFile(
          [this](QWidget* owner, const FileRequest& request) { return showFileDialog(owner, request); })
{
    setObjectName(QStringLiteral("Startup"));
    setWindowTitle(kCaption);
    buildUi();
    // Key preview: the window sees every key of its controls first.
    qApp->installEventFilter(this);
}

StartupWindow::~StartupWindow()
{
    qApp->removeEventFilter(this);
}

int StartupWindow::runModal(QDialog& dialog)
{
    return m_runModal ? m_runModal(dialog) : dialog.exec();
}

QString StartupWindow::showFileDialog(QWidget* parent, const FileRequest& request)
{
    QFileDialog dialog(parent, request.title);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // An open dialog: only a database that is there can be chosen.
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog, whose filter ignores case like every other name of
    // the program ("*.mdb" shows ARCHIVIO.MDB too).
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilter(request.filter);
    if (!request.folder.isEmpty() && platform::isDirectory(request.folder))
        dialog.setDirectory(request.folder);
    QString name = request.proposedName;
    const qsizetype at = name.lastIndexOf(platform::separator());
    if (at >= 0)
        name = name.mid(at + 1);
    dialog.selectFile(name);
    if (runModal(dialog) != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.first());
}

void StartupWindow::clickLbFile(int index)
{
    if (index < 0 || index > 1 || m_running || m_pctDirList->isVisible())
        return;
    // A code being typed is confirmed first (the labels then belong to it):
    // otherwise leaving the box after the choice would refill the labels for
    // the new operator and silently drop the chosen path. A refused code
    // keeps the focus in the box and opens nothing.
    if (m_codOper->hasFocus() && !m_scegliDaLista) {
        codOperLostFocus();
        if (!CodiceOperatoreValido(m_ctx.CodOperatore))
            return;
    }
    const QString text = m_state.lbFile[index].caption;
    FileRequest request;
    request.title = QStringLiteral("ESPORTAZIONE DATI");
    request.folder = CartellaDi(text);
    request.proposedName = text;
    request.filter = QStringLiteral("DataBase (*.mdb)");
    const QString chosen = m_chooseFile ? m_chooseFile(this, request) : QString();
    // A cancelled or failed dialog leaves the label as it was.
    if (!chosen.isEmpty()) {
        m_state.lbFile[index].caption = chosen;
        syncFromModel();
    }
    Q_EMIT lbFileClicked(index);
}

void StartupWindow::clickLbFileX(int index)
{
    if (index < 0 || index > 2 || m_running || m_pctDirList->isVisible())
        return;
    // The focus leaves the window's controls first, so a code being typed is
    // confirmed (and the labels refreshed for it) before the label is read.
    m_focusBeforeChooser = QApplication::focusWidget();
    placeChooser();
    m_pctDirList->refreshDrives();
    m_pctDirList->show();
    m_pctDirList->raise();
    m_pctDirList->dirList()->setFocus(Qt::OtherFocusReason);

    m_state.GruppoCorrente = quint8(index);
    m_pctDirList->setTitle(index < m_state.NomiGruppi.size() ? m_state.NomiGruppi[index] : QString());
    // The chooser opens on the group's folder only when it holds files;
    // otherwise it stays where it was.
    const QString text = m_state.lbFileX[index].caption;
    if (EsisteFile(m_ctx.prompt, text)) {
        const QString folder = platform::isDirectory(text) ? text : CartellaDi(text);
        m_pctDirList->setCurrentFolder(folder);
    }
    m_pctbase->setEnabled(false);
    m_pctDirList->raise();
    m_pctDirList->dirList()->setFocus(Qt::OtherFocusReason);
    Q_EMIT lbFileXClicked(index);
}

void StartupWindow::clickCmdDir(int index)
{
    if (!m_pctDirList->isVisible())
        return;
    if (index == 0) {
        QString folder = m_pctDirList->highlightedFolder();
        if (!folder.endsWith(platform::separator()))
            folder += platform::separator();
        m_state.lbFileX[m_state.GruppoCorrente % 3].caption = folder;
        syncFromModel();
    }
    m_pctbase->setEnabled(true);
    m_pctDirList->hide();
    if (m_focusBeforeChooser && m_focusBeforeChooser->isEnabled() && m_focusBeforeChooser->isVisible())
        m_focusBeforeChooser->setFocus(Qt::OtherFocusReason);
    else
        m_codOper->setFocus(Qt::OtherFocusReason);
}

void StartupWindow::placeChooser()
{
    const int w = qBound(qMin(480, width() - 24), width() * 2 / 3, width() - 24);
    const int h = qMax(200, height() - 40);
    m_pctDirList->setGeometry((width() - w) / 2, (height() - h) / 2, w, h);
}

void StartupWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The frame the window manager adds is known once the window is shown:
    // the whole of it is kept within the screen.
    QTimer::singleShot(0, this, [this] { TieniNelloSchermo(this); });
}

void StartupWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_pctDirList && m_pctDirList->isVisible())
        placeChooser();
}

bool StartupWindow::initialise(const StartOptions& options)
{
    m_avvioFallito = false;
    MisuraSchermo();

    bool found = false;
    if (!options.ini.isEmpty()) {
        const QFileInfo info(options.ini);
        m_iniPath = info.absoluteFilePath();
        m_ctx.config.FileIni = m_iniPath;
        found = info.isFile();
    } else {
        const IniLocation location = LocateIni(options.programFolder, options.programName);
        m_ctx.config.FileIni = location.fileIni;
        m_iniPath = location.fullPath;
        found = location.found;
    }
    if (!found) {
        m_iniPath.clear();
        m_ctx.ask(QStringLiteral("File di configurazione inesistente"), MsgStyle::Critical,
                  QStringLiteral("MIRSAL - ERRORE"));
        // The box keeps its text; the run log says where the program looked.
        if (m_runLog)
            logMissingConfiguration(
                *m_runLog, configurationCandidates(options.ini, options.programFolder, options.programName));
        m_avvioFallito = true;
        return false;
    }
    if (!chiediPassword()) {
        endProgram(kStartupFailed);
        return false;
    }
    return true;
}

bool StartupWindow::chiediPassword()
{
    const PasswordStore store(m_iniPath);
    switch (store.state()) {
    case PasswordStore::State::None:
        m_ctx.PasswordOperatore.clear();
        return true;
    case PasswordStore::State::Damaged:
        // A store that cannot be read never opens the way.
        m_ctx.ask(damagedPasswordText(store.path()), MsgStyle::Critical, QStringLiteral("MIRSAL - ERRORE"));
        return false;
    case PasswordStore::State::Set:
        break;
    }
    PasswordDialog dialog(m_ctx.prompt, [&store](const QString& typed) { return store.verify(typed); });
    runModal(dialog);
    if (dialog.acceptedPassword().isEmpty())
        return false;
    m_ctx.PasswordOperatore = dialog.acceptedPassword();
    return true;
}

bool StartupWindow::load()
{
    if (m_ended)
        return false;
    if (m_avvioFallito) {
        AboutWindow about(m_ctx);
        runModal(about);
        endProgram(kStartupFailed);
        return false;
    }
    adjustSize();
    // Wide enough for the usual paths, within the screen (a path too long
    // for its label is shortened in the middle).
    resize(qMax(width(), 980), height());
    CentraForm(this);
    TieniNelloSchermo(this);

    loadForm(m_ctx, m_state);
    m_state.LCodOpe = ElencoCartelleOperatori(m_ctx.config.PathDati, m_state.LCodOpe);
    m_shownCode = m_ctx.CodOperatore;
    syncFromModel();
    m_codOper->setFocus(Qt::OtherFocusReason);
    return true;
}

bool StartupWindow::start(const StartOptions& options)
{
    initialise(options);
    return load();
}

void StartupWindow::endProgram(int code)
{
    if (m_ended)
        return;
    m_ended = true;
    m_exitCode = code;
    hide();
    Q_EMIT programEnded(code);
}

void StartupWindow::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        // The run finishes first (it works on the window's state and files,
        // and stops nowhere else safely); the window closes, and the program
        // ends, as soon as it returns. The exit button greys to show that the
        // request is taken.
        m_closePending = true;
        m_cmdM[1]->setEnabled(false);
        event->ignore();
        return;
    }
    event->accept();
    endProgram(m_exitCode);
}

void StartupWindow::syncFromModel()
{
    m_syncing = true;
    if (m_codOper->text() != m_state.CodOper)
        m_codOper->setText(m_state.CodOper);
    const int side = m_state.optPC == 0 ? 0 : 1;
    if (!m_optPC[side]->isChecked())
        m_optPC[side]->setChecked(true);
    for (int i = 0; i < 2; ++i)
        showPath(m_lbFile[i], m_state.lbFile[i].caption);
    for (int i = 0; i < 3; ++i) {
        showPath(m_lbFileX[i], m_state.lbFileX[i].caption);
        showCheck(m_check1[i], m_state.Check1[i]);
    }
    showCheck(m_chkDati, m_state.chkDati);
    showCheck(m_chkVisite, m_state.chkVisite);
    m_chkDebug->setChecked(m_state.chkDebug.value > 0);
    for (int i = 0; i < 5; ++i) {
        m_lbCount[i]->setText(m_state.lbCount[i].caption);
        // An empty result takes no room.
        m_lbCount[i]->setVisible(m_state.lbCount[i].visible && !m_state.lbCount[i].caption.isEmpty());
    }
    m_lbAppu->setVisible(m_state.lbAppuVisible);
    m_cmdM[0]->setVisible(m_state.cmdEseguiVisible);
    showOutcome();
    if (m_listItems != m_state.LCodOpe) {
        m_listItems = m_state.LCodOpe;
        m_list->clear();
        m_list->addItems(m_listItems);
    }
    m_syncing = false;
}

void StartupWindow::showOutcome()
{
    const QString& text = m_state.lbEsito;
    const bool trouble = !text.isEmpty() && text != QLatin1String("Aggiornamento completato.");
    QFont f = m_lbEsito->font();
    f.setBold(trouble);
    m_lbEsito->setFont(f);
    m_lbEsito->setToolTip(text);
    m_lbEsito->setText(QFontMetrics(f).elidedText(text, Qt::ElideRight, qMax(40, m_lbEsito->width())));
}

void StartupWindow::refreshTransferSet()
{
    loadTransferSet(m_ctx, m_state);
    m_shownCode = m_ctx.CodOperatore;
    syncFromModel();
}

void StartupWindow::MostraOperatori()
{
    // The list floats over the window: it is not offered while the folder
    // chooser holds the window or a run works on the current operator.
    if (m_list->count() < 1 || m_running || m_pctDirList->isVisible())
        return;
    // The current operator is selected, else the first item.
    int row = 0;
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)
                ->text()
                .left(kCodeLength)
                .trimmed()
                .compare(m_ctx.CodOperatore.trimmed(), Qt::CaseInsensitive) == 0) {
            row = i;
            break;
        }
    }
    m_list->setCurrentRow(row);
    const QPoint below = m_codOper->mapTo(this, QPoint(0, m_codOper->height() + 2));
    int x = below.x();
    if (x + m_list->width() > width())
        x = qMax(0, width() - m_list->width());
    m_list->move(x, below.y());
    m_list->show();
    m_list->raise();
    m_list->setFocus(Qt::OtherFocusReason);
}

void StartupWindow::codOperLostFocus()
{
    if (m_scegliDaLista)
        return;
    m_ctx.CodOperatore = m_codOper->text().trimmed();
    if (CodiceOperatoreValido(m_ctx.CodOperatore)) {
        CaricaParametri(m_ctx);
        // The displays follow the operator at once: a run must never mix one
        // operator's databases with another operator's settings.
        if (m_ctx.CodOperatore.compare(m_shownCode, Qt::CaseInsensitive) != 0) {
            m_state.CodOper = m_ctx.CodOperatore;
            refreshTransferSet();
        }
        return;
    }
    // Refused silently: the focus goes back to the code box, unless the user
    // is picking from the list (which sets the code itself).
    QPointer<QLineEdit> box(m_codOper);
    QPointer<QListWidget> list(m_list);
    QTimer::singleShot(0, this, [box, list] {
        if (box && box->isVisible() && !(list && list->hasFocus()))
            box->setFocus(Qt::OtherFocusReason);
    });
}

void StartupWindow::listLostFocus()
{
    if (!m_list->isVisible())
        return;
    m_list->hide();
    const QListWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    m_ctx.CodOperatore = item->text().left(kCodeLength).trimmed();
    m_state.CodOper = m_ctx.CodOperatore;
    refreshTransferSet();
}

void StartupWindow::chooseOperator(const QString& code)
{
    m_state.CodOper = code;
    m_ctx.CodOperatore = code.trimmed();
    if (CodiceOperatoreValido(m_ctx.CodOperatore))
        CaricaParametri(m_ctx);
    refreshTransferSet();
}

void StartupWindow::clickOptPC(int index)
{
    m_optPC[index == 0 ? 0 : 1]->setChecked(true);
    onOptPC(index == 0 ? 0 : 1);
}

void StartupWindow::onOptPC(int index)
{
    m_state.optPC = index;
    refreshTransferSet();
}

void StartupWindow::onChkDebug()
{
    m_state.chkDebug.value = m_chkDebug->isChecked() ? 1 : 0;
    // The confirmation mode is a preference of the window: a file that
    // cannot be written keeps the previous one, and the check box still
    // rules this session.
    static_cast<void>(ScriviIni(m_ctx.config.FileIni, kExport, QStringLiteral("DEBUG"),
                                QString::number(m_state.chkDebug.value)));
}

void StartupWindow::setRunning(bool running)
{
    m_running = running;
    // The choices stay as they are until the run is over: the run reads and
    // writes the settings of the operator and side it started with.
    m_selection->setEnabled(!running);
    // The buttons that would start work are greyed while it goes on; the
    // focus never passes from them to the exit button.
    if (running && (focusWidget() == m_cmdM[0] || focusWidget() == m_cmdAnteprima))
        setFocus(Qt::OtherFocusReason);
    m_cmdM[0]->setEnabled(!running);
    m_cmdAnteprima->setEnabled(!running);
    m_cmdVersioni->setEnabled(!running);
    if (running)
        setCursor(Qt::WaitCursor);
}

void StartupWindow::onEsegui()
{
    // After a run the button is hidden until the window is refreshed: one
    // run per refresh.
    if (m_running || !m_state.cmdEseguiVisible)
        return;
    // The operator list is never left open over the results: it is left as
    // when the focus leaves it.
    if (m_list->isVisible())
        listLostFocus();
    // A code not above "000" ends the program, as the exit button does; one
    // that cannot name an operator folder never starts a run.
    const bool exit = !RunSession::runnableOperator(m_ctx.CodOperatore);
    if (!exit && !CodiceOperatoreValido(m_ctx.CodOperatore)) {
        m_codOper->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!m_session)
        m_session = std::make_unique<RunSession>(m_ctx);
    if (!exit) {
        setRunning(true);
        RunSettings settings;
        settings.versions = VersionSettings::fromConfiguration(m_ctx.config.FileIni);
        settings.log = m_runLog;
        settings.boxes = m_boxes;
        const SessionRun run = m_session->run(m_state, settings, &m_live);
        // Databases still in the Access format: the conversion is offered
        // at once, after its question; the run can then be made again.
        offerAccessImport(m_ctx, m_state, run.report, settings.versions, settings.log);
        setRunning(false);
    }
    // The dates beside the boxes show the run's own, as a load would; the
    // ticks and the results stay as the run left them.
    aggiornaDate();
    RipristinaPuntatore(this);
    syncFromModel();
    // The focus goes back to the code box rather than staying on the hidden
    // run button or passing to the exit button, where the Enter that closes
    // the last message would end the program.
    const QWidget* focus = focusWidget();
    if (!m_ended &&
        (!focus || focus == this || focus == m_cmdM[0] || focus == m_cmdM[1] || focus == m_cmdAnteprima))
        m_codOper->setFocus(Qt::OtherFocusReason);
    if (exit) {
        endProgram(0);
        return;
    }
    if (m_closePending)
        close();
}

void StartupWindow::onAnteprima()
{
    if (m_running)
        return;
    if (m_list->isVisible())
        listLostFocus();
    // The run itself, with every change withheld: the same steps, the same
    // statements and the same decisions. Its questions are listed with the
    // answer that lets it go on, never asked (the run log keeps no entry).
    if (!m_session)
        m_session = std::make_unique<RunSession>(m_ctx);
    RunSettings settings;
    settings.mode = RunMode::DryRun;
    settings.answerQuestions = true;
    OperatorForm form = m_state; // a dry run changes nothing of the window
    setRunning(true);
    const SessionRun run = m_session->run(form, settings, &m_live);
    setRunning(false);
    if (focusWidget() == this)
        m_cmdAnteprima->setFocus(Qt::OtherFocusReason);
    // The exchange area's folders tell a copy toward it from one out of it.
    QStringList exchangePlaces{form.CartellaScambio};
    if (!form.lbFile[1].caption.trimmed().isEmpty())
        exchangePlaces << QFileInfo(form.lbFile[1].caption.trimmed()).absolutePath();
    for (const LabelState& folder : form.lbFileX)
        exchangePlaces << folder.caption;
    runPreviewDialog(this, run.report, run.boxes, exchangePlaces, m_ctx.prompt,
                     [this](QDialog& d) { return runModal(d); });
}

void StartupWindow::onVersioni()
{
    if (m_running || m_ended)
        return;
    if (m_list->isVisible())
        listLostFocus();
    runVersionsDialog(
        this, m_ctx, m_state, [this](QDialog& d) { return runModal(d); },
        [this] {
            // The keys the restore put back show in the window, as a load would.
            loadTransferSet(m_ctx, m_state);
            syncFromModel();
        });
}

void StartupWindow::showAbout()
{
    // Only from the window at rest: never over a run, the folder chooser or
    // another box.
    if (m_running || m_ended || m_pctDirList->isVisible() || QApplication::activeModalWidget())
        return;
    AboutWindow about(m_ctx, this);
    runModal(about);
}

void StartupWindow::aggiornaDate()
{
    // The transfer set worked out again on copies, without a message and
    // without touching the disk; only the captions (with the dates) are taken.
    SilentPrompt silent;
    Context scratch(silent);
    scratch.config = m_ctx.config;
    scratch.CodOperatore = m_ctx.CodOperatore;
    OperatorForm fresh = m_state;
    QStringList untouched; // folders the refresh would make, left unmade
    loadTransferSet(scratch, fresh, &untouched);
    m_state.chkDati.caption = fresh.chkDati.caption;
    m_state.chkVisite.caption = fresh.chkVisite.caption;
    for (size_t i = 0; i < m_state.Check1.size(); ++i)
        m_state.Check1[i].caption = fresh.Check1[i].caption;
}

} // namespace mirsalex
