// What a user waits for, each case beside its floor measured in the same run:
//   normal   a normal-mode launch of 1,000 to 1,000,000 servers through the real window
//            (offscreen, drawn while the launch runs as the program draws it) until the
//            event loop is idle, the log box and the run log checked;
//            floor: one setPlainText of the same log text; and the batch file by awk;
//            100,000 and 1,000,000 run five times, and their ratio is of the medians
//   startup  exec to the first shown window, as a process of its own, with the sample
//            workspace, with it and a results history of 100 launches of 1,000 servers,
//            and with 10,000 collections, on an X server with a window manager
//            of its own (offscreen without them; the offscreen figures follow anyway);
//            floor: a minimal Qt window with one text box, started the same way in turns
//   spawn    a Spawn Mode launch (delay 0, template "echo %s") of 1,000 servers (or as
//            many as asked) through the real platform and recorder with real repaints;
//            floor: posix_spawn of the same command lines; and the cost of recording: the
//            same batch files started and run with and without the recorder; and the bare
//            creation of the same files
// Each case prints its own line, and a line `ratio case=... ms=... floor_ms=... value=...
// peak_rss_mb=...` where it has a floor. Every size runs in a process of its own, so that
// each peak memory figure is that case's alone.
//   cli      corvane run of a 100,000-server normal launch, exec to exit; floor: awk
//            writing the same batch file and the recorder running it; and corvane
//            --version; floor: a minimal Qt Core program printing a line
//   fanout   corvane run, Spawn Mode, 1,000 servers at most 20 at once, no terminal;
//            floor: xargs -P 20 with the same recorded command lines; peer: parallel -j 20
//   results  the Results window showing a run that prints as fast as it can, the share of a
//            core the program takes; floor: reading what the run adds every 500 ms;
//            and Exit with 20,000 runs' files in the temp folder; floor: find -delete
//   spawn-window  the window's Spawn Mode launch of 10,000 `echo %s` servers, at most 100
//            at once, no terminal, from the click until its Results window shows every
//            end; floor: corvane run of the same launch, exec to exit
//   huge     the largest collection a text box takes (16 MiB) loaded and launched in each
//            mode, nothing started; Spawn Mode also with the history in memory only (its
//            file cannot be made): spawn-huge-history; only when asked for
// Usage: build/bench/launch [normal|startup|spawn [servers]|cli|spawn-window|fanout|results|huge]
// (default: all but huge)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <tuple>

#include "batch_engine/unsafe_names.h"
#include "common/date_time_format.h"
#include "common/text_file.h"
#include "common/workspace.h"
#include "desktop/desktop_platform.h"
#include "main_window/font_warm_up.h"
#include "main_window/form1.h"
#include "measure.h"
#include "results_window/results_window.h"
#include "runs/results_history.h"
#include "runs/run_tracker.h"
#include "support/recording_platform.h"
#include "x_server.h"

extern char** environ;

namespace {

const QString kTemplate = QStringLiteral("ping -c 1 %s");

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Records as the tests' platform does, but draws the window for real, as the program does
// while a launch runs, and does not read a started file back, which only tests look at.
class PaintingPlatform : public RecordingPlatform {
  public:
    PaintingPlatform() { keepsStartedFiles = false; }
    void repaint(QWidget& window) override {
        RecordingPlatform::repaint(window);
        desktop_.repaint(window);
    }
    qsizetype repaints() const { return eventsOf(Kind::Repaint).size(); }

  private:
    DesktopPlatform desktop_;
};

// Calls `hidden` when the watched window is hidden.
class HideWatch : public QObject {
  public:
    explicit HideWatch(std::function<void()> hidden) : hidden_(std::move(hidden)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide)
            hidden_();
        return false;
    }

  private:
    std::function<void()> hidden_;
};

// A workspace of its own in a temporary folder.
struct Bench {
    Bench() : workspace(dir.path()) {
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir.path()).mkdir(QString::fromLatin1(folder));
        platform.clock = QDateTime::currentDateTime();
    }
    QTemporaryDir dir;
    Workspace workspace;
    PaintingPlatform platform;
};

// The name of the `number`th server of every collection the benchmark makes.
QString serverName(int number) {
    return QStringLiteral("server-%1.example.net").arg(number, 7, 10, QChar(u'0'));
}

QStringList serverNames(int servers) {
    QStringList names;
    names.reserve(servers);
    for (int i = 1; i <= servers; ++i)
        names.append(serverName(i));
    return names;
}

void waitUntilIdle(QWidget& window) {
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
}

// The window as the program's start-up leaves it, shown and idle.
void startUp(Form1& form) {
    if (!form.start())
        qFatal("start-up failed");
    waitUntilIdle(form);
}

// Puts `collection` and `script` in their boxes and ticks the mode boxes, then clicks the
// launch button; the milliseconds until the event loop is idle again.
qint64 timedLaunch(Form1& form, QString collection, const QString& script, bool spawn = false,
                   bool runLater = false) {
    if (!collection.isNull()) {
        form.findChild<QPlainTextEdit*>(QStringLiteral("ListBox"))->setPlainText(collection);
        collection = QString();  // only the box holds it, as when a user has typed it
    }
    form.findChild<QPlainTextEdit*>(QStringLiteral("ScriptBox"))->setPlainText(script);
    form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"))->setChecked(spawn);
    form.findChild<QCheckBox*>(QStringLiteral("CheckSave"))->setChecked(runLater);
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    form.findChild<QPushButton*>(QStringLiteral("RunCommand"))->click();
    // The launch runs on the event loop: until it has given the launch controls back.
    auto* spawnBox = form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"));
    while (!spawnBox->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    QCoreApplication::processEvents();
    return timer.elapsed();
}

QString collectionOf(int servers) {
    QString collection;
    collection.reserve(qsizetype(servers) * 30);
    for (int i = 1; i <= servers; ++i) {
        collection += serverName(i);
        collection += u'\n';
    }
    return collection;
}

// The line kTemplate makes for the `number`th server.
QString commandFor(int number) {
    static const QString command =
        QString(kTemplate).replace(QStringLiteral("%s"), QStringLiteral("%1"));
    return command.arg(serverName(number));
}

// What the log box and the run log hold after a normal launch of `servers`.
QString expectedLogBox(int servers, const QDateTime& clock) {
    QString box =
        QStringLiteral("0-- Batch (Spawn) Launched ") + formatLogDateTime(QLocale(), clock) + u'\n';
    for (int i = 1; i <= servers; ++i) {
        box += u'\n';
        box += commandFor(i);
    }
    return box + QStringLiteral("-- End of Batch\n");
}

QByteArray expectedRunLog(int servers, const QDateTime& clock) {
    QByteArray log = "Corvane launched " + formatLogDateTime(QLocale(), clock).toUtf8() + "\n\n";
    for (int i = 1; i <= servers; ++i)
        log += commandFor(i).toUtf8() + "\n\n";
    return log + QByteArray(67, '-') + '\n';
}

// One normal-mode launch of `servers` in this process, against one setPlainText of the
// same log text.
void normalCase(int servers) {
    Bench bench;
    // The floor first, in a window of its own made and shown the same way: both meet the
    // memory of a new process alike.
    qint64 floorMs = 0;
    {
        Form1 floorForm(bench.workspace, bench.platform);
        floorForm.show();
        waitUntilIdle(floorForm);
        auto* box = floorForm.findChild<QPlainTextEdit*>(QStringLiteral("LogText"));
        const QString text = expectedLogBox(servers, bench.platform.clock);
        QElapsedTimer timer;
        timer.start();
        box->setPlainText(text);
        QCoreApplication::processEvents();
        floorMs = timer.elapsed();
    }

    qint64 ms = 0;
    double peak = 0;
    {
        Form1 form(bench.workspace, bench.platform);
        startUp(form);
        ms = timedLaunch(form, collectionOf(servers), kTemplate);
        peak = peakRssMb();
        if (form.findChild<QPlainTextEdit*>(QStringLiteral("LogText"))->toPlainText() !=
            expectedLogBox(servers, bench.platform.clock))
            qFatal("the log box of %d servers is not what it should be", servers);
        if (bench.platform.startedPaths().size() != 1)
            qFatal("the launch of %d servers did not start its batch file", servers);
    }
    if (readAll(bench.workspace.logFile()) != expectedRunLog(servers, bench.platform.clock))
        qFatal("the run log of %d servers is not what it should be", servers);
    std::printf("servers=%d ms=%lld peak_rss_mb=%.1f repaints=%lld\n", servers,
                static_cast<long long>(ms), peak,
                static_cast<long long>(bench.platform.repaints()));
    std::printf("floor servers=%d ms=%lld\n", servers, static_cast<long long>(floorMs));
    {
        // The check of the server names that every launch makes, alone: a share of the
        // launch above, which includes it.
        const QString collection = collectionOf(servers);
        const qint64 started = monotonicNs();
        const UnsafeNames unsafe = findUnsafeServerNames(collection);
        const double checkMs = (monotonicNs() - started) / 1e6;
        if (unsafe.count != 0)
            qFatal("a quiet name was flagged");
        std::printf("names servers=%d check_ms=%.1f\n", servers, checkMs);
    }
    std::fflush(stdout);

    if (servers == 100000) {
        QElapsedTimer timer;
        // The batch file by awk: the floor of what writing it can cost.
        QTemporaryDir keep;
        const QString awkOut = keep.filePath(QStringLiteral("awk.bat"));
        QProcess awk;
        awk.setStandardOutputFile(awkOut);
        timer.start();
        awk.start(QStringLiteral("awk"), {QStringLiteral("length($0) { printf \"\\nping -c 1 "
                                                         "%s\\n\", $0 }"),
                                          bench.workspace.spoolFile()});
        awk.waitForFinished(-1);
        const qint64 awkMs = timer.elapsed();
        if (readAll(awkOut) != readAll(bench.workspace.tempBatch(1)))
            qFatal("awk wrote a different batch file");
        std::printf("awk servers=%d ms=%lld\n", servers, static_cast<long long>(awkMs));
        std::fflush(stdout);
    }
}

// Shows the window a start-up shows, and prints when it is shown; run as its own process.
int startupChild(const QString& kind, const QString& folder) {
    // The program's own order, as main() has it: the fonts are read meanwhile.
    std::optional<FontWarmUp> fonts;
    if (kind == u"program")
        fonts.emplace();
    QApplication app(
        *new int(1), new char* [2] { const_cast<char*>("corvane"), nullptr });
    std::unique_ptr<QWidget> window;
    RecordingPlatform platform;
    if (kind == u"program") {
        QApplication::setApplicationName(QStringLiteral("Corvane"));
        QApplication::setQuitOnLastWindowClosed(false);
        fonts->wait();
        auto form = std::make_unique<Form1>(Workspace(folder), platform);
        if (!form->start())
            return 1;
        window = std::move(form);
    } else {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(new QPlainTextEdit);
        window->resize(653, 388);
        window->show();
    }
    while (!window->windowHandle() || !window->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    std::printf("%lld %.1f\n", static_cast<long long>(monotonicNs()), peakRssMb());
    return 0;
}

// One start of the start-up child on `display` (offscreen when empty), from exec to the
// shown window, in milliseconds; `peak` receives the larger of itself and the child's peak.
double startOnce(const QString& kind, const QString& folder, const QString& display, double& peak) {
    QProcess child;
    if (!display.isEmpty()) {
        QProcessEnvironment env = environmentOn(display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        child.setProcessEnvironment(env);
    }
    const qint64 started = monotonicNs();
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--startup-child"), kind, folder});
    if (!child.waitForFinished(60000) || child.exitCode() != 0)
        qFatal("the start-up child failed");
    const QList<QByteArray> report = child.readAllStandardOutput().trimmed().split(' ');
    peak = std::max(peak, report.value(1).toDouble());
    return (report.value(0).toLongLong() - started) / 1e6;
}

struct StartUp {
    double ms = 0;
    double floorMs = 0;
    double peak = 0;
};

// The program started on the workspace at `folder` and the minimal window, in turns, `runs`
// times each, so that whatever else the machine does meets both alike: the medians.
StartUp startUpAgainstFloor(const QString& folder, const QString& display, int runs = 21) {
    double ignored = 0;
    for (int i = 0; i < 2; ++i) {  // warm the caches alike
        startOnce(QStringLiteral("minimal"), QString(), display, ignored);
        startOnce(QStringLiteral("program"), folder, display, ignored);
    }
    StartUp result;
    QList<double> ours;
    QList<double> floors;
    for (int i = 0; i < runs; ++i) {
        ours.append(startOnce(QStringLiteral("program"), folder, display, result.peak));
        floors.append(startOnce(QStringLiteral("minimal"), QString(), display, ignored));
    }
    result.ms = median(ours);
    result.floorMs = median(floors);
    return result;
}

// The workspaces of the start-up cases: the sample's collections and templates, and folders
// of 1,000 and 10,000 collections.
struct StartUpWorkspaces {
    StartUpWorkspaces() {
        for (const char* folder : {"collections", "scripts"}) {
            const QDir from(QStringLiteral(CORVANE_SAMPLE_WORKSPACE "/") + QLatin1String(folder));
            for (const QString& name : from.entryList(QDir::Files)) {
                for (const Bench* bench : {&sample, &withHistory})
                    QFile::copy(from.filePath(name),
                                bench->workspace.path(QLatin1String(folder) + u'/' + name));
            }
        }
        // The sample beside a results history of 100 launches of 1,000 servers each.
        RunList runs;
        ResultsHistory history(withHistory.workspace.historyFile());
        for (int launch = 1; launch <= 100; ++launch) {
            runs.beginLaunch(QDateTime::currentDateTime());
            for (int i = 0; i < 1000; ++i) {
                const qsizetype index = runs.plan(Run{.launch = launch,
                                                      .mode = LaunchMode::Spawn,
                                                      .serverText = serverName(i).toUtf8(),
                                                      .serverCount = 1});
                runs.start(index, withHistory.workspace.tempBatch((launch - 1) * 1000 + i + 1), 0,
                           QDateTime::currentDateTime());
            }
            history.addLaunch(runs, launch);
            const RunList::Range range = runs.launchRuns(launch);
            for (qsizetype i = range.first; i < range.first + range.count; ++i)
                runs.ended(i, RunState{RunState::Exited, i % 50 == 0 ? 1 : 0});
            recordChanges(runs, history);
        }
        for (auto [bench, collections, templates] :
             {std::tuple{&thousand, 1000, 100}, std::tuple{&tenThousand, 10000, 1000}}) {
            for (int i = 0; i < collections; ++i)
                writeFile(bench->workspace.path(QStringLiteral("collections/c%1.txt").arg(i)),
                          "x\n");
            for (int i = 0; i < templates; ++i)
                writeFile(bench->workspace.path(QStringLiteral("scripts/t%1.txt").arg(i)), "x\n");
        }
    }
    Bench sample;
    Bench withHistory;
    Bench thousand;
    Bench tenThousand;
};

// Start-up on an X server with a window manager of the benchmark's own, as a user starts
// the program: mapping a window takes a round trip there. Without Xvfb or openbox it runs
// offscreen, and says so. The offscreen figures follow on lines of their own either way.
void startUps() {
    const StartUpWorkspaces spaces;
    XServer xServer;
    const QString display = xServer.start() ? xServer.display() : QString();
    std::printf("startup display=%s\n", display.isEmpty() ? "offscreen" : "xvfb+openbox");
    const StartUp sample = startUpAgainstFloor(spaces.sample.dir.path(), display);
    std::printf("startup collections=3 templates=3 ms=%.1f\n", sample.ms);
    printRatio("startup-sample", sample.ms, sample.floorMs, sample.peak);
    const StartUp history = startUpAgainstFloor(spaces.withHistory.dir.path(), display);
    std::printf("startup collections=3 templates=3 history_launches=100 history_mb=%.1f ms=%.1f\n",
                QFileInfo(spaces.withHistory.workspace.historyFile()).size() / 1e6, history.ms);
    printRatio("startup-sample-history", history.ms, history.floorMs, history.peak);
    double peak = 0;
    QList<double> thousand;
    for (int i = 0; i < 7; ++i)
        thousand.append(
            startOnce(QStringLiteral("program"), spaces.thousand.dir.path(), display, peak));
    std::printf("startup collections=1000 templates=100 ms=%.1f\n", median(thousand));
    const StartUp tenThousand = startUpAgainstFloor(spaces.tenThousand.dir.path(), display);
    std::printf("startup collections=10000 templates=1000 ms=%.1f\n", tenThousand.ms);
    printRatio("startup-10k", tenThousand.ms, tenThousand.floorMs, tenThousand.peak);
    std::fflush(stdout);
    if (display.isEmpty())
        return;
    for (auto [collections, bench] :
         {std::pair{3, &spaces.sample}, std::pair{10000, &spaces.tenThousand}}) {
        const StartUp offscreen = startUpAgainstFloor(bench->dir.path(), QString());
        std::printf("startup-offscreen collections=%d ms=%.1f floor_ms=%.1f value=%.2f\n",
                    collections, offscreen.ms, offscreen.floorMs, offscreen.ms / offscreen.floorMs);
    }
    std::fflush(stdout);
}

// posix_spawn of each command line, in `environment` (or this one), with nothing to read
// and nowhere to write; the time to start them all, and in `finished` the time until all
// have ended.
qint64 spawnAll(const QList<QStringList>& commands, qint64* finished = nullptr,
                QList<QByteArray> environment = {}) {
    QList<char*> environmentPointers;
    for (QByteArray& entry : environment)
        environmentPointers.append(entry.data());
    environmentPointers.append(nullptr);
    char** envp = environment.isEmpty() ? environ : environmentPointers.data();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int descriptor : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, descriptor, "/dev/null",
                                         descriptor == 0 ? O_RDONLY : O_WRONLY, 0);
    QList<QList<QByteArray>> bytes;
    for (const QStringList& command : commands) {
        QList<QByteArray> words;
        for (const QString& word : command)
            words.append(QFile::encodeName(word));
        bytes.append(words);
    }
    QElapsedTimer timer;
    timer.start();
    QList<pid_t> children;
    for (QList<QByteArray>& words : bytes) {
        QList<char*> arguments;
        for (QByteArray& word : words)
            arguments.append(word.data());
        arguments.append(nullptr);
        pid_t child = 0;
        if (posix_spawn(&child, arguments[0], &actions, nullptr, arguments.data(), envp) != 0)
            qFatal("posix_spawn failed");
        children.append(child);
    }
    const qint64 ms = timer.elapsed();
    posix_spawn_file_actions_destroy(&actions);
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
    if (finished)
        *finished = timer.elapsed();
    return ms;
}

BatchStart recordedStart(const Workspace& workspace, int number) {
    Run run;
    run.batchPath = workspace.tempBatch(number);
    run.tag = QStringLiteral("floor");
    return BatchStart{run.batchPath, QString(), run.outputPath(), run.statusPath(), run.pidPath()};
}

// What the recorder of temp<number>.bat left with `suffix`, whatever the program run's mark
// in its name; empty when there is none yet.
QString recordedFile(const Workspace& workspace, int number, const QString& suffix) {
    const QDir temp(workspace.tempFolder());
    const QStringList found =
        temp.entryList({QStringLiteral("temp%1.*%2").arg(number).arg(suffix)});
    return found.isEmpty() ? QString() : temp.filePath(found.first());
}

void spawnCase(int servers) {
    Bench bench;
    // The real platform with no terminal: every start is a real recorded process that
    // echoes its server's name.
    const QString shell = QStringLiteral("/bin/sh");
    const QString recorder = QStringLiteral("/usr/bin/script");
    DesktopPlatform platform(shell, {}, recorder);
    Form1 form(bench.workspace, platform);
    startUp(form);
    const QStringList names = serverNames(servers);
    const qint64 ms = timedLaunch(form, names.join(u'\n'), QStringLiteral("echo %s"), true);
    const double peak = peakRssMb();
    for (int i = 1; i <= servers; ++i) {
        while (recordedFile(bench.workspace, i, QStringLiteral(".status")).isEmpty())
            QThread::msleep(10);
        if (!readAll(recordedFile(bench.workspace, i, QStringLiteral(".out")))
                 .contains(names[i - 1].toUtf8()))
            qFatal("temp%d.bat did not run", i);
    }
    std::printf("spawn servers=%d ms=%lld us_per_server=%.1f\n", servers,
                static_cast<long long>(ms), 1000.0 * ms / servers);

    // The floors: the same recorded command lines, and the same batch files without the
    // recorder, each started by posix_spawn, in a workspace of their own.
    Bench floor;
    QList<QStringList> recorded;
    QList<QStringList> bare;
    for (int i = 1; i <= servers; ++i) {
        QFile::copy(bench.workspace.tempBatch(i), floor.workspace.tempBatch(i));
        recorded.append(
            BatchStarter::recordedCommand(shell, recorder, recordedStart(floor.workspace, i)));
        bare.append({shell, floor.workspace.tempBatch(i)});
    }
    qint64 recordedDone = 0;
    qint64 bareDone = 0;
    const qint64 floorMs = spawnAll(recorded, &recordedDone, BatchStarter::recorderEnvironment());
    spawnAll(bare, &bareDone);
    if (servers == 1000)
        printRatio("spawn-1k", ms, floorMs, peak);
    else
        std::printf("posix_spawn servers=%d ms=%lld\n", servers, static_cast<long long>(floorMs));
    std::printf(
        "recording servers=%d recorded_ms=%lld bare_ms=%lld recorded_us_per_server=%.1f "
        "bare_us_per_server=%.1f value=%.2f\n",
        servers, static_cast<long long>(recordedDone), static_cast<long long>(bareDone),
        1000.0 * recordedDone / servers, 1000.0 * bareDone / servers,
        double(recordedDone) / bareDone);

    // The same files created, written and closed, and nothing else.
    QTemporaryDir files;
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= servers; ++i) {
        QFile file(files.filePath(QStringLiteral("temp%1.bat").arg(i)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            qFatal("cannot write %s", qPrintable(file.fileName()));
        file.write("echo server\n");
    }
    std::printf("files servers=%d ms=%lld\n", servers, static_cast<long long>(timer.elapsed()));
    std::fflush(stdout);
}

// The largest collection a text box takes, loaded by a click on it and launched in
// `mode`, with nothing started (recording platform).

// The Results window showing a run that prints as fast as it can (yes, on the real
// recorder, no terminal), measured over 10 s; floor: reading the bytes the recording
// grows by every 500 ms and nothing else, over the same run's next 10 s.
void resultsCase() {
    Bench bench;
    DesktopPlatform platform(QStringLiteral("/bin/sh"), {});
    Form1 form(bench.workspace, platform);
    startUp(form);
    timedLaunch(form, QStringLiteral("fast"), QStringLiteral("timeout 24 yes %s"), true);
    form.findChild<QAction*>(QStringLiteral("MenuResults"))->trigger();
    ResultsWindow* results = form.resultsWindow();
    waitUntilIdle(*results);
    const QString output = recordedFile(bench.workspace, 1, QStringLiteral(".out"));
    const qint64 before = QFileInfo(output).size();
    const double shown = corePercentWhileIdle(10000);
    const qint64 grown = QFileInfo(output).size() - before;
    const QString lastLine =
        results->findChild<QPlainTextEdit*>(QStringLiteral("OutputText"))->toPlainText().right(6);
    results->hide();

    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no output");
    file.seek(file.size());
    QTimer reader;
    reader.callOnTimeout([&] { file.read(file.size() - file.pos()); });
    reader.start(500);
    const double floor = corePercentWhileIdle(10000);
    std::printf("results-output mb_per_s=%.1f shown_ends_with=%s\n", grown / 10.0 / 1e6,
                qPrintable(lastLine.simplified()));
    std::printf(
        "ratio case=results-yes core_percent=%.1f floor_core_percent=%.1f value=%.2f "
        "goal_core_percent=10 peak_rss_mb=%.1f\n",
        shown, floor, shown / std::max(floor, 0.1), peakRssMb());
    std::fflush(stdout);
}

// Exit with many runs' files in the temp folder: until the window is gone, and until
// the folder is empty; floor: find -delete of the same files.
void quitCase(int runs) {
    auto lay = [runs](const Bench& bench) {
        for (int i = 1; i <= runs; ++i) {
            for (const char* suffix : {".bat", ".t.out", ".t.status", ".t.pid"})
                writeFile(bench.workspace.path(
                              QStringLiteral("temp/temp%1%2").arg(i).arg(QLatin1String(suffix))),
                          "0\n");
        }
    };
    Bench bench;
    Form1 form(bench.workspace, bench.platform);
    startUp(form);
    bench.platform.keepsStartedFiles = false;
    timedLaunch(form, serverNames(runs).join(u'\n'), QStringLiteral("true %s"), true);
    form.findChild<QAction*>(QStringLiteral("MenuResults"))->trigger();
    waitUntilIdle(*form.resultsWindow());
    // Both folders laid out and on the disk before either is emptied.
    Bench floor;
    lay(bench);
    lay(floor);
    ::sync();
    QElapsedTimer timer;
    timer.start();
    qint64 hiddenMs = -1;
    form.installEventFilter(new HideWatch([&] { hiddenMs = timer.elapsed(); }));
    form.close();
    // The clean-up follows on the next turn of the event loop, once the windows are gone.
    while (!QDir(bench.workspace.tempFolder()).isEmpty() && !timer.hasExpired(120000))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const qint64 closedMs = timer.elapsed();
    if (!QDir(bench.workspace.tempFolder()).isEmpty())
        qFatal("the temp folder was not emptied");

    ::sync();
    timer.restart();
    QProcess::execute(QStringLiteral("find"),
                      {floor.workspace.tempFolder(), QStringLiteral("-type"), QStringLiteral("f"),
                       QStringLiteral("-delete")});
    const qint64 floorMs = timer.elapsed();
    std::printf("quit runs=%d window_gone_ms=%lld\n", runs, static_cast<long long>(hiddenMs));
    printRatio(qPrintable(QStringLiteral("quit-%1k").arg(runs / 1000)), closedMs, floorMs,
               peakRssMb());
}

// Runs `program` with `arguments` in `folder` without a display, to its exit; the
// milliseconds from its start.
double timedProcess(const QString& program, const QStringList& arguments,
                    const QString& folder = QString(), const QString& output = QString()) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    if (output.isEmpty())
        process.setStandardOutputFile(QProcess::nullDevice());
    else
        process.setStandardOutputFile(output);
    process.setStandardErrorFile(QProcess::nullDevice());
    const qint64 started = monotonicNs();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        qFatal("%s did not finish", qPrintable(program));
    return (monotonicNs() - started) / 1e6;
}

// The built program in a workspace of its own, with the collection servers.txt of
// `servers` servers and the template true.txt ("true %s").
struct ProgramWorkspace {
    explicit ProgramWorkspace(int servers) : workspace(dir.path()) {
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir.path()).mkdir(QString::fromLatin1(folder));
        QFile::copy(QStringLiteral(CORVANE_PROGRAM), program);
        writeFile(workspace.collectionFile(QStringLiteral("servers.txt")),
                  serverNames(servers).join(u'\n').toUtf8() + '\n');
        writeFile(workspace.templateFile(QStringLiteral("true.txt")), "true %s");
    }
    QTemporaryDir dir;
    Workspace workspace;
    QString program = workspace.path(QStringLiteral("corvane"));
};

// corvane run of a 100,000-server normal launch (template "true %s", no terminal) from
// exec to exit, against awk writing the same batch file and the recorder running it; and
// corvane --version against a minimal Qt Core program that prints a line. Medians of
// five runs of each, in turns.
void commandLineCases() {
    const int servers = 100000;
    const ProgramWorkspace space(servers);
    const QTemporaryDir& dir = space.dir;
    const Workspace& workspace = space.workspace;
    const QString& program = space.program;
    const QString floorBatch = dir.filePath(QStringLiteral("floor.bat"));
    Run floorRun;
    floorRun.batchPath = floorBatch;
    floorRun.tag = QStringLiteral("floor");
    const QStringList recorded =
        BatchStarter::recordedCommand(QStringLiteral("/bin/sh"), QStringLiteral("/usr/bin/script"),
                                      BatchStart{floorBatch, QString(), floorRun.outputPath(),
                                                 floorRun.statusPath(), floorRun.pidPath()});
    QList<double> ours;
    QList<double> floors;
    for (int i = 0; i < 5; ++i) {
        ours.append(timedProcess(
            program,
            {QStringLiteral("run"), QStringLiteral("--collection"), QStringLiteral("servers.txt"),
             QStringLiteral("--template"), QStringLiteral("true.txt")},
            dir.path()));
        const QString batch = workspace.tempBatch(i + 1);
        if (readAll(batch).count("\ntrue server-") != servers)
            qFatal("corvane run wrote no whole batch file");
        QFile::remove(floorBatch);
        floors.append(timedProcess(QStringLiteral("awk"),
                                   {QStringLiteral("length($0) { printf \"\\ntrue %s\\n\", $0 }"),
                                    workspace.collectionFile(QStringLiteral("servers.txt"))},
                                   QString(), floorBatch) +
                      timedProcess(recorded[0], recorded.mid(1)));
        if (readAll(floorBatch) != readAll(batch))
            qFatal("awk wrote a different batch file");
    }
    printRatio("cli-100k", median(ours), median(floors), 0);

    ours.clear();
    floors.clear();
    for (int i = 0; i < 21; ++i) {
        ours.append(timedProcess(program, {QStringLiteral("--version")}));
        floors.append(timedProcess(QStringLiteral(MINIMAL_CORE_PROGRAM), {}));
    }
    printRatio("cli-startup", median(ours), median(floors), 0);
}

// corvane run of a Spawn Mode launch of 1,000 servers (template "true %s", delay 0, at
// most 20 at once, no terminal), exec to exit: from before the first start until the last
// recorder has ended; floor: xargs -P 20 running the same 1,000 recorded command lines;
// and GNU parallel -j 20 with the same lines, where it is installed. Medians of three.
void fanOutCase() {
    const int servers = 1000;
    const ProgramWorkspace space(servers);
    const QTemporaryDir& dir = space.dir;
    const Workspace& workspace = space.workspace;
    const QString& program = space.program;
    // The floor's batch files and the recorder's command line for each, once in xargs's
    // quoting and once in the shell's, for parallel.
    QByteArray xargsLines;
    QByteArray shellLines;
    const QString floorFolder = dir.filePath(QStringLiteral("floor"));
    QDir().mkpath(floorFolder);
    for (int i = 1; i <= servers; ++i) {
        Run run;
        run.batchPath = QDir(floorFolder).filePath(QStringLiteral("temp%1.bat").arg(i));
        run.tag = QStringLiteral("floor");
        writeFile(run.batchPath, "true " + serverName(i).toUtf8() + '\n');
        const QString command = QStringLiteral("echo $$ > %1; /bin/sh %2; echo $? > %3")
                                    .arg(run.pidPath(), run.batchPath, run.statusPath());
        const QByteArray options = "--quiet --return --flush --echo never --command ";
        xargsLines += options + '"' + command.toUtf8() + "\" " + run.outputPath().toUtf8() + '\n';
        shellLines += "/usr/bin/script " + options + '\'' + command.toUtf8() + "' " +
                      run.outputPath().toUtf8() + '\n';
    }
    const QString xargsFile = dir.filePath(QStringLiteral("xargs.txt"));
    const QString shellFile = dir.filePath(QStringLiteral("parallel.txt"));
    writeFile(xargsFile, xargsLines);
    writeFile(shellFile, shellLines);
    const bool parallel = !QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty();
    QList<double> ours;
    QList<double> floors;
    QList<double> peers;
    for (int i = 0; i < 3; ++i) {
        removeFilesIn(workspace.tempFolder());
        ours.append(timedProcess(
            program,
            {QStringLiteral("run"), QStringLiteral("--collection"), QStringLiteral("servers.txt"),
             QStringLiteral("--template"), QStringLiteral("true.txt"), QStringLiteral("--spawn"),
             QStringLiteral("--max-running"), QStringLiteral("20"),
             QStringLiteral("--no-terminal")},
            dir.path()));
        if (QDir(workspace.tempFolder()).entryList({QStringLiteral("*.status")}).size() != servers)
            qFatal("corvane run did not run every server");
        floors.append(timedProcess(
            QStringLiteral("xargs"),
            {QStringLiteral("-P"), QStringLiteral("20"), QStringLiteral("-L"), QStringLiteral("1"),
             QStringLiteral("-a"), xargsFile, QStringLiteral("/usr/bin/script")}));
        if (QDir(floorFolder).entryList({QStringLiteral("*.status")}).size() != servers)
            qFatal("xargs did not run every server");
        // The recorders' files go before the next turn; the batch files stay.
        for (const QString& name : QDir(floorFolder).entryList({QStringLiteral("*.floor.*")}))
            QFile::remove(QDir(floorFolder).filePath(name));
        if (parallel) {
            peers.append(timedProcess(
                QStringLiteral("parallel"),
                {QStringLiteral("-j"), QStringLiteral("20"), QStringLiteral("-a"), shellFile}));
        }
    }
    printRatio("fanout-1k", median(ours), median(floors), 0);
    std::printf(
        "note case=fanout-1k ours=\"corvane run --spawn --max-running 20 --no-terminal\"\n");
    if (parallel)
        std::printf("peer case=fanout-1k tool=parallel ms=%.1f\n", median(peers));
    else
        std::printf("peer case=fanout-1k tool=parallel missing\n");
    std::fflush(stdout);
}

void hugeCase(const QString& mode) {
    Bench bench;
    QFile file(bench.workspace.collectionFile(QStringLiteral("huge.txt")));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the collection");
    qint64 size = 0;
    int servers = 0;
    while (true) {
        const QByteArray line = serverName(++servers).toUtf8() + '\n';
        if (size + line.size() > 16LL * 1024 * 1024)
            break;
        file.write(line);
        size += line.size();
    }
    --servers;
    file.close();
    // The history kept in memory only: its file cannot be made.
    if (mode == u"spawn-memory")
        QDir().mkpath(bench.workspace.historyFile());
    // A Spawn Mode launch writes 621,378 batch files: in memory, so that what is measured is
    // the program's work and not the file system's search for free inodes, which slows
    // down by half after as many files were deleted.
    std::optional<QTemporaryDir> memoryTemp;
    if (mode.startsWith(u"spawn") && QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
        memoryTemp.emplace(QStringLiteral("/dev/shm/corvane-bench-XXXXXX"));
        QDir(bench.workspace.tempFolder()).removeRecursively();
        QFile::link(memoryTemp->path(), bench.workspace.tempFolder());
    }
    Form1 form(bench.workspace, bench.platform);
    startUp(form);
    QElapsedTimer timer;
    timer.start();
    auto* list = form.findChild<QListWidget*>(QStringLiteral("ListFile"));
    list->setCurrentRow(0);
    QCoreApplication::processEvents();
    const qint64 loadMs = timer.elapsed();
    if (form.findChild<QPlainTextEdit*>(QStringLiteral("ListBox"))->blockCount() < servers)
        qFatal("the collection did not load");
    const qint64 launchMs =
        timedLaunch(form, QString(), kTemplate, mode.startsWith(u"spawn"), mode == u"runlater");
    std::printf(
        "huge mode=%s bytes=%lld servers=%d load_ms=%lld launch_ms=%lld "
        "peak_rss_mb=%.1f messages=%lld\n",
        qPrintable(mode), static_cast<long long>(size), servers, static_cast<long long>(loadMs),
        static_cast<long long>(launchMs), peakRssMb(),
        static_cast<long long>(bench.platform.messages().size()));
    std::fflush(stdout);
}

// The window's Spawn Mode launch of 10,000 `echo %s` servers at most 100 at once, no
// terminal, on the real platform: from the click until the window's run list has seen the
// last end; against corvane run of the same launch, exec to exit.
void spawnWindowCase(int servers) {
    const ProgramWorkspace space(servers);
    writeFile(space.workspace.templateFile(QStringLiteral("echo.txt")), "echo %s");
    const QByteArray settings = "[launch]\nmaxRunning=100\nterminals=false\n";
    writeFile(space.workspace.settingsFile(), settings);
    QList<double> ours;
    QList<double> floors;
    double peak = 0;
    // In turns, three of each: a machine shared with other work swings by a third.
    for (int turn = 0; turn < 3; ++turn) {
        floors.append(timedProcess(
            space.program,
            {QStringLiteral("run"), QStringLiteral("--collection"), QStringLiteral("servers.txt"),
             QStringLiteral("--template"), QStringLiteral("echo.txt"), QStringLiteral("--spawn")},
            space.dir.path()));
        Bench bench;
        writeFile(bench.workspace.settingsFile(), settings);
        DesktopPlatform platform(QStringLiteral("/bin/sh"), {}, QStringLiteral("/usr/bin/script"));
        Form1 form(bench.workspace, platform);
        startUp(form);
        QElapsedTimer timer;
        timer.start();
        timedLaunch(form, serverNames(servers).join(u'\n'), QStringLiteral("echo %s"), true);
        // The window's own view of the runs: its Results window, which counts them every
        // half second, shows every server ok.
        form.findChild<QAction*>(QStringLiteral("MenuResults"))->trigger();
        auto* launches =
            form.resultsWindow()->findChild<QTableView*>(QStringLiteral("LaunchTable"));
        const QString allOk = QStringLiteral("%1 ok").arg(servers);
        while (launches->model()->index(0, 3).data().toString() != allOk)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        ours.append(timer.elapsed());
        peak = std::max(peak, peakRssMb());
    }
    printRatio("spawn-10k-window", median(ours), median(floors), peak);
    std::printf(
        "note case=spawn-10k-window floor=\"corvane run --spawn, maxRunning=100, no "
        "terminal\" ours_ms=%.0f,%.0f,%.0f floor_ms=%.0f,%.0f,%.0f\n",
        ours[0], ours[1], ours[2], floors[0], floors[1], floors[2]);
    std::fflush(stdout);
}

// Runs one case in a process of its own and passes its lines on; returns them too.
QByteArray inChild(const QString& caseName, int size) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--case"), caseName, QString::number(size)});
    child.waitForFinished(-1);
    const QByteArray lines = child.readAllStandardOutput();
    std::fputs(lines.constData(), stdout);
    std::fflush(stdout);
    if (child.exitCode() != 0)
        qFatal("the %s case of %d failed", qPrintable(caseName), size);
    return lines;
}

// The value of `key=` on the line of `lines` that starts with `start`.
double field(const QByteArray& lines, const QByteArray& start, const QByteArray& key) {
    for (const QByteArray& line : lines.split('\n')) {
        if (!line.startsWith(start))
            continue;
        for (const QByteArray& pair : line.split(' ')) {
            if (pair.startsWith(key + '='))
                return pair.sliced(key.size() + 1).toDouble();
        }
    }
    qFatal("no %s on the line %s", key.constData(), start.constData());
}

// A normal launch of `servers`, each run in a new process. Seconds of text layout swing
// by a third from one process to the next on a shared machine, and from one moment to the
// next within a process, the floor's as much as ours: the ratio line sets the median of
// our times against the median of the floors out of `runs`, each measured in the same runs.
void normalRuns(int servers, const char* ratioName, int runs) {
    QList<double> ours;
    QList<double> floors;
    QList<double> checks;
    double peak = 0;
    const QByteArray start = "servers=" + QByteArray::number(servers) + ' ';
    const QByteArray floorStart = "floor " + start;
    for (int i = 0; i < runs; ++i) {
        const QByteArray lines = inChild(QStringLiteral("normal"), servers);
        ours.append(field(lines, start, "ms"));
        floors.append(field(lines, floorStart, "ms"));
        peak = std::max(peak, field(lines, start, "peak_rss_mb"));
        checks.append(field(lines, "names " + start, "check_ms"));
    }
    if (!ratioName)
        return;
    printRatio(ratioName, median(ours), median(floors), peak);
    std::printf("share case=%s-names-check check_ms=%.1f launch_ms=%.1f percent=%.1f goal=5\n",
                ratioName, median(checks), median(ours), 100 * median(checks) / median(ours));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && qstrcmp(argv[1], "--startup-child") == 0)
        return startupChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (argc == 4 && qstrcmp(argv[1], "--case") == 0) {
        const int size = QString::fromLocal8Bit(argv[3]).toInt();
        if (qstrcmp(argv[2], "normal") == 0)
            normalCase(size);
        else if (qstrcmp(argv[2], "spawn") == 0)
            spawnCase(size);
        else if (qstrcmp(argv[2], "results") == 0)
            resultsCase();
        else if (qstrcmp(argv[2], "quit") == 0)
            quitCase(size);
        else
            hugeCase(QString::fromLocal8Bit(argv[2]).section(u'-', 1));  // "spawn-memory" too
        return 0;
    }
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (only.isEmpty() || only == u"normal") {
        normalRuns(1000, nullptr, 1);
        normalRuns(10000, nullptr, 1);
        normalRuns(100000, "normal-100k", 5);
        normalRuns(1000000, "normal-1m", 5);
    }
    if (only.isEmpty() || only == u"startup")
        startUps();
    if (only.isEmpty() || only == u"spawn") {
        const QList<int> sizes =
            argc > 2 ? QList<int>{QString::fromLocal8Bit(argv[2]).toInt()} : QList<int>{1000};
        for (int size : sizes)
            inChild(QStringLiteral("spawn"), size);
    }
    if (only.isEmpty() || only == u"cli")
        commandLineCases();
    if (only.isEmpty() || only == u"spawn-window")
        spawnWindowCase(10000);
    if (only.isEmpty() || only == u"fanout")
        fanOutCase();
    if (only.isEmpty() || only == u"results") {
        inChild(QStringLiteral("results"), 0);
        inChild(QStringLiteral("quit"), 20000);
    }
    if (only == u"huge") {
        // Not among every case: the Spawn Mode launch writes some 600,000 files.
        for (const char* mode : {"huge-normal", "huge-runlater"})
            inChild(QString::fromLatin1(mode), 0);
        // Spawn Mode with the history on disk, against the same with it in memory only.
        const QByteArray written = inChild(QStringLiteral("huge-spawn"), 0);
        const QByteArray inMemory = inChild(QStringLiteral("huge-spawn-memory"), 0);
        printRatio("spawn-huge-history", field(written, "huge mode=spawn ", "launch_ms"),
                   field(inMemory, "huge mode=spawn-memory ", "launch_ms"),
                   field(written, "huge mode=spawn ", "peak_rss_mb"));
    }
    return 0;
}
