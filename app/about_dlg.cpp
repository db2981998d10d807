#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // Reader body.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0xa8));
    p.drawRoundedRect(QRectF(s * 0.06, s * 0.38, s * 0.62, s * 0.56), s * 0.08, s * 0.08);
    // Card, tilted above the reader.
    p.save();
    p.translate(s * 0.62, s * 0.36);
    p.rotate(-18);
    p.setBrush(QColor(0xf2, 0xb1, 0x34));
    p.drawRoundedRect(QRectF(-s * 0.30, -s * 0.20, s * 0.60, s * 0.38), s * 0.05, s * 0.05);
    p.setBrush(QColor(0x8a, 0x5a, 0x00));
    p.drawRect(QRectF(-s * 0.20, -s * 0.08, s * 0.14, s * 0.11));
    p.restore();
    // Field waves.
    QPen pen(QColor(0xff, 0xff, 0xff), qMax(1.0, s / 20.0));
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const qreal r = s * (0.10 + 0.08 * i);
        p.drawArc(QRectF(s * 0.37 - r, s * 0.66 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    }
    return pixmap;
}

}  // namespace

QIcon ParvexIcon() {
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 24, 32, 48, 64, 128}) result.addPixmap(DrawIcon(size));
        return result;
    }();
    return icon;
}

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowTitle(QStringLiteral("关于 Parvex"));
    setWindowIcon(ParvexIcon());

    auto *icon = new QLabel(this);
    icon->setPixmap(ParvexIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    icon->setAccessibleName(QStringLiteral("Parvex 图标"));

    auto *version = new QLabel(QStringLiteral("Parvex，1.0 版"), this);
    version->setObjectName(QStringLiteral("IDC_STATIC_VERSION"));
    auto *about = new QLabel(QStringLiteral("非接触式读卡器串口调试工具"), this);
    about->setObjectName(QStringLiteral("IDC_STATIC_ABOUT"));

    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(about);
    texts->addStretch();

    auto *row = new QHBoxLayout;
    row->addWidget(icon);
    row->addLayout(texts, 1);
    row->addWidget(ok, 0, Qt::AlignTop);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    setMinimumWidth(320);
}
