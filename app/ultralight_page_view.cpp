#include "app/ultralight_page_view.h"

#include <QHeaderView>

#include <algorithm>

#include "app/memory_table.h"

namespace card = zelkor::card;

namespace {

const QColor kIdentityColour(0xdc, 0xd3, 0xee);
const QColor kLockColour(0xfb, 0xe2, 0xc4);
const QColor kUserColour(Qt::white);
const QColor kDifferingColour(0xf4, 0xb4, 0xb4);

QColor ColourOf(card::PageRole role) {
    switch (role) {
    case card::PageRole::User: return kUserColour;
    case card::PageRole::Uid:
    case card::PageRole::UidCheckAndLock: return kIdentityColour;
    default: return kLockColour;
    }
}

}  // namespace

CPageView::CPageView(QWidget *parent) : QTableWidget(parent) {
    SetUpMemoryTable(*this, QStringLiteral("页数据"), QStringLiteral("页"));
    verticalHeader()->setVisible(false);
}

QString CPageView::HexText(const card::UltraLightImage &image, int page) {
    QString text;
    for (int byte = 0; byte < card::kPageSize; ++byte) {
        text += image.ByteKnown(page, byte)
                    ? QStringLiteral("%1 ").arg(image.pages[static_cast<size_t>(page)][static_cast<size_t>(byte)], 2, 16, QLatin1Char('0')).toUpper()
                    : QStringLiteral("-- ");
    }
    return text;
}

QString CPageView::AsciiText(const card::UltraLightImage &image, int page) {
    QString text;
    for (int byte = 0; byte < card::kPageSize; ++byte) {
        const auto value = image.pages[static_cast<size_t>(page)][static_cast<size_t>(byte)];
        text += !image.ByteKnown(page, byte) ? QLatin1Char(' ')
                : value >= 0x20 && value < 0x7F ? QLatin1Char(static_cast<char>(value))
                                                : QLatin1Char('.');
    }
    return text;
}

QString CPageView::RoleText(card::PageRole role) {
    switch (role) {
    case card::PageRole::Uid: return QStringLiteral("卡号");
    case card::PageRole::UidCheckAndLock: return QStringLiteral("卡号校验和锁定字节");
    case card::PageRole::Otp: return QStringLiteral("一次性编程页");
    case card::PageRole::CapabilityContainer: return QStringLiteral("能力容器（一次性编程）");
    case card::PageRole::User: return QStringLiteral("用户数据");
    case card::PageRole::DynamicLock: return QStringLiteral("动态锁定字节");
    case card::PageRole::Configuration: return QStringLiteral("配置页");
    case card::PageRole::Password: return QStringLiteral("密码（读出为 0）");
    case card::PageRole::PasswordAck: return QStringLiteral("密码确认（读出为 0）");
    }
    return {};
}

QString CPageView::KindText(card::UltraLightKind kind) {
    switch (kind) {
    case card::UltraLightKind::UltraLight: return QStringLiteral("UltraLight");
    case card::UltraLightKind::Ev1Small: return QStringLiteral("UltraLight EV1（20 页）");
    case card::UltraLightKind::Ev1Large: return QStringLiteral("UltraLight EV1（41 页）");
    case card::UltraLightKind::Ntag213: return QStringLiteral("NTAG213");
    case card::UltraLightKind::Ntag215: return QStringLiteral("NTAG215");
    case card::UltraLightKind::Ntag216: return QStringLiteral("NTAG216");
    }
    return {};
}

void CPageView::ShowImage(const card::UltraLightImage &image) {
    setRowCount(image.page_count());
    m_rowColours.clear();
    for (int page = 0; page < image.page_count(); ++page) {
        const card::PageRole role = card::RoleOfPage(image.kind, page);
        const QString tip = QStringLiteral("页 %1：%2").arg(page).arg(RoleText(role));
        const QString cells[] = {QString::number(page), HexText(image, page), AsciiText(image, page)};
        for (int column = 0; column < 3; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            item->setToolTip(tip);
            item->setBackground(ColourOf(role));
            setItem(page, column, item);
        }
        m_rowColours.push_back(ColourOf(role));
    }
}

void CPageView::ShowDifferences(const std::vector<int> &pages) {
    for (int row = 0; row < rowCount(); ++row) {
        const bool differs = std::find(pages.begin(), pages.end(), row) != pages.end();
        for (int column = 0; column < columnCount(); ++column) {
            if (QTableWidgetItem *cell = item(row, column))
                cell->setBackground(differs ? kDifferingColour : m_rowColours[static_cast<size_t>(row)]);
        }
    }
}
