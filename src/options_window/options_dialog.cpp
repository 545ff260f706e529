#include "options_dialog.h"

#include <QPushButton>

#include "ui_options_dialog.h"

OptionsDialog::OptionsDialog(const LaunchOptions& options, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::OptionsDialog>()) {
    ui_->setupUi(this);
    ui_->MaxRunning->setRange(0, LaunchOptions::kMaxRunningLimit);
    ui_->TimeoutSeconds->setRange(0, LaunchOptions::kTimeoutLimit);
    ui_->KeepLaunches->setRange(1, LaunchOptions::kKeepLaunchesLimit);
    ui_->MaxRunning->setValue(options.maxRunning);
    ui_->KeepLaunches->setValue(options.keepLaunches);
    ui_->TimeoutSeconds->setValue(options.timeoutSeconds);
    ui_->Terminals->setChecked(options.terminals);
    ui_->Buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    ui_->MaxRunning->setFocus();
}

OptionsDialog::~OptionsDialog() = default;

LaunchOptions OptionsDialog::options() const {
    LaunchOptions options;
    options.maxRunning = ui_->MaxRunning->value();
    options.timeoutSeconds = ui_->TimeoutSeconds->value();
    options.terminals = ui_->Terminals->isChecked();
    options.keepLaunches = ui_->KeepLaunches->value();
    return options;
}
