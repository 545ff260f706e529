#include "command_line/run_command.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "batch_engine/launcher.h"
#include "batch_engine/unsafe_names.h"
#include "command_line/results_command.h"
#include "common/app_info.h"
#include "common/instance_lock.h"
#include "common/printable_text.h"
#include "common/text_file.h"
#include "model/server_lines.h"
#include "platform/console_platform.h"
#include "runs/launch_report.h"

namespace {

const char kOverview[] =
    "Usage: corvane                      the window\n"
    "       corvane run ...              one launch without a window (corvane run --help)\n"
    "       corvane results ...          what a launch did (corvane results --help)\n"
    "       corvane --help | --version\n";

const char kRunUsage[] =
    "Usage: corvane run --collection NAME --template NAME [--spawn | --later]\n"
    "                   [--delay SECONDS] [--max-running N] [--timeout SECONDS]\n"
    "                   [--no-terminal] [--json | --output | --group] [--allow-unsafe-names]\n"
    "\n"
    "Runs one launch without a window in the workspace where the program lies, as the\n"
    "window would: the same batch files, run log record and recorded output. NAME is a file\n"
    "in collections/ or scripts/ (NAME or NAME.txt), or the path of any file. Without\n"
    "--spawn or --later the launch is normal: one batch file for every server. The delay\n"
    "(seconds between Spawn Mode starts) is 0 unless given. --max-running: at most N Spawn\n"
    "Mode batch files at once; --timeout: a batch file still running then is ended;\n"
    "--no-terminal: no terminal windows. These three default to what the workspace's\n"
    "corvane.ini says.\n"
    "\n"
    "It waits for every batch file it started and prints a line as each ends, then a\n"
    "summary; --json prints one JSON document at the end instead (an error too). Run Later\n"
    "prints the path of the saved file. --output and --group print, at the end instead of\n"
    "the lines, what the batch files showed, as corvane results --output and --group do.\n"
    "Run Later Ctrl-C, SIGTERM, a hang-up or a closed output start\n"
    "nothing more and end the batch files started. A normal launch's one batch file has one\n"
    "exit status, that of its last command: it is reported for the batch file, never for\n"
    "each of its servers.\n"
    "\n"
    "Server names that the shell or the command would act on (a blank anywhere, ; | & $\n"
    "and the like, or a leading - # ~) refuse the launch unless --allow-unsafe-names is\n"
    "given.\n"
    "\n"
    "Every launch is kept in the workspace's results history; corvane results prints\n"
    "what one did (corvane results --help).\n"
    "\n"
    "Exit status: 0 when every batch file ended with exit 0 (or the file was saved), 1 when\n"
    "any did not or the launch was stopped or failed once begun, 2 for a usage error or a\n"
    "launch refused before anything was written (another program holds the workspace, a\n"
    "folder missing or not writable, flagged server names, no servers or template).\n";

const QString kPrefix = QStringLiteral("corvane run: ");

// What the command line asks for.
struct Options {
    QString collection;
    QString script;
    LaunchMode mode = LaunchMode::Normal;
    QString delay = QStringLiteral("0");
    bool json = false;
    // At the end instead of a line for each end: what the batch files showed.
    enum class Outputs { None, Prefixed, Grouped } outputs = Outputs::None;
    bool allowUnsafeNames = false;
    // Given on the command line; else as the workspace's corvane.ini says.
    std::optional<int> maxRunning;
    std::optional<int> timeoutSeconds;
    bool noTerminal = false;
};

struct UsageError {
    QString message;
};

// A closed output (a reader that has gone) loses the line, and nothing else.
void printLine(FILE* stream, const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stream);
    std::fflush(stream);
}

void printJsonDocument(const QJsonObject& document) {
    std::fputs(QJsonDocument(document).toJson(QJsonDocument::Indented).constData(), stdout);
    std::fflush(stdout);
}

int numberOption(const QString& option, const QString& value, int limit) {
    bool number = false;
    const int n = value.toInt(&number);
    if (!number || n < 0 || n > limit)
        throw UsageError{QStringLiteral("--%1 takes a whole number from 0 to %2, not %3")
                             .arg(option)
                             .arg(limit)
                             .arg(value)};
    return n;
}

// The parser of `corvane run`: `--name value`, `--name=value`, -h and --help.
struct RunParser {
    QCommandLineParser parser;
    QCommandLineOption collection{QStringLiteral("collection"), QString(), QStringLiteral("NAME")};
    QCommandLineOption script{QStringLiteral("template"), QString(), QStringLiteral("NAME")};
    QCommandLineOption delay{QStringLiteral("delay"), QString(), QStringLiteral("SECONDS")};
    QCommandLineOption maxRunning{QStringLiteral("max-running"), QString(), QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("timeout"), QString(), QStringLiteral("SECONDS")};
    QCommandLineOption spawn{QStringLiteral("spawn")};
    QCommandLineOption later{QStringLiteral("later")};
    QCommandLineOption noTerminal{QStringLiteral("no-terminal")};
    QCommandLineOption json{QStringLiteral("json")};
    QCommandLineOption output{QStringLiteral("output")};
    QCommandLineOption group{QStringLiteral("group")};
    QCommandLineOption allowUnsafe{QStringLiteral("allow-unsafe-names")};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};

    RunParser() {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const QCommandLineOption* option :
             {&collection, &script, &delay, &maxRunning, &timeout, &spawn, &later, &noTerminal,
              &json, &output, &group, &allowUnsafe, &help})
            parser.addOption(*option);
    }
};

// Null when the arguments only ask for the usage.
std::optional<Options> parse(const QStringList& arguments) {
    RunParser run;
    // The parser takes the program's name first, and "run" is not an argument of it.
    if (!run.parser.parse(QStringList{arguments.value(0)} + arguments.mid(2))) {
        throw UsageError{run.parser.errorText() + QStringLiteral(" (see corvane run --help)")};
    }
    if (run.parser.isSet(run.help))
        return std::nullopt;
    if (!run.parser.positionalArguments().isEmpty()) {
        throw UsageError{QStringLiteral("unexpected argument %1 (see corvane run --help)")
                             .arg(run.parser.positionalArguments().first())};
    }
    Options options;
    options.collection = run.parser.value(run.collection);
    options.script = run.parser.value(run.script);
    if (run.parser.isSet(run.delay))
        options.delay = run.parser.value(run.delay);
    if (run.parser.isSet(run.maxRunning))
        options.maxRunning =
            numberOption(QStringLiteral("max-running"), run.parser.value(run.maxRunning),
                         LaunchOptions::kMaxRunningLimit);
    if (run.parser.isSet(run.timeout))
        options.timeoutSeconds = numberOption(
            QStringLiteral("timeout"), run.parser.value(run.timeout), LaunchOptions::kTimeoutLimit);
    options.noTerminal = run.parser.isSet(run.noTerminal);
    options.allowUnsafeNames = run.parser.isSet(run.allowUnsafe);
    options.json = run.parser.isSet(run.json);
    const bool spawn = run.parser.isSet(run.spawn);
    const bool later = run.parser.isSet(run.later);
    if (spawn && later)
        throw UsageError{QStringLiteral("--spawn and --later cannot go together")};
    const bool output = run.parser.isSet(run.output);
    const bool group = run.parser.isSet(run.group);
    if ((output || group) && later)
        throw UsageError{QStringLiteral("--later starts no batch file: it has no output to print")};
    if (int(output) + int(group) + int(options.json) > 1)
        throw UsageError{QStringLiteral("--json, --output and --group cannot go together")};
    options.outputs = output  ? Options::Outputs::Prefixed
                      : group ? Options::Outputs::Grouped
                              : Options::Outputs::None;
    if (options.collection.isEmpty())
        throw UsageError{QStringLiteral("--collection NAME is missing (see corvane run --help)")};
    if (options.script.isEmpty())
        throw UsageError{QStringLiteral("--template NAME is missing (see corvane run --help)")};
    options.mode = launchModeFor(spawn, later);
    return options;
}

// The workspace's launch options, and over them what the command line says.
LaunchOptions launchOptionsOf(const Options& options, const Workspace& workspace) {
    LaunchOptions launch = readLaunchOptions(workspace.settingsFile());
    launch.maxRunning = options.maxRunning.value_or(launch.maxRunning);
    launch.timeoutSeconds = options.timeoutSeconds.value_or(launch.timeoutSeconds);
    if (options.noTerminal)
        launch.terminals = false;
    return launch;
}

// The file NAME stands for: NAME, else NAME.txt, in `folder` (the names the window lists),
// else a path.
QString namedFile(const QString& name, const QString& folder, const char* what) {
    QStringList candidates{name};
    if (!name.endsWith(QStringLiteral(".txt")))
        candidates.append(name + QStringLiteral(".txt"));
    if (!QDir::isAbsolutePath(name)) {
        for (const QString& candidate : candidates) {
            const QFileInfo inFolder(QDir(folder).filePath(candidate));
            if (inFolder.isFile())
                return inFolder.filePath();
        }
    }
    if (QFileInfo(name).isFile())
        return QFileInfo(name).absoluteFilePath();
    if (QDir::isAbsolutePath(name))
        throw UsageError{
            QStringLiteral("no %1 %2: it is not a file").arg(QLatin1String(what), name)};
    throw UsageError{
        QStringLiteral("no %1 %2: there is no %3 in %4, and %2 is no path of a file")
            .arg(QLatin1String(what), name, candidates.join(QStringLiteral(" or ")), folder)};
}

// Whether the display that DISPLAY or WAYLAND_DISPLAY names takes a connection; empty when
// it does, else what to tell the user. Terminal windows on a display that does not answer
// would each end at once without running their batch file.
QString displayProblem() {
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray x11 = qgetenv("DISPLAY");
    if (wayland.isEmpty() && x11.isEmpty())
        return QStringLiteral("no display");
    auto connects = [](const sockaddr* address, socklen_t size) {
        const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        bool done = ::connect(fd, address, size) == 0;
        if (!done && errno == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            done = ::poll(&wait, 1, 1000) == 1 &&
                   ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        ::close(fd);
        return done;
    };
    auto local = [&](const QByteArray& path, bool abstract) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() + 2 > qsizetype(sizeof address.sun_path))
            return false;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), path.constData(), path.size());
        return connects(
            reinterpret_cast<const sockaddr*>(&address),
            socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0)));
    };
    if (!wayland.isEmpty()) {
        const QByteArray path =
            wayland.startsWith('/') ? wayland : qgetenv("XDG_RUNTIME_DIR") + '/' + wayland;
        if (local(path, false))
            return QString();
    }
    if (!x11.isEmpty()) {
        // [host]:number[.screen]
        const qsizetype colon = x11.lastIndexOf(':');
        const QByteArray host = colon > 0 ? x11.left(colon) : QByteArray();
        const QByteArray number = x11.mid(colon + 1).split('.').value(0);
        bool numeric = false;
        const int display = number.toInt(&numeric);
        if (numeric && (host.isEmpty() || host == "unix")) {
            const QByteArray socket = "/tmp/.X11-unix/X" + number;
            if (local(socket, false) || local(socket, true))
                return QString();
        } else if (numeric) {
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const QByteArray port = QByteArray::number(6000 + display);
            if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) == 0) {
                bool answered = false;
                for (addrinfo* at = found; at && !answered; at = at->ai_next)
                    answered = connects(at->ai_addr, at->ai_addrlen);
                ::freeaddrinfo(found);
                if (answered)
                    return QString();
            }
        }
    }
    return QStringLiteral("the display %1 does not answer")
        .arg(QString::fromLocal8Bit(wayland.isEmpty() ? x11 : wayland));
}

// Ctrl-C, SIGTERM, a hang-up (a closed ssh session) and a closed output (a reader such as
// `head -1` that has gone) reach the event loop through a pipe, the signal's number in
// each byte: each stops the launch in order, instead of ending the program under its
// batch files.
int signalPipe[2] = {-1, -1};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// What a launch tells the command line: only the runs and the stop matter; the log box's
// text is not printed.
class ConsoleProgress : public LaunchProgress {
  public:
    bool showsLog() const override { return false; }
    void setLogText(const QString&) override {}
    void appendLogText(QString) override {}
    void keepAlive() override {}
    void setStoppable(bool) override {}
    bool stopRequested() const override { return stop; }
    void started(const Run&) override {}
    void savedForLater(const QString& path) override { saved = path; }
    void finished(std::exception_ptr error) override {
        ended = true;
        failure = error;
        if (onFinished)
            onFinished();
    }

    bool stop = false;
    QString saved;
    bool ended = false;
    std::exception_ptr failure;
    std::function<void()> onFinished;
};

// "web03" or "temp4.bat (20 servers)", escaped for the terminal.
QString runName(const Run& run) {
    if (run.mode == LaunchMode::Spawn)
        return printableText(run.servers().value(0));
    return QStringLiteral("%1 (%2 %3)")
        .arg(QFileInfo(run.batchPath).fileName())
        .arg(run.serverCount)
        .arg(run.serverCount == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
}

class CommandLineRun {
  public:
    CommandLineRun(const Options& options, const LaunchOptions& launch, const Workspace& workspace,
                   Platform& platform)
        : options_(options),
          launch_(launch),
          workspace_(workspace),
          launcher_(workspace, platform),
          platform_(platform) {
        // The log box's text is not printed here: a busy history says so on stderr.
        launcher_.notice = [this](const QString& message) {
            eraseProgress();
            printLine(stderr, kPrefix + message);
        };
    }

    int run() {
        watchSignals();
        RunTracker& tracker = launcher_.tracker();
        QObject::connect(&tracker, &RunTracker::runChanged, &tracker,
                         [this](qsizetype index) { runChanged(index); });
        QObject::connect(&tracker, &RunTracker::endingsDone, &tracker, [this] { endWhenDone(); });
        // On a terminal, a line on stderr says how far the launch is, drawn again at most
        // ten times a second, as runs change.
        showProgress_ = ::isatty(STDERR_FILENO) && !options_.json;
        redraw_.setSingleShot(true);
        redraw_.callOnTimeout([this] { drawProgress(); });
        QObject::connect(&tracker, &RunTracker::runChanged, &tracker, [this] {
            if (showProgress_ && !done_ && !redraw_.isActive())
                redraw_.start(kRedrawMs);
        });
        sinceStart_.start();
        LaunchRequest request;
        try {
            request = requestFromFiles(
                namedFile(options_.collection, workspace_.collectionsFolder(), "collection"),
                namedFile(options_.script, workspace_.scriptsFolder(), "template"), options_.mode,
                options_.delay);
            request.allowUnsafeNames = options_.allowUnsafeNames;
            request.options = launch_;
        } catch (const OperationError& error) {
            // A file the window would refuse to load is a refusal here too.
            throw UsageError{error.message()};
        }
        if (options_.mode == LaunchMode::RunLater)
            servers_ = ServerLines(request.servers).count();
        progress_.onFinished = [this] {
            // What ended while the launch ran is told now, in launch order.
            left_ = launcher_.tracker().runList().size();
            reported_.fill(false, left_);
            tellingAll_ = true;
            for (qsizetype i = 0; i < reported_.size(); ++i)
                runChanged(i);
            tellingAll_ = false;
            endWhenDone();
        };
        // The event loop runs the launch and then waits for its batch files, a line for each
        // as the tracker tells its end; the processes of those ended are looked for every
        // second.
        look_.callOnTimeout([this] { endWhenDone(); });
        look_.start(1000);
        launcher_.start(std::move(request), progress_);
        if (!done_)
            QCoreApplication::exec();
        look_.stop();
        redraw_.stop();
        eraseProgress();
        if (progress_.failure)
            std::rethrow_exception(progress_.failure);
        // A backup that holds the history for a few seconds loses nothing of the launch.
        launcher_.tracker().finishHistory(30000);
        const int status = progress_.stop || failedFiles_ > 0 ? 1 : 0;
        if (options_.outputs != Options::Outputs::None && stoppedBy_ != SIGPIPE)
            printOutputs();
        if (options_.json)
            printJson(status);
        else
            printLine(summaryStream(),
                      options_.mode == LaunchMode::RunLater ? progress_.saved : summary());
        return status;
    }

  private:
    // After a hang-up or a closed output, standard output has nobody reading it.
    FILE* summaryStream() const {
        return stoppedBy_ == SIGPIPE || stoppedBy_ == SIGHUP ? stderr : stdout;
    }

    void watchSignals() {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char bytes[16];
            ssize_t read;
            while ((read = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
                if (stoppedBy_ == 0)
                    stoppedBy_ = bytes[0];
            }
            progress_.stop = true;
            launcher_.stop();
            endWhenDone();
        });
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : kStopSignals)
            sigaction(signal, &action, nullptr);
    }

    // Once the launch has ended: a line for run `index` when it has ended, and the end of the
    // event loop when none is left.
    void runChanged(qsizetype index) {
        if (!progress_.ended || done_ || index >= reported_.size() || reported_[index])
            return;
        const RunState state = launcher_.tracker().state(index);
        if (state.kind == RunState::Running)
            return;
        reported_[index] = true;
        --left_;
        report(index, state);
        if (!tellingAll_)
            endWhenDone();
    }

    // Ends the event loop once no run is left; after a stop, ends those still going:
    // SIGTERM to their process groups, SIGKILL 5 s later, which comes before the program
    // goes.
    void endWhenDone() {
        if (!progress_.ended || done_)
            return;
        RunTracker& tracker = launcher_.tracker();
        if (progress_.failure || (left_ == 0 && tracker.endingsPending() == 0)) {
            done_ = true;
            QCoreApplication::exit(0);
            return;
        }
        if (progress_.stop && !std::exchange(endedGoing_, true)) {
            QList<qsizetype> going;
            for (qsizetype i = 0; i < reported_.size(); ++i) {
                if (!reported_[i])
                    going.append(i);
            }
            tracker.end(going);
        }
    }

    void drawProgress() {
        RunTracker& tracker = launcher_.tracker();
        if (tracker.launchCount() == 0 || options_.mode == LaunchMode::RunLater)
            return;
        const QString line =
            tracker.counted(tracker.launchCount()).progress(sinceStart_.elapsed(), QLocale());
        std::fputs(qPrintable(u'\r' + line + QStringLiteral("\x1b[K")), stderr);
        std::fflush(stderr);
        progressShown_ = true;
    }

    // The progress line goes before a line is printed on the same terminal.
    void eraseProgress() {
        if (!std::exchange(progressShown_, false))
            return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
    }

    void report(qsizetype index, const RunState& state) {
        const Run& run = launcher_.tracker().runList()[index];
        servers_ += run.serverCount;
        ++files_;
        if (state.failed()) {
            failedServers_ += run.serverCount;
            ++failedFiles_;
        }
        ended_.append({index, state});
        if (!options_.json && options_.outputs == Options::Outputs::None && stoppedBy_ != SIGPIPE) {
            eraseProgress();
            printLine(stdout, runName(run) + QStringLiteral(": ") + state.text());
        }
    }

    // Spawn Mode: "3 servers: 2 ok, 1 failed". Normal: the one batch file's status, which
    // says nothing of each server: "1 batch file of 3 servers: exit 0".
    QString summary() const {
        QString line;
        if (options_.mode == LaunchMode::Normal && !ended_.isEmpty()) {
            line = QStringLiteral("1 batch file of %1 %2: %3")
                       .arg(servers_)
                       .arg(servers_ == 1 ? QStringLiteral("server") : QStringLiteral("servers"),
                            ended_.first().second.text());
        } else {
            line = QStringLiteral("%1 %2: %3 ok, %4 failed")
                       .arg(servers_)
                       .arg(servers_ == 1 ? QStringLiteral("server") : QStringLiteral("servers"))
                       .arg(servers_ - failedServers_)
                       .arg(failedServers_);
        }
        if (progress_.stop)
            line += QStringLiteral(", stopped");
        return line;
    }

    // What the launch's batch files showed, read from their recordings.
    void printOutputs() {
        RunTracker& tracker = launcher_.tracker();
        const LaunchResult launch = tracker.launches().value(0);
        if (launch.number == 0)
            return;
        const QList<BatchResult> results = tracker.results(launch);
        const OutputOf outputOf = [&](const BatchResult& result) {
            return tracker.output(launch, result);
        };
        const QString text = options_.outputs == Options::Outputs::Prefixed
                                 ? prefixedOutputs(results, outputOf)
                                 : groupedOutputs(results, outputOf);
        std::fputs(text.toLocal8Bit().constData(), summaryStream());
        std::fflush(summaryStream());
    }

    void printJson(int status) {
        QJsonArray batchFiles;
        const QList<Run>& runs = launcher_.tracker().runList();
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
        RunTracker& tracker = launcher_.tracker();
        const qint64 kept = tracker.historyIdOf(tracker.launchCount());
        QJsonObject launch{{"launch", kept > 0 ? QJsonValue(kept) : QJsonValue(QJsonValue::Null)},
                           {"mode", QString::fromLatin1(launchModeKey(options_.mode))},
                           {"servers", servers_},
                           // the servers of the batch files that did not end with exit 0
                           {"failedServers", failedServers_},
                           {"failedBatchFiles", failedFiles_},
                           {"stopped", progress_.stop},
                           {"exitStatus", status},
                           {"batchFiles", batchFiles}};
        if (options_.mode == LaunchMode::RunLater)
            launch.insert(QStringLiteral("saved"), progress_.saved);
        printJsonDocument(launch);
    }

    const Options& options_;
    const LaunchOptions launch_;
    Workspace workspace_;
    Launcher launcher_;
    Platform& platform_;
    ConsoleProgress progress_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer look_;
    QTimer redraw_;
    static constexpr int kRedrawMs = 100;
    QElapsedTimer sinceStart_;
    bool showProgress_ = false;
    bool progressShown_ = false;
    QList<bool> reported_;  // each batch file's end, once told
    qsizetype left_ = 0;    // the batch files whose end is still to be told
    bool done_ = false;
    bool endedGoing_ = false;
    bool tellingAll_ = false;
    int stoppedBy_ = 0;  // the signal that stopped the launch
    qsizetype servers_ = 0;
    qsizetype failedServers_ = 0;
    qsizetype files_ = 0;
    qsizetype failedFiles_ = 0;
    QList<std::pair<qsizetype, RunState>> ended_;
};

// Says why nothing (or not all) ran, on standard error, and with --json as a document on
// standard output too; returns `status`.
int refused(bool json, const QString& message, int status) {
    printLine(stderr, message);
    if (json) {
        QString error = message;
        if (error.startsWith(kPrefix))
            error.remove(0, kPrefix.size());
        printJsonDocument(QJsonObject{{"error", error}, {"exitStatus", status}});
    }
    return status;
}

// Every line the command prints begins with its name.
QString prefixed(const QString& message) {
    return message.startsWith(kPrefix) ? message : kPrefix + message;
}

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
        std::fputs(kOverview, stdout);
        return 0;
    }
    if (first == u"results")
        return runResultsCommand(arguments, folder);
    if (first == u"--version") {
        printLine(stdout, QStringLiteral("corvane %1").arg(versionText(programVersion())));
        return 0;
    }
    const bool json = arguments.contains(QStringLiteral("--json"));
    std::optional<Options> parsed;
    try {
        parsed = parse(arguments);
    } catch (const UsageError& error) {
        return refused(json, kPrefix + error.message, 2);
    }
    if (!parsed) {
        std::fputs(kRunUsage, stdout);
        return 0;
    }
    const Options& options = *parsed;
    const Workspace workspace(folder);
    InstanceLock lock(workspace);
    if (!lock.acquire())
        return refused(json, prefixed(lock.refusal()), 2);
    // Terminal windows where a display is there to show them.
    const QString noDisplay = displayProblem();
    ConsolePlatform platform(
        kPrefix.chopped(2), noDisplay.isEmpty() ? QStringList{QStringLiteral("x-terminal-emulator"),
                                                              QStringLiteral("xterm")}
                                                : QStringList{});
    const LaunchOptions launch = launchOptionsOf(options, workspace);
    if (!noDisplay.isEmpty() && launch.terminals && options.mode != LaunchMode::RunLater) {
        printLine(stderr, kPrefix + QStringLiteral("%1, so the batch files run without terminal "
                                                   "windows; their output is kept in %2.")
                                        .arg(noDisplay, workspace.tempFolder()));
    }
    CommandLineRun run(options, launch, workspace, platform);
    try {
        return run.run();
    } catch (const UsageError& error) {
        return refused(json, kPrefix + error.message, 2);
    } catch (const UnsafeServerNames& unsafe) {
        return refused(json,
                       kPrefix + unsafe.listing() + u'\n' + kPrefix +
                           QStringLiteral("not launched; --allow-unsafe-names launches it anyway."),
                       2);
    } catch (const LaunchRefused& refusal) {
        return refused(json, prefixed(refusal.message()), 2);
    } catch (const LaunchNotBegun& refusal) {
        return refused(json, prefixed(refusal.message()), 2);
    } catch (const std::exception& error) {
        return refused(json, prefixed(failureText(error)), 1);
    }
}
