#pragma once

#include <QListWidget>

// A list of the files of one folder whose names match a pattern, in ascending order of
// name, folders left out. Patterns match in any letter case.
class FileListBox : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(QString pattern READ pattern WRITE setPattern)

  public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString pattern() const { return pattern_; }
    void setPattern(const QString& pattern) { pattern_ = pattern; }

    // Points the list at `folder` and reads it; false, with the list unchanged, when
    // the folder does not exist.
    bool setFolder(const QString& folder);
    const QString& folder() const { return folder_; }
    // Reads the folder again, keeping the selection where that file is still there.
    void refresh();
    // The selected file's bare name; empty when none is selected. Once the user has
    // selected a file, one stays selected until the list is read again.
    QString selectedFileName() const;

  signals:
    // The user chose the file that was already selected: a click on it, or Space.
    void selectedFileChosenAgain();

  protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPersistentModelIndex pressedSelected_;  // the selected row a press started on
    QString folder_;
    QString pattern_ = QStringLiteral("*.*");
};
