// The whole-card page's view of a card of the UltraLight family: one
// read-only row per page (page number, the 4 bytes as "%02X " text with "--"
// for an unknown byte, the bytes as ASCII), each page's role in its tool tip
// and colour. After a comparison the rows of differing pages are marked.
#pragma once

#include <QTableWidget>

#include <vector>

#include "card/ultralight_image.h"

class CPageView : public QTableWidget {
    Q_OBJECT
public:
    enum Column { kPageColumn, kDataColumn, kAsciiColumn };

    explicit CPageView(QWidget *parent = nullptr);

    void ShowImage(const zelkor::card::UltraLightImage &image);
    // Pages of the shown image that differ (marked), or none.
    void ShowDifferences(const std::vector<int> &pages);

    static QString HexText(const zelkor::card::UltraLightImage &image, int page);
    static QString AsciiText(const zelkor::card::UltraLightImage &image, int page);
    static QString RoleText(zelkor::card::PageRole role);
    // "NTAG213", "UltraLight EV1（20 页）", ...
    static QString KindText(zelkor::card::UltraLightKind kind);

private:
    std::vector<QColor> m_rowColours;
};
