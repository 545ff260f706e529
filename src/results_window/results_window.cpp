#include "results_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include "common/app_info.h"
#include "common/date_time_format.h"
#include "common/errors.h"
#include "common/text_file.h"
#include "ui_results_window.h"

namespace {

// Often enough that a state reads as live, seldom enough that a thousand runs cost
// nothing anyone notices.
constexpr int kUpdateEveryMs = 500;

const QString kCombinedRunTip = QStringLiteral(
    "One batch file for all of its servers, with one exit status: when it fails, Retry failed "
    "takes all of its servers.");

enum Column { Started, Mode, BatchFile, Servers, State };

QString modeText(LaunchMode mode) {
    switch (mode) {
        case LaunchMode::Normal:
            return QStringLiteral("normal");
        case LaunchMode::Spawn:
            return QStringLiteral("Spawn Mode");
        case LaunchMode::RunLater:
            break;
    }
    return QStringLiteral("Run Later");
}

QString serversText(const Run& run) {
    if (run.serverCount == 1)
        return run.servers().value(0);
    return QStringLiteral("%1 servers").arg(run.serverCount);
}

// "1 run of this launch is", "3 runs of this launch are".
QString runsText(qsizetype runs) {
    return runs == 1 ? QStringLiteral("1 run of this launch is")
                     : QStringLiteral("%1 runs of this launch are").arg(runs);
}

}  // namespace

ResultsWindow::ResultsWindow(RunList& runs, RunWatch& watch, const Workspace& workspace,
                             Platform& platform, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ResultsWindow>()),
      runs_(runs),
      watch_(watch),
      workspace_(workspace),
      platform_(platform) {
    ui_->setupUi(this);
    updates_.setInterval(kUpdateEveryMs);
    updates_.callOnTimeout(this, [this] { refresh(); });
    connect(ui_->RunTable, &QTableWidget::itemSelectionChanged, this, [this] { showOutput(true); });
    connectHandler(platform_, ui_->RetryButton, &QPushButton::clicked, this,
                   &ResultsWindow::RetryButtonClick);
    connectHandler(platform_, ui_->SaveButton, &QPushButton::clicked, this,
                   &ResultsWindow::SaveButtonClick);
    connectHandler(platform_, ui_->EndButton, &QPushButton::clicked, this,
                   &ResultsWindow::EndButtonClick);
}

ResultsWindow::~ResultsWindow() = default;

void ResultsWindow::showNewest() {
    refresh();
    if (ui_->RunTable->rowCount() > 0)
        ui_->RunTable->selectRow(0);
    ui_->RunTable->setFocus();
}

void ResultsWindow::showEvent(QShowEvent* event) {
    updates_.start();
    QDialog::showEvent(event);
}

void ResultsWindow::hideEvent(QHideEvent* event) {
    updates_.stop();
    QDialog::hideEvent(event);
}

qsizetype ResultsWindow::selectedRun() const {
    const QList<QTableWidgetItem*> selected = ui_->RunTable->selectedItems();
    if (selected.isEmpty())
        return -1;
    return runs_.runs().size() - 1 - selected.first()->row();
}

void ResultsWindow::refresh() {
    QTableWidget& table = *ui_->RunTable;
    const QList<Run>& runs = runs_.runs();
    // New runs go on top; the selection moves down with its row.
    while (table.rowCount() < runs.size()) {
        const Run& run = runs[table.rowCount()];
        table.insertRow(0);
        const QStringList cells{QString(), modeText(run.mode), QString(), serversText(run),
                                QString()};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (run.mode == LaunchMode::Normal)
                item->setToolTip(kCombinedRunTip);
            table.setItem(0, column, item);
        }
    }
    for (int row = 0; row < table.rowCount(); ++row) {
        const qsizetype index = runs.size() - 1 - row;
        const Run& run = runs[index];
        // A waiting run has its batch file and start once its turn has come.
        if (table.item(row, BatchFile)->text().isEmpty() && !run.batchPath.isEmpty()) {
            table.item(row, Started)->setText(formatLogDateTime(QLocale(), run.started));
            table.item(row, BatchFile)->setText(QFileInfo(run.batchPath).fileName());
        }
        const QString state = runs_.state(index).text();
        if (table.item(row, State)->text() != state)
            table.item(row, State)->setText(state);
    }
    showOutput(false);
}

void ResultsWindow::showOutput(bool always) {
    const qsizetype run = selectedRun();
    if (run < 0) {
        ui_->OutputText->clear();
        shownRun_ = -1;
        follower_.reset();
        return;
    }
    // A waiting run has its output file once its turn has come.
    if (run != shownRun_ || always || follower_->path() != runs_.runs()[run].outputPath()) {
        follower_.emplace(runs_.runs()[run].outputPath(), RunList::kShownOutputBytes);
        tailLength_ = 0;
    } else if (sinceOutput_.isValid() && !sinceOutput_.hasExpired(19 * outputCostMs_)) {
        return;
    }
    QElapsedTimer cost;
    cost.start();
    const std::optional<OutputFollower::Change> change =
        follower_->look(runs_.state(run).kind != RunState::Running);
    if (!change)
        return;
    QPlainTextEdit& box = *ui_->OutputText;
    QScrollBar* scroll = box.verticalScrollBar();
    const bool atEnd = run != shownRun_ || scroll->value() == scroll->maximum();
    if (change->restart) {
        box.setPlainText(change->added + change->tail);
    } else {
        // The new lines take the place of the line that was being written; like the log
        // box, no undo record of text the user did not type.
        QTextDocument* document = box.document();
        document->setUndoRedoEnabled(false);
        QTextCursor cursor(document);
        cursor.movePosition(QTextCursor::End);
        cursor.setPosition(cursor.position() - tailLength_, QTextCursor::KeepAnchor);
        cursor.insertText(change->added + change->tail);
        document->setUndoRedoEnabled(true);
    }
    tailLength_ = change->tail.size();
    if (atEnd)
        scroll->setValue(scroll->maximum());
    shownRun_ = run;
    outputCostMs_ = cost.elapsed();
    sinceOutput_.start();
}

void ResultsWindow::RetryButtonClick() {
    const qsizetype run = selectedRun();
    if (run < 0)
        return;
    const RunList::Retry retry = runs_.retry(runs_.runs()[run].launch);
    if (retry.servers.isEmpty()) {
        platform_.showMessage(
            kApplicationTitle,
            retry.running == 0
                ? QStringLiteral("Every run of this launch ended with exit 0.")
                : QStringLiteral("%1 still running. Every run of it that has ended ended with "
                                 "exit 0.")
                      .arg(runsText(retry.running)));
        return;
    }
    emit retryRequested(retry.servers);
    if (retry.running > 0) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("%1 still running and left out: the collection box "
                                             "holds the servers of the runs that ended other "
                                             "than with exit 0.")
                                  .arg(runsText(retry.running)));
    }
}

void ResultsWindow::EndButtonClick() {
    const qsizetype selected = selectedRun();
    if (selected < 0)
        return;
    const int launch = runs_.runs()[selected].launch;
    QList<qsizetype> running;
    for (qsizetype i = 0; i < runs_.runs().size(); ++i) {
        if (runs_.runs()[i].launch == launch && runs_.state(i).kind == RunState::Running)
            running.append(i);
    }
    if (running.isEmpty()) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("No batch file of this launch is running."));
        return;
    }
    const QString question =
        running.size() == 1
            ? QStringLiteral("End the 1 running batch file of this launch?")
            : QStringLiteral("End the %1 running batch files of this launch?").arg(running.size());
    if (!platform_.askToProceed(kApplicationTitle, question, QStringLiteral("&End"),
                                QStringLiteral("Cancel")))
        return;
    watch_.end(running);
    refresh();
}

void ResultsWindow::SaveButtonClick() {
    const qsizetype run = selectedRun();
    if (run < 0)
        return;
    if (runs_.runs()[run].batchPath.isEmpty()) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("%1 has not started: there is no output to save.")
                                  .arg(serversText(runs_.runs()[run])));
        return;
    }
    const QString suggested = QDir::home().filePath(
        QFileInfo(runs_.runs()[run].batchPath).completeBaseName() + QStringLiteral("-output.txt"));
    const QString path = platform_.askSaveFile(QStringLiteral("Save output"), suggested);
    if (path.isEmpty())
        return;
    // The output is a copy; the files the program keeps are not for it to overwrite.
    for (const QString& kept : {workspace_.collectionsFolder(), workspace_.scriptsFolder(),
                                workspace_.tempFolder(), workspace_.logsFolder()}) {
        if (isWithin(path, kept)) {
            throw OperationError(QStringLiteral("Cannot save the output as %1: the folder %2 "
                                                "holds the program's own files. Choose another "
                                                "place.")
                                     .arg(path, kept));
        }
    }
    const QString real = realPath(path);
    for (const QString& own : {workspace_.lockFile(), workspace_.settingsFile(),
                               QCoreApplication::applicationFilePath()}) {
        if (real == realPath(own)) {
            throw OperationError(QStringLiteral("Cannot save the output as %1: it is one of the "
                                                "program's own files. Choose another place.")
                                     .arg(path));
        }
    }
    // A large output takes seconds: the windows are drawn meanwhile, and take no input.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    runs_.saveOutput(run, path,
                     [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}
