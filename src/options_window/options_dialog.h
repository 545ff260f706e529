#pragma once

#include <QDialog>
#include <memory>

#include "batch_engine/launch_options.h"

namespace Ui {
class OptionsDialog;
}

// The launch options as the user sets them: at most N batch files at once, a time limit
// per batch file, terminal windows or none.
class OptionsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit OptionsDialog(const LaunchOptions& options, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    LaunchOptions options() const;

  private:
    std::unique_ptr<Ui::OptionsDialog> ui_;
};
