#include "file_list_box.h"

#include <QDir>
#include <QFileInfo>
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
