// Times the main window's heavy paths through the real window (offscreen, recording
// platform: nothing is started, nothing sleeps):
//   - a normal-mode launch of 1,000, 10,000 and 100,000 servers, and the same batch file
//     written by awk for comparison;
//   - start-up to a shown window with 1,000/100 and 10,000/1,000 collection/template files;
//   - a Spawn Mode launch with a 0 delay of 1,000 and 10,000 servers.
// Usage: build/bench/launch [normal|startup|spawn [servers]]   (default: every case)
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>

#include "common/workspace.h"
#include "main_window/form1.h"
#include "platform/recording_platform.h"

namespace {

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void touch(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write("x\n");
}

// A workspace of its own in a temporary folder.
struct Bench {
    Bench() : workspace(dir.path()) {
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir.path()).mkdir(QString::fromLatin1(folder));
        platform.clock = QDateTime::currentDateTime();
    }
    QTemporaryDir dir;
    Workspace workspace;
    RecordingPlatform platform;
};

QString collectionOf(int servers) {
    QString collection;
    for (int i = 1; i <= servers; ++i)
        collection += QStringLiteral("server-%1.example.net\n").arg(i, 6, 10, QChar(u'0'));
    return collection;
}

// Times one click of the launch button; `batch` receives temp1.bat.
qint64 timeLaunch(Bench& bench, int servers, bool spawn, QByteArray* batch = nullptr) {
    Form1 form(bench.workspace, bench.platform);
    if (!form.load())
        qFatal("start-up failed");
    form.findChild<QPlainTextEdit*>(QStringLiteral("ListBox"))->setPlainText(collectionOf(servers));
    form.findChild<QPlainTextEdit*>(QStringLiteral("ScriptBox"))
        ->setPlainText(QStringLiteral("ping -c 1 %s"));
    form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"))->setChecked(spawn);

    QElapsedTimer timer;
    timer.start();
    form.findChild<QPushButton*>(QStringLiteral("RunCommand"))->click();
    const qint64 ms = timer.elapsed();
    if (bench.platform.startedPaths().size() != (spawn ? servers : 1))
        qFatal("the launch of %d servers did not start what it should", servers);
    if (batch)
        *batch = readAll(bench.workspace.tempBatch(1));
    return ms;
}

void normalLaunches() {
    QByteArray lastBatch;
    QTemporaryDir keep;
    const QString spool = keep.filePath(QStringLiteral("srvtemp.txt"));
    int servers = 0;
    for (int size : {1000, 10000, 100000}) {
        Bench bench;
        servers = size;
        const qint64 ms = timeLaunch(bench, servers, false, &lastBatch);
        std::printf("servers=%d ms=%lld peak_rss_mb=%.1f\n", servers, static_cast<long long>(ms),
                    peakRssMb());
        std::fflush(stdout);
        QFile::remove(spool);
        QFile::copy(bench.workspace.spoolFile(), spool);
    }

    // The same batch file by awk: the floor of what writing it can cost.
    const QString awkOut = keep.filePath(QStringLiteral("awk.bat"));
    QProcess awk;
    awk.setStandardOutputFile(awkOut);
    QElapsedTimer timer;
    timer.start();
    awk.start(QStringLiteral("awk"),
              {QStringLiteral("length($0) { printf \"\\nping -c 1 %s\\n\", $0 }"), spool});
    awk.waitForFinished(-1);
    const qint64 ms = timer.elapsed();
    if (readAll(awkOut) != lastBatch)
        qFatal("awk wrote a different batch file");
    std::printf("awk servers=%d ms=%lld\n", servers, static_cast<long long>(ms));
}

void startUps() {
    for (auto [collections, templates] : {std::pair{1000, 100}, std::pair{10000, 1000}}) {
        Bench bench;
        for (int i = 0; i < collections; ++i)
            touch(bench.workspace.path(QStringLiteral("collections/c%1.txt").arg(i)));
        for (int i = 0; i < templates; ++i)
            touch(bench.workspace.path(QStringLiteral("scripts/t%1.txt").arg(i)));

        QElapsedTimer timer;
        timer.start();
        Form1 form(bench.workspace, bench.platform);
        if (!form.load())
            qFatal("start-up failed");
        form.show();
        while (!form.windowHandle() || !form.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const qint64 ms = timer.elapsed();
        std::printf("startup collections=%d templates=%d ms=%lld\n", collections, templates,
                    static_cast<long long>(ms));
        std::fflush(stdout);
    }
}

void spawnLaunches(const QList<int>& sizes) {
    for (int servers : sizes) {
        Bench bench;
        const qint64 ms = timeLaunch(bench, servers, true);
        std::printf("spawn servers=%d ms=%lld us_per_server=%.1f\n", servers,
                    static_cast<long long>(ms), 1000.0 * ms / servers);

        // The floor: the same files created, written and closed, and nothing else.
        QTemporaryDir floor;
        QElapsedTimer timer;
        timer.start();
        for (int i = 1; i <= servers; ++i) {
            QFile file(floor.filePath(QStringLiteral("temp%1.bat").arg(i)));
            if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
                qFatal("cannot write %s", qPrintable(file.fileName()));
            file.write("ping -c 1 server\n");
        }
        std::printf("files servers=%d ms=%lld\n", servers, static_cast<long long>(timer.elapsed()));
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (only.isEmpty() || only == u"normal")
        normalLaunches();
    if (only.isEmpty() || only == u"startup")
        startUps();
    if (only.isEmpty() || only == u"spawn")
        spawnLaunches(argc > 2 ? QList<int>{QString::fromLocal8Bit(argv[2]).toInt()}
                               : QList<int>{1000, 10000});
    return 0;
}
