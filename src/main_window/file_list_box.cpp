#include "file_list_box.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
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
    const QStringList names =
        QDir(folder_).entryList({pattern_}, QDir::Files, QDir::Name | QDir::IgnoreCase);
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
