// Times a normal-mode launch through the real main window (offscreen, recording
// platform) for growing collections, and the same batch file written by awk.
//   build/bench/launch [sizes...]     default: 1000 10000 100000
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
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

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QString::fromLocal8Bit(argv[i]).toInt());
    if (sizes.isEmpty())
        sizes = {1000, 10000, 100000};

    QTemporaryDir root;
    QString lastBatch;
    QString lastSpool;
    for (int servers : sizes) {
        QTemporaryDir dir(root.filePath(QStringLiteral("ws-XXXXXX")));
        const Workspace ws(dir.path());
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir.path()).mkdir(QString::fromLatin1(folder));
        RecordingPlatform platform;
        platform.clock = QDateTime::currentDateTime();
        Form1 form(ws, platform);
        if (!form.load())
            return 1;

        QString collection;
        for (int i = 1; i <= servers; ++i)
            collection += QStringLiteral("server-%1.example.net\n").arg(i, 6, 10, QChar(u'0'));
        form.findChild<QPlainTextEdit*>(QStringLiteral("ListBox"))->setPlainText(collection);
        form.findChild<QPlainTextEdit*>(QStringLiteral("ScriptBox"))
            ->setPlainText(QStringLiteral("ping -c 1 %s"));

        QElapsedTimer timer;
        timer.start();
        form.findChild<QPushButton*>(QStringLiteral("RunCommand"))->click();
        const qint64 ms = timer.elapsed();
        if (platform.startedPaths().size() != 1) {
            std::fprintf(stderr, "launch of %d servers did not start its batch file\n", servers);
            return 1;
        }
        std::printf("servers=%d ms=%lld peak_rss_mb=%.1f\n", servers, static_cast<long long>(ms),
                    peakRssMb());
        std::fflush(stdout);
        lastBatch = readAll(ws.tempBatch(1));
        lastSpool = ws.spoolFile();
        // Keep the last workspace's spool file for the awk run below.
        if (servers == sizes.last()) {
            QFile::copy(lastSpool, root.filePath(QStringLiteral("srvtemp.txt")));
            lastSpool = root.filePath(QStringLiteral("srvtemp.txt"));
        }
    }

    // The same batch file by awk, as the floor of what writing it can cost.
    const QString awkOut = root.filePath(QStringLiteral("awk.bat"));
    QProcess awk;
    awk.setStandardOutputFile(awkOut);
    QElapsedTimer timer;
    timer.start();
    awk.start(QStringLiteral("awk"),
              {QStringLiteral("length($0) { printf \"\\nping -c 1 %s\\n\", $0 }"), lastSpool});
    awk.waitForFinished(-1);
    const qint64 ms = timer.elapsed();
    if (readAll(awkOut) != lastBatch) {
        std::fprintf(stderr, "awk wrote a different batch file\n");
        return 1;
    }
    std::printf("awk servers=%d ms=%lld\n", sizes.last(), static_cast<long long>(ms));
    return 0;
}
