#pragma once

#include <array>
#include <functional>
#include <QFrame>
#include <QHash>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace mirsalex {

// The folder chooser panel ("pctDirList") that the main window shows over
// its controls: a title ("lbTitolo"), the list of drives and places
// ("drvList"), the folder list ("dirList": the current folder with the folders
// that lead to it, and its subfolders) and the two buttons "cmdDir_0"
// ("&CONFERMA") and "cmdDir_1" ("&ANNULLA").
//
// The panel only keeps the folder list; what a choice means is up to the
// window, which listens to buttonClicked().
class FolderChooser : public QFrame
{
    Q_OBJECT
public:
    // A mounted file system as the drive list sees it.
    struct Volume
    {
        enum class Kind
        {
            Removable, // a disk that comes and goes (USB stick, memory card, optical disc)
            Network,   // a shared folder of another computer
            Other,     // the computer's own disks: reached from "/" or the home folder
        };
        QString root;  // mount point
        QString label; // the medium's name, empty when it has none
        Kind kind = Kind::Other;
    };
    // Lists the mounted file systems (the system's by default; tests give
    // their own).
    using VolumeSource = std::function<QList<Volume>()>;
    // The system's mounted volumes, each with its kind.
    static QList<Volume> mountedVolumes();

    explicit FolderChooser(QWidget* parent = nullptr);

    void setVolumeSource(VolumeSource source);

    void setTitle(const QString& title);
    QString title() const;

    // The folder list's current folder (no separator at its end, except for
    // the root).
    QString currentFolder() const { return m_current; }
    // Makes `folder` the current folder and lists it. False, with nothing
    // changed, when it cannot be read.
    bool setCurrentFolder(const QString& folder);
    // The highlighted entry of the folder list; the current folder when no
    // other entry is highlighted.
    QString highlightedFolder() const;
    // Highlights the entry of `folder` when the list holds one.
    bool highlight(const QString& folder);
    // Opens the highlighted entry (double-click or Enter on the list).
    void openHighlighted();

    // Reads the drives and places again (a removable disk may have come or
    // gone) and shows the current folder's: "/", the home folder and every
    // mounted removable or network medium with its label. Done each time the
    // chooser opens and each time the drive list is opened.
    void refreshDrives();
    // The drive or place that holds `folder` (the longest one leading to it).
    QString driveOf(const QString& folder) const;
    // Picks the drive at `index` of the drive list, as the user does: the
    // folder list moves to the last folder used on it (its root at first);
    // a drive that cannot be read is refused and the list goes back to the
    // drive of the current folder.
    void chooseDrive(int index);

    QComboBox* drvList() const { return m_drvList; }
    QTreeWidget* dirList() const { return m_dirList; }
    QPushButton* cmdDir(int index) const { return m_cmdDir[index == 0 ? 0 : 1]; }

Q_SIGNALS:
    // cmdDir clicked: 0 "&CONFERMA", 1 "&ANNULLA".
    void buttonClicked(int index);

private:
    void fill();
    void showDrive();
    void showHighlighted();
    static QString folderOfItem(const QTreeWidgetItem* item);

    VolumeSource m_volumes;
    QString m_current;
    QHash<QString, QString> m_lastOnDrive;
    QLabel* m_lbTitolo = nullptr;
    QComboBox* m_drvList = nullptr;
    QTreeWidget* m_dirList = nullptr;
    QLabel* m_lbPercorso = nullptr;
    std::array<QPushButton*, 2> m_cmdDir{};
};

} // namespace mirsalex
