// The whole-card page's dump view: one read-only row per block (block
// number, the 16 bytes as "%02X " text with "--" for an unknown byte, and
// the bytes as ASCII), sectors told apart by the row headers, the kind of
// each block by colour and tool tip. After a comparison the differing bytes
// are marked.
#pragma once

#include <QTableWidget>

#include <vector>

#include "card/card_image.h"

class CDumpView : public QTableWidget {
    Q_OBJECT
public:
    enum Column { kBlockColumn, kDataColumn, kAsciiColumn };
    // Item data role of the data cell: the mask of differing bytes (int).
    static constexpr int kDifferingRole = Qt::UserRole + 1;

    explicit CDumpView(QWidget *parent = nullptr);

    void ShowImage(const zelkor::card::CardImage &image);
    // Marks the bytes of `differing` (one mask per block of the shown image;
    // `other` is what the comparison found there) or, when empty, no longer.
    void ShowDifferences(const std::vector<zelkor::card::ByteMask> &differing,
                         const zelkor::card::CardImage *other = nullptr);
    // Selects and shows the first block of `sector`.
    void SelectSector(int sector);

    static QString HexText(const zelkor::card::CardImage &image, int block);
    static QString AsciiText(const zelkor::card::CardImage &image, int block);

signals:
    // The operator moved to a block of another sector.
    void sectorSelected(int sector);

private:
    void FillRow(const zelkor::card::CardImage &image, int block);

    int m_nSectorCount = 0;
};
