// The whole-card page with a card of the UltraLight family: its pages read
// and shown, saved, opened and compared. Key search, the sector map and
// writing the card do not apply and are greyed out while such a card is shown.
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "app/message_service.h"
#include "app/ultralight_page_view.h"
#include "app/whole_card_dump_view.h"
#include "app/whole_card_text.h"
#include "app/whole_card_page.h"
#include "app/whole_card_sector_map.h"

namespace card = zelkor::card;

CCardWorker::Continuation CWholeCardPage::ReadUltraLightOnWorker(card::CardLink &link, const card::CardIdentity &identity,
                                                                 const CCardWorker::ProgressSink &sink, std::stop_token stop) {
    std::optional<card::UltraLightRead> read = card::ReadUltraLight(link, identity, ProgressFor(sink, this), stop);
    if (!read) return [this] { ShowStatus(QStringLiteral("卡片不回答第 0 页的读取")); };
    return [this, read = std::move(*read)] { TakeUltraLight(read); };
}

void CWholeCardPage::TakeUltraLight(const card::UltraLightRead &read) {
    QString text = QStringLiteral("%1：读出 %2 页，共 %3 页")
                       .arg(CPageView::KindText(read.image.kind))
                       .arg(read.image.KnownPageCount())
                       .arg(read.image.page_count());
    if (read.refused_pages)
        text += QStringLiteral("（页 %1 起受密码保护，不可读）").arg(read.readable_pages);
    if (!read.kind_certain) text += QStringLiteral("；无法确定卡片容量，可读 %1 页").arg(read.readable_pages);
    if (read.cancelled) text = QStringLiteral("已停止：") + text;
    if (read.lost) text += QStringLiteral("；已停止：%1").arg(CardLossWords(*read.lost, read.image.uid));
    ShowUltraLight(read.image);
    ShowStatus(text);
}

void CWholeCardPage::ShowUltraLight(card::UltraLightImage image) {
    m_image.reset();
    m_ultralight = std::move(image);
    m_pPageView->ShowImage(*m_ultralight);
    m_pSectorMap->ShowKeys({});
    ShowFamilyControls();
}

void CWholeCardPage::ShowFamilyControls() {
    const bool pages = m_ultralight.has_value();
    m_pDumpView->setVisible(!pages);
    m_pPageView->setVisible(pages);
    if (m_worker.busy()) return;
    for (QWidget *control : std::initializer_list<QWidget *>{m_pSearch, m_pSectorMap, m_pWrite, m_pTrailers})
        control->setEnabled(!pages);
}

void CWholeCardPage::SaveUltraLight(const QString &path) {
    const QString caption = QStringLiteral("保存文件");
    const std::optional<card::DumpFormat> format = card::FormatForPath(QFileInfo(path).fileName().toStdString());
    if (!format || !card::FormatHoldsUltraLight(*format)) {
        ShowError(this, QStringLiteral("不支持的文件类型：%1\nUltraLight 类卡片请使用 .nfc、.json、.bin 或 .mfd 文件")
                            .arg(QFileInfo(path).fileName()),
                  caption);
        return;
    }
    QString target = path;
    if (!ChooseTargetForIncomplete(&target, m_ultralight->KnownPageCount(), m_ultralight->page_count(),
                                   m_ultralight->partial, QStringLiteral("页")))
        return;
    std::vector<card::UltraLightFileNote> notes;
    const std::string contents = card::WriteUltraLightDump(*m_ultralight, *format, &notes);
    if (!WriteSavedFile(target, contents)) return;
    QString text = QStringLiteral("已保存 %1").arg(QFileInfo(target).fileName());
    if (!notes.empty()) {
        QStringList lines;
        for (const card::UltraLightFileNote &note : notes) lines << ToolkitWords(note);
        text += QStringLiteral("\n注意：") + lines.join(QLatin1Char('\n'));
        MessageService::Instance().Show(this, text, caption, MessageService::Icon::Warning);
    }
    ShowStatus(text);
}

void CWholeCardPage::CompareUltraLight(const card::UltraLightImage &other, const QString &path) {
    const card::UltraLightDifference difference = card::DiffUltraLight(*m_ultralight, other);
    std::vector<int> pages;
    QStringList numbers;
    for (const card::PageDifference &page : difference.pages) {
        pages.push_back(page.page);
        numbers << QString::number(page.page);
    }
    m_pPageView->ShowDifferences(pages);
    const QString name = QFileInfo(path).fileName();
    QString text = difference.equal() ? QStringLiteral("与 %1 相同").arg(name)
                                      : QStringLiteral("与 %1 比较：%2 页不同").arg(name).arg(pages.size());
    if (!numbers.isEmpty()) text += QStringLiteral("：") + numbers.join(QStringLiteral("、"));
    if (difference.kinds_differ) text += QStringLiteral("；卡片类型不同");
    if (difference.uids_differ) text += QStringLiteral("；卡号不同");
    ShowStatus(text);
}
