#include <QtTest>

#include <QDBusConnection>

#include "common/errors.h"
#include "desktop/desktop_platform.h"
#include "runs/run_list.h"
#include "runs/terminal_text.h"
#include "support/recording_platform.h"
#include "support/temp_workspace.h"

namespace {

// The recorder's files are temp<number>.t.out and so on.
BatchStart recorded(const TempWorkspace& ws, int number) {
    Run run;
    run.batchPath = ws.workspace().tempBatch(number);
    run.tag = QStringLiteral("t");
    return BatchStart{run.batchPath, QStringLiteral("corvane: test"), run.outputPath(),
                      run.statusPath(), run.pidPath()};
}

// The desktop's notification service, as far as a notice asks of it.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QStringList told;

  public slots:
    uint Notify(const QString& application, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int timeoutMs) {
        told += QStringList{application, summary, body, QString::number(timeoutMs)}.join('|');
        return 1;
    }
};

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT

  private slots:
    void handlerErrorsBecomeMessages();
    void batchFileRunsAsSeparateProcess();
    void missingShellIsReported();
    void runIsRecordedOnATerminal();
    void noticeReachesTheNotificationService();
};

void PlatformTest::handlerErrorsBecomeMessages() {
    RecordingPlatform platform;
    int ran = 0;
    runHandler(platform, [&] { ++ran; });
    QCOMPARE(ran, 1);
    QCOMPARE(platform.messages(), QStringList{});

    runHandler(platform, [&] {
        throw OperationError(
            QStringLiteral("Cannot open /ws/logs/log.txt for appending: "
                           "No such file or directory"));
    });
    runHandler(platform, [] { throw std::runtime_error("disk on fire"); });
    runHandler(platform, [] { throw std::bad_alloc(); });
    QCOMPARE(platform.messages(),
             (QStringList{"Cannot open /ws/logs/log.txt for appending: No such file or directory",
                          "The operation failed: disk on fire",
                          "The operation ran out of memory and was stopped."}));
    for (const auto& event : platform.events)
        QCOMPARE(event.caption, QStringLiteral("Corvane"));
}

void PlatformTest::batchFileRunsAsSeparateProcess() {
    TempWorkspace ws;
    const QString marker = ws.path("temp/ran.txt");
    ws.write("temp/temp1.bat", QStringLiteral("echo web01 > '%1'\n").arg(marker).toUtf8());
    DesktopPlatform platform(QStringLiteral("/bin/sh"), {});  // no terminal window here

    QElapsedTimer started;
    started.start();
    platform.startBatch(recorded(ws, 1));
    QVERIFY(started.elapsed() < 2000);  // not waited for
    QTRY_COMPARE_WITH_TIMEOUT(ws.read("temp/ran.txt"), QByteArray("web01\n"), 10000);
}

void PlatformTest::missingShellIsReported() {
    TempWorkspace ws;
    ws.write("temp/temp1.bat", "true\n");
    DesktopPlatform platform(ws.path("no-such-shell"), {QStringLiteral("sh")});
    const QString path = ws.path("temp/temp1.bat");
    try {
        platform.startBatch(recorded(ws, 1));
        QFAIL("a start without a shell was taken for a success");
    } catch (const OperationError& error) {
        QCOMPARE(error.message(), QStringLiteral("Cannot start %1: the shell %2 was not found.")
                                      .arg(path, ws.path("no-such-shell")));
    }
}

void PlatformTest::runIsRecordedOnATerminal() {
    TempWorkspace ws;
    ws.write("temp/temp4.bat",
             "echo to stdout\necho to stderr >&2\n[ -t 1 ] && echo on a terminal\nexit 3\n");
    DesktopPlatform platform(QStringLiteral("/bin/sh"), {});
    const qint64 pid = platform.startBatch(recorded(ws, 4));
    QVERIFY(pid > 0);
    QTRY_COMPARE_WITH_TIMEOUT(ws.read("temp/temp4.t.status"), QByteArray("3\n"), 10000);
    QTRY_VERIFY(ws.read("temp/temp4.t.out").contains("Script done on "));
    const QString shown = TerminalText::of(ws.read("temp/temp4.t.out"));
    QCOMPARE(shown, QStringLiteral("to stdout\nto stderr\non a terminal\n"));
    QVERIFY(ws.read("temp/temp4.t.pid").trimmed().toLongLong() > 0);
}

void PlatformTest::noticeReachesTheNotificationService() {
    // A session bus of the test's own, for the process: the platform's notices use it.
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    QVERIFY2(bus.waitForReadyRead(5000), "no dbus-daemon");
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    DesktopPlatform platform;
    // Nobody answers: nothing is shown, and nothing waits for an answer.
    QElapsedTimer took;
    took.start();
    platform.notify("Launch 1 ended: 2 ok", QString());
    QVERIFY(took.elapsed() < 500);
    QDBusConnection desktop = QDBusConnection::connectToBus(QString::fromUtf8(address), "desktop");
    NotificationService service;
    QVERIFY(desktop.registerObject("/org/freedesktop/Notifications", &service,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService("org.freedesktop.Notifications"));
    platform.notify("Launch 2 ended: 997 ok \u00b7 3 failed", QString());
    QTRY_COMPARE(service.told, QStringList{"Corvane|Launch 2 ended: 997 ok \u00b7 3 failed||-1"});
    QDBusConnection::disconnectFromBus("desktop");
    bus.kill();
    bus.waitForFinished();
}

QTEST_GUILESS_MAIN(PlatformTest)
#include "test_platform.moc"
