#pragma once

#include <QList>
#include <QString>
#include <functional>

#include "runs/launch_results.h"

// What a launch's batch files showed, as one text, the way administrators read many
// servers' answers at once. `outputOf` gives a batch file's cleaned output.
using OutputOf = std::function<QString(const BatchResult& result)>;

// Each line of each batch file's output prefixed with its server and ": ", in launch order
// (pdsh's way). A normal launch's one output is its batch file's, prefixed with its name.
QString prefixedOutputs(const QList<BatchResult>& results, const OutputOf& outputOf);

// Each distinct output once (dshbak -c's way), largest group first: a header line of the
// group's folded server names, their count and state ("web[001-041,043-297] (296): exit 0"),
// a rule, and the output. The servers of batch files still going or never run follow, one
// line for each state.
QString groupedOutputs(const QList<BatchResult>& results, const OutputOf& outputOf);

// One row for each server: server, state, exit status, start, end, duration in seconds,
// last line; a header row first. A server of a normal launch's combined batch file has
// that batch file's state. RFC 4180: CRLF line ends, fields with a comma, a quote
// or a line end quoted, quotes doubled.
QString csvReport(const QList<BatchResult>& results);

// The JSON document of a launch (corvane results --json), handed to `write` piece by
// piece as it is made: its memory does not grow with the launch's servers.
void writeLaunchJson(const LaunchResult& launch, const QList<BatchResult>& results,
                     const std::function<void(QByteArrayView)>& write);
