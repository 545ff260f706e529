#include <QtTest>

#include <QLabel>
#include <QPushButton>

#include "about_window/frmabout.h"
#include "support/recording_platform.h"

namespace {

QString label(const frmabout& about, const char* name) {
    return about.findChild<QLabel*>(name)->text();
}

QPushButton* button(const frmabout& about, const char* name) {
    return about.findChild<QPushButton*>(name);
}

void showActive(frmabout& about) {
    about.show();
    about.activateWindow();
    if (!QTest::qWaitForWindowActive(&about))
        qFatal("the About window did not become active");
}

}  // namespace

class AboutWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void loadStepAndLayout();
    void versionText();
    void webButtons();
    void closeKeys_data();
    void closeKeys();
    void enterPressesFocusedButton();
};

void AboutWindowTest::loadStepAndLayout() {
    RecordingPlatform platform;
    frmabout about(platform);
    QCOMPARE(about.windowTitle(), QStringLiteral("About Corvane"));
    QCOMPARE(label(about, "lblTitle"), QStringLiteral("Corvane"));
    QCOMPARE(label(about, "lblVersion"), QStringLiteral("Version 1.0.0"));
    QCOMPARE(label(about, "lblDescription"), QString());
    QVERIFY(!about.isVisible());

    QCOMPARE(about.geometry(), QRect(156, 129, 400, 300));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(button(about, "cmdOK")->geometry(), QRect(160, 216, 84, 23));
    QCOMPARE(button(about, "buttonx")->geometry(), QRect(8, 256, 185, 33));
    QCOMPARE(button(about, "buttony")->geometry(), QRect(208, 256, 185, 33));
    QCOMPARE(about.findChild<QLabel*>("lblDescription")->geometry(), QRect(222, 64, 171, 70));
    QCOMPARE(button(about, "cmdOK")->text(), QStringLiteral("Close"));
    QVERIFY(button(about, "cmdOK")->isDefault());
    QCOMPARE(button(about, "buttonx")->text(), frmabout::kFirstPage.host());
    QCOMPARE(button(about, "buttony")->text(), frmabout::kSecondPage.host());
    QVERIFY(frmabout::kFirstPage.scheme() == "https" && frmabout::kSecondPage.scheme() == "https");

    about.showStartupTexts();
    QCOMPARE(label(about, "lblTitle"), QStringLiteral("corvane"));
    QCOMPARE(label(about, "lblVersion"), QStringLiteral("version 1.0"));
    QCOMPARE(label(about, "lblDescription").split('\n').size(), 3);

    showActive(about);
    QCOMPARE(QApplication::focusWidget(), button(about, "cmdOK"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button(about, "buttonx"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button(about, "buttony"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button(about, "cmdOK"));
}

void AboutWindowTest::versionText() {
    QCOMPARE(aboutVersionText(2, 10, 7), QStringLiteral("Version 2.10.7"));
}

void AboutWindowTest::webButtons() {
    RecordingPlatform platform;
    frmabout about(platform);
    showActive(about);
    button(about, "buttonx")->click();
    QVERIFY(about.isVisible());
    button(about, "buttony")->click();
    QVERIFY(!about.isVisible());
    QCOMPARE(platform.openedPages(),
             (QStringList{frmabout::kFirstPage.toString(), frmabout::kSecondPage.toString()}));
}

void AboutWindowTest::closeKeys_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::newRow("esc on close") << "cmdOK" << int(Qt::Key_Escape);
    QTest::newRow("esc on web button") << "buttony" << int(Qt::Key_Escape);
    QTest::newRow("enter on close") << "cmdOK" << int(Qt::Key_Return);
    QTest::newRow("keypad enter on close") << "cmdOK" << int(Qt::Key_Enter);
}

void AboutWindowTest::closeKeys() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    RecordingPlatform platform;
    QPointer<frmabout> about = new frmabout(platform);
    showActive(*about);
    QPushButton* target = button(*about, focus.toLatin1());
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QTRY_VERIFY(!about);  // closed and gone
    QCOMPARE(platform.openedPages(), QStringList{});
}

void AboutWindowTest::enterPressesFocusedButton() {
    RecordingPlatform platform;
    frmabout about(platform);
    showActive(about);
    button(about, "buttonx")->setFocus();
    QTest::keyClick(button(about, "buttonx"), Qt::Key_Return);
    QCOMPARE(platform.openedPages(), QStringList{frmabout::kFirstPage.toString()});
    QVERIFY(about.isVisible());
}

QTEST_MAIN(AboutWindowTest)
#include "test_about_window.moc"
