#pragma once

#include "common/RunLog.h"
#include "config/Context.h"
#include "gui/PathLabel.h"
#include "session/OperatorForm.h"
#include "session/OperatorFormLoad.h"
#include "session/RunSession.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QDialog;
class QGroupBox;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace mirsalex {

class FolderChooser;
class RecordingPrompt;

// A path label that reports clicks (the database and folder labels of the
// window).
class ClickableLabel : public PathLabel
{
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget* parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The main window ("Startup"): start-up (configuration file, password),
// operator choice, side, transfer set and the two buttons. It shows the
// OperatorForm the core routines work on: syncFromModel() after every core
// call, and user edits are written back into the state at once.
//
// Control arrays are named "<name>_<index>": Label2_0, optPC_1, lbFile_0,
// lbFileX_2, Check1_0, lbCount_4, cmdM_1.
class StartupWindow : public QWidget
{
    Q_OBJECT
public:
    struct StartOptions
    {
        QString ini;           // configuration file given by the user (no search)
        QString programFolder; // where to look for it otherwise
        QString programName;
    };
    // Runs a modal dialog and returns its result (QDialog::exec by default;
    // tests drive the dialog instead).
    using ModalRunner = std::function<int(QDialog&)>;

    // What the database labels ask of the file-open dialog.
    struct FileRequest
    {
        QString title;        // "ESPORTAZIONE DATI"
        QString folder;       // initial folder
        QString proposedName; // the label's text
        QString filter;       // "DataBase (*.mdb)"
    };
    // Shows a file-open dialog and returns the chosen full path, or the empty
    // text when the user cancelled. The default one shows the platform's
    // dialog through the modal runner; tests answer it themselves.
    using FileChooser = std::function<QString(QWidget* parent, const FileRequest& request)>;

    // Exit status of a start-up that could not go on.
    static constexpr int kStartupFailed = exitstatus::kUsage;

    StartupWindow(Context& ctx, OperatorForm& state, QWidget* parent = nullptr);
    ~StartupWindow() override;

    void setModalRunner(ModalRunner runner) { m_runModal = std::move(runner); }
    // The run under way, if any (the progress display reads its counters).
    const LiveRun& liveRun() const { return m_live; }
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // Every run appends its report to `log`, with the boxes `boxes` saw (the
    // recorder the context's prompt is, or null). Without a log none is kept;
    // a log that cannot be written is passed over.
    void setRunLog(const RunLog& log, RecordingPrompt* boxes)
    {
        m_runLog = log;
        m_boxes = boxes;
    }

    // Measures the screen, locates the configuration file and asks for the
    // password. False when the start-up cannot go on.
    bool initialise(const StartOptions& options);
    // Loads the window (after initialise). False when the program ends
    // instead (missing configuration file: About box first).
    bool load();
    // Both in order.
    bool start(const StartOptions& options);

    bool avvioFallito() const { return m_avvioFallito; }
    // True once the program has been asked to end; exitCode() is its status.
    bool ended() const { return m_ended; }
    int exitCode() const { return m_exitCode; }
    // Full path of the configuration file found (empty when none).
    QString iniPath() const { return m_iniPath; }

    // Brings every control up to date with the state.
    void syncFromModel();
    // Refills the transfer set for the current operator and side, then
    // shows it (session's loadTransferSet() and syncFromModel()).
    void refreshTransferSet();
    // Opens the operator list (F4, double-click on the code box).
    void MostraOperatori();
    // The side option clicked from code (0 desktop, 1 portable).
    void clickOptPC(int index);
    // Confirms an operator code as if typed in the code box and refreshes.
    void chooseOperator(const QString& code);

    // The database label `index` clicked: the file-open dialog chooses its path.
    void clickLbFile(int index);
    // The folder label `index` clicked: the folder chooser opens for its group.
    void clickLbFileX(int index);
    // A button of the folder chooser clicked (0 confirm, 1 cancel).
    void clickCmdDir(int index);

    QLineEdit* codOper() const { return m_codOper; }
    QListWidget* operatorList() const { return m_list; }
    FolderChooser* folderChooser() const { return m_pctDirList; }

Q_SIGNALS:
    // The window has ended the program; the application leaves its loop.
    void programEnded(int exitCode);
    // A database label (0 "Da", 1 "su") or a document folder label was clicked.
    void lbFileClicked(int index);
    void lbFileXClicked(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    bool chiediPassword();
    void endProgram(int code);
    bool handleKey(QObject* receiver, QKeyEvent* event);
    void codOperLostFocus();
    void listLostFocus();
    void onOptPC(int index);
    void onChkDebug();
    void onEsegui();
    // "&ANTEPRIMA": what "&ESEGUI" would move now, in a read-only dialog
    // ("dlgAnteprima"); nothing is written and "&ESEGUI" stays as it is.
    void onAnteprima();

public:
    // "VERSIONI": the runs kept for this operator and side, what each
    // changed, and the restore of one after a confirmation ("dlgVersioni").
    void onVersioni();

private:
    void setRunning(bool running);
    // The last run's outcome in the status line, cut to its width (the
    // whole in the tooltip).
    void showOutcome();
    // The About box, from the window at rest (F1, "?").
    void showAbout();
    // The dates beside the check boxes read again from the configuration.
    void aggiornaDate();
    int runModal(QDialog& dialog);
    QString showFileDialog(QWidget* parent, const FileRequest& request);
    void placeChooser();

    Context& m_ctx;
    OperatorForm& m_state;
    ModalRunner m_runModal;
    FileChooser m_chooseFile;
    std::unique_ptr<RunSession> m_session;
    LiveRun m_live;
    std::optional<RunLog> m_runLog;
    RecordingPrompt* m_boxes = nullptr;

    bool m_avvioFallito = false;
    bool m_ended = false;
    bool m_closePending = false;
    bool m_running = false;
    bool m_syncing = false;
    bool m_resending = false;
    bool m_codOperFocused = false;
    quint8 m_scegliDaLista = 0;
    int m_exitCode = 0;
    QString m_iniPath;
    QString m_shownCode; // operator the displays belong to
    QStringList m_listItems;

    QWidget* m_pctbase = nullptr;
    QWidget* m_progressRoom = nullptr; // room for the progress panel while a run works
    QWidget* m_selection = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_lbEsito = nullptr; // how the last run ended
    QLineEdit* m_codOper = nullptr;
    QListWidget* m_list = nullptr;
    QButtonGroup* m_optGroup = nullptr;
    std::array<QRadioButton*, 2> m_optPC{};
    std::array<ClickableLabel*, 2> m_lbFile{};
    std::array<ClickableLabel*, 3> m_lbFileX{};
    std::array<QCheckBox*, 3> m_check1{};
    QCheckBox* m_chkDati = nullptr;
    QCheckBox* m_chkVisite = nullptr;
    QCheckBox* m_chkDebug = nullptr;
    std::array<QLabel*, 5> m_lbCount{};
    QLabel* m_lbAppu = nullptr;
    std::array<QPushButton*, 2> m_cmdM{};
    QPushButton* m_cmdAnteprima = nullptr;
    QPushButton* m_cmdVersioni = nullptr;
    QToolButton* m_cmdInfo = nullptr;
    FolderChooser* m_pctDirList = nullptr;
    QPointer<QWidget> m_focusBeforeChooser;
};

} // namespace mirsalex
