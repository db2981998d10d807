#include "app/memory_table.h"

#include <QFontDatabase>
#include <QHeaderView>

void SetUpMemoryTable(QTableWidget &table, const QString &accessible_name, const QString &unit) {
    table.setAccessibleName(accessible_name);
    table.setColumnCount(3);
    table.setHorizontalHeaderLabels({unit, QStringLiteral("数据"), QStringLiteral("ASCII")});
    table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    table.setTabKeyNavigation(false);
    table.setWordWrap(false);
    table.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height() + 4);
    table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table.horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table.horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    table.horizontalHeader()->setStretchLastSection(true);
}
