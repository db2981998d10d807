// The whole-card page's sector map: one cell per sector of the card (16 or
// 40), coloured by how many of its keys are known, with the keys in the
// cell's tool tip. A cell's text is its sector number and the letters of the
// known keys ("3 A B", "4 A -", "5 - -"); clicking it selects the sector.
#pragma once

#include <QFrame>

#include <span>
#include <vector>

#include "card/card_image.h"

class QGridLayout;
class QToolButton;

class CSectorMap : public QFrame {
    Q_OBJECT
public:
    explicit CSectorMap(QWidget *parent = nullptr);

    // One cell per entry of `keys`, entry i being sector i.
    void ShowKeys(std::span<const zelkor::card::SectorKeys> keys);
    // The cells follow `widget` in the tab order (they are made anew when the
    // sector count changes, and new widgets would come last).
    void SetTabPredecessor(QWidget *widget) { m_pTabBefore = widget; }
    // Marks `sector` as the selected one (-1 none) without emitting.
    void SetSelectedSector(int sector);

    int cellCount() const { return static_cast<int>(m_cells.size()); }
    static QString CellText(int sector, const zelkor::card::SectorKeys &keys);

signals:
    void sectorClicked(int sector);

private:
    QToolButton *NewCell(int sector);

    QGridLayout *m_pGrid = nullptr;
    QWidget *m_pTabBefore = nullptr;
    std::vector<QToolButton *> m_cells;
};
