#include "runs/output_diff.h"

#include <QStringList>
#include <algorithm>
#include <vector>

namespace {

enum class Op { Same, Removed, Added };

struct Edit {
    Op op;
    qsizetype line;  // in `from` for Same and Removed, in `to` for Added
};

// A text's lines; a last line without its line end is a line too, and is told apart
// from the same line with one.
QStringList linesOf(const QString& text) {
    QStringList lines = text.split(u'\n');
    if (lines.back().isEmpty())
        lines.removeLast();
    else
        lines.back() += QStringLiteral("\n\\ No newline at end of output");
    return lines;
}

// Myers' shortest edit script between a[0, n) and b[0, m): each step's furthest reaching
// paths are kept for the walk back, D steps of 2d + 1 entries. Empty when more than
// `maxD` edits are needed.
std::optional<std::vector<Edit>> shortestEdits(const QStringList& a, qsizetype aFrom, qsizetype n,
                                               const QStringList& b, qsizetype bFrom, qsizetype m,
                                               int maxD) {
    std::vector<std::vector<qsizetype>> trace;
    std::vector<qsizetype> v(3, 0);  // v[k + d + 1] for the step d, diagonals -d..d
    for (int d = 0; d <= maxD; ++d) {
        std::vector<qsizetype> next(2 * d + 3, 0);
        auto at = [&](const std::vector<qsizetype>& row, int step, int k) -> qsizetype {
            return row[k + step + 1];
        };
        bool done = false;
        for (int k = -d; k <= d; k += 2) {
            qsizetype x;
            if (d == 0)
                x = 0;
            else if (k == -d || (k != d && at(v, d - 1, k - 1) < at(v, d - 1, k + 1)))
                x = at(v, d - 1, k + 1);
            else
                x = at(v, d - 1, k - 1) + 1;
            qsizetype y = x - k;
            while (x < n && y < m && a[aFrom + x] == b[bFrom + y]) {
                ++x;
                ++y;
            }
            next[k + d + 1] = x;
            if (x >= n && y >= m)
                done = true;
        }
        trace.push_back(next);
        v = std::move(next);
        if (!done)
            continue;
        // Walk back from (n, m) through the steps.
        std::vector<Edit> edits;
        qsizetype x = n;
        qsizetype y = m;
        for (int step = d; step > 0; --step) {
            const std::vector<qsizetype>& before = trace[step - 1];
            const int k = static_cast<int>(x - y);
            auto was = [&](int kk) { return before[kk + (step - 1) + 1]; };
            const bool down = k == -step || (k != step && was(k - 1) < was(k + 1));
            const int prevK = down ? k + 1 : k - 1;
            const qsizetype prevX = was(prevK);
            const qsizetype prevY = prevX - prevK;
            while (x > prevX + (down ? 0 : 1) && y > prevY + (down ? 1 : 0)) {
                --x;
                --y;
                edits.push_back({Op::Same, aFrom + x});
            }
            if (down)
                edits.push_back({Op::Added, bFrom + --y});
            else
                edits.push_back({Op::Removed, aFrom + --x});
        }
        while (x > 0 && y > 0) {
            --x;
            --y;
            edits.push_back({Op::Same, aFrom + x});
        }
        std::reverse(edits.begin(), edits.end());
        return edits;
    }
    return std::nullopt;
}

}  // namespace

QString unifiedDiff(const QString& from, const QString& to, int context, int maxChanges) {
    if (from == to)
        return QString();
    const QStringList a = linesOf(from);
    const QStringList b = linesOf(to);
    // The lines alike at both ends cost the search nothing.
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::vector<Edit> edits;
    for (qsizetype i = 0; i < head; ++i)
        edits.push_back({Op::Same, i});
    const qsizetype n = a.size() - head - tail;
    const qsizetype m = b.size() - head - tail;
    if (auto middle = shortestEdits(a, head, n, b, head, m, maxChanges)) {
        edits.insert(edits.end(), middle->begin(), middle->end());
    } else {
        for (qsizetype i = 0; i < n; ++i)
            edits.push_back({Op::Removed, head + i});
        for (qsizetype i = 0; i < m; ++i)
            edits.push_back({Op::Added, head + i});
    }
    for (qsizetype i = 0; i < tail; ++i)
        edits.push_back({Op::Same, a.size() - tail + i});

    // Hunks: the changes with `context` lines around them; changes closer than twice
    // that share a hunk.
    QString text;
    const auto count = static_cast<qsizetype>(edits.size());
    qsizetype i = 0;
    while (i < count) {
        while (i < count && edits[i].op == Op::Same)
            ++i;
        if (i == count)
            break;
        qsizetype begin = std::max<qsizetype>(0, i - context);
        qsizetype end = i;
        qsizetype sameRun = 0;
        for (qsizetype j = i; j < count; ++j) {
            if (edits[j].op != Op::Same) {
                end = j + 1;
                sameRun = 0;
            } else if (++sameRun > 2 * context) {
                break;
            }
        }
        end = std::min(count, end + context);
        // The line numbers where the hunk begins, counted from 1 (0 for an empty side).
        qsizetype aLine = 0;
        qsizetype bLine = 0;
        for (qsizetype j = 0; j < begin; ++j) {
            if (edits[j].op != Op::Added)
                ++aLine;
            if (edits[j].op != Op::Removed)
                ++bLine;
        }
        qsizetype aCount = 0;
        qsizetype bCount = 0;
        QString body;
        for (qsizetype j = begin; j < end; ++j) {
            const Edit& edit = edits[j];
            switch (edit.op) {
                case Op::Same:
                    body += u' ' + a[edit.line] + u'\n';
                    ++aCount;
                    ++bCount;
                    break;
                case Op::Removed:
                    body += u'-' + a[edit.line] + u'\n';
                    ++aCount;
                    break;
                case Op::Added:
                    body += u'+' + b[edit.line] + u'\n';
                    ++bCount;
                    break;
            }
        }
        text += QStringLiteral("@@ -%1,%2 +%3,%4 @@\n")
                    .arg(aCount == 0 ? aLine : aLine + 1)
                    .arg(aCount)
                    .arg(bCount == 0 ? bLine : bLine + 1)
                    .arg(bCount);
        text += body;
        i = end;
    }
    return text;
}
