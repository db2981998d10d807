// The look of a table of card memory, shared by the block and the page view:
// read-only, one row selected at a time, fixed-width text, the number and
// hex columns as wide as their contents and the ASCII column taking the rest.
#pragma once

#include <QString>
#include <QTableWidget>

// Columns: `unit` (the number of the block or page), 数据, ASCII.
void SetUpMemoryTable(QTableWidget &table, const QString &accessible_name, const QString &unit);
