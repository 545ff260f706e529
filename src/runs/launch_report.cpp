#include "runs/launch_report.h"

#include <QJsonValue>

#include "common/printable_text.h"
#include "common/text_file.h"
#include "model/server_lines.h"
#include "runs/name_ranges.h"

namespace {

// A batch file that ended with an output of its own; the others have only a state.
bool hasOutput(const RunState& state) {
    return state.final() && state.kind != RunState::NotStarted;
}

// `output` with every line after `prefix`, and a line end after the last one.
void addPrefixed(QString& text, const QString& prefix, QStringView output) {
    while (output.endsWith(u'\n'))
        output.chop(1);
    if (output.isEmpty())
        return;
    for (QStringView line : output.tokenize(u'\n')) {
        text += prefix;
        text += line;
        text += u'\n';
    }
}

QString csvField(const QString& field) {
    if (!field.contains(u',') && !field.contains(u'"') && !field.contains(u'\n') &&
        !field.contains(u'\r'))
        return field;
    QString quoted = field;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString momentText(const QDateTime& moment) {
    if (!moment.isValid())
        return QString();
    const QDateTime local = moment.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QJsonValue jsonMoment(const QDateTime& moment) {
    return moment.isValid() ? QJsonValue(momentText(moment)) : QJsonValue(QJsonValue::Null);
}

QJsonValue exitStatusValue(const RunState& state) {
    return state.kind == RunState::Exited ? QJsonValue(state.exitStatus)
                                          : QJsonValue(QJsonValue::Null);
}

// A JSON document written as it is made, so that its memory does not grow with the
// launch's servers: a million of them are a million small objects, never one tree.
class JsonStream {
  public:
    explicit JsonStream(const std::function<void(QByteArrayView)>& write) : write_(write) {}
    ~JsonStream() { flush(); }

    // Opens `{` or `[`, with a member's name inside an object.
    JsonStream& open(char bracket, const char* name = nullptr) {
        separate(name);
        put(bracket);
        first_ = true;
        return *this;
    }
    JsonStream& close(char bracket) {
        put(bracket);
        first_ = false;
        if (buffer_.size() > (1 << 16))
            flush();
        return *this;
    }
    // A member of an object (with `name`) or an element of an array: null, a number or a
    // string as the value holds it.
    JsonStream& value(const QJsonValue& value, const char* name = nullptr) {
        separate(name);
        if (value.isString())
            quoted(value.toString());
        else if (value.isDouble())
            buffer_ += QByteArray::number(value.toInteger());
        else if (value.isBool())
            buffer_ += value.toBool() ? "true" : "false";
        else
            buffer_ += "null";
        return *this;
    }
    JsonStream& string(QStringView text, const char* name = nullptr) {
        separate(name);
        quoted(text);
        return *this;
    }
    // Ends the document with a line end, all of it written.
    void end() {
        put('\n');
        flush();
    }

  private:
    void put(char c) { buffer_ += c; }
    void quoted(QStringView text) {
        // Most texts are server names and times, plain ASCII: written at once.
        const qsizetype start = buffer_.size();
        buffer_.resize(start + text.size() + 2);
        char* out = buffer_.data() + start;
        *out++ = '"';
        bool plain = true;
        for (QChar c : text) {
            const char16_t code = c.unicode();
            if (code < 0x20 || code >= 0x80 || code == u'"' || code == u'\\') {
                plain = false;
                break;
            }
            *out++ = char(code);
        }
        if (plain) {
            *out = '"';
            return;
        }
        buffer_.resize(start);
        put('"');
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t code = text[i].unicode();
            if (code == u'"' || code == u'\\') {
                put('\\');
                put(char(code));
            } else if (code < 0x20) {
                buffer_ +=
                    QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0')).toLatin1();
            } else if (code < 0x80) {
                put(char(code));
            } else {
                // A run of other characters at once: a pair of surrogates stays one character.
                qsizetype end = i + 1;
                while (end < text.size() && text[end].unicode() >= 0x80)
                    ++end;
                buffer_ += text.sliced(i, end - i).toUtf8();
                i = end - 1;
            }
        }
        put('"');
    }
    void separate(const char* name) {
        if (!first_)
            put(',');
        first_ = false;
        if (name) {
            // The names are this file's own, and need no escape.
            put('"');
            buffer_ += name;
            buffer_ += "\":";
        }
    }
    void flush() {
        write_(buffer_);
        buffer_.clear();
    }

    const std::function<void(QByteArrayView)>& write_;
    QByteArray buffer_;
    bool first_ = true;
};

}  // namespace

QString prefixedOutputs(const QList<BatchResult>& results, const OutputOf& outputOf) {
    QString text;
    for (const BatchResult& result : results) {
        if (!hasOutput(result.state))
            continue;
        const QString output = outputOf(result);
        const QStringList servers = result.servers();
        const QString name =
            servers.size() == 1 ? printableText(servers.front()) : result.batchName;
        addPrefixed(text, name + QStringLiteral(": "), output);
    }
    return text;
}

QString groupedOutputs(const QList<BatchResult>& results, const OutputOf& outputOf) {
    QString text;
    QList<ResultGroup> others;
    for (const ResultGroup& group : groupResults(results)) {
        const BatchResult& first = results[group.members.front()];
        if (!hasOutput(first.state)) {
            others.append(group);
            continue;
        }
        QStringList names;
        for (qsizetype member : group.members)
            names += results[member].servers();
        text += QStringLiteral("%1 (%2): %3\n")
                    .arg(printableText(foldServerNames(names)))
                    .arg(group.servers)
                    .arg(first.state.text());
        text += QString(16, u'-') + u'\n';
        addPrefixed(text, QString(), outputOf(first));
        text += u'\n';
    }
    // The states without an output: the servers of each state on one line.
    QList<std::pair<QString, QStringList>> byState;
    for (const ResultGroup& group : others) {
        for (qsizetype member : group.members) {
            const QString state = results[member].state.text();
            auto found = std::find_if(byState.begin(), byState.end(),
                                      [&state](const auto& entry) { return entry.first == state; });
            if (found == byState.end()) {
                byState.append({state, {}});
                found = byState.end() - 1;
            }
            found->second += results[member].servers();
        }
    }
    for (const auto& [state, names] : byState) {
        text += QStringLiteral("%1 (%2): %3\n")
                    .arg(printableText(foldServerNames(names)))
                    .arg(names.size())
                    .arg(state);
    }
    return text;
}

QString csvReport(const QList<BatchResult>& results) {
    QString text = QStringLiteral("server,state,exit status,start,end,duration,last line\r\n");
    for (const BatchResult& result : results) {
        const QString exitStatus = result.state.kind == RunState::Exited
                                       ? QString::number(result.state.exitStatus)
                                       : QString();
        const QString duration =
            result.started.isValid() && result.ended.isValid()
                ? QString::number(
                      std::max<qint64>(0, result.started.msecsTo(result.ended)) / 1000.0, 'f', 3)
                : QString();
        // A server of a combined batch file shares its one state: the batch file's.
        const QString state = result.state.text();
        const QString rest = u',' + csvField(state) + u',' + exitStatus + u',' +
                             momentText(result.started) + u',' + momentText(result.ended) + u',' +
                             duration + u',' + csvField(result.lastLine) + QStringLiteral("\r\n");
        for (const QString& server : result.servers())
            text += csvField(server) + rest;
    }
    return text;
}

void writeLaunchJson(const LaunchResult& launch, const QList<BatchResult>& results,
                     const std::function<void(QByteArrayView)>& write) {
    static const char* const countNames[LaunchResult::Counts] = {
        "ok", "failed", "timedOut", "endedByUser", "notStarted", "running", "waiting"};
    const bool normal = launch.mode == LaunchMode::Normal;
    JsonStream json(write);
    json.open('{')
        .value(launch.historyId, "launch")
        .value(jsonMoment(launch.started), "started")
        .string(QString::fromLatin1(launchModeKey(launch.mode)), "mode")
        .value(launch.servers, "servers")
        .string(launch.summary(), "summary");
    // Counted in batch files: a normal launch's servers share its one status.
    json.open('{', "counts");
    for (int count = 0; count < LaunchResult::Counts; ++count) {
        json.value(normal ? qint64(countOf(launch.batchState) == count ? 1 : 0)
                          : qint64(launch.counts[count]),
                   countNames[count]);
    }
    json.close('}');
    auto servers = [](const BatchResult& result, const std::function<void(QStringView)>& each) {
        // A Spawn Mode batch file's server is its whole text, as serverNamesOf reads it.
        const QByteArray& text = result.serverText;
        if (result.serverCount == 1 && !text.contains('\n') && !text.contains('\r')) {
            each(decodeText(text));
            return;
        }
        const ServerLines lines(decodeText(text));
        for (QStringView server : lines)
            each(server);
    };
    json.open('[', "batchFiles");
    for (const BatchResult& result : results) {
        json.open('{').string(result.batchName, "batchFile").open('[', "servers");
        servers(result, [&json](QStringView server) { json.string(server); });
        json.close(']')
            .string(result.state.text(), "state")
            .value(exitStatusValue(result.state), "exitStatus")
            .value(jsonMoment(result.started), "started")
            .value(jsonMoment(result.ended), "ended")
            .string(result.lastLine, "lastLine")
            .close('}');
    }
    json.close(']').open('[', "results");
    for (const BatchResult& result : results) {
        const QJsonValue started = jsonMoment(result.started);
        const QJsonValue ended = jsonMoment(result.ended);
        const QString state = result.state.text();
        servers(result, [&](QStringView server) {
            json.open('{')
                .string(server, "server")
                .string(result.batchName, "batchFile")
                .value(started, "started")
                .value(ended, "ended");
            // A server of a combined batch file has no state of its own.
            if (!normal) {
                json.string(state, "state")
                    .value(exitStatusValue(result.state), "exitStatus")
                    .string(result.lastLine, "lastLine");
            }
            json.close('}');
        });
    }
    json.close(']').close('}').end();
}
