#pragma once

#include <QColor>
#include <QList>
#include <QStringList>
#include <QWidget>

#include "runs/launch_results.h"

// One small cell for each server of a launch, in collection order, coloured by its state,
// with a mark in the cells of failed, timed-out and unknown ends, so that no state is told
// by colour alone (the colours are the Okabe-Ito palette, which stays apart for the usual
// colour blindness). Hovering names the server and its state; a click or a drag picks
// the servers, which the Results window selects in its table.
class StateGrid : public QWidget {
    Q_OBJECT

  public:
    enum Shade { Ok, Failed, Running, Waiting, TimedOut, NotStarted, EndedByUser, Unknown, Shades };
    enum class Mark { None, Cross, Slash, Dot };
    static Shade shadeOf(const RunState& state);
    static QColor colourOf(Shade shade);
    static Mark markOf(Shade shade);
    static QString nameOf(Shade shade);

    explicit StateGrid(QWidget* parent = nullptr);

    // A launch's batch files: a cell for each of their servers. When only states changed,
    // only those cells are drawn again.
    void setResults(const QList<BatchResult>& results);
    // No cells outlined as picked: another launch is shown.
    void clearPicked();
    // "297 ok · 2 failed · 1 timed out": the servers in each state, none left out.
    QString legend() const;
    // The cell at `point`, -1 for none; and where cell `cell` is drawn.
    int cellAt(const QPoint& point) const;
    QRect cellRect(int cell) const;
    qsizetype cellCount() const { return cells_.size(); }
    // The batch file (its place in the results) whose server cell `cell` is.
    qsizetype placeOf(int cell) const { return cells_[cell].place; }

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  signals:
    // The batch files of the cells from one to another picked, in the results' order.
    void placesPicked(qsizetype first, qsizetype last);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    static constexpr int kPitch = 10;  // a 9-pixel cell and a 1-pixel gap
    int columns() const;
    // Where cell `cell` is drawn with `perRow` cells to a row.
    static QRect cellRect(qsizetype cell, int perRow);
    void pick(int from, int to);

    struct Cell {
        qsizetype place;
        Shade shade;
        RunState state;
    };
    QList<Cell> cells_;
    QStringList servers_;
    QList<QByteArray> serverTexts_;  // of each batch file, to tell the same ones again
    qsizetype counts_[Shades] = {};
    int anchor_ = -1;  // where a drag began
    int picked_[2] = {-1, -1};
};
