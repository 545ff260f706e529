#include "frmabout.h"

#include "common/app_info.h"
#include "common/line_end.h"
#include "resources/program_resources.h"
#include "ui_frmabout.h"

// Pages an administrator writing templates wants at hand: the command language the
// batch files run in, and the reference of the everyday commands.
const QUrl frmabout::kFirstPage(
    QStringLiteral("https://pubs.opengroup.org/onlinepubs/9699919799/utilities/V3_chap02.html"));
const QUrl frmabout::kSecondPage(
    QStringLiteral("https://www.gnu.org/software/coreutils/manual/coreutils.html"));

namespace {
// Where the window's client area stands on the screen, in pixels.
constexpr int kLeft = 156;
constexpr int kTop = 129;
}  // namespace

QString aboutVersionText(int major, int minor, int revision) {
    return QStringLiteral("Version ") + versionText({major, minor, revision});
}

frmabout::frmabout(Platform& platform, QWidget* parent)
    // Given here, the flags are in place before the style sheet: set afterwards, they
    // would re-polish every control and decode the picture of a window still hidden.
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::frmabout>()),
      platform_(platform) {
    initProgramResources();
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(size());
    setGeometry(kLeft, kTop, width(), height());
    ui_->buttonx->setText(kFirstPage.host());
    ui_->buttony->setText(kSecondPage.host());

    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connectHandler(platform_, ui_->buttonx, &QPushButton::clicked, this, &frmabout::buttonxClick);
    connectHandler(platform_, ui_->buttony, &QPushButton::clicked, this, &frmabout::buttonyClick);
    Load();
}

frmabout::~frmabout() = default;

void frmabout::Load() {
    setWindowTitle(QStringLiteral("About ") + kApplicationTitle);
    const VersionNumbers version = programVersion();
    ui_->lblVersion->setText(aboutVersionText(version.major, version.minor, version.revision));
    ui_->lblTitle->setText(kApplicationTitle);
}

void frmabout::showStartupTexts() {
    const VersionNumbers version = programVersion();
    ui_->lblTitle->setText(QStringLiteral("corvane"));
    ui_->lblVersion->setText(QStringLiteral("version %1.%2").arg(version.major).arg(version.minor));
    // Author credit, copyright line, motto.
    ui_->lblDescription->setText(QStringLiteral("Written by the Corvane team") + kLineEnd +
                                 QStringLiteral("Copyright 2026 Corvane team") + kLineEnd +
                                 QStringLiteral("One template, every server."));
}

void frmabout::buttonxClick() {
    platform_.openWebPage(kFirstPage);
}

void frmabout::buttonyClick() {
    hide();
    platform_.openWebPage(kSecondPage);
}
