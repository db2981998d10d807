#include "app/whole_card_sector_map.h"

#include <QGridLayout>
#include <QStyle>
#include <QToolButton>

#include "app/whole_card_text.h"

namespace {

using zelkor::card::SectorKeys;

const char *KeyState(const SectorKeys &keys) {
    if (keys.Complete()) return "both";
    return keys.a || keys.b ? "one" : "none";
}

// Colour by the cell's "keys" property; the checked cell is the selected one.
const char *const kCellStyle =
    "QToolButton { border: 1px solid #8a8a8a; border-radius: 2px; padding: 2px 3px; }"
    "QToolButton[keys=\"both\"] { background: #a8dca8; }"
    "QToolButton[keys=\"one\"] { background: #f3dc7a; }"
    "QToolButton[keys=\"none\"] { background: #eeb4b4; }"
    "QToolButton:checked { border: 2px solid #1f4e9c; }"
    "QToolButton:focus { border: 2px dashed #1f4e9c; }";

}  // namespace

CSectorMap::CSectorMap(QWidget *parent) : QFrame(parent) {
    setAccessibleName(QStringLiteral("扇区图"));
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(QString::fromLatin1(kCellStyle));
    m_pGrid = new QGridLayout(this);
    m_pGrid->setContentsMargins(4, 4, 4, 4);
    m_pGrid->setSpacing(2);
}

QString CSectorMap::CellText(int sector, const SectorKeys &keys) {
    return QStringLiteral("%1 %2 %3")
        .arg(sector)
        .arg(keys.a ? QLatin1Char('A') : QLatin1Char('-'))
        .arg(keys.b ? QLatin1Char('B') : QLatin1Char('-'));
}

QToolButton *CSectorMap::NewCell(int sector) {
    auto *cell = new QToolButton(this);
    cell->setCheckable(true);
    cell->setAutoExclusive(true);
    cell->setFocusPolicy(Qt::StrongFocus);
    cell->setToolButtonStyle(Qt::ToolButtonTextOnly);
    cell->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(cell, &QToolButton::clicked, this, [this, sector] { emit sectorClicked(sector); });
    return cell;
}

void CSectorMap::ShowKeys(std::span<const SectorKeys> keys) {
    const int count = static_cast<int>(keys.size());
    if (count != cellCount()) {
        for (QToolButton *cell : m_cells) delete cell;
        m_cells.clear();
        // A 4K card's 40 sectors in rows of eight, a 1K card's 16 in rows of four.
        const int columns = count > 16 ? 8 : 4;
        for (int sector = 0; sector < count; ++sector) {
            m_cells.push_back(NewCell(sector));
            m_pGrid->addWidget(m_cells.back(), sector / columns, sector % columns);
        }
        QWidget *previous = m_pTabBefore;
        for (QToolButton *cell : m_cells) {
            if (previous != nullptr) setTabOrder(previous, cell);
            previous = cell;
        }
    }
    for (int sector = 0; sector < count; ++sector) {
        QToolButton *cell = m_cells[static_cast<size_t>(sector)];
        const SectorKeys &sector_keys = keys[static_cast<size_t>(sector)];
        cell->setText(CellText(sector, sector_keys));
        cell->setToolTip(SectorKeysToolTip(sector, sector_keys));
        cell->setProperty("keys", QString::fromLatin1(KeyState(sector_keys)));
        cell->style()->unpolish(cell);
        cell->style()->polish(cell);
    }
}

void CSectorMap::SetSelectedSector(int sector) {
    for (int i = 0; i < cellCount(); ++i) {
        QToolButton *cell = m_cells[static_cast<size_t>(i)];
        if (i == sector) {
            cell->setChecked(true);
        } else if (cell->isChecked()) {
            // An exclusive button cannot be unchecked directly.
            cell->setAutoExclusive(false);
            cell->setChecked(false);
            cell->setAutoExclusive(true);
        }
    }
}
