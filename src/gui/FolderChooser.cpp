#include "gui/FolderChooser.h"

#include "common/Platform.h"
#include "gui/PathLabel.h"

#include <algorithm>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

constexpr int kFolderRole = Qt::UserRole;

// File systems that hold no user folders: they are not offered as places.
bool isSystemFileSystem(const QByteArray& type)
{
    static const QList<QByteArray> system{"proc",    "sysfs",       "devtmpfs", "devpts",   "cgroup",
                                          "cgroup2", "mqueue",      "debugfs",  "tracefs",  "securityfs",
                                          "pstore",  "bpf",         "configfs", "fusectl",  "hugetlbfs",
                                          "autofs",  "binfmt_misc", "nsfs",     "efivarfs", "rpc_pipefs",
                                          "overlay", "squashfs",    "ramfs",    "selinuxfs"};
    return system.contains(type);
}

bool isSystemFolder(const QString& root)
{
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run/user", "/run/lock", "/boot", "/snap"}) {
        const QString p = QString::fromLatin1(prefix);
        if (root == p || root.startsWith(p + QLatin1Char('/')))
            return true;
    }
    return false;
}

// File system types of shared folders on other computers.
bool isNetworkFileSystem(const QByteArray& type)
{
    static const QList<QByteArray> network{
        "nfs",  "nfs4",      "cifs",       "smb3",  "smbfs", "ncpfs",       "afs",         "9p",
        "ceph", "glusterfs", "fuse.sshfs", "sshfs", "davfs", "fuse.davfs2", "fuse.rclone", "fuse.smbnetfs"};
    return network.contains(type);
}

// Folders under which the desktop and the administrator mount removable media.
bool isMediaFolder(const QString& root)
{
    for (const char* prefix : {"/media/", "/run/media/", "/mnt/"}) {
        if (root.startsWith(QString::fromLatin1(prefix)))
            return true;
    }
    return false;
}

// The kernel marks removable block devices (card readers, sticks, optical
// drives); a partition's mark is on its disk.
bool isRemovableDevice(const QByteArray& device)
{
    if (!device.startsWith("/dev/"))
        return false;
    const QString name = QFile::decodeName(device.mid(5));
    const QString node = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    if (node.isEmpty())
        return false;
    for (const QString& dir : {node, QFileInfo(node).path()}) {
        QFile flag(dir + QStringLiteral("/removable"));
        if (flag.open(QIODevice::ReadOnly))
            return flag.read(1) == "1";
    }
    return false;
}

// Absolute, clean, with the case found on disk; no separator at the end
// except for a root.
QString normalised(const QString& folder)
{
    QString path = QDir::fromNativeSeparators(folder.trimmed());
    if (path.isEmpty())
        return QString();
    path = QDir::cleanPath(QDir(path).absolutePath());
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(platform::resolve(path))));
}

QString withSeparator(const QString& folder)
{
    return folder.endsWith(platform::separator()) ? folder : folder + platform::separator();
}

// The folders from the root down to `folder`, root first.
QStringList chainOf(const QString& folder)
{
    QStringList chain;
    QDir dir(QDir::fromNativeSeparators(folder));
    for (;;) {
        chain.prepend(QDir::toNativeSeparators(dir.absolutePath()));
        if (dir.isRoot() || !dir.cdUp())
            break;
    }
    return chain;
}

QString nameOf(const QString& folder)
{
    const QString name = QDir(QDir::fromNativeSeparators(folder)).dirName();
    return name.isEmpty() ? folder : name;
}

// The folder list: every folder that leads to the current one is open, so
// the tree draws no expand or collapse marks.
class FolderTree : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;

protected:
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
};

// The drive list: read again each time it is opened, so a medium plugged in
// meanwhile is there.
class DriveList : public QComboBox
{
public:
    DriveList(QWidget* parent, std::function<void()> beforeOpening)
        : QComboBox(parent), m_beforeOpening(std::move(beforeOpening))
    {
    }
    void showPopup() override
    {
        if (m_beforeOpening)
            m_beforeOpening();
        QComboBox::showPopup();
    }

private:
    std::function<void()> m_beforeOpening;
};

} // namespace

FolderChooser::FolderChooser(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pctDirList"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(8);

    m_lbTitolo = new QLabel(this);
    m_lbTitolo->setObjectName(QStringLiteral("lbTitolo"));
    m_lbTitolo->setAlignment(Qt::AlignCenter);
    QFont heading = font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.2);
    m_lbTitolo->setFont(heading);
    layout->addWidget(m_lbTitolo);

    auto* hint = new QLabel(QStringLiteral("Cartella di scambio"), this);
    hint->setAlignment(Qt::AlignCenter);
    hint->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(hint);

    auto* driveRow = new QHBoxLayout;
    auto* driveCaption = new QLabel(QStringLiteral("Unità"), this);
    m_volumes = &FolderChooser::mountedVolumes;
    m_drvList = new DriveList(this, [this] { refreshDrives(); });
    m_drvList->setObjectName(QStringLiteral("drvList"));
    m_drvList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_drvList->setMinimumContentsLength(20);
    driveCaption->setBuddy(m_drvList);
    driveRow->addWidget(driveCaption);
    driveRow->addWidget(m_drvList, 1);
    layout->addLayout(driveRow);

    m_dirList = new FolderTree(this);
    m_dirList->setObjectName(QStringLiteral("dirList"));
    m_dirList->setHeaderHidden(true);
    m_dirList->setColumnCount(1);
    m_dirList->setRootIsDecorated(false);
    m_dirList->setItemsExpandable(false);
    m_dirList->setIndentation(14);
    m_dirList->setUniformRowHeights(true);
    m_dirList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_dirList->header()->setStretchLastSection(true);
    m_dirList->setTextElideMode(Qt::ElideMiddle);
    m_dirList->setToolTip(QStringLiteral("Doppio clic o Invio: apre la cartella"));
    layout->addWidget(m_dirList, 1);

    auto* lbPercorso = new PathLabel(this);
    lbPercorso->setObjectName(QStringLiteral("lbPercorso"));
    lbPercorso->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    m_lbPercorso = lbPercorso;
    layout->addWidget(m_lbPercorso);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    const QStringList captions{QStringLiteral("&CONFERMA"), QStringLiteral("&ANNULLA")};
    for (int i = 0; i < 2; ++i) {
        m_cmdDir[i] = new QPushButton(captions[i], this);
        m_cmdDir[i]->setObjectName(QStringLiteral("cmdDir_%1").arg(i));
        m_cmdDir[i]->setAutoDefault(false);
        m_cmdDir[i]->setMinimumWidth(110);
        buttons->addWidget(m_cmdDir[i]);
        connect(m_cmdDir[i], &QPushButton::clicked, this, [this, i] { Q_EMIT buttonClicked(i); });
    }
    layout->addLayout(buttons);

    setTabOrder(m_drvList, m_dirList);
    setTabOrder(m_dirList, m_cmdDir[0]);
    setTabOrder(m_cmdDir[0], m_cmdDir[1]);

    connect(m_drvList, &QComboBox::activated, this, &FolderChooser::chooseDrive);
    connect(m_dirList, &QTreeWidget::itemActivated, this, [this] { openHighlighted(); });
    connect(m_dirList, &QTreeWidget::currentItemChanged, this, [this] { showHighlighted(); });

    refreshDrives();
    if (!setCurrentFolder(QDir::homePath()))
        setCurrentFolder(QDir::rootPath());
}

QList<FolderChooser::Volume> FolderChooser::mountedVolumes()
{
    QList<Volume> out;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || volume.isRoot())
            continue;
        const QByteArray type = volume.fileSystemType();
        if (isSystemFileSystem(type) || isSystemFolder(volume.rootPath()))
            continue;
        Volume v;
        v.root = volume.rootPath();
        v.label = volume.name();
        if (isNetworkFileSystem(type))
            v.kind = Volume::Kind::Network;
        else if (isMediaFolder(v.root + QLatin1Char('/')) || isRemovableDevice(volume.device()))
            v.kind = Volume::Kind::Removable;
        out.append(v);
    }
    return out;
}

void FolderChooser::setVolumeSource(VolumeSource source)
{
    m_volumes = source ? std::move(source) : VolumeSource(&FolderChooser::mountedVolumes);
    refreshDrives();
}

void FolderChooser::setTitle(const QString& title)
{
    m_lbTitolo->setText(title);
}

QString FolderChooser::title() const
{
    return m_lbTitolo->text();
}

QString FolderChooser::folderOfItem(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kFolderRole).toString() : QString();
}

bool FolderChooser::setCurrentFolder(const QString& folder)
{
    const QString path = normalised(folder);
    if (path.isEmpty())
        return false;
    QList<platform::DirEntry> entries;
    if (platform::listDirectory(withSeparator(path), QStringLiteral("*"), true, entries))
        return false;

    QStringList subfolders;
    for (const auto& e : entries) {
        // Names starting with a dot are this platform's hidden entries.
        if (e.isDir && !e.name.startsWith(QLatin1Char('.')))
            subfolders << e.name;
    }
    std::sort(subfolders.begin(), subfolders.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });

    m_current = path;
    const QSignalBlocker block(m_dirList);
    m_dirList->clear();
    QTreeWidgetItem* parentItem = nullptr;
    const QStringList chain = chainOf(path);
    for (int i = 0; i < chain.size(); ++i) {
        auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_dirList);
        item->setText(0, i == 0 ? chain[i] : nameOf(chain[i]));
        item->setData(0, kFolderRole, chain[i]);
        item->setToolTip(0, chain[i]);
        item->setIcon(0, style()->standardIcon(i == 0 ? QStyle::SP_DriveHDIcon : QStyle::SP_DirOpenIcon));
        item->setExpanded(true);
        parentItem = item;
    }
    QTreeWidgetItem* currentItem = parentItem;
    for (const QString& name : subfolders) {
        auto* item = new QTreeWidgetItem(currentItem);
        const QString full = withSeparator(path) + name;
        item->setText(0, name);
        item->setData(0, kFolderRole, full);
        item->setToolTip(0, full);
        item->setIcon(0, style()->standardIcon(QStyle::SP_DirClosedIcon));
    }
    if (currentItem)
        currentItem->setExpanded(true);
    m_dirList->setCurrentItem(currentItem);
    m_dirList->scrollToItem(currentItem, QAbstractItemView::PositionAtTop);

    m_lastOnDrive.insert(driveOf(path), path);
    showDrive();
    showHighlighted();
    return true;
}

QString FolderChooser::highlightedFolder() const
{
    const QString folder = folderOfItem(m_dirList->currentItem());
    return folder.isEmpty() ? m_current : folder;
}

bool FolderChooser::highlight(const QString& folder)
{
    const QString wanted = normalised(folder);
    for (QTreeWidgetItemIterator it(m_dirList); *it; ++it) {
        if (folderOfItem(*it) == wanted) {
            m_dirList->setCurrentItem(*it);
            return true;
        }
    }
    return false;
}

void FolderChooser::openHighlighted()
{
    const QString folder = highlightedFolder();
    if (folder != m_current)
        setCurrentFolder(folder);
}

void FolderChooser::showHighlighted()
{
    const QString folder = highlightedFolder();
    m_lbPercorso->setText(folder);
    m_lbPercorso->setToolTip(folder);
}

void FolderChooser::refreshDrives()
{
    struct Place
    {
        QString root;
        QString text;
        QStyle::StandardPixmap icon;
    };
    QList<Place> places;
    const auto add = [&places](const QString& root, const QString& text, QStyle::StandardPixmap icon) {
        for (const Place& p : places) {
            if (p.root == root)
                return;
        }
        places.append(Place{root, text, icon});
    };
    for (const QFileInfo& drive : QDir::drives())
        add(QDir::toNativeSeparators(drive.absoluteFilePath()),
            QDir::toNativeSeparators(drive.absoluteFilePath()), QStyle::SP_DriveHDIcon);
    const QString home = normalised(QDir::homePath());
    if (!home.isEmpty() && QFileInfo(home).isDir())
        add(home, home, QStyle::SP_DirHomeIcon);

    // The media a user picks an exchange area from: removable disks and
    // shared folders, each with its label. The computer's own disks are
    // reached from "/" and the home folder.
    QList<Place> volumes;
    for (const Volume& volume : m_volumes ? m_volumes() : QList<Volume>()) {
        if (volume.kind == Volume::Kind::Other || !QFileInfo(volume.root).isDir())
            continue;
        const QString root = normalised(volume.root);
        if (root.isEmpty())
            continue;
        const QString name = volume.label.trimmed();
        const QString text =
            name.isEmpty() || name == root ? root : name + QStringLiteral("  (") + root + QStringLiteral(")");
        volumes.append(
            Place{root, text,
                  volume.kind == Volume::Kind::Network ? QStyle::SP_DriveNetIcon : QStyle::SP_DriveFDIcon});
    }
    std::sort(volumes.begin(), volumes.end(), [](const Place& a, const Place& b) { return a.root < b.root; });
    for (const Place& v : volumes)
        add(v.root, v.text, v.icon);

    const QSignalBlocker block(m_drvList);
    m_drvList->clear();
    for (const Place& p : places)
        m_drvList->addItem(style()->standardIcon(p.icon), p.text, p.root);
    showDrive();
}

QString FolderChooser::driveOf(const QString& folder) const
{
    QString best;
    for (int i = 0; i < m_drvList->count(); ++i) {
        const QString root = m_drvList->itemData(i).toString();
        const bool holds = folder == root || folder.startsWith(withSeparator(root));
        if (holds && root.size() > best.size())
            best = root;
    }
    return best;
}

void FolderChooser::showDrive()
{
    const int index = m_drvList->findData(driveOf(m_current));
    const QSignalBlocker block(m_drvList);
    m_drvList->setCurrentIndex(index);
}

void FolderChooser::chooseDrive(int index)
{
    const QString root = m_drvList->itemData(index).toString();
    const QString last = m_lastOnDrive.value(root);
    // The last folder used on the drive, else its root; a drive that cannot
    // be read leaves everything as it was.
    const bool moved =
        (!last.isEmpty() && setCurrentFolder(last)) || (!root.isEmpty() && setCurrentFolder(root));
    if (!moved)
        showDrive();
}

} // namespace mirsalex
