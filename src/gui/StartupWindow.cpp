#include "app/StartupWindow.h"

#include "app/AboutWindow.h"
#include "app/Cli.h"
#include "app/FolderChooser.h"
#include "app/OperatorFolders.h"
#include "app/PasswordDialog.h"
#include "app/WindowHelpers.h"
#include "common/AtomicFile.h"
#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "config/PasswordStore.h"
#include "run/RecordingPrompt.h"
#include "run/RunDriver.h"
#include "run/Steps.h"
#include "transfer/Changes.h"
#include "transfer/RunLockStep.h"
#include "transfer/Versions.h"

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

// Focus moving inside the window, as opposed to another window (a message
// box, another program) taking over: only the first counts as a control
// gaining or losing the focus.
bool withinWindow(const QEvent* event)
{
    const auto reason = static_cast<const QFocusEvent*>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QFont fixedFont()
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
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

void keepRoomWhenHidden(QWidget* widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

} // namespace

ClickableLabel::ClickableLabel(QWidget* parent) : PathLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
    setHoverFrame(true);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    PathLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
}

StartupWindow::StartupWindow(Context& ctx, WindowState& state, QWidget* parent)
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

void StartupWindow::buildUi()
{
    const QFont mono = fixedFont();
    const QFontMetrics monoMetrics(mono);
    const int monoChar = monoMetrics.horizontalAdvance(QLatin1Char('M'));
    const QIcon databaseIcon = style()->standardIcon(QStyle::SP_FileIcon);
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    // The check boxes of both groups sit in a first column of one width, so
    // the paths of the two groups start at the same place: room for the
    // longest caption ("SCHEDE CLIENTI" or "DATI" with a date).
    const int checkIndent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                            style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    const int tickColumn = checkIndent + monoChar * 25 + 8;
    // Room for the longest result ("Aggiornate: ->" and two counters).
    const int resultWidth = monoMetrics.horizontalAdvance(QStringLiteral("Aggiornate: ->00000000000 <-")) + 8;

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_pctbase = new QWidget(this);
    m_pctbase->setObjectName(QStringLiteral("pctbase"));
    outer->addWidget(m_pctbase);
    // The status line along the bottom edge: while a run works the progress
    // panel lies over it. It is always there, so the window never changes
    // size when a run starts or ends and nothing moves under the pointer.
    m_progressRoom = new QWidget(this);
    m_progressRoom->setObjectName(QStringLiteral("spazioProgresso"));
    m_progressRoom->setFixedHeight(qMax(QProgressBar().sizeHint().height(), fontMetrics().height()) + 12);
    outer->addWidget(m_progressRoom);

    auto* main = new QVBoxLayout(m_pctbase);
    main->setContentsMargins(20, 14, 20, 14);
    main->setSpacing(12);

    m_label1 = new QLabel(QStringLiteral("AGGIORNAMENTO DATI PER L'OPERATORE"), m_pctbase);
    m_label1->setObjectName(QStringLiteral("Label1"));
    QFont heading = font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.35);
    m_label1->setFont(heading);
    m_label1->setAlignment(Qt::AlignCenter);
    main->addWidget(m_label1);

    // Everything the user chooses; disabled while a run is in progress.
    m_selection = new QWidget(m_pctbase);
    m_selection->setObjectName(QStringLiteral("selezione"));
    auto* sel = new QVBoxLayout(m_selection);
    sel->setContentsMargins(0, 0, 0, 0);
    sel->setSpacing(12);
    main->addWidget(m_selection);

    // Operator, side and confirmation mode.
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    auto* label2_0 = new QLabel(QStringLiteral("Operatore"), m_selection);
    label2_0->setObjectName(QStringLiteral("Label2_0"));
    m_codOper = new QLineEdit(m_selection);
    m_codOper->setObjectName(QStringLiteral("CodOper"));
    m_codOper->setFont(mono);
    m_codOper->setFixedWidth(monoChar * (kCodeLength + 2) + 12);
    // A longer code could name no operator: the box takes no more.
    m_codOper->setMaxLength(kCodeLength);
    m_codOper->setToolTip(QStringLiteral("F4 o doppio clic: elenco degli operatori"));
    label2_0->setBuddy(m_codOper);

    // The operator list floats over the window below the code box; it comes
    // right after the code box in the focus chain.
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("LCodOpe"));
    m_list->setFont(mono);
    m_list->setFixedSize(monoChar * 32 + 24, 180);
    m_list->hide();

    auto* computer = new QGroupBox(QStringLiteral("Computer"), m_selection);
    computer->setObjectName(QStringLiteral("Frame1"));
    auto* computerLayout = new QHBoxLayout(computer);
    computerLayout->setContentsMargins(10, 4, 10, 4);
    computerLayout->setSpacing(14);
    m_optGroup = new QButtonGroup(this);
    const QStringList sides{QStringLiteral("DeskTop"), QStringLiteral("Portatile")};
    for (int i = 0; i < 2; ++i) {
        m_optPC[i] = new QRadioButton(sides[i], computer);
        m_optPC[i]->setObjectName(QStringLiteral("optPC_%1").arg(i));
        m_optGroup->addButton(m_optPC[i], i);
        computerLayout->addWidget(m_optPC[i]);
    }
    m_optPC[0]->setChecked(true);

    m_chkDebug = new QCheckBox(QStringLiteral("con Debug"), m_selection);
    m_chkDebug->setObjectName(QStringLiteral("chkDebug"));
    m_chkDebug->setToolTip(QStringLiteral("Mostra e chiede conferma di ogni copia dei documenti"));

    top->addWidget(label2_0, 0, Qt::AlignVCenter);
    top->addWidget(m_codOper, 0, Qt::AlignVCenter);
    top->addStretch(1);
    top->addWidget(computer);
    top->addSpacing(12);
    top->addWidget(m_chkDebug, 0, Qt::AlignBottom);
    sel->addLayout(top);

    // Result labels: in a column at the right end of their group, all of one
    // width so the two groups line up; shown once a run has a result.
    for (int i = 0; i < 5; ++i) {
        m_lbCount[i] = new QLabel(QStringLiteral("Conta"));
        m_lbCount[i]->setObjectName(QStringLiteral("lbCount_%1").arg(i));
        m_lbCount[i]->setFont(mono);
        m_lbCount[i]->setFixedWidth(resultWidth);
        m_lbCount[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        keepRoomWhenHidden(m_lbCount[i]);
    }

    // Databases and their synchronisations.
    auto* archivi = new QGroupBox(QStringLiteral("Archivi"), m_selection);
    archivi->setObjectName(QStringLiteral("FrameArchivi"));
    archivi->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* ag = new QGridLayout(archivi);
    ag->setContentsMargins(12, 10, 12, 10);
    ag->setHorizontalSpacing(12);
    ag->setVerticalSpacing(6);
    const QStringList fileLabels{QStringLiteral("Da"), QStringLiteral("su")};
    const QStringList fileTips{QStringLiteral("Archivio dell'operatore (clic per sceglierlo)"),
                               QStringLiteral("Archivio di scambio (clic per sceglierlo)")};
    for (int i = 0; i < 2; ++i) {
        auto* caption = new QLabel(fileLabels[i], archivi);
        caption->setObjectName(QStringLiteral("Label2_%1").arg(i + 1));
        // Left-aligned with the captions of the check boxes below it.
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        caption->setIndent(checkIndent);
        m_lbFile[i] = new ClickableLabel(archivi);
        m_lbFile[i]->setObjectName(QStringLiteral("lbFile_%1").arg(i));
        m_lbFile[i]->setFont(mono);
        m_lbFile[i]->setIcon(databaseIcon);
        m_lbFile[i]->setStatusTip(fileTips[i]);
        connect(m_lbFile[i], &ClickableLabel::clicked, this, [this, i] { clickLbFile(i); });
        ag->addWidget(caption, i, 0);
        ag->addWidget(m_lbFile[i], i, 1, 1, 2);
    }
    m_chkDati = new QCheckBox(archivi);
    m_chkDati->setObjectName(QStringLiteral("chkDati"));
    m_chkDati->setFont(mono);
    m_chkVisite = new QCheckBox(archivi);
    m_chkVisite->setObjectName(QStringLiteral("chkVisite"));
    m_chkVisite->setFont(mono);
    // The appointments heading sits under the "VISITE" caption, its result
    // beside it.
    m_lbAppu = new QLabel(QStringLiteral("APPUNTAMENTI"), archivi);
    m_lbAppu->setObjectName(QStringLiteral("lbAppu"));
    m_lbAppu->setFont(mono);
    m_lbAppu->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_lbAppu->setIndent(checkIndent);
    // The results of a run take room kept for them from the start.
    keepRoomWhenHidden(m_lbAppu);
    for (int i = 3; i < 5; ++i)
        m_lbCount[i]->setParent(archivi);
    ag->addWidget(m_chkDati, 2, 0);
    ag->addWidget(m_chkVisite, 3, 0);
    ag->addWidget(m_lbCount[3], 3, 2);
    ag->addWidget(m_lbAppu, 4, 0);
    ag->addWidget(m_lbCount[4], 4, 2);
    ag->setColumnMinimumWidth(0, tickColumn);
    ag->setColumnStretch(1, 1);
    sel->addWidget(archivi);

    // Document groups and their exchange folders.
    auto* documenti = new QGroupBox(QStringLiteral("Documenti"), m_selection);
    documenti->setObjectName(QStringLiteral("FrameDocumenti"));
    documenti->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* dg = new QGridLayout(documenti);
    dg->setContentsMargins(12, 10, 12, 10);
    dg->setHorizontalSpacing(12);
    dg->setVerticalSpacing(6);
    for (int i = 0; i < 3; ++i) {
        m_check1[i] = new QCheckBox(documenti);
        m_check1[i]->setObjectName(QStringLiteral("Check1_%1").arg(i));
        m_check1[i]->setFont(mono);
        m_lbFileX[i] = new ClickableLabel(documenti);
        m_lbFileX[i]->setObjectName(QStringLiteral("lbFileX_%1").arg(i));
        m_lbFileX[i]->setFont(mono);
        m_lbFileX[i]->setIcon(folderIcon);
        m_lbFileX[i]->setStatusTip(QStringLiteral("Cartella di scambio (clic per sceglierla)"));
        connect(m_lbFileX[i], &ClickableLabel::clicked, this, [this, i] { clickLbFileX(i); });
        m_lbCount[i]->setParent(documenti);
        dg->addWidget(m_check1[i], i, 0);
        dg->addWidget(m_lbFileX[i], i, 1);
        dg->addWidget(m_lbCount[i], i, 2);
    }
    dg->setColumnMinimumWidth(0, tickColumn);
    dg->setColumnStretch(1, 1);
    sel->addWidget(documenti);

    main->addStretch(1);
    auto* rule = new QFrame(m_pctbase);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    main->addWidget(rule);

    // The two buttons.
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    // The About box, at hand in normal use too (F1).
    m_cmdInfo = new QToolButton(m_pctbase);
    m_cmdInfo->setObjectName(QStringLiteral("cmdInfo"));
    m_cmdInfo->setText(QStringLiteral("?"));
    m_cmdInfo->setToolTip(QStringLiteral("Informazioni sul programma (F1)"));
    m_cmdInfo->setFocusPolicy(Qt::NoFocus);
    buttons->addWidget(m_cmdInfo);
    // The runs kept, to put one back.
    m_cmdVersioni = new QPushButton(QStringLiteral("&VERSIONI"), m_pctbase);
    m_cmdVersioni->setObjectName(QStringLiteral("cmdVersioni"));
    m_cmdVersioni->setAutoDefault(false);
    m_cmdVersioni->setToolTip(
        QStringLiteral("Gli aggiornamenti conservati: che cosa hanno cambiato, e il ripristino"));
    buttons->addWidget(m_cmdVersioni);
    buttons->addStretch(1);
    // The preview sits beside the run button, in its own slot: hiding
    // "&ESEGUI" after a run does not move it.
    m_cmdAnteprima = new QPushButton(QStringLiteral("&ANTEPRIMA"), m_pctbase);
    m_cmdAnteprima->setObjectName(QStringLiteral("cmdAnteprima"));
    m_cmdAnteprima->setMinimumWidth(120);
    m_cmdAnteprima->setAutoDefault(false);
    m_cmdAnteprima->setToolTip(
        QStringLiteral("Mostra che cosa farebbe l'aggiornamento, senza scrivere nulla"));
    buttons->addWidget(m_cmdAnteprima);
    const QStringList captions{QStringLiteral("&ESEGUI"), QStringLiteral("&USCITA")};
    for (int i = 0; i < 2; ++i) {
        m_cmdM[i] = new QPushButton(captions[i], m_pctbase);
        m_cmdM[i]->setObjectName(QStringLiteral("cmdM_%1").arg(i));
        m_cmdM[i]->setMinimumWidth(120);
        m_cmdM[i]->setAutoDefault(false);
        buttons->addWidget(m_cmdM[i]);
    }
    m_cmdM[0]->setToolTip(QStringLiteral("Esegue l'aggiornamento"));
    m_cmdM[1]->setToolTip(QStringLiteral("Chiude il programma (F2)"));
    main->addLayout(buttons);

    // The folder chooser floats over the window, outside the panel it
    // disables while it is shown.
    m_pctDirList = new FolderChooser(this);
    m_pctDirList->hide();
    connect(m_pctDirList, &FolderChooser::buttonClicked, this, &StartupWindow::clickCmdDir);

    // Focus order: code box, operator list, side, debug, check boxes, buttons.
    setTabOrder(m_codOper, m_list);
    setTabOrder(m_list, m_optPC[0]);
    setTabOrder(m_optPC[0], m_optPC[1]);
    setTabOrder(m_optPC[1], m_chkDebug);
    setTabOrder(m_chkDebug, m_chkDati);
    setTabOrder(m_chkDati, m_chkVisite);
    setTabOrder(m_chkVisite, m_check1[0]);
    setTabOrder(m_check1[0], m_check1[1]);
    setTabOrder(m_check1[1], m_check1[2]);
    setTabOrder(m_check1[2], m_cmdAnteprima);
    setTabOrder(m_cmdAnteprima, m_cmdM[0]);
    setTabOrder(m_cmdM[0], m_cmdM[1]);

    // User edits go straight into the state.
    connect(m_codOper, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!m_syncing)
            m_state.CodOper = text;
    });
    connect(m_optGroup, &QButtonGroup::idClicked, this, &StartupWindow::onOptPC);
    connect(m_chkDebug, &QCheckBox::clicked, this, &StartupWindow::onChkDebug);
    for (int i = 0; i < 3; ++i) {
        connect(m_check1[i], &QCheckBox::clicked, this,
                [this, i](bool on) { m_state.Check1[i].value = on ? 1 : 0; });
    }
    connect(m_chkDati, &QCheckBox::clicked, this, [this](bool on) { m_state.chkDati.value = on ? 1 : 0; });
    connect(m_chkVisite, &QCheckBox::clicked, this,
            [this](bool on) { m_state.chkVisite.value = on ? 1 : 0; });
    connect(m_list, &QListWidget::itemDoubleClicked, this,
            [this] { m_codOper->setFocus(Qt::OtherFocusReason); });
    connect(m_cmdM[0], &QPushButton::clicked, this, &StartupWindow::onEsegui);
    connect(m_cmdAnteprima, &QPushButton::clicked, this, &StartupWindow::onAnteprima);
    connect(m_cmdM[1], &QPushButton::clicked, this, &QWidget::close);
    connect(m_cmdInfo, &QToolButton::clicked, this, &StartupWindow::showAbout);
    connect(m_cmdVersioni, &QPushButton::clicked, this, &StartupWindow::onVersioni);
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

    CaricaFinestra(m_ctx, m_state);
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
    if (m_listItems != m_state.LCodOpe) {
        m_listItems = m_state.LCodOpe;
        m_list->clear();
        m_list->addItems(m_listItems);
    }
    m_syncing = false;
}

void StartupWindow::aggiornaFinestra()
{
    AggiornaFinestra(m_ctx, m_state);
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
            aggiornaFinestra();
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
    aggiornaFinestra();
}

void StartupWindow::chooseOperator(const QString& code)
{
    m_state.CodOper = code;
    m_ctx.CodOperatore = code.trimmed();
    if (CodiceOperatoreValido(m_ctx.CodOperatore))
        CaricaParametri(m_ctx);
    aggiornaFinestra();
}

void StartupWindow::clickOptPC(int index)
{
    m_optPC[index == 0 ? 0 : 1]->setChecked(true);
    onOptPC(index == 0 ? 0 : 1);
}

void StartupWindow::onOptPC(int index)
{
    m_state.optPC = index;
    aggiornaFinestra();
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
    const bool exit = !RunDriver::runnableOperator(m_ctx.CodOperatore);
    if (!exit && !CodiceOperatoreValido(m_ctx.CodOperatore)) {
        m_codOper->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!m_driver)
        m_driver = std::make_unique<RunDriver>(m_ctx, StandardSteps(m_ctx));
    if (m_boxes)
        m_boxes->clear();
    if (!exit) {
        setRunning(true);
        // Every change kept first, so that the run can be put back.
        VersioningChanges sink(
            VersionStore(VersionSettings::fromConfiguration(m_ctx.config.FileIni), m_ctx.CodOperatore,
                         m_state.optPC == 1,
                         VersionInstallation::of(m_ctx.config.FileIni, m_ctx.config.PathDati)),
            m_ctx.prompt);
        m_driver->run(richiestaDaFinestra(m_ctx, m_state), sink, &m_live);
        sink.finish(&m_driver->report());
        setRunning(false);
        RunReport report = m_driver->report();
        report.versions.asked = true;
        report.versions.entry = sink.entryId();
        report.versions.folder = sink.entryFolder();
        report.versions.pruned = sink.pruned();
        report.versions.failure = sink.failure();
        mostraRisultati(m_state, report);
        // A run log that cannot be written costs the run nothing.
        if (m_runLog)
            static_cast<void>(m_runLog->append(
                report.started, runLogText(report, m_boxes ? m_boxes->boxes() : std::vector<ShownBox>{})));
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
    AnsweringPrompt answers(m_ctx.prompt, true);
    Context dry(answers);
    dry.config = m_ctx.config;
    dry.CodOperatore = m_ctx.CodOperatore;
    dry.PasswordOperatore = m_ctx.PasswordOperatore;
    dry.ProblemaIni = m_ctx.ProblemaIni;
    dry.LetturaIniFallita = m_ctx.LetturaIniFallita;
    dry.dryRun = true;
    RunDriver driver(dry, StandardSteps(dry));
    setRunning(true);
    WithheldChanges sink;
    driver.run(richiestaDaFinestra(m_ctx, m_state, true), sink, &m_live);
    setRunning(false);
    if (focusWidget() == this)
        m_cmdAnteprima->setFocus(Qt::OtherFocusReason);
    const QString text = previewText(driver.report(), answers.boxes());

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgAnteprima"));
    dialog.setWindowTitle(QStringLiteral("ANTEPRIMA DELL'AGGIORNAMENTO"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(text, &dialog);
    view->setObjectName(QStringLiteral("txtAnteprima"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(fixedFont());
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* copy = buttons->addButton(QStringLiteral("&COPIA"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("cmdCopia"));
    copy->setToolTip(QStringLiteral("Copia il testo negli appunti"));
    auto* save = buttons->addButton(QStringLiteral("&SALVA..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("cmdSalva"));
    save->setToolTip(QStringLiteral("Salva il testo in un file"));
    auto* close = buttons->addButton(QStringLiteral("&CHIUDI"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdChiudi"));
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(copy, &QPushButton::clicked, &dialog, [text] { QGuiApplication::clipboard()->setText(text); });
    connect(save, &QPushButton::clicked, &dialog, [this, &dialog, text] { salvaAnteprima(&dialog, text); });
    layout->addWidget(buttons);
    // Large enough to show the longest line and every line, within the
    // screen.
    const QFontMetrics metrics(view->font());
    int longest = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        longest = qMax(longest, metrics.horizontalAdvance(line));
    const int chrome = view->frameWidth() * 2 + view->document()->documentMargin() * 2 +
                       view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    const QRect screen =
        (window()->screen() ? window()->screen() : QGuiApplication::primaryScreen())->availableGeometry();
    const int viewW = qBound(metrics.averageCharWidth() * 60, longest + chrome, screen.width() * 9 / 10 - 40);
    const int viewH =
        qBound(metrics.lineSpacing() * 10, metrics.lineSpacing() * int(lines.size() + 1) + chrome,
               screen.height() * 8 / 10 - buttons->sizeHint().height() - 40);
    view->setMinimumSize(qMin(viewW, metrics.averageCharWidth() * 60),
                         qMin(viewH, metrics.lineSpacing() * 10));
    dialog.resize(viewW + 24, viewH + buttons->sizeHint().height() + 36);
    runModal(dialog);
}

void StartupWindow::salvaAnteprima(QWidget* parent, const QString& text)
{
    QFileDialog dialog(parent, QStringLiteral("SALVA ANTEPRIMA"));
    dialog.setObjectName(QStringLiteral("dlgSalvaAnteprima"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("Testo (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("anteprima-%1.txt").arg(m_ctx.CodOperatore));
    if (runModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (const Error e = saveToFile(path, text.toUtf8() + '\n')) {
        const Error error = platform::fileErrorFromErrno(e.number, path);
        m_ctx.prompt.show(QStringLiteral("ERRORE NEL SALVATAGGIO DELL'ANTEPRIMA\n") + path +
                              QLatin1Char('\n') + QString::number(error.number) + QLatin1Char('-') +
                              error.text,
                          MsgStyle::ExclamationOk);
    }
}

void StartupWindow::onVersioni()
{
    if (m_running || m_ended)
        return;
    if (m_list->isVisible())
        listLostFocus();
    const bool portable = m_state.optPC == 1;
    const VersionStore store(VersionSettings::fromConfiguration(m_ctx.config.FileIni), m_ctx.CodOperatore,
                             portable, VersionInstallation::of(m_ctx.config.FileIni, m_ctx.config.PathDati));

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dlgVersioni"));
    dialog.setWindowTitle(
        QStringLiteral("VERSIONI - operatore %1 (%2)")
            .arg(m_ctx.CodOperatore, portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop")));
    auto* layout = new QVBoxLayout(&dialog);
    auto* heading = new QLabel(QStringLiteral("Aggiornamenti conservati, dal più recente:"), &dialog);
    layout->addWidget(heading);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstVersioni"));
    list->setFont(fixedFont());
    layout->addWidget(list, 1);
    auto* details = new QPlainTextEdit(&dialog);
    details->setObjectName(QStringLiteral("txtVersione"));
    details->setReadOnly(true);
    details->setLineWrapMode(QPlainTextEdit::NoWrap);
    details->setFont(fixedFont());
    layout->addWidget(details, 1);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* restore = buttons->addButton(QStringLiteral("&RIPRISTINA"), QDialogButtonBox::ActionRole);
    restore->setObjectName(QStringLiteral("cmdRipristina"));
    restore->setToolTip(
        QStringLiteral("Rimette file, database e chiavi come erano prima dell'aggiornamento scelto"));
    auto* close = buttons->addButton(QStringLiteral("&CHIUDI"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdChiudi"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // This installation's entries, then those that do not say theirs (kept
    // by an earlier version of the program) under a heading of their own;
    // another installation's are not shown. Each row of an entry holds its
    // place in `entries`.
    std::vector<VersionEntry> entries;
    const auto entryAt = [&](int row) -> int {
        const QListWidgetItem* item = row >= 0 ? list->item(row) : nullptr;
        return item ? item->data(Qt::UserRole).toInt() : -1;
    };
    auto fill = [&] {
        entries = store.list(VersionStore::Owner::This);
        const size_t own = entries.size();
        for (VersionEntry& e : store.list(VersionStore::Owner::Unrecorded))
            entries.push_back(std::move(e));
        list->clear();
        auto addLine = [&](const QString& text, int index) {
            auto* item = new QListWidgetItem(text, list);
            item->setData(Qt::UserRole, index);
            if (index < 0)
                item->setFlags(Qt::ItemIsEnabled);
        };
        for (size_t i = 0; i < own; ++i)
            addLine(entries[i].summaryLine(), int(i));
        if (own == 0)
            addLine(QStringLiteral("nessuna versione in ") + store.folder(), -1);
        if (entries.size() > own)
            addLine(QStringLiteral("Versioni senza installazione registrata:"), -1);
        for (size_t i = own; i < entries.size(); ++i)
            addLine(entries[i].summaryLine(), int(i));
        int first = 0;
        while (first < list->count() && entryAt(first) < 0)
            ++first;
        list->setCurrentRow(first < list->count() ? first : 0);
        restore->setEnabled(entryAt(list->currentRow()) >= 0);
    };
    auto show = [&](int row) {
        const int index = entryAt(row);
        restore->setEnabled(index >= 0);
        if (index < 0) {
            details->clear();
            return;
        }
        const VersionEntry& e = entries[size_t(index)];
        QStringList lines;
        lines << QStringLiteral("Versione %1 del %2%3")
                     .arg(e.id, e.started.toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                          e.restores.isEmpty() ? QString()
                                               : QStringLiteral(" (ripristino di ") + e.restores + ')');
        if (!e.ended)
            lines << QStringLiteral("(aggiornamento interrotto: si può ripristinare quanto registrato)");
        for (const auto& [table, rows] : e.rows)
            lines << QStringLiteral("  righe %1: %2").arg(table).arg(rows);
        for (const VersionItem& item : e.items) {
            switch (item.kind) {
            case VersionItem::Kind::File:
                lines << (item.version.isEmpty() ? QStringLiteral("  file creato:   ")
                                                 : QStringLiteral("  file:          ")) +
                             item.path;
                break;
            case VersionItem::Kind::Database:
                lines << QStringLiteral("  database:      ") + item.path;
                break;
            case VersionItem::Kind::Key:
                lines << QStringLiteral("  chiave:        [%1] %2 = %3")
                             .arg(item.section, item.key,
                                  item.hadValue ? item.oldValue : QStringLiteral("(assente)"));
                break;
            }
        }
        details->setPlainText(lines.join(QLatin1Char('\n')));
    };
    connect(list, &QListWidget::currentRowChanged, &dialog, show);
    connect(restore, &QPushButton::clicked, &dialog, [&] {
        const int index = entryAt(list->currentRow());
        if (index < 0)
            return;
        const VersionEntry entry = entries[size_t(index)];
        // A damaged version is not put back, not even in part.
        if (const QStringList damaged = damagedItems(entry); !damaged.isEmpty()) {
            m_ctx.prompt.show(QStringLiteral("RIPRISTINO NON ESEGUITO\nLa versione ") + entry.id +
                                  QStringLiteral(" è danneggiata: nessun file è stato modificato.\n") +
                                  damaged.join(QLatin1Char('\n')),
                              MsgStyle::ExclamationOk, QStringLiteral("VERSIONI"));
            return;
        }
        QString text =
            QStringLiteral("RIPRISTINO DELLA VERSIONE ") + entry.id + QLatin1Char('\n') +
            QStringLiteral("File, database e chiavi tornano come erano prima di quell'aggiornamento.");
        if (const QStringList missing = missingFolders(entry); !missing.isEmpty()) {
            text += QStringLiteral("\nATTENZIONE: area di scambio assente, non c'è la cartella:");
            for (const QString& m : missing)
                text += QStringLiteral("\n  ") + m;
        }
        if (store.owner(entry) == VersionStore::Owner::Unrecorded)
            text += QLatin1Char('\n') + unrecordedEntryWarning();
        const QStringList later = laterChanges(entry);
        if (!later.isEmpty()) {
            text += QStringLiteral(
                "\nATTENZIONE: un aggiornamento successivo ha modificato gli stessi file o dati:");
            for (int i = 0; i < qMin(10, int(later.size())); ++i)
                text += QStringLiteral("\n  ") + later[i];
            if (later.size() > 10)
                text += QStringLiteral("\n  ... e altri ") + QString::number(later.size() - 10);
        }
        text += QStringLiteral("\nProcedo con il ripristino?");
        if (m_ctx.prompt.show(text, MsgStyle::Question, QStringLiteral("VERSIONI")) != AnswerYes)
            return;
        // Under the run lock, like a run, and through a sink that keeps
        // versions in turn: the restore can be put back too.
        QStringList failures;
        QString entryMade;
        {
            ApplyChanges leftovers; // a killed run's temporaries, removed under the lock
            CorsaEsclusiva exclusive(m_ctx, richiestaDaFinestra(m_ctx, m_state), leftovers);
            if (exclusive.refused())
                return;
            VersioningChanges sink(store, m_ctx.prompt, entry.id);
            failures = restoreEntry(entry, sink);
            sink.finish(nullptr);
            entryMade = sink.entryId();
        }
        if (failures.isEmpty())
            m_ctx.prompt.show(QStringLiteral("RIPRISTINO COMPLETATO") +
                                  (entryMade.isEmpty()
                                       ? QString()
                                       : QStringLiteral("\nIl ripristino stesso è la versione ") + entryMade),
                              MsgStyle::Ok);
        else
            m_ctx.prompt.show(QStringLiteral("RIPRISTINO NON RIUSCITO\n") + failures.join(QLatin1Char('\n')),
                              MsgStyle::ExclamationOk);
        fill();
        show(list->currentRow());
        // The keys the restore put back show in the window, as a load would.
        AggiornaFinestra(m_ctx, m_state);
        syncFromModel();
    });
    fill();
    show(list->currentRow());
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 800, 600);
    dialog.resize(qMin(screen.width() - 40, 760), qMin(screen.height() - 60, 480));
    runModal(dialog);
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
    scratch.dryRun = true;
    WindowState fresh = m_state;
    AggiornaFinestra(scratch, fresh);
    m_state.chkDati.caption = fresh.chkDati.caption;
    m_state.chkVisite.caption = fresh.chkVisite.caption;
    for (size_t i = 0; i < m_state.Check1.size(); ++i)
        m_state.Check1[i].caption = fresh.Check1[i].caption;
}

bool StartupWindow::handleKey(QObject* receiver, QKeyEvent* event)
{
    const int key = event->key();
    if (GestioneTasti(key, event->modifiers(), this))
        return true;
    if (m_pctDirList->isVisible()) {
        // In the folder chooser Escape cancels and Enter on the folder list
        // opens the highlighted folder.
        if (key == Qt::Key_Escape) {
            clickCmdDir(1);
            return true;
        }
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && receiver == m_pctDirList->dirList()) {
            m_pctDirList->openHighlighted();
            return true;
        }
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_running) {
        // An Enter meant for a message box that has just closed moves
        // nothing and presses nothing while a run works.
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Enter never types a character. On a button it presses it; anywhere
        // else it moves to the next control.
        if (auto* button = qobject_cast<QPushButton*>(receiver)) {
            // A hidden button (the run button after a run) keeps the focus
            // while a message box is up; it must not be pressed.
            if (button->isVisible() && button->isEnabled())
                button->click();
            else
                focusNextChild();
            return true;
        }
        focusNextChild();
        return true;
    }
    if (key == Qt::Key_F4) {
        MostraOperatori();
        return true;
    }
    if (key == Qt::Key_F1) {
        showAbout();
        return true;
    }
    if (key == Qt::Key_Escape && m_list->isVisible()) {
        // Escape closes the operator list without taking an item.
        m_list->hide();
        m_scegliDaLista = 0;
        m_codOper->setFocus(Qt::OtherFocusReason);
        return true;
    }
    // Every letter a-z typed in the window arrives in upper case.
    const QString text = event->text();
    if (text.size() == 1 &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        const int code = text.at(0).unicode();
        const int upper = TastoMaiuscolo(code);
        if (upper != code) {
            QKeyEvent replaced(QEvent::KeyPress, key, event->modifiers(), QString(QChar(upper)),
                               event->isAutoRepeat(), quint16(event->count()));
            m_resending = true;
            QCoreApplication::sendEvent(receiver, &replaced);
            m_resending = false;
            return true;
        }
    }
    return false;
}

bool StartupWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_codOper) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // The focus given at load arrives when the window first becomes
            // active; it counts as the box getting the focus.
            if (withinWindow(event) || !m_codOperFocused) {
                m_codOperFocused = true;
                m_scegliDaLista = 0;
                SelezionaTesto(m_codOper);
            }
            break;
        case QEvent::FocusOut:
            if (withinWindow(event) && !m_syncing && !m_ended)
                codOperLostFocus();
            break;
        case QEvent::MouseButtonDblClick:
            // With no list to pick from nothing happens: the code typed in
            // the box is still confirmed when the box loses the focus.
            if (m_list->count() > 0 && !m_running && !m_pctDirList->isVisible()) {
                m_scegliDaLista = 1;
                MostraOperatori();
            }
            return true;
        default:
            break;
        }
    } else if (watched == m_list) {
        if (event->type() == QEvent::FocusOut && withinWindow(event) && !m_ended)
            listLostFocus();
    }

    if (event->type() == QEvent::KeyPress && !m_resending) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this && isVisible() && isEnabled())
            return handleKey(watched, static_cast<QKeyEvent*>(event));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mirsalex
