#include "app/whole_card_dump_view.h"

#include <QPainter>
#include <QStyledItemDelegate>

#include "app/memory_table.h"
#include "card/value_block.h"
#include "app/whole_card_text.h"

namespace card = zelkor::card;

namespace {

const QColor kManufacturerColour(0xdc, 0xd3, 0xee);
const QColor kTrailerColour(0xfb, 0xe2, 0xc4);
const QColor kValueColour(0xd4, 0xec, 0xd0);
const QColor kOddSectorColour(0xee, 0xf1, 0xf6);
const QColor kDifferingByteColour(230, 60, 60, 110);

enum class BlockKind { Manufacturer, Data, Value, Trailer };

BlockKind KindOf(const card::CardImage &image, int block) {
    if (block == card::kManufacturerBlock) return BlockKind::Manufacturer;
    if (card::IsTrailer(block)) return BlockKind::Trailer;
    if (image.BlockKnown(block) && card::DecodeValueBlock(image.blocks[static_cast<size_t>(block)]).valid())
        return BlockKind::Value;
    return BlockKind::Data;
}

// Paints the data cell as usual, then shades the byte pairs that differ.
class DifferingBytesDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const int mask = index.data(CDumpView::kDifferingRole).toInt();
        if (mask == 0) return;
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *widget = opt.widget;
        const QStyle *style = widget != nullptr ? widget->style() : nullptr;
        if (style == nullptr) return;
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QFontMetrics metrics(opt.font);
        const int pair = metrics.horizontalAdvance(QStringLiteral("00"));
        const int step = metrics.horizontalAdvance(QStringLiteral("00 "));
        painter->save();
        painter->setClipRect(opt.rect);
        for (int byte = 0; byte < card::kBlockSize; ++byte) {
            if ((mask & (1 << byte)) == 0) continue;
            painter->fillRect(QRect(text.left() + margin + byte * step, text.top() + 1, pair, text.height() - 2),
                              kDifferingByteColour);
        }
        painter->restore();
    }
};

}  // namespace

CDumpView::CDumpView(QWidget *parent) : QTableWidget(parent) {
    SetUpMemoryTable(*this, QStringLiteral("卡数据"), QStringLiteral("块"));
    setItemDelegateForColumn(kDataColumn, new DifferingBytesDelegate(this));
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous_row, int) {
        if (row < 0 || row >= rowCount()) return;
        const int sector = card::SectorOfBlock(row);
        if (previous_row < 0 || previous_row >= rowCount() || card::SectorOfBlock(previous_row) != sector)
            emit sectorSelected(sector);
    });
}

QString CDumpView::HexText(const card::CardImage &image, int block) {
    QString text;
    text.reserve(card::kBlockSize * 3);
    const card::Block &bytes = image.blocks[static_cast<size_t>(block)];
    for (int i = 0; i < card::kBlockSize; ++i) {
        text += image.ByteKnown(block, i) ? QStringLiteral("%1 ").arg(bytes[static_cast<size_t>(i)], 2, 16, QLatin1Char('0')).toUpper()
                                          : QStringLiteral("-- ");
    }
    return text;
}

QString CDumpView::AsciiText(const card::CardImage &image, int block) {
    QString text;
    const card::Block &bytes = image.blocks[static_cast<size_t>(block)];
    for (int i = 0; i < card::kBlockSize; ++i) {
        const std::uint8_t byte = bytes[static_cast<size_t>(i)];
        if (!image.ByteKnown(block, i)) text += QLatin1Char(' ');
        else text += byte >= 0x20 && byte < 0x7F ? QLatin1Char(static_cast<char>(byte)) : QLatin1Char('.');
    }
    return text;
}

void CDumpView::FillRow(const card::CardImage &image, int block) {
    const int sector = card::SectorOfBlock(block);
    auto *number = new QTableWidgetItem(QString::number(block));
    auto *bytes = new QTableWidgetItem(HexText(image, block));
    auto *ascii = new QTableWidgetItem(AsciiText(image, block));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (sector % 2 == 1) number->setBackground(kOddSectorColour);
    QColor colour;
    QString tip;
    switch (KindOf(image, block)) {
    case BlockKind::Manufacturer:
        colour = kManufacturerColour;
        tip = QStringLiteral("块 0：厂商块（卡号与厂商数据，只读）");
        break;
    case BlockKind::Trailer:
        colour = kTrailerColour;
        tip = TrailerToolTip(image, sector);
        break;
    case BlockKind::Value:
        colour = kValueColour;
        tip = ValueBlockToolTip(block, card::DecodeValueBlock(image.blocks[static_cast<size_t>(block)]));
        break;
    case BlockKind::Data:
        tip = image.BlockUnknown(block) ? QStringLiteral("块 %1：数据未知").arg(block)
                                        : QStringLiteral("块 %1：数据块").arg(block);
        break;
    }
    for (QTableWidgetItem *item : {bytes, ascii}) {
        if (colour.isValid()) item->setBackground(colour);
        item->setToolTip(tip);
    }
    number->setToolTip(tip);
    setItem(block, kBlockColumn, number);
    setItem(block, kDataColumn, bytes);
    setItem(block, kAsciiColumn, ascii);
    auto *header = new QTableWidgetItem(block == card::FirstBlock(sector) ? QStringLiteral("扇区 %1").arg(sector) : QString());
    setVerticalHeaderItem(block, header);
}

void CDumpView::ShowImage(const card::CardImage &image) {
    const int current = currentRow();
    clearContents();
    setRowCount(image.block_count());
    m_nSectorCount = image.sector_count();
    for (int block = 0; block < image.block_count(); ++block) FillRow(image, block);
    if (current >= 0 && current < rowCount()) setCurrentCell(current, kBlockColumn);
}

void CDumpView::ShowDifferences(const std::vector<card::ByteMask> &differing, const card::CardImage *other) {
    for (int block = 0; block < rowCount(); ++block) {
        const card::ByteMask mask = static_cast<size_t>(block) < differing.size() ? differing[static_cast<size_t>(block)] : 0;
        QTableWidgetItem *bytes = item(block, kDataColumn);
        QTableWidgetItem *number = item(block, kBlockColumn);
        if (bytes == nullptr || number == nullptr) continue;
        bytes->setData(kDifferingRole, static_cast<int>(mask));
        QFont font = number->font();
        font.setBold(mask != 0);
        number->setFont(font);
        number->setForeground(mask != 0 ? QBrush(Qt::red) : QBrush());
        QString tip = number->toolTip().section(QStringLiteral("\n比较文件："), 0, 0);
        if (mask != 0 && other != nullptr && block < other->block_count())
            tip += QStringLiteral("\n比较文件：%1").arg(HexText(*other, block).trimmed());
        for (QTableWidgetItem *cell : {number, bytes, item(block, kAsciiColumn)}) cell->setToolTip(tip);
    }
    viewport()->update();
}

void CDumpView::SelectSector(int sector) {
    if (sector < 0 || sector >= m_nSectorCount) return;
    const int block = card::FirstBlock(sector);
    setCurrentCell(block, kBlockColumn);
    scrollToItem(item(block, kBlockColumn), QAbstractItemView::PositionAtTop);
}
