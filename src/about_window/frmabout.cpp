#include "frmabout.h"

#include "common/app_info.h"
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
    : QDialog(parent), ui_(std::make_unique<Ui::frmabout>()), platform_(platform) {
    initProgramResources();
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    setGeometry(kLeft, kTop, width(), height());
    ui_->buttonx->setText(kFirstPage.host());
    ui_->buttony->setText(kSecondPage.host());

    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(ui_->buttonx, &QPushButton::clicked, this,
            [this] { runHandler(platform_, [this] { buttonxClick(); }); });
    connect(ui_->buttony, &QPushButton::clicked, this,
            [this] { runHandler(platform_, [this] { buttonyClick(); }); });
    Load();
}

frmabout::~frmabout() = default;

void frmabout::Load() {
    setWindowTitle(QStringLiteral("About ") + kApplicationTitle);
    const VersionNumbers version = programVersion();
    ui_->lblVersion->setText(aboutVersionText(version.major, version.minor, version.revision));
    ui_->lblTitle->setText(kApplicationTitle);
}

void frmabout::setTexts(const QString& title, const QString& version, const QString& description) {
    ui_->lblTitle->setText(title);
    ui_->lblVersion->setText(version);
    ui_->lblDescription->setText(description);
}

void frmabout::buttonxClick() {
    platform_.openWebPage(kFirstPage);
}

void frmabout::buttonyClick() {
    hide();
    platform_.openWebPage(kSecondPage);
}
