#include "results_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <memory>

#include "common/app_info.h"
#include "common/errors.h"
#include "common/text_file.h"
#include "runs/launch_report.h"
#include "runs/name_ranges.h"
#include "runs/output_diff.h"
#include "ui_results_window.h"

namespace {

// Often enough that a state reads as live, seldom enough that a thousand runs cost
// nothing anyone notices.
constexpr int kUpdateEveryMs = 500;
constexpr int kChangesShownMs = 100;

// "1 run of this launch is", "3 runs of this launch are"; "3 selected runs are".
QString runsText(qsizetype runs, bool ofAll) {
    if (!ofAll)
        return runs == 1 ? QStringLiteral("1 selected run is")
                         : QStringLiteral("%1 selected runs are").arg(runs);
    return runs == 1 ? QStringLiteral("1 run of this launch is")
                     : QStringLiteral("%1 runs of this launch are").arg(runs);
}

}  // namespace

ResultsWindow::ResultsWindow(RunTracker& tracker, const Workspace& workspace, Platform& platform,
                             QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ResultsWindow>()),
      tracker_(tracker),
      workspace_(workspace),
      platform_(platform) {
    ui_->setupUi(this);
    gridMostHeight_ = ui_->GridArea->maximumHeight();
    ui_->LaunchTable->setModel(&launches_);
    ui_->RunTable->setModel(&batches_);
    // Rows of one line each: a 10,000-row table is then laid out without measuring them.
    for (QTableView* table : {ui_->LaunchTable, ui_->RunTable}) {
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    }
    ui_->LaunchTable->setColumnWidth(LaunchListModel::Started, 160);
    ui_->LaunchTable->setColumnWidth(LaunchListModel::States, 320);
    ui_->RunTable->setColumnWidth(BatchTableModel::Servers, 220);
    ui_->RunTable->setColumnWidth(BatchTableModel::Count, 60);
    ui_->RunTable->setColumnWidth(BatchTableModel::State, 160);
    updates_.setInterval(kUpdateEveryMs);
    updates_.callOnTimeout(this, [this] { refresh(); });
    changed_.setSingleShot(true);
    changed_.setInterval(kChangesShownMs);
    changed_.callOnTimeout(this, [this] { refresh(); });
    connect(&tracker_, &RunTracker::runChanged, this, [this](qsizetype index) {
        changedLaunches_.insert(tracker_.runList()[index].launch);
        if (isVisible() && !changed_.isActive())
            changed_.start();
    });
    connect(ui_->Grid, &StateGrid::placesPicked, this, &ResultsWindow::selectPlaces);
    connect(ui_->LaunchTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { loadLaunch(); });
    connect(ui_->RunTable->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        ui_->DiffText->hide();
        showOutput(true);
        showPicked();
    });
    // Rows made anew drop their selection without telling it: the captions follow.
    connect(&batches_, &QAbstractItemModel::modelReset, this, [this] { showPicked(); });
    connect(ui_->FilterBox, &QComboBox::currentIndexChanged, this, [this](int filter) {
        batches_.setFilter(static_cast<ResultFilter>(filter));
        ui_->RunTable->selectRow(0);
    });
    connect(ui_->GroupBox, &QCheckBox::toggled, this, [this](bool grouped) {
        const BatchResult* shown = selectedResult();
        const qsizetype place = shown ? shown - batches_.results().constData() : -1;
        batches_.setGrouped(grouped);
        const int row = batches_.rowOf(place);
        ui_->RunTable->selectRow(row < 0 ? 0 : row);
    });
    connectHandler(platform_, ui_->RetryButton, &QPushButton::clicked, this,
                   &ResultsWindow::RetryButtonClick);
    connectHandler(platform_, ui_->SaveButton, &QPushButton::clicked, this,
                   &ResultsWindow::SaveButtonClick);
    connectHandler(platform_, ui_->SaveReportButton, &QPushButton::clicked, this,
                   &ResultsWindow::SaveReportButtonClick);
    connectHandler(platform_, ui_->EndButton, &QPushButton::clicked, this,
                   &ResultsWindow::EndButtonClick);
    connectHandler(platform_, ui_->CopyButton, &QPushButton::clicked, this,
                   &ResultsWindow::CopyButtonClick);
    connectHandler(platform_, ui_->CompareButton, &QPushButton::clicked, this,
                   &ResultsWindow::CompareButtonClick);
    connectHandler(platform_, ui_->ClearHistoryAction, &QAction::triggered, this,
                   &ResultsWindow::ClearHistoryClick);
}

ResultsWindow::~ResultsWindow() {
    if (saving_)
        saving_->wait();  // the copy is the user's: it is finished, not cut off
}

void ResultsWindow::showNewest() {
    // Asked for by the user: what the runs' files say now, not at the tracker's next look.
    tracker_.lookNow();
    refresh();
    // Selecting another launch loads it; the same one, or none, is brought up to date.
    const QModelIndexList before = ui_->LaunchTable->selectionModel()->selectedRows();
    ui_->LaunchTable->selectRow(0);
    if (!selectedLaunch() || (!before.isEmpty() && before.first().row() == 0))
        loadLaunch();
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

const LaunchResult* ResultsWindow::selectedLaunch() const {
    const QModelIndexList rows = ui_->LaunchTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : &launches_.at(rows.first().row());
}

const BatchResult* ResultsWindow::selectedResult() const {
    const QModelIndexList rows = ui_->RunTable->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return &batches_.results()[batches_.row(rows.first().row()).members.front()];
}

QList<qsizetype> ResultsWindow::pickedPlaces() const {
    const QModelIndexList rows = ui_->RunTable->selectionModel()->selectedRows();
    QList<qsizetype> places;
    if (rows.size() < 2)
        return places;
    for (const QModelIndex& row : rows)
        places += batches_.row(row.row()).members;
    std::sort(places.begin(), places.end());
    return places;
}

ResultsWindow::Selected ResultsWindow::selectedPlaces() const {
    Selected selected;
    const QItemSelectionModel& selection = *ui_->RunTable->selectionModel();
    for (const QModelIndex& row : selection.selectedRows())
        selected.places.append(batches_.row(row.row()).members.front());
    if (selection.currentIndex().isValid())
        selected.current = batches_.row(selection.currentIndex().row()).members.front();
    return selected;
}

void ResultsWindow::keepSelected(const Selected& selected) {
    QItemSelectionModel& selection = *ui_->RunTable->selectionModel();
    // Rows made anew have lost their selection, without a word: a user watching one run
    // of a launch under way would lose it, and its output, at the next end of any other.
    if (selected.places.isEmpty() || selection.hasSelection())
        return;
    QItemSelection rows;
    QSet<int> taken;
    for (qsizetype place : selected.places) {
        const int row = batches_.rowOf(place);
        if (row >= 0 && !taken.contains(row)) {
            taken.insert(row);
            rows.select(batches_.index(row, 0), batches_.index(row, BatchTableModel::Columns - 1));
        }
    }
    {
        // The same rows as before: nothing to load again, and the table is drawn anew anyway.
        const QSignalBlocker quiet(selection);
        selection.select(rows, QItemSelectionModel::Select);
        const int current = batches_.rowOf(selected.current);
        if (current >= 0)
            selection.setCurrentIndex(batches_.index(current, 0), QItemSelectionModel::NoUpdate);
    }
    ui_->RunTable->viewport()->update();
    showPicked();
}

void ResultsWindow::showPicked() {
    // What the two buttons act on is in their captions, not only in the table.
    const bool picked = ui_->RunTable->selectionModel()->selectedRows().size() > 1;
    ui_->CopyButton->setText(picked ? QStringLiteral("&Copy servers (selected)")
                                    : QStringLiteral("&Copy servers"));
    ui_->RetryButton->setText(picked ? QStringLiteral("&Retry failed (selected)")
                                     : QStringLiteral("&Retry failed"));
}

void ResultsWindow::refresh() {
    const LaunchResult* selected = selectedLaunch();
    // The selected launch's rows are brought up to date after a change, and while a run
    // of it is running, whose duration grows.
    const bool selectedChanged = selected && selected->number > 0 &&
                                 (changedLaunches_.contains(selected->number) ||
                                  selected->counts[LaunchResult::Running] > 0);
    changedLaunches_.clear();
    changed_.stop();
    const QList<LaunchResult> all = tracker_.launches();
    qsizetype current = 0;
    while (current < all.size() && all[current].number > 0)
        ++current;
    launches_.setCurrent(all.first(current));
    // Earlier program runs' launches change only when a launch removes the oldest or the
    // history is cleared.
    QList<qint64> earlier;
    for (qsizetype i = current; i < all.size(); ++i)
        earlier.append(all[i].historyId);
    if (earlier != earlierShown_) {
        earlierShown_ = earlier;
        launches_.setEarlier(all.sliced(current));
        if (!selectedLaunch()) {
            loadLaunch();  // the launch shown has gone, and its rows with it
            return;
        }
    }
    if (selectedChanged) {
        const LaunchResult* launch = selectedLaunch();
        const Selected selected = selectedPlaces();
        showResults(tracker_.results(*launch), QDateTime::currentDateTime());
        keepSelected(selected);
    }
    showOutput(false);
}

void ResultsWindow::showResults(const QList<BatchResult>& results, const QDateTime& now) {
    const qsizetype cells = ui_->Grid->cellCount();
    ui_->Grid->setResults(results);
    if (ui_->Grid->cellCount() != cells)
        fitGrid();
    ui_->StateLegend->setText(ui_->Grid->legend());
    batches_.setResults(results, now);
}

void ResultsWindow::fitGrid() {
    QScrollArea& area = *ui_->GridArea;
    const int rows = ui_->Grid->heightForWidth(area.viewport()->width());
    area.setFixedHeight(std::clamp(rows, 1, gridMostHeight_));
}

void ResultsWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    fitGrid();
}

void ResultsWindow::selectPlaces(qsizetype first, qsizetype last) {
    QItemSelection rows;
    int shownFirst = -1;
    for (qsizetype place = first; place <= last; ++place) {
        const int row = batches_.rowOf(place);
        if (row < 0)
            continue;  // filtered out
        if (shownFirst < 0)
            shownFirst = row;
        rows.select(batches_.index(row, 0), batches_.index(row, BatchTableModel::Columns - 1));
    }
    if (shownFirst < 0)
        return;
    // The first row picked is the one whose output shows; the keys go on from there.
    ui_->RunTable->setFocus();
    ui_->RunTable->selectRow(shownFirst);
    ui_->RunTable->selectionModel()->select(rows, QItemSelectionModel::Select);
    ui_->RunTable->scrollTo(batches_.index(shownFirst, 0));
}

void ResultsWindow::loadLaunch() {
    ui_->Grid->clearPicked();
    const LaunchResult* launch = selectedLaunch();
    if (!launch) {
        showResults({}, QDateTime::currentDateTime());
    } else {
        showResults(tracker_.results(*launch), QDateTime::currentDateTime());
    }
    ui_->DiffText->hide();
    ui_->RunTable->selectRow(0);
    showOutput(true);
}

bool ResultsWindow::hasOutputFile(const BatchResult& result) const {
    const LaunchResult* launch = selectedLaunch();
    return launch && tracker_.hasOutputFile(*launch, result);
}

QString ResultsWindow::outputOf(const BatchResult& result) const {
    return tracker_.output(*selectedLaunch(), result);
}

void ResultsWindow::showOutput(bool always) {
    const BatchResult* result = selectedResult();
    if (!result) {
        ui_->OutputText->clear();
        shownKey_.clear();
        follower_.reset();
        return;
    }
    QPlainTextEdit& box = *ui_->OutputText;
    if (!hasOutputFile(*result)) {
        const QString key =
            QStringLiteral("kept:%1:%2").arg(selectedLaunch()->historyId).arg(result->index);
        if (key != shownKey_ || always) {
            box.setPlainText(outputOf(*result));
            shownKey_ = key;
            follower_.reset();
        }
        return;
    }
    const Run& run = tracker_.runList()[result->index];
    // A waiting run has its output file once its turn has come.
    const QString key = QStringLiteral("file:") + run.outputPath();
    if (key != shownKey_ || always || !follower_) {
        follower_.emplace(run.outputPath(), RunList::kShownOutputBytes);
        tailLength_ = 0;
    } else if (sinceOutput_.isValid() && !sinceOutput_.hasExpired(19 * outputCostMs_)) {
        return;
    }
    QElapsedTimer cost;
    cost.start();
    const std::optional<OutputFollower::Change> change =
        follower_->look(tracker_.state(result->index).kind != RunState::Running);
    if (!change)
        return;
    QScrollBar* scroll = box.verticalScrollBar();
    const bool atEnd = key != shownKey_ || scroll->value() == scroll->maximum();
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
    shownKey_ = key;
    outputCostMs_ = cost.elapsed();
    sinceOutput_.start();
}

void ResultsWindow::RetryButtonClick() {
    const LaunchResult* launch = selectedLaunch();
    if (!launch)
        return;
    const QList<qsizetype> picked = pickedPlaces();
    const RunList::Retry retry = tracker_.retry(*launch, picked);
    const bool all = picked.isEmpty();
    const QString running = runsText(retry.running, all);
    if (retry.servers.isEmpty()) {
        QString text;
        if (retry.running == 0) {
            text = all ? QStringLiteral("Every run of this launch ended with exit 0.")
                       : QStringLiteral("Every selected run ended with exit 0.");
        } else {
            const QString run = all ? QStringLiteral("run of it") : QStringLiteral("selected run");
            text = QStringLiteral("%1 still running. Every %2 that has ended ended with exit 0.")
                       .arg(running, run);
        }
        platform_.showMessage(kApplicationTitle, text);
        return;
    }
    emit retryRequested(retry.servers);
    if (retry.running > 0) {
        const QString runs = all ? QStringLiteral("runs") : QStringLiteral("selected runs");
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("%1 still running and left out: the collection box "
                                             "holds the servers of the %2 that ended other "
                                             "than with exit 0.")
                                  .arg(running, runs));
    }
}

void ResultsWindow::EndButtonClick() {
    const LaunchResult* launch = selectedLaunch();
    if (!launch)
        return;
    const QList<qsizetype> running = tracker_.running(*launch);
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
    tracker_.end(running);
    refresh();
}

void ResultsWindow::CopyButtonClick() {
    QStringList servers;
    const QList<qsizetype> picked = pickedPlaces();
    if (picked.isEmpty()) {
        servers = batches_.shownServers();
    } else {
        for (qsizetype place : picked)
            servers += batches_.results()[place].servers();
    }
    QApplication::clipboard()->setText(servers.isEmpty() ? QString() : servers.join(u'\n') + u'\n');
}

void ResultsWindow::CompareButtonClick() {
    const BatchResult* result = selectedResult();
    if (!result)
        return;
    const ResultGroup largest = batches_.largestGroup();
    const qsizetype place = result - batches_.results().constData();
    if (largest.members.contains(place)) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("The selected row is of the largest group of "
                                             "identical output: there is nothing to compare."));
        return;
    }
    const BatchResult& model = batches_.results()[largest.members.front()];
    QStringList names;
    for (qsizetype member : largest.members)
        names += batches_.results()[member].servers();
    const QString diff = unifiedDiff(outputOf(model), outputOf(*result));
    QString text = QStringLiteral(
                       "--- the largest group: %1 (%2 batch files, %3)\n"
                       "+++ the selected row: %4 (%5)\n")
                       .arg(foldServerNames(names))
                       .arg(largest.members.size())
                       .arg(model.state.text(), serversText(*result), result->state.text());
    text += diff.isEmpty() ? QStringLiteral(
                                 "The outputs are the same; the state or exit status "
                                 "differs.\n")
                           : diff;
    ui_->DiffText->setPlainText(text);
    ui_->DiffText->show();
}

void ResultsWindow::ClearHistoryClick() {
    if (!platform_.askToProceed(kApplicationTitle,
                                QStringLiteral("Clear the results of every launch from the "
                                               "history? The run log and the batch files stay as "
                                               "they are."),
                                QStringLiteral("&Clear history"), QStringLiteral("Cancel")))
        return;
    if (!tracker_.clearHistory())
        return;
    showNewest();
}

void ResultsWindow::SaveButtonClick() {
    const BatchResult* result = selectedResult();
    if (!result)
        return;
    if (result->batchName.isEmpty()) {
        platform_.showMessage(kApplicationTitle,
                              QStringLiteral("%1 has not started: there is no output to save.")
                                  .arg(serversText(*result)));
        return;
    }
    const QString suggested = QDir::home().filePath(
        QFileInfo(result->batchName).completeBaseName() + QStringLiteral("-output.txt"));
    const QString path = platform_.askSaveFile(QStringLiteral("Save output"), suggested);
    if (path.isEmpty())
        return;
    refuseOwnFile(path, QStringLiteral("output"));
    if (!hasOutputFile(*result)) {
        // What the history kept of it: at most its last MiB.
        QSaveFile saved(path);
        const QByteArray bytes = encodeText(outputOf(*result));
        if (!saved.open(QIODevice::WriteOnly) || saved.write(bytes) != bytes.size() ||
            !saved.commit()) {
            throw OperationError(
                QStringLiteral("Cannot save the output as %1: %2").arg(path, saved.errorString()));
        }
        return;
    }
    // A large output takes seconds: it is copied on a thread of its own, from the files
    // alone, and the window goes on meanwhile; Save waits until the copy is done.
    const Run& run = tracker_.runList()[result->index];
    const QString outputPath = run.outputPath();
    const QString batchPath = run.batchPath;
    const bool ended = tracker_.state(result->index).kind != RunState::Running;
    auto failure = std::make_shared<QString>();
    saving_ = QThread::create([=] {
        try {
            RunList::saveRecording(outputPath, batchPath, ended, path);
        } catch (const std::exception& error) {
            *failure = failureText(error);
        }
    });
    ui_->SaveButton->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    connect(saving_, &QThread::finished, this, [this, failure] {
        QApplication::restoreOverrideCursor();
        ui_->SaveButton->setEnabled(true);
        saving_->deleteLater();
        saving_ = nullptr;
        if (!failure->isEmpty())
            platform_.showMessage(kApplicationTitle, *failure);
    });
    saving_->start();
}

void ResultsWindow::refuseOwnFile(const QString& path, const QString& what) const {
    // A copy; the files the program keeps are not for it to overwrite.
    for (const QString& kept : {workspace_.collectionsFolder(), workspace_.scriptsFolder(),
                                workspace_.tempFolder(), workspace_.logsFolder()}) {
        if (isWithin(path, kept)) {
            throw OperationError(QStringLiteral("Cannot save the %1 as %2: the folder %3 "
                                                "holds the program's own files. Choose another "
                                                "place.")
                                     .arg(what, path, kept));
        }
    }
    const QString real = realPath(path);
    for (const QString& own : {workspace_.lockFile(), workspace_.settingsFile(),
                               QCoreApplication::applicationFilePath()}) {
        if (real == realPath(own)) {
            throw OperationError(QStringLiteral("Cannot save the %1 as %2: it is one of the "
                                                "program's own files. Choose another place.")
                                     .arg(what, path));
        }
    }
}

void ResultsWindow::SaveReportButtonClick() {
    const LaunchResult* launch = selectedLaunch();
    if (!launch)
        return;
    const QString name = launch->historyId > 0
                             ? QStringLiteral("corvane-launch-%1.csv").arg(launch->historyId)
                             : QStringLiteral("corvane-launch.csv");
    const QString path =
        platform_.askSaveFile(QStringLiteral("Save report"), QDir::home().filePath(name));
    if (path.isEmpty())
        return;
    refuseOwnFile(path, QStringLiteral("report"));
    // The launch's batch files as the table holds them: read once, when it was selected.
    const LaunchResult shown = *launch;
    const QList<BatchResult>& results = batches_.results();
    QSaveFile saved(path);
    bool written = saved.open(QIODevice::WriteOnly);
    if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
        writeLaunchJson(shown, results, [&saved, &written](QByteArrayView bytes) {
            written = written && saved.write(bytes.data(), bytes.size()) == bytes.size();
        });
    } else {
        const QByteArray bytes = csvReport(results).toUtf8();
        written = written && saved.write(bytes) == bytes.size();
    }
    // Until the commit an earlier file of that name stays whole.
    if (!written || !saved.commit()) {
        throw OperationError(
            QStringLiteral("Cannot save the report as %1: %2").arg(path, saved.errorString()));
    }
}
