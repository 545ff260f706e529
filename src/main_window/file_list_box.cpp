#include "file_list_box.h"

#include <dirent.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <algorithm>

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row is one line of the same font: measuring one row measures them all, which
    // for a folder of thousands of files is most of the start-up.
    setUniformItemSizes(true);
}

bool FileListBox::setFolder(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return false;
    folder_ = folder;
    refresh();
    return true;
}

void FileListBox::refresh() {
    const QString selected = selectedFileName();
    // Walked and sorted here rather than by QDir::entryList, which for a folder of
    // thousands of files costs more than all the rest of the start-up.
    QList<std::pair<QString, QString>> found;  // the name folded to one case, and as it is
    const QString suffix = pattern_.startsWith(u'*') && !pattern_.sliced(1).contains(u'*') &&
                                   !pattern_.contains(u'?') && !pattern_.contains(u'[')
                               ? pattern_.sliced(1)
                               : QString();
    const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(pattern_),
                                      QRegularExpression::CaseInsensitiveOption);
    DIR* folder = opendir(QFile::encodeName(folder_).constData());
    while (dirent* entry = folder ? readdir(folder) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;  // hidden, like the folder's own entries
        const QString name = QFile::decodeName(entry->d_name);
        if (entry->d_type != DT_REG) {
            // A link or a file system that does not tell: a file only if it leads to one.
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            if (!QFileInfo(folder_ + u'/' + name).isFile())
                continue;
        }
        if (suffix.isEmpty() ? wildcard.match(name).hasMatch()
                             : name.endsWith(suffix, Qt::CaseInsensitive))
            found.append({name.toCaseFolded(), name});
    }
    if (folder)
        closedir(folder);
    std::sort(found.begin(), found.end());
    QStringList names;
    names.reserve(found.size());
    for (const auto& [folded, name] : found)
        names.append(name);
    // Refilling the list is not the user picking a file.
    const QSignalBlocker blocker(this);
    clear();
    addItems(names);
    const int row = selected.isEmpty() ? -1 : static_cast<int>(names.indexOf(selected));
    if (row >= 0)
        setCurrentRow(row);
}

QString FileListBox::selectedFileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

QItemSelectionModel::SelectionFlags FileListBox::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    // Ctrl+click or Ctrl+Space would deselect the file; a file list box keeps it.
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return command;
}

void FileListBox::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        setFocus(Qt::MouseFocusReason);  // the empty area below the rows selects nothing
        return;
    }
    pressedSelected_ = selectionModel()->isSelected(index) ? QPersistentModelIndex(index)
                                                           : QPersistentModelIndex();
    QListWidget::mousePressEvent(event);
}

void FileListBox::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool again = event->button() == Qt::LeftButton && index.isValid() &&
                       index == pressedSelected_ && selectionModel()->isSelected(index);
    pressedSelected_ = QPersistentModelIndex();
    if (again)
        emit selectedFileChosenAgain();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    const bool choose = event->key() == Qt::Key_Space || event->key() == Qt::Key_Select;
    const QModelIndex current = currentIndex();
    const bool wasSelected = current.isValid() && selectionModel()->isSelected(current);
    QListWidget::keyPressEvent(event);
    if (choose && wasSelected && selectionModel()->isSelected(current))
        emit selectedFileChosenAgain();
}
