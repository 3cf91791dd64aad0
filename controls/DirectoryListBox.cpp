#include "DirectoryListBox.h"

#include "CurrentDirectory.h"
#include "ErrorReport.h"
#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>

namespace {

constexpr int IndentPerLevel = 10;

std::string encoded(const QString& path)
{
    return FileNames::encode(path);
}

QString decoded(const std::string& path)
{
    return FileNames::decode(path);
}

QString joined(const QString& directory, const QString& name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name : directory + QLatin1Char('/') + name;
}

// The visible subdirectories of `directory` by name, ignoring case. Names
// are listed from the bytes the system gives, so that a name that is not
// UTF-8 still leads back into its directory.
QStringList subdirectories(const QString& directory)
{
    namespace fs = std::filesystem;
    QStringList names;
    std::error_code ec;
    for (fs::directory_iterator it(encoded(directory), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (name.empty() || name[0] == '.' || !it->is_directory(statusError))
            continue;
        names << decoded(name);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

// Indents each row by its depth and keeps the rows at the list's height.
class IndentingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented = option;
        indented.rect.setLeft(option.rect.left() + 2 + IndentPerLevel * index.data(TDirectoryListBox::LevelRole).toInt());
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize natural = QStyledItemDelegate::sizeHint(option, index);
        return { natural.width() + 2 + IndentPerLevel * index.data(TDirectoryListBox::LevelRole).toInt(),
            TDirectoryListBox::RowHeight };
    }
};

}

TDirectoryListBox::TDirectoryListBox(QWidget* parent)
    : QListWidget(parent)
    , m_drives(Drives::mounted())
{
    setItemDelegate(new IndentingDelegate(this));
    setUniformItemSizes(true);
    setIconSize(QSize(14, 14));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    try {
        m_directory = decoded(CurrentDirectory::get());
    } catch (const std::exception&) {
        // Started in a directory removed from under us: show the root.
        m_directory = QStringLiteral("/");
    }
    m_lastOnDrive[driveOf(m_directory)] = m_directory;
    rebuild();
}

QString TDirectoryListBox::driveOf(const QString& directory) const
{
    return decoded(Drives::driveOf(encoded(directory), m_drives));
}

QString TDirectoryListBox::Drive() const
{
    return driveOf(m_directory);
}

void TDirectoryListBox::setDrives(std::vector<Drives::Drive> drives)
{
    m_drives = std::move(drives);
    m_lastOnDrive[driveOf(m_directory)] = m_directory;
}

void TDirectoryListBox::setDirectory(const QString& directory)
{
    CurrentDirectory::set(encoded(directory));
    std::string reported;
    try {
        reported = CurrentDirectory::get();
    } catch (...) {
        // Nothing moves when the new place cannot even be read back.
        CurrentDirectory::set(encoded(m_directory));
        throw;
    }
    m_directory = decoded(reported);
    m_lastOnDrive[driveOf(m_directory)] = m_directory;
    rebuild();
    emit changed();
}

void TDirectoryListBox::setDrive(const QString& mountPoint)
{
    if (mountPoint == Drive())
        return;
    const auto last = m_lastOnDrive.find(mountPoint);
    setDirectory(last != m_lastOnDrive.end() ? last->second : mountPoint);
}

void TDirectoryListBox::rebuild()
{
    clear();
    const QStyle* look = style();
    const QIcon open = look->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = look->standardIcon(QStyle::SP_DirClosedIcon);
    auto add = [this](const QIcon& icon, const QString& text, const QString& path, int level) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(PathRole, path);
        item->setData(LevelRole, level);
        item->setToolTip(path);
    };

    // The drive's root, then each directory on the way down.
    const QString root = Drive();
    add(open, root, root, 0);
    const QString below = m_directory.mid(root.size());
    QString path = root;
    int level = 0;
    for (const QString& name : below.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = joined(path, name);
        add(open, name, path, ++level);
    }
    const int currentRow = count() - 1;

    // Hidden directories stay out of sight, as they did in the classic list.
    for (const QString& name : subdirectories(m_directory))
        add(closed, name, joined(m_directory, name), level + 1);

    setCurrentRow(currentRow);
    scrollToItem(item(currentRow));
}

void TDirectoryListBox::openRow(int row)
{
    const QListWidgetItem* entry = item(row);
    if (!entry)
        return;
    const QString path = entry->data(PathRole).toString();
    ErrorReport::guarded([&] { setDirectory(path); });
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openRow(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The rows are rebuilt on opening, so the base class's own double-click
    // handling, which still refers to the old row, must not run.
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid())
        openRow(index.row());
}
