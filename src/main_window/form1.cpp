#include "form1.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QTextCursor>
#include <QTextDocument>

#include "about_window/frmabout.h"
#include "batch_engine/run_command.h"
#include "common/app_info.h"
#include "common/errors.h"
#include "common/line_end.h"
#include "common/text_file.h"
#include "ui_form1.h"

namespace {

// The start-up texts of the About window; the description reads top to bottom:
// author credit, copyright line, motto.
const QString kAboutTitle = QStringLiteral("corvane");
const QString kAboutVersion = QStringLiteral("version 1.0");
const QString kAboutDescription = QStringLiteral("Written by the Corvane team") + kLineEnd +
                                  QStringLiteral("Copyright 2026 Corvane team") + kLineEnd +
                                  QStringLiteral("One template, every server.");

// A text box keeps paragraphs; the program's texts use its line end.
QString programText(const QPlainTextEdit* box) {
    QString text = box->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, kLineEnd);
    return text;
}

QString widgetText(QString text) {
    if (kLineEnd != QLatin1StringView("\n"))
        text.replace(kLineEnd, QLatin1StringView("\n"));
    return text;
}

}  // namespace

Form1::Form1(const Workspace& workspace, Platform& platform, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::Form1>()),
      workspace_(workspace),
      platform_(platform) {
    initProgramResources();
    ui_->setupUi(this);
    // A fixed dialog frame: no resizing, no maximise or minimise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    ui_->ScriptBox->installEventFilter(this);
    // Only a pick from the list loads a template. An editable combo box also reports a
    // pick when typed text matches an entry (on Enter or leaving the field) and through
    // its completer; both are cut off here.
    ui_->ComboTask->setCompleter(nullptr);
    disconnect(ui_->ComboTask->lineEdit(), SIGNAL(editingFinished()), ui_->ComboTask,
               SLOT(_q_editingFinished()));

    // A pick by mouse or arrow keys selects a file; focus alone only makes a row current.
    handle(ui_->ListFile, &QListWidget::itemSelectionChanged, &Form1::ListFileClick);
    handle(ui_->ComboTask, &QComboBox::activated, &Form1::ComboTaskClick);
    handle(ui_->CheckSpawn, &QCheckBox::toggled, &Form1::CheckSpawnClick);
    handle(ui_->CheckSave, &QCheckBox::toggled, &Form1::CheckSaveClick);
    handle(ui_->RunCommand, &QPushButton::clicked, &Form1::RunCommandClick);
    handle(ui_->MenuRefresh, &QAction::triggered, &Form1::MenuRefreshClick);
    handle(ui_->MenuReload, &QAction::triggered, &Form1::MenuReloadClick);
    handle(ui_->MenuCleanup, &QAction::triggered, &Form1::MenuCleanupClick);
    handle(ui_->Exit, &QAction::triggered, &Form1::ExitClick);
    handle(ui_->MenuAbout, &QAction::triggered, &Form1::MenuAboutClick);
}

Form1::~Form1() {
    delete about_.data();  // it has no owner window to take it along
}

frmabout* Form1::aboutWindow() const {
    return about_.data();
}

template <typename Sender, typename Signal>
void Form1::handle(Sender* sender, Signal signal, void (Form1::*handler)()) {
    connect(sender, signal, this, [this, handler] { runGuarded(handler); });
}

void Form1::runGuarded(void (Form1::*handler)()) {
    runHandler(platform_, [this, handler] { (this->*handler)(); });
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
    ensureAboutWindow();
    return true;
}

// --- LaunchWindow ---------------------------------------------------------------------

QString Form1::listBoxText() const {
    return programText(ui_->ListBox);
}

QString Form1::scriptBoxText() const {
    return programText(ui_->ScriptBox);
}

QString Form1::delayText() const {
    return ui_->DelayText->text();
}

void Form1::setDelayText(const QString& text) {
    ui_->DelayText->setText(text);
}

void Form1::setLogText(const QString& text) {
    ui_->LogText->setPlainText(widgetText(text));
}

void Form1::appendLogText(const QString& text) {
    // One edit block: the document records one change, not one per line.
    QTextCursor cursor(ui_->LogText->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    cursor.insertText(widgetText(text));
    cursor.endEditBlock();
}

int Form1::checkSpawnValue() const {
    return ui_->CheckSpawn->isChecked() ? 1 : 0;
}

int Form1::checkSaveValue() const {
    return ui_->CheckSave->isChecked() ? 1 : 0;
}

void Form1::repaintWindow() {
    platform_.repaint(*this);
}

// --- Events -----------------------------------------------------------------------------

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->ScriptBox && event->type() == QEvent::FocusIn)
        runGuarded(&Form1::ScriptBoxGotFocus);
    return QMainWindow::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the window by its frame ends the program the way Exit does.
    if (!exiting_)
        runGuarded(&Form1::ExitClick);
    event->accept();
}

// --- Collections and templates ------------------------------------------------------------

QString Form1::collectionPath() const {
    return ui_->ListFile->folder() + QDir::separator() + ui_->ListFile->selectedFileName();
}

void Form1::loadWholeFile(const QString& path, QPlainTextEdit* box) {
    vars_.FilePath = path;
    const QString text = readWholeFile(vars_.FilePath);
    box->setPlainText(text);
}

void Form1::ListFileClick() {
    if (ui_->ListFile->selectedFileName().isEmpty())
        return;
    loadWholeFile(collectionPath(), ui_->ListBox);
}

void Form1::ComboTaskClick() {
    loadWholeFile(workspace_.scriptsFolder() + QDir::separator() + ui_->ComboTask->currentText(),
                  ui_->ScriptBox);
}

void Form1::MenuReloadClick() {
    try {
        loadWholeFile(collectionPath(), ui_->ListBox);
    } catch (const FileTooLargeError&) {
        throw;  // refused with its message, like every other load of a large file
    } catch (const OperationError&) {
        // The reload ends quietly: nothing selected, or the file has gone.
    }
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
    RunCommand(*this, workspace_, platform_);
}

// --- Tools and About menus ----------------------------------------------------------------

void Form1::MenuRefreshClick() {
    ui_->ListFile->refresh();
}

void Form1::MenuCleanupClick() {
    CleanupTemp();
}

void Form1::ExitClick() {
    exiting_ = true;
    CleanupTemp();
    if (about_)
        about_->close();
    close();
    QCoreApplication::exit(0);
}

void Form1::MenuAboutClick() {
    frmabout& about = ensureAboutWindow();
    about.show();
    about.raise();
    about.activateWindow();
}

frmabout& Form1::ensureAboutWindow() {
    if (!about_) {
        // Created anew after Close: it shows the start-up texts again, so it always
        // reads the same.
        about_ = new frmabout(platform_);
        about_->setTexts(kAboutTitle, kAboutVersion, kAboutDescription);
    }
    return *about_;
}

void Form1::CleanupTemp() {
    // Every file in the temp folder goes, whatever its name; what cannot be deleted
    // (or a missing folder) is passed over without a word.
    QDir temp(workspace_.tempFolder());
    const QStringList files = temp.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : files)
        QFile::remove(temp.filePath(name));
}
