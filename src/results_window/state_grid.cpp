#include "state_grid.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <array>

#include "common/printable_text.h"

StateGrid::Shade StateGrid::shadeOf(const RunState& state) {
    switch (state.kind) {
        case RunState::Exited:
            return state.exitStatus == 0 ? Ok : Failed;
        case RunState::NotRun:
            return Failed;
        case RunState::Running:
            return Running;
        case RunState::Waiting:
            return Waiting;
        case RunState::TimedOut:
            return TimedOut;
        case RunState::NotStarted:
            return NotStarted;
        case RunState::EndedByUser:
            return EndedByUser;
        case RunState::Unknown:
        case RunState::CleanedUp:
            break;
    }
    return Unknown;
}

QColor StateGrid::colourOf(Shade shade) {
    // Okabe and Ito's colours for colour-blind readers; waiting and not started are a
    // light and a dark grey, the states of servers that have not run.
    static const QRgb colours[Shades] = {0x009E73, 0xD55E00, 0x56B4E9, 0xE8E8E8,
                                         0xE69F00, 0x5A5A5A, 0xCC79A7, 0x000000};
    return QColor(colours[shade]);
}

StateGrid::Mark StateGrid::markOf(Shade shade) {
    switch (shade) {
        case Failed:
            return Mark::Cross;
        case TimedOut:
            return Mark::Slash;
        case Unknown:
            return Mark::Dot;
        default:
            return Mark::None;
    }
}

QString StateGrid::nameOf(Shade shade) {
    static const char* const names[Shades] = {
        "ok",        "failed",      "running",           "waiting",
        "timed out", "not started", "ended by the user", "unknown"};
    return QString::fromLatin1(names[shade]);
}

StateGrid::StateGrid(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("State grid"));
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void StateGrid::setResults(const QList<BatchResult>& results) {
    std::fill(std::begin(counts_), std::end(counts_), 0);
    bool sameServers = results.size() == serverTexts_.size();
    for (qsizetype place = 0; sameServers && place < results.size(); ++place)
        sameServers = results[place].serverText == serverTexts_[place];
    if (sameServers) {
        // While a launch runs only states change, and only the cells that changed are drawn
        // again; the names are not made again either.
        for (int i = 0; i < cells_.size(); ++i) {
            Cell& cell = cells_[i];
            const RunState& state = results[cell.place].state;
            const Shade shade = shadeOf(state);
            if (shade != cell.shade)
                update(cellRect(i));
            cell.shade = shade;
            cell.state = state;
            ++counts_[shade];
        }
        setAccessibleDescription(legend());
        return;
    }
    cells_.clear();
    servers_.clear();
    serverTexts_.clear();
    for (qsizetype place = 0; place < results.size(); ++place) {
        const Shade shade = shadeOf(results[place].state);
        serverTexts_.append(results[place].serverText);
        for (const QString& server : results[place].servers()) {
            cells_.append(Cell{place, shade, results[place].state});
            servers_.append(server);
            ++counts_[shade];
        }
    }
    picked_[0] = picked_[1] = -1;
    updateGeometry();
    update();
    setAccessibleDescription(legend());
}

void StateGrid::clearPicked() {
    if (picked_[0] >= 0)
        pick(-1, -1);
}

QString StateGrid::legend() const {
    QStringList parts;
    for (int shade = 0; shade < Shades; ++shade) {
        if (counts_[shade] > 0)
            parts += QStringLiteral("%1 %2").arg(counts_[shade]).arg(nameOf(Shade(shade)));
    }
    return parts.join(QStringLiteral(" \u00b7 "));
}

int StateGrid::columns() const {
    return std::max(1, width() / kPitch);
}

int StateGrid::heightForWidth(int width) const {
    const int columns = std::max(1, width / kPitch);
    return int((cells_.size() + columns - 1) / columns) * kPitch;
}

QSize StateGrid::sizeHint() const {
    return QSize(400, std::max(kPitch, heightForWidth(400)));
}

QRect StateGrid::cellRect(int cell) const {
    return cellRect(cell, columns());
}

QRect StateGrid::cellRect(qsizetype cell, int perRow) {
    return QRect(int(cell % perRow) * kPitch, int(cell / perRow) * kPitch, kPitch - 1, kPitch - 1);
}

int StateGrid::cellAt(const QPoint& point) const {
    if (point.x() < 0 || point.y() < 0 || point.x() >= columns() * kPitch)
        return -1;
    const int cell = (point.y() / kPitch) * columns() + point.x() / kPitch;
    // The gap between cells belongs to none.
    if (point.x() % kPitch == kPitch - 1 || point.y() % kPitch == kPitch - 1)
        return -1;
    return cell < cells_.size() ? cell : -1;
}

void StateGrid::paintEvent(QPaintEvent* event) {
    static const auto colours = [] {
        std::array<QColor, Shades> all;
        for (int shade = 0; shade < Shades; ++shade)
            all[shade] = colourOf(Shade(shade));
        return all;
    }();
    QPainter painter(this);
    const int perRow = columns();
    const QRect area = event->rect();
    // Only the rows of cells the drawing touches.
    const qsizetype first = qsizetype(std::max(0, area.top() / kPitch)) * perRow;
    const qsizetype end = std::min<qsizetype>(cells_.size(), (area.bottom() / kPitch + 1) * perRow);
    const int low = std::min(picked_[0], picked_[1]);
    const int high = std::max(picked_[0], picked_[1]);
    // The marks and the outlines of picked cells are drawn after the cells, each kind
    // with one pen: a change of pen for each marked cell would cost more than the cells.
    QList<QLine> lines;
    QList<QRect> dots;
    QList<QRect> outlines;
    for (qsizetype i = first; i < end; ++i) {
        const QRect cell = cellRect(i, perRow);
        const Shade shade = cells_[i].shade;
        painter.fillRect(cell, colours[shade]);
        const Mark mark = markOf(shade);
        if (mark == Mark::Cross || mark == Mark::Slash) {
            lines.append(QLine(cell.bottomLeft() + QPoint(1, -1), cell.topRight() + QPoint(-1, 1)));
            if (mark == Mark::Cross)
                lines.append(
                    QLine(cell.topLeft() + QPoint(1, 1), cell.bottomRight() - QPoint(1, 1)));
        } else if (mark == Mark::Dot) {
            dots.append(QRect(cell.center() - QPoint(1, 1), QSize(3, 3)));
        }
        if (low >= 0 && i >= low && i <= high)
            outlines.append(cell.adjusted(0, 0, -1, -1));
    }
    painter.setPen(Qt::white);
    painter.drawLines(lines);
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawRects(dots);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(palette().color(QPalette::Highlight));
    painter.drawRects(outlines);
}

void StateGrid::mousePressEvent(QMouseEvent* event) {
    anchor_ = cellAt(event->position().toPoint());
    if (anchor_ >= 0)
        pick(anchor_, anchor_);
}

void StateGrid::mouseMoveEvent(QMouseEvent* event) {
    const int cell = cellAt(event->position().toPoint());
    if (anchor_ >= 0 && cell >= 0)
        pick(anchor_, cell);
}

void StateGrid::mouseReleaseEvent(QMouseEvent*) {
    if (anchor_ >= 0 && picked_[0] >= 0) {
        const int low = std::min(picked_[0], picked_[1]);
        const int high = std::max(picked_[0], picked_[1]);
        emit placesPicked(cells_[low].place, cells_[high].place);
    }
    anchor_ = -1;
}

void StateGrid::pick(int from, int to) {
    picked_[0] = from;
    picked_[1] = to;
    update();
}

bool StateGrid::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int cell = cellAt(help->pos());
        if (cell < 0) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(
                help->globalPos(),
                printableText(servers_[cell]) + QStringLiteral(": ") + cells_[cell].state.text(),
                this, cellRect(cell));
        }
        return true;
    }
    return QWidget::event(event);
}
