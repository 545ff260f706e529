#pragma once

#include <QDialog>
#include <QUrl>
#include <memory>

#include "platform/platform.h"

namespace Ui {
class frmabout;
}

// The About window: title, version and credit lines over a picture, a Close button and
// two buttons that open documentation pages. Close (also Enter, Esc and the frame's
// close button) destroys it; the main window creates it anew when it is asked for again.
class frmabout : public QDialog {
    Q_OBJECT

  public:
    static const QUrl kFirstPage;
    static const QUrl kSecondPage;

    explicit frmabout(Platform& platform, QWidget* parent = nullptr);
    ~frmabout() override;

    // The texts the main window's start-up shows: the lower-case title, the short
    // version and the three credit lines.
    void showStartupTexts();

  private:
    void Load();
    void buttonxClick();
    void buttonyClick();

    std::unique_ptr<Ui::frmabout> ui_;
    Platform& platform_;
};

// "Version 1.0.0" for the numbers 1, 0 and 0.
QString aboutVersionText(int major, int minor, int revision);
