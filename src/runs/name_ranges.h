#pragma once

#include <QString>
#include <QStringList>

// Server names folded for a reader: names that differ only in their last number become
// one range, "web[001-003,005]", keeping the numbers' zero padding; "n[9-10]" for numbers
// without it. Names without a number, and ranges of different stems, are listed with
// commas in the order they first appear. A name given twice is listed once.
QString foldServerNames(const QStringList& names);
