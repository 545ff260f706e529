#include "form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "about_window/frmabout.h"
#include "batch_engine/unsafe_names.h"
#include "common/app_info.h"
#include "common/line_end.h"
#include "common/text_file.h"
#include "options_window/options_dialog.h"
#include "resources/program_resources.h"
#include "results_window/results_window.h"
#include "ui_form1.h"

namespace {

constexpr int kSetWholeLogBelow = 4096;
constexpr int kProgressEveryMs = 100;

// A text box keeps paragraphs, and Shift+Enter types a line separator; both are line
// ends in the program's texts, as a Windows text box gives CR LF for either.
QString programText(const QPlainTextEdit* box) {
    return withProgramLineEnds(box->document()->toRawText());
}

QString widgetText(QString text) {
    if (kLineEnd != QLatin1StringView("\n"))
        text.replace(kLineEnd, QLatin1StringView("\n"));
    return text;
}

}  // namespace

Form1::Form1(const Workspace& workspace, Platform& platform, QWidget* parent)
    // A fixed dialog frame: no resizing, no maximise or minimise button. Given here, the
    // flags are in place before anything of the window is made.
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::Form1>()),
      workspace_(workspace),
      platform_(platform),
      launcher_(workspace, platform) {
    initProgramResources();
    ui_->setupUi(this);
    // The history's writing goes on after a launch: a busy file is a line in the log box,
    // never a box to answer.
    launcher_.notice = [this](const QString& message) { appendLogText(message + kLineEnd); };
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    progressBar_ = new QProgressBar(ui_->LaunchStatus);
    progressBar_->setAccessibleName(QStringLiteral("Launch progress"));
    progressBar_->setTextVisible(false);
    progressBar_->setFixedWidth(160);
    progressText_ = new QLabel(ui_->LaunchStatus);
    ui_->LaunchStatus->addWidget(progressBar_);
    ui_->LaunchStatus->addWidget(progressText_, 1);
    progressBar_->hide();
    progressDue_.setSingleShot(true);
    progressDue_.setInterval(kProgressEveryMs);
    progressDue_.callOnTimeout(this, [this] { showProgress(); });
    connect(&launcher_.tracker(), &RunTracker::runChanged, this, [this] {
        if (!progressDue_.isActive())
            progressDue_.start();
    });
    ui_->ScriptBox->installEventFilter(this);
    ui_->RunCommand->installEventFilter(this);
    // Only a pick from the list loads a template. An editable combo box also reports a
    // pick when typed text matches an entry (on Enter or leaving the field) and through
    // its completer. Everything the combo box hears from its edit field at those moments
    // is cut off, whatever its own receiving slots are called in a given Qt version.
    ui_->ComboTask->setCompleter(nullptr);
    QLineEdit* typed = ui_->ComboTask->lineEdit();
    typed->setAccessibleName(ui_->ComboTask->accessibleName());  // the combo box speaks its text
    QObject::disconnect(typed, &QLineEdit::editingFinished, ui_->ComboTask, nullptr);
    QObject::disconnect(typed, &QLineEdit::returnPressed, ui_->ComboTask, nullptr);

    // A pick by mouse or arrow keys selects a file; focus alone only makes a row current.
    connectHandler(platform_, ui_->ListFile, &QListWidget::itemSelectionChanged, this,
                   &Form1::ListFileClick);
    connectHandler(platform_, ui_->ListFile, &FileListBox::selectedFileChosenAgain, this,
                   &Form1::ListFileClick);
    connectHandler(platform_, ui_->ComboTask, &QComboBox::activated, this, &Form1::ComboTaskClick);
    connectHandler(platform_, ui_->CheckSpawn, &QCheckBox::toggled, this, &Form1::CheckSpawnClick);
    connectHandler(platform_, ui_->CheckSave, &QCheckBox::toggled, this, &Form1::CheckSaveClick);
    connectHandler(platform_, ui_->RunCommand, &QPushButton::clicked, this,
                   &Form1::RunCommandClick);
    connectHandler(platform_, ui_->MenuRefresh, &QAction::triggered, this,
                   &Form1::MenuRefreshClick);
    connectHandler(platform_, ui_->MenuReload, &QAction::triggered, this, &Form1::MenuReloadClick);
    connectHandler(platform_, ui_->MenuCleanup, &QAction::triggered, this,
                   &Form1::MenuCleanupClick);
    connectHandler(platform_, ui_->Exit, &QAction::triggered, this, &Form1::ExitClick);
    connectHandler(platform_, ui_->MenuAbout, &QAction::triggered, this, &Form1::MenuAboutClick);
    connectHandler(platform_, ui_->MenuResults, &QAction::triggered, this,
                   &Form1::MenuResultsClick);
    connectHandler(platform_, ui_->MenuOptions, &QAction::triggered, this,
                   &Form1::MenuOptionsClick);
}

Form1::~Form1() {
    finishExit();          // closed, and gone before the event loop turned again
    delete about_.data();  // it has no owner window to take it along
    delete results_.data();
}

ResultsWindow* Form1::resultsWindow() const {
    return results_.data();
}

frmabout* Form1::aboutWindow() const {
    return about_.data();
}

bool Form1::load() {
    ui_->ScriptBox->setPlainText(kPlaceholderText);
    for (auto [list, folder] : {std::pair{ui_->ListFile, workspace_.collectionsFolder()},
                                std::pair{ui_->FileTask, workspace_.scriptsFolder()}}) {
        if (!list->setFolder(folder)) {
            platform_.showMessage(
                kApplicationTitle,
                QStringLiteral(
                    "The folder %1 does not exist. Create the folder %1 and start again.")
                    .arg(folder));
            return false;
        }
    }
    const int templates = ui_->FileTask->count();
    for (int i = 0; i < templates; ++i)
        ui_->ComboTask->addItem(ui_->FileTask->item(i)->text());
    ui_->ComboTask->setCurrentIndex(-1);
    ui_->ComboTask->setCurrentText(QStringLiteral("Common Tasks ..."));
    CleanupTemp();
    options_ = readLaunchOptions(workspace_.settingsFile());
    ensureAboutWindow();
    return true;
}

bool Form1::start() {
    // Mapping the window costs a round trip to the window manager, and the filling of the
    // lists runs meanwhile: nothing is drawn before the event loop runs, so the first drawing
    // shows the window filled. Without its folders the start shows only its message.
    const bool folders = QFileInfo(workspace_.collectionsFolder()).isDir() &&
                         QFileInfo(workspace_.scriptsFolder()).isDir();
    if (folders)
        show();
    if (!load())
        return false;
    show();
    return true;
}

// --- LaunchProgress ----------------------------------------------------------------------

LaunchRequest Form1::launchRequest() {
    if (ui_->DelayText->text().isEmpty())
        ui_->DelayText->setText(QStringLiteral("0"));
    LaunchRequest request;
    request.servers = programText(ui_->ListBox);
    request.script = programText(ui_->ScriptBox);
    request.mode = launchModeFor(ui_->CheckSpawn->isChecked(), ui_->CheckSave->isChecked());
    request.delayText = ui_->DelayText->text();
    request.options = options_;
    return request;
}

void Form1::setLogText(const QString& text) {
    ui_->LogText->setPlainText(widgetText(text));
}

void Form1::appendLogText(QString text) {
    QTextDocument* log = ui_->LogText->document();
    // A launch's first append meets a box that holds only the delay: setting the whole
    // text is then the cheaper way, by half for a large launch.
    if (log->characterCount() <= kSetWholeLogBelow) {
        text.prepend(ui_->LogText->toPlainText());
        ui_->LogText->setPlainText(widgetText(std::move(text)));
        return;
    }
    // What a launch writes is not the user's typing, and undoing it would only take the
    // box half-way back: like setPlainText, the append keeps no undo record, which for a
    // large launch would hold a second copy of the whole text.
    log->setUndoRedoEnabled(false);
    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    cursor.insertText(widgetText(std::move(text)));
    cursor.endEditBlock();
    log->setUndoRedoEnabled(true);
}

void Form1::keepAlive() {
    // The log box is what shows a launch's progress between starts; every other control
    // draws itself when it changes. The whole window, its picture included, drawn 20 times
    // a second would take a launch of fast ends a sixth of a core.
    platform_.repaint(*ui_->LogText);
}

void Form1::savedForLater(const QString& path) {
    platform_.showMessage(kApplicationTitle,
                          QStringLiteral("File saved for later as %1.").arg(path));
}

// --- Events -----------------------------------------------------------------------------

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->RunCommand && !launching_ && clickTooSoonAfterLaunch(event))
        return true;
    if (watched == ui_->ScriptBox && event->type() == QEvent::FocusIn)
        runHandler(platform_, [this] { ScriptBoxGotFocus(); });
    return QMainWindow::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (launching_) {
        event->ignore();  // the launch ends first; Stop is there for a Spawn Mode launch
        return;
    }
    // The windows go at once; the clean-up of a temp folder of many thousand runs
    // follows, and what the runs ended as is not needed any more.
    if (about_)
        about_->close();
    if (results_)
        results_->close();
    hide();
    event->accept();
    // The windows are taken off the screen on this turn of the event loop; the clean-up
    // follows on the next.
    exitPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (finishExit())
            QCoreApplication::exit(0);
    });
}

bool Form1::finishExit() {
    if (!std::exchange(exitPending_, false))
        return false;
    launcher_.emptyTempAtExit();
    return true;
}

// --- Collections and templates ------------------------------------------------------------

void Form1::loadWholeFile(const QString& path, QPlainTextEdit* box) {
    FilePath = path;
    box->setPlainText(readWholeFile(FilePath));
}

void Form1::ListFileClick() {
    const QString name = ui_->ListFile->selectedFileName();
    if (!name.isEmpty())
        loadWholeFile(workspace_.collectionFile(name), ui_->ListBox);
}

void Form1::ComboTaskClick() {
    loadWholeFile(workspace_.templateFile(ui_->ComboTask->currentText()), ui_->ScriptBox);
}

void Form1::MenuReloadClick() {
    // The reload ends quietly when no file is selected or the file has gone; a file it
    // can read loads as a click would, refused with a message when too large.
    const QString name = ui_->ListFile->selectedFileName();
    if (name.isEmpty())
        return;
    const QFileInfo file(workspace_.collectionFile(name));
    if (!file.isFile() || !file.isReadable())
        return;
    loadWholeFile(file.filePath(), ui_->ListBox);
}

void Form1::ScriptBoxGotFocus() {
    if (programText(ui_->ScriptBox) == kPlaceholderText)
        ui_->ScriptBox->setPlainText(QString());
}

// --- Mode options ---------------------------------------------------------------------

void Form1::CheckSaveClick() {
    if (!ui_->CheckSave->isChecked())
        return;
    if (ui_->CheckSpawn->isChecked()) {
        platform_.showMessage(QStringLiteral("Warning!"),
                              QStringLiteral("This feature is not compatible with spawning. "
                                             "Enabling 'Run Later' automatically unselects "
                                             "Spawn Mode."));
    }
    ui_->CheckSpawn->setChecked(false);
}

void Form1::CheckSpawnClick() {
    if (!ui_->CheckSpawn->isChecked())
        return;
    ui_->CheckSave->setChecked(false);
}

// --- Launch -----------------------------------------------------------------------------

void Form1::RunCommandClick() {
    if (launching_) {
        requestStop();  // the button reads STOP now
        return;
    }
    try {
        beginLaunch(launchRequest());
    } catch (const UnsafeServerNames& unsafe) {
        // Nothing was written: the user decides, and the launch starts again as asked.
        if (!platform_.askToProceed(kApplicationTitle,
                                    unsafe.listing() + QStringLiteral("\nLaunch anyway?"),
                                    QStringLiteral("&Launch anyway"), QStringLiteral("Cancel")))
            return;
        LaunchRequest request = launchRequest();  // the boxes as they were
        request.allowUnsafeNames = true;
        beginLaunch(std::move(request));
    }
}

void Form1::beginLaunch(LaunchRequest request) {
    launchesBefore_ = launcher_.tracker().launchCount();
    noticeDue_ = true;
    launching_ = true;
    stopRequested_ = false;
    setLaunchControlsEnabled(false);
    try {
        launcher_.start(std::move(request), *this);
    } catch (...) {
        if (launching_) {
            launching_ = false;
            setLaunchControlsEnabled(true);
        }
        throw;
    }
}

void Form1::finished(std::exception_ptr failure) {
    launching_ = false;
    setLaunchControlsEnabled(true);
    sinceLaunch_.start();
    if (failure)
        runHandler(platform_, [failure] { std::rethrow_exception(failure); });
}

void Form1::showProgress() {
    RunTracker& tracker = launcher_.tracker();
    const int launch = tracker.launchCount();
    if (launch <= launchesBefore_)
        return;  // nothing of the launch under way has begun
    const LaunchResult counted = tracker.counted(launch);
    const bool going = counted.ended() < counted.servers;
    const QString text = going
                             ? counted.progress(counted.started.msecsTo(platform_.now()), QLocale())
                             : counted.summary();
    progressBar_->setRange(0, static_cast<int>(std::min<qsizetype>(counted.servers, INT_MAX)));
    progressBar_->setValue(static_cast<int>(std::min<qsizetype>(counted.ended(), INT_MAX)));
    progressBar_->setAccessibleDescription(text);
    progressBar_->show();
    progressText_->setText(text);
    // A long launch that ends unseen is told of on the desktop.
    if (!going && std::exchange(noticeDue_, false) &&
        counted.started.msecsTo(platform_.now()) > kNoticeAfterMs &&
        !QApplication::activeWindow()) {
        platform_.notify(QStringLiteral("Launch %1 ended: %2")
                             .arg(std::max<qint64>(tracker.historyIdOf(launch), launch))
                             .arg(counted.summary()),
                         QString());
    }
}

void Form1::setLaunchControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui_->ListFile, ui_->ComboTask, ui_->CheckSpawn, ui_->CheckSave, ui_->DelayText})
        control->setEnabled(enabled);
    ui_->ListBox->setReadOnly(!enabled);
    ui_->ScriptBox->setReadOnly(!enabled);
    for (QAction* action : {ui_->MenuRefresh, ui_->MenuReload, ui_->MenuCleanup, ui_->MenuOptions})
        action->setEnabled(enabled);
}

void Form1::setStoppable(bool stoppable) {
    stoppable_ = stoppable;
    ui_->RunCommand->setText(stoppable ? QStringLiteral("STOP") : QStringLiteral("LAUNCH CORVANE"));
}

void Form1::requestStop() {
    if (!stoppable_)
        return;
    stopRequested_ = true;
    launcher_.stop();
}

void Form1::keyPressEvent(QKeyEvent* event) {
    if (launching_ && event->key() == Qt::Key_Escape) {
        requestStop();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool Form1::clickTooSoonAfterLaunch(const QEvent* event) const {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    return sinceLaunch_.isValid() && !sinceLaunch_.hasExpired(QApplication::doubleClickInterval());
}

// --- Tools and About menus ----------------------------------------------------------------

void Form1::MenuRefreshClick() {
    ui_->ListFile->refresh();
}

void Form1::MenuCleanupClick() {
    CleanupTemp();
}

void Form1::ExitClick() {
    close();
}

void Form1::MenuAboutClick() {
    frmabout& about = ensureAboutWindow();
    about.show();
    about.raise();
    about.activateWindow();
}

void Form1::MenuResultsClick() {
    if (!results_) {
        results_ = new ResultsWindow(launcher_.tracker(), workspace_, platform_);
        connect(results_, &ResultsWindow::retryRequested, this, [this](const QStringList& servers) {
            ui_->ListBox->setPlainText(servers.join(u'\n'));
        });
    }
    results_->show();
    results_->showNewest();
    results_->raise();
    results_->activateWindow();
}

void Form1::MenuOptionsClick() {
    OptionsDialog dialog(options_, this);
    if (platform_.runDialog(dialog) != QDialog::Accepted)
        return;
    // Written only when the user says OK, and kept as they stand even when the file
    // cannot take them.
    options_ = dialog.options();
    writeLaunchOptions(workspace_.settingsFile(), options_);
}

frmabout& Form1::ensureAboutWindow() {
    if (!about_) {
        // Created anew after Close: it shows the start-up texts again, so it always
        // reads the same.
        about_ = new frmabout(platform_);
        about_->showStartupTexts();
    }
    return *about_;
}

void Form1::CleanupTemp() {
    launcher_.CleanupTemp();
}
