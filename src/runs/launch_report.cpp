#include "runs/launch_report.h"

#include "common/printable_text.h"
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
    return moment.isValid()
               ? moment.toOffsetFromUtc(moment.offsetFromUtc()).toString(Qt::ISODateWithMs)
               : QString();
}

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
