// The results of a fleet, each case beside its floor measured in the same run:
//   results-10k  a Spawn Mode launch of 10,000 servers whose batch files have ended
//                (outputs of a few lines, 20 distinct ones, recorded as the watch records
//                each as it ends): opening Results until its lists are painted, and
//                ticking Group identical output until the rows are painted; floor: one
//                QTableView painting a model of the same 10,000 rows; and the share of a
//                core the program takes over 10 s while the 10,000 rows are shown
//   history-10k  writing the history of a 10,000-server launch whose batch files have all
//                ended (their outputs read, cleaned and kept); floor: the sqlite3 command-
//                line tool inserting the same rows in one transaction; and the same launch
//                with each end reported alone, as the watch sees each batch file end
//                (the history groups them), until the last is committed
//   results-json-1m  corvane results --json of a normal launch of 1,000,000 servers kept
//                in the history, its time and peak memory; floor: the text form of the
//                same launch
//   results-group-100k  corvane results --group of 100,000 batch files; floor: sqlite3
//                selecting their output digests through sort | uniq -c
//   grid-10k     painting the state grid of 10,000 servers; floor: one QPainter filling
//                the same 10,000 cells
//   grid-10k-live  the share of a core the status bar's progress and the Results window
//                (its grid and tables) add while a real launch of 10,000 servers ends 100
//                batch files a second; floor: the same launch, the main window shown
//                without its status bar, in turns
// Usage: build/bench/fleet [results|history|json|group|grid|live]   (default: all)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <vector>

#include "common/text_file.h"
#include "common/workspace.h"
#include "main_window/form1.h"
#include "measure.h"
#include "platform/batch_starter.h"
#include "results_window/results_window.h"
#include "results_window/state_grid.h"
#include "runs/results_history.h"
#include "runs/run_list.h"
#include "runs/run_tracker.h"
#include "support/dead_process.h"
#include "support/recording_platform.h"

namespace {

constexpr int kServers = 10000;
constexpr int kDistinctOutputs = 20;

QString serverName(int number) {
    return QStringLiteral("web%1.example.net").arg(number, 5, 10, QChar(u'0'));
}

// What the `number`th server's batch file showed: one of 20 outputs of a few lines.
QByteArray outputOf(int number) {
    const int kind = number % kDistinctOutputs;
    return "Linux 6.1.0-" + QByteArray::number(kind) +
           "-amd64\r\nnginx active\r\n 12:00:01 up 3 days,  load average: 0.0" +
           QByteArray::number(kind) + "\r\n";
}

// A workspace of its own in a temporary folder.
struct Bench {
    Bench() : workspace(dir.path()) {
        for (const char* folder : {"collections", "scripts", "temp", "logs"})
            QDir(dir.path()).mkdir(QString::fromLatin1(folder));
    }
    QTemporaryDir dir;
    Workspace workspace;
};

// The recorder's files of a batch file that has ended: its output, exit status and process.
void leaveRecord(const BatchStart& start, int number, const QByteArray& deadPid) {
    writeFile(start.outputPath, "Script started on today\n" + outputOf(number));
    writeFile(start.statusPath, number % kDistinctOutputs == 7 ? "1\n" : "0\n");
    writeFile(start.pidPath, deadPid);
}

void untilPainted(QWidget& window) {
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QCoreApplication::processEvents();
    window.repaint();
}

// The window's boxes filled for a Spawn Mode launch of the 10,000 servers.
void prepareSpawn(Form1& form, const QString& script) {
    QStringList servers;
    for (int i = 1; i <= kServers; ++i)
        servers += serverName(i);
    form.findChild<QPlainTextEdit*>(QStringLiteral("ListBox"))->setPlainText(servers.join(u'\n'));
    form.findChild<QPlainTextEdit*>(QStringLiteral("ScriptBox"))->setPlainText(script);
    form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"))->setChecked(true);
}

// The floor: a table view of the same rows, made, shown and painted.
class PlainRows : public QAbstractTableModel {
  public:
    explicit PlainRows(QList<QStringList> rows) : rows_(std::move(rows)) {}
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 6;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        return role == Qt::DisplayRole ? QVariant(rows_[index.row()][index.column()]) : QVariant();
    }

  private:
    QList<QStringList> rows_;
};

double floorTableMs() {
    QList<QStringList> rows;
    rows.reserve(kServers);
    for (int i = 1; i <= kServers; ++i) {
        rows.append({serverName(i), QStringLiteral("1"), QStringLiteral("exit 0"),
                     QStringLiteral("0"), QStringLiteral("0.1 s"),
                     QStringLiteral(" 12:00:01 up 3 days,  load average: 0.01")});
    }
    QElapsedTimer timer;
    timer.start();
    PlainRows model(std::move(rows));
    QTableView view;
    view.setModel(&model);
    view.resize(900, 680);
    view.show();
    untilPainted(view);
    return timer.nsecsElapsed() / 1e6;
}

void resultsCase() {
    Bench bench;
    RecordingPlatform platform;
    platform.keepsStartedFiles = false;
    platform.clock = QDateTime::currentDateTime();
    Form1 form(bench.workspace, platform);
    if (!form.start())
        qFatal("start-up failed");
    untilPainted(form);
    prepareSpawn(form, QStringLiteral("uname -r; systemctl is-active nginx; uptime # %s"));
    form.findChild<QPushButton*>(QStringLiteral("RunCommand"))->click();
    // The launch goes on as the event loop turns, until its controls are back.
    while (!form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"))->isEnabled())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QList<RecordingPlatform::Event> starts =
        platform.eventsOf(RecordingPlatform::Kind::Start);
    if (starts.size() != kServers)
        qFatal("%lld starts", static_cast<long long>(starts.size()));
    const QByteArray dead = QByteArray::number(deadProcessId());
    for (int i = 0; i < kServers; ++i)
        leaveRecord(starts[i].start, i + 1, dead);
    // The watch records each batch file as it ends; here the first opening of Results records
    // them all, and the openings after it are measured.
    QAction* menuResults = form.findChild<QAction*>(QStringLiteral("MenuResults"));
    QElapsedTimer first;
    first.start();
    menuResults->trigger();
    ResultsWindow* results = form.resultsWindow();
    untilPainted(*results);
    const double firstOpenMs = first.nsecsElapsed() / 1e6;
    results->hide();
    QCoreApplication::processEvents();

    QList<double> opens;
    QList<double> groupings;
    QList<double> floors;
    auto* group = results->findChild<QCheckBox*>(QStringLiteral("GroupBox"));
    auto* table = results->findChild<QTableView*>(QStringLiteral("RunTable"));
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        menuResults->trigger();
        untilPainted(*results);
        opens.append(timer.nsecsElapsed() / 1e6);
        if (table->model()->rowCount() != kServers)
            qFatal("%d rows shown", table->model()->rowCount());
        timer.restart();
        group->setChecked(true);
        results->repaint();
        groupings.append(timer.nsecsElapsed() / 1e6);
        if (table->model()->rowCount() != kDistinctOutputs)
            qFatal("%d groups shown", table->model()->rowCount());
        group->setChecked(false);
        results->hide();
        QCoreApplication::processEvents();
        floors.append(floorTableMs());
    }
    menuResults->trigger();
    untilPainted(*results);
    const double idle = corePercentWhileIdle(10000);
    std::printf(
        "results-10k rows=%d groups=%d open_ms=%.1f group_ms=%.1f table_floor_ms=%.1f "
        "first_open_recording_every_end_ms=%.1f\n",
        kServers, kDistinctOutputs, median(opens), median(groupings), median(floors), firstOpenMs);
    printRatio("results-10k-open", median(opens), median(floors), peakRssMb());
    printRatio("results-10k-group", median(groupings), median(floors), peakRssMb());
    std::printf("share case=results-10k-idle core_percent=%.2f goal=1\n", idle);
    std::fflush(stdout);
}

// A run list of one Spawn Mode launch of 10,000 servers whose batch files have ended.
struct EndedLaunch {
    explicit EndedLaunch(const Bench& bench, int servers = kServers) {
        number = runs.beginLaunch(QDateTime::currentDateTime());
        const QByteArray dead = QByteArray::number(deadProcessId());
        for (int i = 1; i <= servers; ++i) {
            Run run{.launch = number,
                    .mode = LaunchMode::Spawn,
                    .tag = runs.tag(),
                    .serverText = serverName(i).toUtf8(),
                    .serverCount = 1};
            const qsizetype index = runs.plan(run);
            const QString batch = bench.workspace.tempBatch(i);
            runs.start(index, batch, 0, QDateTime::currentDateTime());
            const Run& started = runs.runs()[index];
            leaveRecord(BatchStart{batch, QString(), started.outputPath(), started.statusPath(),
                                   started.pidPath()},
                        i, dead);
        }
        runs.takeChanged();  // as if each start had been written
    }
    RunList runs;
    int number = 0;
};

QByteArray sqlText(const QString& text) {
    return "'" + text.toUtf8().replace("'", "''") + "'";
}

void historyCase() {
    QList<double> ours;
    QList<double> each;
    QList<double> floors;
    QList<double> added;
    QList<double> withLook;
    for (int run = 0; run < 5; ++run) {
        {
            Bench bench;
            EndedLaunch launch(bench);
            ResultsHistory history(bench.workspace.historyFile());
            history.onDisk();  // opened as the first launch of the program run opens it
            QElapsedTimer timer;
            timer.start();
            history.addLaunch(launch.runs, launch.number);
            added.append(timer.nsecsElapsed() / 1e6);
            launch.runs.lookAtRunning();
            const double lookedMs = timer.nsecsElapsed() / 1e6;
            recordChanges(launch.runs, history);
            history.writeNow();
            withLook.append(timer.nsecsElapsed() / 1e6);
            // Knowing that the runs ended is the program's work with or without a history.
            ours.append(withLook.back() - (lookedMs - added.back()));

            // The same rows inserted by sqlite3 in one transaction, into the same tables.
            QByteArray sql =
                "BEGIN;\nINSERT INTO launches(program_run, started_ms, mode, "
                "servers) VALUES('floor', 1, 'spawn', 10000);\n";
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (qsizetype i = 0; i < launch.runs.runs().size(); ++i) {
                const Run& r = launch.runs.runs()[i];
                const RunState state = launch.runs.finalState(i);
                const QByteArray id = QByteArray::number(i + 1);
                sql +=
                    "INSERT INTO runs(id, launch, place, batch, server_count, state, "
                    "exit_status, started_ms, ended_ms, last_line, digest) VALUES(" +
                    id + ", 1, " + QByteArray::number(i) + ", 'temp" + id + ".bat', 1, " +
                    "'exited', " + QByteArray::number(state.exitStatus) + ", " +
                    QByteArray::number(now) + ", " + QByteArray::number(now) + ", " +
                    sqlText(r.lastLine) + ", X'" + r.outputDigest.toHex() + "');\n" +
                    "INSERT INTO servers(run, text) VALUES(" + id + ", " +
                    sqlText(QString::fromUtf8(r.serverText)) + ");\n" +
                    "INSERT INTO outputs(run, text) VALUES(" + id + ", " +
                    sqlText(history.output(1, i)) + ");\n";
            }
            sql += "COMMIT;\n";
            Bench floorBench;
            const QString database = floorBench.workspace.historyFile();
            ResultsHistory(database).onDisk();  // the same tables, empty
            const QString script = floorBench.dir.filePath(QStringLiteral("rows.sql"));
            writeFile(script, sql);
            QProcess sqlite;
            sqlite.setStandardInputFile(script);
            timer.restart();
            sqlite.start(QStringLiteral("sqlite3"), {database});
            if (!sqlite.waitForFinished(-1) || sqlite.exitCode() != 0)
                qFatal("sqlite3 failed: %s", sqlite.readAllStandardError().constData());
            floors.append(timer.nsecsElapsed() / 1e6);
        }
        {
            Bench bench;
            EndedLaunch launch(bench);
            ResultsHistory history(bench.workspace.historyFile());
            history.onDisk();
            QElapsedTimer timer;
            timer.start();
            history.addLaunch(launch.runs, launch.number);
            for (qsizetype i = 0; i < kServers; ++i) {
                launch.runs.look(i);
                recordChanges(launch.runs, history);
            }
            history.writeNow();  // until the last of them is committed
            each.append(timer.nsecsElapsed() / 1e6);
        }
    }
    std::printf(
        "history-10k written_ms=%.1f (the launch %.1f, then its 10,000 ends with their "
        "outputs) with_the_look_at_the_runs_ms=%.1f each_end_alone_ms=%.1f "
        "us_per_end=%.1f\n",
        median(ours), median(added), median(withLook), median(each),
        1000.0 * median(each) / kServers);
    printRatio("history-10k", median(ours), median(floors), peakRssMb());
    printRatio("history-10k-with-look", median(withLook), median(floors), peakRssMb());
    printRatio("history-10k-each", median(each), median(floors), peakRssMb());
}

// Runs `program` with `arguments`, output to /dev/null; its time and peak
// memory, as the kernel counted them for that process alone.
std::pair<double, double> measuredRun(const QString& program, const QStringList& arguments) {
    QList<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        storage.append(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        qFatal("corvane %s failed", qPrintable(arguments.join(u' ')));
    return {timer.nsecsElapsed() / 1e6, usage.ru_maxrss / 1024.0};
}

// Painting the state grid of 10,000 servers (one in twenty failed, with its mark) into an
// image of its size, against one QPainter filling the same 10,000 cells; medians of 21.
void gridCase() {
    QList<BatchResult> results;
    for (int i = 1; i <= kServers; ++i) {
        BatchResult result;
        result.serverText = serverName(i).toUtf8();
        result.serverCount = 1;
        result.state = RunState{RunState::Exited, i % 20 == 7 ? 1 : 0};
        results.append(result);
    }
    StateGrid grid;
    grid.setResults(results);
    grid.resize(900, grid.heightForWidth(900));
    QImage image(grid.size(), QImage::Format_RGB32);
    QList<double> ours, floors;
    for (int turn = 0; turn < 21; ++turn) {
        QElapsedTimer timer;
        timer.start();
        grid.render(&image);
        ours.append(timer.nsecsElapsed() / 1e6);
        timer.restart();
        {
            QPainter painter(&image);
            for (int i = 0; i < kServers; ++i)
                painter.fillRect(grid.cellRect(i), i % 20 == 7 ? Qt::red : Qt::green);
        }
        floors.append(timer.nsecsElapsed() / 1e6);
    }
    printRatio("grid-10k", median(ours), median(floors), peakRssMb());
    std::fflush(stdout);
}

// corvane results --group of a Spawn Mode launch of 100,000 batch files with 20 distinct
// outputs in the history, against the sqlite3 tool selecting the same rows' output digests
// piped through sort | uniq -c; medians of five, in turns.
void groupCase() {
    Bench bench;
    const QString program = bench.workspace.path(QStringLiteral("corvane"));
    QFile::copy(QStringLiteral(CORVANE_PROGRAM), program);
    {
        EndedLaunch launch(bench, 100000);
        ResultsHistory history(bench.workspace.historyFile());
        history.addLaunch(launch.runs, launch.number);
        launch.runs.lookAtRunning();
        recordChanges(launch.runs, history);
        if (!history.finish(10000))
            qFatal("the history was not written");
    }
    removeFilesIn(bench.workspace.tempFolder());  // read from the history alone
    const QString pipeline =
        QStringLiteral(
            "sqlite3 '%1' 'SELECT hex(digest) FROM runs WHERE launch = 1' | sort | "
            "uniq -c")
            .arg(bench.workspace.historyFile());
    QList<double> ours, floors, text;
    double peak = 0;
    for (int turn = 0; turn < 5; ++turn) {
        const auto [ms, mb] =
            measuredRun(program, {QStringLiteral("results"), QStringLiteral("--group")});
        ours.append(ms);
        text.append(measuredRun(program, {QStringLiteral("results")}).first);
        peak = std::max(peak, mb);
        floors.append(
            measuredRun(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), pipeline}).first);
    }
    std::printf(
        "note case=results-group-100k floor=\"sqlite3 | sort | uniq -c\" "
        "text_form_ms=%.1f\n",
        median(text));
    printRatio("results-group-100k", median(ours), median(floors), peak);
    std::fflush(stdout);
}

// corvane results --json of a normal launch of 1,000,000 servers in the history, against
// the text form of the same launch; medians of five, in turns.
void jsonCase() {
    Bench bench;
    // The program beside the workspace it reads.
    const QString program = bench.workspace.path(QStringLiteral("corvane"));
    QFile::copy(QStringLiteral(CORVANE_PROGRAM), program);
    {
        RunList runs;
        const int number = runs.beginLaunch(QDateTime::currentDateTime());
        QByteArray servers;
        for (int i = 1; i <= 1000000; ++i)
            servers += serverName(i).toUtf8() + '\n';
        const qsizetype index = runs.plan(Run{.launch = number,
                                              .mode = LaunchMode::Normal,
                                              .tag = runs.tag(),
                                              .serverText = servers,
                                              .serverCount = 1000000});
        runs.start(index, bench.workspace.tempBatch(1), 0, QDateTime::currentDateTime());
        const Run& started = runs.runs()[index];
        leaveRecord(BatchStart{started.batchPath, QString(), started.outputPath(),
                               started.statusPath(), started.pidPath()},
                    1, QByteArray::number(deadProcessId()));
        ResultsHistory history(bench.workspace.historyFile());
        history.addLaunch(runs, number);
        runs.lookAtRunning();
        recordChanges(runs, history);
        if (!history.finish(10000))
            qFatal("the history was not written");
    }
    QList<double> json, text, jsonMb, textMb;
    for (int turn = 0; turn < 5; ++turn) {
        const auto [jsonMs, jsonPeak] =
            measuredRun(program, {QStringLiteral("results"), QStringLiteral("--json")});
        const auto [textMs, textPeak] = measuredRun(program, {QStringLiteral("results")});
        json.append(jsonMs);
        jsonMb.append(jsonPeak);
        text.append(textMs);
        textMb.append(textPeak);
    }
    std::printf("results-1m text_ms=%.1f text_peak_mb=%.1f\n", median(text), median(textMb));
    printRatio("results-json-1m", median(json), median(text), median(jsonMb));
    std::fflush(stdout);
}

// Starts the batch files for real, without terminals, on the real clock, and draws the
// window when asked, as the window's own platform does; records the rest.
class LivePlatform : public RecordingPlatform {
  public:
    void prepareStarts(bool) override { starter_.prepareStarts(false); }
    qint64 startBatch(const BatchStart& start) override { return starter_.startBatch(start); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
    void repaint(QWidget& widget) override { widget.update(); }

  private:
    BatchStarter starter_;
};

// A Spawn Mode launch of 10,000 servers, 200 at once, each batch file sleeping 2 s: 100
// end (and start) a second. In five turns of 4 s each: the windows hidden, the main window
// without its status bar, and with it and Results showing the launch; what the last adds
// to the second (the median of the turns) is the share of the progress bar and the grid
// (with Results' tables).
void liveCase() {
    Bench bench;
    writeFile(bench.workspace.settingsFile(), "[launch]\nmaxRunning=200\nterminals=false\n");
    LivePlatform platform;
    platform.keepsStartedFiles = false;
    platform.realWaits = true;  // a wait for a free slot is a wait, as in the program
    Form1 form(bench.workspace, platform);
    if (!form.start())
        qFatal("start-up failed");
    form.show();
    untilPainted(form);
    prepareSpawn(form, QStringLiteral("sleep 2 # %s"));
    form.findChild<QLineEdit*>(QStringLiteral("DelayText"))->setText(QStringLiteral("0"));
    auto* button = form.findChild<QPushButton*>(QStringLiteral("RunCommand"));
    button->click();
    form.findChild<QAction*>(QStringLiteral("MenuResults"))->trigger();
    ResultsWindow* results = form.resultsWindow();
    untilPainted(*results);
    corePercentWhileIdle(4000);  // until the ends come as fast as the starts
    // In turns: both windows hidden; the main window without its status bar (the floor:
    // the log box as ever); the status bar and Results shown as well.
    QStatusBar* status = form.findChild<QStatusBar*>();
    QList<double> share[3];
    QList<double> added;
    for (int turn = 0; turn < 5; ++turn) {
        for (int shown = 0; shown < 3; ++shown) {
            form.setVisible(shown > 0);
            status->setVisible(shown > 1);
            results->setVisible(shown > 1);
            share[shown].append(corePercentWhileIdle(4000));
        }
        added.append(share[2].last() - share[1].last());
    }
    auto* progress = form.findChild<QProgressBar*>();
    const int ended = progress->value();
    button->click();  // STOP: the rest never start, those running end
    while (!form.findChild<QCheckBox*>(QStringLiteral("CheckSpawn"))->isEnabled() ||
           progress->value() < progress->maximum())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf(
        "note case=grid-10k-live ended_in_64s=%d program_core_percent: windows_hidden=%.2f "
        "main_window_without_status_bar=%.2f with_status_bar_and_results=%.2f\n",
        ended, median(share[0]), median(share[1]), median(share[2]));
    std::printf("share case=grid-10k-live core_percent=%.2f goal=5\n", median(added));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (only.isEmpty() || only == u"history")
        historyCase();
    if (only.isEmpty() || only == u"results")
        resultsCase();
    if (only.isEmpty() || only == u"json")
        jsonCase();
    if (only.isEmpty() || only == u"group")
        groupCase();
    if (only.isEmpty() || only == u"grid")
        gridCase();
    if (only.isEmpty() || only == u"live")
        liveCase();
    return 0;
}
