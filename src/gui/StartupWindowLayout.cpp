// The main window's controls: built once, in the layout that fits a 800x600
// screen (see StartupWindow.h for the names of the control arrays).

#include "gui/FolderChooser.h"
#include "gui/StartupWindow.h"
#include "gui/WindowHelpers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSizePolicy>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

// Longest operator code; the list items hold the folder name in one more.
constexpr int kCodeLength = 13;

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
    // How the last run ended, in that line: said plainly when it did not
    // complete (nothing transferred, the groups skipped or failed and why).
    auto* statusLayout = new QHBoxLayout(m_progressRoom);
    statusLayout->setContentsMargins(20, 0, 20, 4);
    m_lbEsito = new QLabel(m_progressRoom);
    m_lbEsito->setObjectName(QStringLiteral("lbEsito"));
    m_lbEsito->setTextFormat(Qt::PlainText);
    m_lbEsito->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusLayout->addWidget(m_lbEsito);

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
    // The run button keeps its room once hidden after a run: nothing moves.
    keepRoomWhenHidden(m_cmdM[0]);
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

} // namespace mirsalex
