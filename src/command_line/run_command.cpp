#include "command_line/run_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "batch_engine/launcher.h"
#include "batch_engine/unsafe_names.h"
#include "command_line/results_command.h"
#include "common/app_info.h"
#include "common/instance_lock.h"
#include "common/text_file.h"
#include "platform/console_platform.h"

namespace {

const char kUsage[] =
    "Usage: corvane run --collection NAME --template NAME [--spawn | --later]\n"
    "                   [--delay SECONDS] [--max-running N] [--timeout SECONDS]\n"
    "                   [--no-terminal] [--json] [--allow-unsafe-names]\n"
    "       corvane results [--last | --launch ID] [--json]\n"
    "       corvane --help | --version\n"
    "\n"
    "Runs one launch without a window in the workspace where the program lies, as the\n"
    "window would: the same batch files, run log record and recorded output. NAME is a file\n"
    "in collections/ or scripts/, or the path of any file. Without --spawn or --later the\n"
    "launch is normal: one batch file for every server. The delay (seconds between Spawn\n"
    "Mode starts) is 0 unless given. --max-running: at most N Spawn Mode batch files at\n"
    "once; --timeout: a batch file still running then is ended; --no-terminal: no terminal\n"
    "windows. These three default to what the workspace's corvane.ini says.\n"
    "\n"
    "It waits for every batch file it started and prints a line as each ends, then a\n"
    "summary; --json prints one JSON document at the end instead. Run Later prints the\n"
    "path of the saved file. Ctrl-C starts nothing more and ends the batch files started.\n"
    "\n"
    "Server names that the shell or the command would act on (a blank, ; | & $ and the\n"
    "like, or a leading - # ~) refuse the launch unless --allow-unsafe-names is given.\n"
    "\n"
    "Every launch is kept in the workspace's results history; corvane results prints\n"
    "what one did (corvane results --help).\n"
    "\n"
    "Exit status: 0 when every batch file ended with exit 0 (or the file was saved),\n"
    "1 when any did not, 2 for a usage error or a refused launch.\n";

// What the command line asks for.
struct Options {
    QString collection;
    QString script;
    LaunchMode mode = LaunchMode::Normal;
    QString delay = QStringLiteral("0");
    bool json = false;
    bool allowUnsafeNames = false;
    // Given on the command line; else as the workspace's corvane.ini says.
    std::optional<int> maxRunning;
    std::optional<int> timeoutSeconds;
    bool noTerminal = false;
};

struct UsageError {
    QString message;
};

void printLine(FILE* stream, const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stream);
    std::fflush(stream);
}

int numberOption(const QString& option, const QString& value, int limit) {
    bool number = false;
    const int n = value.toInt(&number);
    if (!number || n < 0 || n > limit)
        throw UsageError{QStringLiteral("%1 takes a whole number from 0 to %2, not %3")
                             .arg(option)
                             .arg(limit)
                             .arg(value)};
    return n;
}

Options parse(const QStringList& arguments) {
    Options options;
    bool spawn = false;
    bool later = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        QString option = arguments[i];
        std::optional<QString> value;
        if (const qsizetype equals = option.indexOf(u'='); option.startsWith(u"--") && equals > 0) {
            value = option.sliced(equals + 1);
            option.truncate(equals);
        }
        auto valueOf = [&]() -> QString {
            if (value)
                return *value;
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("%1 needs a value").arg(option)};
            return arguments[++i];
        };
        if (option == u"--collection") {
            options.collection = valueOf();
        } else if (option == u"--template") {
            options.script = valueOf();
        } else if (option == u"--delay") {
            options.delay = valueOf();
        } else if (option == u"--spawn" && !value) {
            spawn = true;
        } else if (option == u"--later" && !value) {
            later = true;
        } else if (option == u"--max-running") {
            options.maxRunning = numberOption(option, valueOf(), LaunchOptions::kMaxRunningLimit);
        } else if (option == u"--timeout") {
            options.timeoutSeconds = numberOption(option, valueOf(), LaunchOptions::kTimeoutLimit);
        } else if (option == u"--no-terminal" && !value) {
            options.noTerminal = true;
        } else if (option == u"--allow-unsafe-names" && !value) {
            options.allowUnsafeNames = true;
        } else if (option == u"--json" && !value) {
            options.json = true;
        } else {
            throw UsageError{
                QStringLiteral("unknown option %1 (see corvane --help)").arg(arguments[i])};
        }
    }
    if (spawn && later)
        throw UsageError{QStringLiteral("--spawn and --later cannot go together")};
    if (options.collection.isEmpty())
        throw UsageError{QStringLiteral("--collection NAME is missing (see corvane --help)")};
    if (options.script.isEmpty())
        throw UsageError{QStringLiteral("--template NAME is missing (see corvane --help)")};
    options.mode = launchModeFor(spawn, later);
    return options;
}

// The file NAME stands for: one in `folder`, else a path.
QString namedFile(const QString& name, const QString& folder, const char* what) {
    const QFileInfo inFolder(QDir(folder).filePath(name));
    if (inFolder.isFile())
        return inFolder.filePath();
    if (QFileInfo(name).isFile())
        return QFileInfo(name).absoluteFilePath();
    throw UsageError{QStringLiteral("no %1 %2: neither %3 nor %2 is a file")
                         .arg(QLatin1String(what), name, inFolder.filePath())};
}

// Ctrl-C and SIGTERM reach the event loop through a pipe.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// What a launch tells the command line: only the runs and the stop matter; the log box's
// text is not printed.
class ConsoleProgress : public LaunchProgress {
  public:
    bool showsLog() const override { return false; }
    void setLogText(const QString&) override {}
    void appendLogText(QString) override {}
    void keepAlive() override { QCoreApplication::processEvents(); }
    void setStoppable(bool) override {}
    bool stopRequested() const override { return stop; }
    void started(const Run&) override {}
    void savedForLater(const QString& path) override { saved = path; }

    bool stop = false;
    QString saved;
};

// "web03" or "temp4.bat (20 servers)".
QString runName(const Run& run) {
    if (run.mode == LaunchMode::Spawn)
        return run.servers().value(0);
    return QStringLiteral("%1 (%2 %3)")
        .arg(QFileInfo(run.batchPath).fileName())
        .arg(run.serverCount)
        .arg(run.serverCount == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
}

class CommandLineRun {
  public:
    CommandLineRun(const Options& options, const Workspace& workspace, Platform& platform)
        : options_(options),
          workspace_(workspace),
          launcher_(workspace, platform),
          platform_(platform) {}

    int run() {
        watchSignals();
        std::function<void(qsizetype)> engine = launcher_.watch().changed;
        launcher_.watch().changed = [this, engine](qsizetype index) {
            engine(index);
            if (waiting_)
                waiting_->quit();
        };
        LaunchRequest request;
        try {
            request = requestFromFiles(
                namedFile(options_.collection, workspace_.collectionsFolder(), "collection"),
                namedFile(options_.script, workspace_.scriptsFolder(), "template"), options_.mode,
                options_.delay);
            request.allowUnsafeNames = options_.allowUnsafeNames;
            request.options = launchOptions();
        } catch (const OperationError& error) {
            // A file the window would refuse to load is a refusal here too.
            throw UsageError{error.message()};
        }
        launcher_.run(std::move(request), progress_);
        if (options_.mode == LaunchMode::RunLater) {
            if (options_.json)
                printJson();
            else
                printLine(stdout, progress_.saved);
            return 0;
        }
        waitForRuns();
        if (options_.json)
            printJson();
        else
            printLine(stdout, summary());
        return progress_.stop || failedServers_ > 0 ? 1 : 0;
    }

  private:
    // The workspace's options, and over them what the command line says.
    LaunchOptions launchOptions() const {
        LaunchOptions launch = readLaunchOptions(workspace_.settingsFile());
        launch.maxRunning = options_.maxRunning.value_or(launch.maxRunning);
        launch.timeoutSeconds = options_.timeoutSeconds.value_or(launch.timeoutSeconds);
        if (options_.noTerminal)
            launch.terminals = false;
        return launch;
    }

    void watchSignals() {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            progress_.stop = true;
            platform_.interruptPause();
            if (waiting_)
                waiting_->quit();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }

    // Waits until every started batch file has ended, a line for each as it ends; after a
    // stop, ends those still going: SIGTERM to their process groups, SIGKILL 5 s later.
    void waitForRuns() {
        RunList& runs = launcher_.runs();
        QList<qsizetype> going;
        for (qsizetype i = 0; i < runs.runs().size(); ++i)
            going.append(i);
        bool ended = false;
        for (;;) {
            going.removeIf([&](qsizetype i) {
                const RunState state = runs.state(i);
                if (state.kind == RunState::Running)
                    return false;
                report(i, state);
                return true;
            });
            launcher_.recordChanges();
            // After a stop, what was ended gets its SIGKILL before the program goes.
            if (going.isEmpty() && launcher_.watch().endingsPending() == 0)
                break;
            if (progress_.stop && !ended) {
                launcher_.watch().end(going);
                ended = true;
                continue;
            }
            // Woken when a run may have ended; a look every second finds what nothing told.
            QEventLoop loop;
            waiting_ = &loop;
            QTimer::singleShot(1000, &loop, &QEventLoop::quit);
            loop.exec();
            waiting_ = nullptr;
        }
    }

    void report(qsizetype index, const RunState& state) {
        const Run& run = launcher_.runs().runs()[index];
        servers_ += run.serverCount;
        if (state.failed())
            failedServers_ += run.serverCount;
        ended_.append({index, state});
        if (!options_.json)
            printLine(stdout, runName(run) + QStringLiteral(": ") + state.text());
    }

    QString summary() const {
        QString line =
            QStringLiteral("%1 %2: %3 ok, %4 failed")
                .arg(servers_)
                .arg(servers_ == 1 ? QStringLiteral("server") : QStringLiteral("servers"))
                .arg(servers_ - failedServers_)
                .arg(failedServers_);
        if (progress_.stop)
            line += QStringLiteral(", stopped");
        return line;
    }

    void printJson() {
        QJsonArray batchFiles;
        const QList<Run>& runs = launcher_.runs().runs();
        for (const auto& [index, state] : ended_) {
            const Run& run = runs[index];
            QJsonObject file{
                {"batchFile", run.batchPath},
                {"servers", QJsonArray::fromStringList(run.servers())},
                {"state", state.text()},
                {"exitStatus", state.kind == RunState::Exited ? QJsonValue(state.exitStatus)
                                                              : QJsonValue(QJsonValue::Null)},
                {"output", run.outputPath()}};
            batchFiles.append(file);
        }
        // The launch's number in the results history (corvane results --launch); a Run
        // Later launch starts nothing and is not kept there.
        const qint64 kept = launcher_.history().idOf(launcher_.runs().launches());
        QJsonObject launch{{"launch", kept > 0 ? QJsonValue(kept) : QJsonValue(QJsonValue::Null)},
                           {"mode", QString::fromLatin1(launchModeKey(options_.mode))},
                           {"servers", servers_},
                           {"failedServers", failedServers_},
                           {"stopped", progress_.stop},
                           {"batchFiles", batchFiles}};
        if (options_.mode == LaunchMode::RunLater)
            launch.insert(QStringLiteral("saved"), progress_.saved);
        std::fputs(QJsonDocument(launch).toJson(QJsonDocument::Indented).constData(), stdout);
        std::fflush(stdout);
    }

    const Options& options_;
    Workspace workspace_;
    Launcher launcher_;
    Platform& platform_;
    ConsoleProgress progress_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QEventLoop* waiting_ = nullptr;
    qsizetype servers_ = 0;
    qsizetype failedServers_ = 0;
    QList<std::pair<qsizetype, RunState>> ended_;
};

}  // namespace

LaunchRequest requestFromFiles(const QString& collection, const QString& script, LaunchMode mode,
                               const QString& delayText) {
    LaunchRequest request;
    request.servers = withProgramLineEnds(readWholeFile(collection));
    request.script = withProgramLineEnds(readWholeFile(script));
    request.mode = mode;
    request.delayText = delayText;
    return request;
}

bool isCommandLine(const QStringList& arguments) {
    if (arguments.size() < 2)
        return false;
    const QString& first = arguments[1];
    return first == u"run" || first == u"results" || first == u"--help" || first == u"-h" ||
           first == u"--version";
}

int runCommandLine(const QStringList& arguments, const QString& folder) {
    const QString first = arguments.value(1);
    if (first == u"--help" || first == u"-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == u"results")
        return runResultsCommand(arguments, folder);
    if (first == u"--version") {
        printLine(stdout, QStringLiteral("corvane %1").arg(versionText(programVersion())));
        return 0;
    }
    Options options;
    try {
        options = parse(arguments);
    } catch (const UsageError& error) {
        printLine(stderr, QStringLiteral("corvane run: ") + error.message);
        return 2;
    }
    const Workspace workspace(folder);
    InstanceLock lock(workspace);
    if (!lock.acquire()) {
        printLine(stderr, lock.refusal());
        return 1;
    }
    // Terminal windows where a display is there to show them.
    const bool display =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    ConsolePlatform platform(
        display ? QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("xterm")}
                : QStringList{});
    if (!display && options.mode != LaunchMode::RunLater) {
        printLine(stderr, QStringLiteral("corvane run: no display, so the batch files run without "
                                         "terminal windows; their output is kept in %1.")
                              .arg(workspace.tempFolder()));
    }
    CommandLineRun run(options, workspace, platform);
    try {
        return run.run();
    } catch (const UsageError& error) {
        printLine(stderr, QStringLiteral("corvane run: ") + error.message);
        return 2;
    } catch (const UnsafeServerNames& unsafe) {
        printLine(stderr, unsafe.listing());
        printLine(stderr, QStringLiteral("corvane run: not launched; --allow-unsafe-names "
                                         "launches it anyway."));
        return 2;
    } catch (const LaunchRefused& refusal) {
        printLine(stderr, refusal.message());
        return 2;
    } catch (const std::exception& error) {
        printLine(stderr, failureText(error));
        return 1;
    }
}
