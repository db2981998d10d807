#include "app/whole_card_page.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

#include "card/card_dump.h"
#include "card/dump_diff.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "card/reader_card_link.h"
#include "card/safe_file.h"
#include "card/ultralight_formats.h"
#include "app/message_service.h"
#include "app/page_controls.h"
#include "app/parvex_state.h"
#include "app/ultralight_page_view.h"
#include "app/whole_card_dump_view.h"
#include "app/whole_card_sector_map.h"
#include "app/whole_card_text.h"
#include "words/file_problem_words.h"
#include "words/toolkit_words.h"

namespace card = zelkor::card;
namespace words = zelkor::words;

namespace {

const QString kCaption = QStringLiteral("整卡");
// The key the MIFARE pages offer by default: cards set up with this program
// are likely to use it.
constexpr card::Key kProgramDefaultKey = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
const QString kDumpFilter = QStringLiteral(
    "卡数据文件 (*.mct *.bin *.mfd *.json *.nfc *.eml);;MCT 文本 (*.mct);;二进制 (*.bin *.mfd);;JSON (*.json);;"
    "Flipper NFC (*.nfc);;Proxmark3 EML (*.eml);;所有文件 (*)");
const QString kSaveFilter =
    QStringLiteral("MCT 文本 (*.mct);;二进制 (*.bin *.mfd);;JSON (*.json);;Flipper NFC (*.nfc);;Proxmark3 EML (*.eml)");

// Card work goes through the session the serial panel has opened.
std::unique_ptr<card::CardLink> NewLibraryCardLink() {
    return std::make_unique<card::ReaderCardLink>(card::ReaderCardLink::SessionOpenedElsewhere{});
}

QPushButton *Button(QWidget *parent, int id, const QString &text) {
    auto *button = new QPushButton(text, parent);
    SetControlId(button, id);
    button->setAutoDefault(false);
    return button;
}

QString StageName(card::Stage stage) {
    return QString::fromStdString(zelkor::words::Text(stage, zelkor::words::Language::Chinese));
}

int KnownKeyCount(const std::vector<card::SectorKeys> &keys) {
    int count = 0;
    for (const card::SectorKeys &sector : keys) count += (sector.a ? 1 : 0) + (sector.b ? 1 : 0);
    return count;
}

QString FileName(const QString &path) { return QFileInfo(path).fileName(); }

// A file that cannot be opened goes with its path, which the message shows
// already; malformed contents with the file and the place.
QString FileErrorText(const card::FileError &error) {
    const bool access = dynamic_cast<const card::FileAccessError *>(&error) != nullptr;
    return QString::fromStdString(access ? words::FileProblemText(error.problem(), error.args(), words::Language::Chinese)
                                         : words::FileErrorText(error, words::Language::Chinese));
}

std::string LocalPath(const QString &path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

CWholeCardPage::CWholeCardPage(CParvexState &state, QWidget *parent) : QWidget(parent), m_state(state) {
    BuildLayout();
    const auto builtin = card::BuiltinKeys();
    AddDictionaryItem({QStringLiteral("内置密钥"), {builtin.begin(), builtin.end()}});
    AddDictionaryItem({QStringLiteral("程序默认密钥"), {kProgramDefaultKey}});
    connect(&m_worker, &CCardWorker::progress, this, &CWholeCardPage::OnProgress);
    connect(&m_worker, &CCardWorker::failed, this, &CWholeCardPage::OnWorkFailed);
    connect(&m_worker, &CCardWorker::finished, this, [this] {
        SetWorking(false);
        emit cardWorkFinished();
    });
}

// The worker, destroyed first, cancels a running job and waits for it.
CWholeCardPage::~CWholeCardPage() = default;

void CWholeCardPage::BuildLayout() {
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);

    auto *dictionary_label = new QLabel(QStringLiteral("密钥字典："), this);
    m_pDictionaries = new QListWidget(this);
    SetControlId(m_pDictionaries, 1201);
    NameAfterLabel(m_pDictionaries, dictionary_label);
    // Three to four lines: the list must not crowd out the dump view on a small screen.
    const int line = m_pDictionaries->fontMetrics().height();
    m_pDictionaries->setMinimumHeight(line * 3 + 8);
    m_pDictionaries->setMaximumHeight(line * 4 + 8);
    m_pAddDictionary = Button(this, 1202, QStringLiteral("添加字典"));
    m_pSearch = Button(this, 1203, QStringLiteral("搜索密钥"));
    m_pStop = Button(this, 1204, QStringLiteral("停止"));
    m_pStop->setEnabled(false);
    auto *search = new QGridLayout;
    search->addWidget(dictionary_label, 0, 0, 1, 2);
    search->addWidget(m_pDictionaries, 1, 0, 3, 1);
    search->addWidget(m_pAddDictionary, 1, 1);
    search->addWidget(m_pSearch, 2, 1);
    search->addWidget(m_pStop, 3, 1);
    search->setColumnStretch(0, 1);
    outer->addLayout(search);

    m_pProgress = new QProgressBar(this);
    SetControlId(m_pProgress, 1205);
    m_pProgress->setAccessibleName(QStringLiteral("进度"));
    m_pProgress->setRange(0, 1);
    m_pProgress->setValue(0);
    m_pProgress->setFormat(QString());
    m_pProgress->setTextVisible(true);
    outer->addWidget(m_pProgress);

    m_pSectorMap = new CSectorMap(this);
    SetControlId(m_pSectorMap, 1206);
    m_pSectorMap->SetTabPredecessor(m_pStop);
    m_pDumpView = new CDumpView(this);
    SetControlId(m_pDumpView, 1207);
    auto *middle = new QHBoxLayout;
    middle->addWidget(m_pSectorMap, 0, Qt::AlignTop);
    middle->addWidget(m_pDumpView, 1);
    m_pPageView = new CPageView(this);
    SetControlId(m_pPageView, 1215);
    m_pPageView->hide();
    middle->addWidget(m_pPageView, 1);
    outer->addLayout(middle, 1);

    m_pRead = Button(this, 1208, QStringLiteral("读整卡"));
    m_pWrite = Button(this, 1209, QStringLiteral("写整卡"));
    m_pTrailers = new QCheckBox(QStringLiteral("包括控制块"), this);
    SetControlId(m_pTrailers, 1210);
    m_pOpen = Button(this, 1211, QStringLiteral("打开文件"));
    m_pSave = Button(this, 1212, QStringLiteral("保存文件"));
    m_pCompare = Button(this, 1213, QStringLiteral("比较文件"));
    // Card buttons above file buttons: the page is no wider than the others.
    auto *buttons = new QGridLayout;
    buttons->addWidget(m_pRead, 0, 0);
    buttons->addWidget(m_pWrite, 0, 1);
    buttons->addWidget(m_pTrailers, 0, 2);
    buttons->addWidget(m_pOpen, 1, 0);
    buttons->addWidget(m_pSave, 1, 1);
    buttons->addWidget(m_pCompare, 1, 2);
    buttons->setColumnStretch(3, 1);
    outer->addLayout(buttons);

    m_pStatus = new QLabel(this);
    SetControlId(m_pStatus, 1214);
    m_pStatus->setAccessibleName(QStringLiteral("状态"));
    m_pStatus->setWordWrap(true);
    m_pStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_pStatus->setFocusPolicy(Qt::TabFocus);
    outer->addWidget(m_pStatus);

    ShowImage(card::CardImage::Blank(card::CardKind::Classic1K));
    m_image.reset();

    connect(m_pAddDictionary, &QPushButton::clicked, this, &CWholeCardPage::OnAddDictionary);
    connect(m_pSearch, &QPushButton::clicked, this, &CWholeCardPage::OnSearchKeys);
    connect(m_pStop, &QPushButton::clicked, this, &CWholeCardPage::OnStop);
    connect(m_pRead, &QPushButton::clicked, this, &CWholeCardPage::OnReadCard);
    connect(m_pWrite, &QPushButton::clicked, this, &CWholeCardPage::OnWriteCard);
    connect(m_pOpen, &QPushButton::clicked, this, &CWholeCardPage::OnOpenFile);
    connect(m_pSave, &QPushButton::clicked, this, &CWholeCardPage::OnSaveFile);
    connect(m_pCompare, &QPushButton::clicked, this, &CWholeCardPage::OnCompareFile);
    connect(m_pSectorMap, &CSectorMap::sectorClicked, m_pDumpView, &CDumpView::SelectSector);
    connect(m_pDumpView, &CDumpView::sectorSelected, m_pSectorMap, &CSectorMap::SetSelectedSector);
}

// ---- Dictionaries -----------------------------------------------------------

void CWholeCardPage::AddDictionaryItem(const Dictionary &dictionary) {
    auto *item = new QListWidgetItem(QStringLiteral("%1（%2 个密钥）").arg(dictionary.name).arg(dictionary.keys.size()),
                                     m_pDictionaries);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    m_dictionaries.push_back(dictionary);
}

void CWholeCardPage::OnAddDictionary() {
    const QString path = MessageService::Instance().OpenFileName(
        this, QStringLiteral("添加字典"), QStringLiteral("密钥字典 (*.dic *.keys *.txt);;所有文件 (*)"));
    if (path.isEmpty()) return;
    std::string text;
    try {
        text = card::ReadInputFile(LocalPath(path));
    } catch (const card::FileError &error) {
        ShowError(this, QStringLiteral("无法打开字典文件：%1\n%2").arg(QDir::toNativeSeparators(path), FileErrorText(error)),
                  QStringLiteral("添加字典"));
        return;
    }
    try {
        const std::vector<card::Key> keys = card::ParseKeyDictionary(text, FileName(path).toStdString());
        AddDictionaryItem({FileName(path), keys});
        m_pDictionaries->item(m_pDictionaries->count() - 1)->setToolTip(QDir::toNativeSeparators(path));
    } catch (const card::FileError &error) {
        ShowError(this, QStringLiteral("字典文件有错误：\n%1").arg(FileErrorText(error)), QStringLiteral("添加字典"));
    }
}

std::vector<card::Key> CWholeCardPage::DictionaryInUse() {
    std::vector<card::Key> keys;
    for (int i = 0; i < m_pDictionaries->count(); ++i) {
        if (m_pDictionaries->item(i)->checkState() != Qt::Checked) continue;
        const auto &dictionary = m_dictionaries[static_cast<size_t>(i)].keys;
        keys.insert(keys.end(), dictionary.begin(), dictionary.end());
    }
    return card::UniqueKeys(keys);
}

std::vector<card::Key> CWholeCardPage::KeysToTry() {
    std::vector<card::Key> keys;
    if (m_image) keys = card::KeysOfMap(m_image->keys);
    const std::vector<card::Key> in_use = DictionaryInUse();
    keys.insert(keys.end(), in_use.begin(), in_use.end());
    return card::UniqueKeys(keys);
}

// ---- Card work --------------------------------------------------------------

// Runs on the worker thread: the bar gets every step, the sector map the key
// map found so far whenever it grows.
card::ProgressFn CWholeCardPage::ProgressFor(const CCardWorker::ProgressSink &sink, CWholeCardPage *page) {
    return [&sink, page, shown = std::vector<card::SectorKeys>()](const card::Progress &progress) mutable {
        sink(StageName(progress.stage), progress.done, progress.total);
        if (progress.keys.empty() || std::equal(progress.keys.begin(), progress.keys.end(), shown.begin(), shown.end()))
            return;
        shown.assign(progress.keys.begin(), progress.keys.end());
        QMetaObject::invokeMethod(page, [page, keys = shown] { page->ShowKeysSoFar(keys); }, Qt::QueuedConnection);
    };
}

void CWholeCardPage::ShowKeysSoFar(const std::vector<card::SectorKeys> &keys) {
    if (m_worker.busy()) m_pSectorMap->ShowKeys(keys);
}

bool CWholeCardPage::CheckPort() {
    return CheckPortOpen(m_state, this);
}

bool CWholeCardPage::StartCardWork(CCardWorker::Job job) {
    if (!m_worker.Start(std::move(job))) return false;
    SetWorking(true);
    return true;
}

void CWholeCardPage::SetWorking(bool working) {
    // Disabling the focused stop button would pass the focus down the chain.
    const bool stop_had_focus = m_pStop->hasFocus();
    for (QWidget *control : std::initializer_list<QWidget *>{m_pAddDictionary, m_pSearch, m_pRead, m_pWrite, m_pTrailers,
                                                             m_pOpen, m_pSave, m_pCompare, m_pDictionaries})
        control->setEnabled(!working);
    m_pStop->setEnabled(working);
    m_state.SetBusy(working);
    if (working) {
        m_strStage.clear();
        m_pProgress->setRange(0, 0);
        m_pProgress->setFormat(QStringLiteral("正在寻卡"));
        ShowStatus(QString());
        // The focus may have been on a button now disabled.
        m_pStop->setFocus();
    } else {
        // How it went is told by the status line; the bar only says it ended.
        const bool stopped = m_worker.cancelled();
        m_pProgress->setRange(0, 1);
        m_pProgress->setValue(stopped ? 0 : 1);
        m_pProgress->setFormat(stopped ? QStringLiteral("已停止") : QStringLiteral("已结束"));
        if (stop_had_focus) m_pSearch->setFocus();
        ShowFamilyControls();
    }
}

void CWholeCardPage::OnProgress(const QString &stage, int done, int total) {
    if (!m_worker.busy()) return;
    if (stage != m_strStage) {
        m_strStage = stage;
        m_stageTimer.start();
    }
    const int maximum = std::max(total, 1);
    m_pProgress->setRange(0, maximum);
    m_pProgress->setValue(std::clamp(done, 0, maximum));
    QString left = QStringLiteral("剩余时间计算中");
    if (done > 0 && total >= done) {
        const qint64 remaining_ms = m_stageTimer.elapsed() * (total - done) / done;
        left = QStringLiteral("剩余约 %1 秒").arg((remaining_ms + 999) / 1000);
    }
    m_pProgress->setFormat(QStringLiteral("%1 %2/%3 %p%，%4").arg(stage).arg(done).arg(total).arg(left));
}

void CWholeCardPage::OnWorkFailed(const QString &message) {
    ShowStatus(QStringLiteral("操作失败：%1").arg(message));
    ShowError(this, QStringLiteral("操作失败：\n%1").arg(message), kCaption);
}

void CWholeCardPage::OnStop() {
    CancelCardWork();
    m_pProgress->setFormat(QStringLiteral("正在停止…"));
}

void CWholeCardPage::CancelCardWork() { m_worker.Cancel(); }

void CWholeCardPage::ShowStatus(const QString &text) { m_pStatus->setText(text); }

void CWholeCardPage::ShowNoCard(const std::optional<card::CardIdentity> &identity) {
    const QString text = identity ? QStringLiteral("读卡器上的卡片不是 S50 或 S70 卡，无法整卡操作")
                                  : QStringLiteral("读卡器上没有找到卡片");
    ShowStatus(text);
    ShowError(this, text, kCaption);
}

void CWholeCardPage::OnSearchKeys() {
    if (!CheckPort()) return;
    const std::vector<card::Key> dictionary = DictionaryInUse();
    if (dictionary.empty()) {
        ShowError(this, QStringLiteral("请至少选择一个密钥字典"), QStringLiteral("搜索密钥"));
        return;
    }
    StartCardWork([this, dictionary](const CCardWorker::ProgressSink &sink, std::stop_token stop) -> CCardWorker::Continuation {
        const std::unique_ptr<card::CardLink> link = NewLibraryCardLink();
        const std::optional<card::CardIdentity> identity = link->Identify();
        if (!identity || !identity->kind) return [this, identity] { ShowNoCard(identity); };
        const card::KeySearchResult result = card::SearchKeys(*link, *identity->kind, dictionary, ProgressFor(sink, this), stop);
        return [this, identity = *identity, result] { TakeKeys(identity, result); };
    });
}

void CWholeCardPage::TakeKeys(const card::CardIdentity &identity, const card::KeySearchResult &result) {
    // The view goes on showing this card's dump, else an empty one of it.
    if (!m_image || m_image->uid != identity.uid || m_image->kind != *identity.kind) {
        card::CardImage image = card::CardImage::Blank(*identity.kind);
        image.uid = identity.uid;
        image.atqa = identity.atqa;
        image.sak = identity.sak;
        m_image = std::move(image);
    }
    m_image->keys = result.keys;
    ShowImage(*m_image);
    QString text = QStringLiteral("找到 %1 个密钥，共 %2 个（验证 %3 次）")
                       .arg(KnownKeyCount(result.keys))
                       .arg(2 * static_cast<int>(result.keys.size()))
                       .arg(result.authentications);
    if (result.cancelled) text = QStringLiteral("已停止：") + text;
    if (result.lost) text = QStringLiteral("已停止：%1；").arg(CardLossWords(*result.lost, identity.uid)) + text;
    ShowStatus(text);
}

void CWholeCardPage::OnReadCard() {
    if (!CheckPort()) return;
    const std::vector<card::Key> dictionary = KeysToTry();
    if (dictionary.empty()) {
        ShowError(this, QStringLiteral("请至少选择一个密钥字典"), QStringLiteral("读整卡"));
        return;
    }
    StartCardWork([this, dictionary](const CCardWorker::ProgressSink &sink,
                                     std::stop_token stop) -> CCardWorker::Continuation {
        const std::unique_ptr<card::CardLink> link = NewLibraryCardLink();
        const std::optional<card::CardIdentity> identity = link->Identify();
        if (identity && identity->type_code == card::kUltraLightTypeCode)
            return ReadUltraLightOnWorker(*link, *identity, sink, stop);
        if (!identity || !identity->kind) return [this, identity] { ShowNoCard(identity); };
        // Keys found before are tried first, so each sector costs one try
        // when they still fit, and a card whose keys changed is still read.
        const card::KeySearchResult keys = card::SearchKeys(*link, *identity->kind, dictionary, ProgressFor(sink, this), stop);
        std::optional<card::Reselection> lost = keys.lost;
        card::CardImage image = card::CardImage::Blank(*identity->kind);
        if (!lost) image = card::ReadCard(*link, *identity, keys.keys, ProgressFor(sink, this), stop, &lost);
        if (lost) {
            // What was read belongs to the card the work started on; nothing of the other is kept.
            if (keys.lost) image.keys = keys.keys;
            image.uid = identity->uid;
            image.partial = true;
            const QString why = CardLossWords(*lost, identity->uid);
            return [this, image = std::move(image), why]() mutable {
                TakeDump(std::move(image), false);
                ShowStatus(QStringLiteral("已停止：%1；只保留了开始时那张卡读出的数据").arg(why));
                ShowError(this, QStringLiteral("已停止：%1。\n只保留了开始时那张卡读出的数据。").arg(why), QStringLiteral("读整卡"));
            };
        }
        return [this, image = std::move(image), cancelled = stop.stop_requested()]() mutable {
            TakeDump(std::move(image), cancelled);
        };
    });
}

void CWholeCardPage::TakeDump(card::CardImage image, bool cancelled) {
    const int known = image.KnownBlockCount();
    const int total = image.block_count();
    ShowImage(std::move(image));
    QString text = QStringLiteral("读出 %1 块，共 %2 块").arg(known).arg(total);
    if (cancelled) text = QStringLiteral("已停止：") + text;
    else if (known < total) text += QStringLiteral("（其余的块没有可用的密钥或不可读，显示为 --）");
    ShowStatus(text);
}

void CWholeCardPage::ShowImage(card::CardImage image) {
    m_ultralight.reset();
    m_image = std::move(image);
    m_pSectorMap->ShowKeys(m_image->keys);
    m_pDumpView->ShowImage(*m_image);
    ShowFamilyControls();
}

// ---- Restore ----------------------------------------------------------------

void CWholeCardPage::OnWriteCard() {
    if (!CheckPort()) return;
    if (m_ultralight) {
        ShowError(this, QStringLiteral("UltraLight 类卡片请用命令行程序 zelkor restore 写入"), QStringLiteral("写整卡"));
        return;
    }
    if (!m_image || m_image->KnownBlockCount() == 0) {
        ShowError(this, QStringLiteral("没有可写入的卡数据，请先读整卡或打开文件"), QStringLiteral("写整卡"));
        return;
    }
    const std::vector<card::Key> dictionary = KeysToTry();
    StartCardWork([this, dictionary](const CCardWorker::ProgressSink &sink,
                                     std::stop_token stop) -> CCardWorker::Continuation {
        const std::unique_ptr<card::CardLink> link = NewLibraryCardLink();
        const std::optional<card::CardIdentity> identity = link->Identify();
        if (!identity || !identity->kind) return [this, identity] { ShowNoCard(identity); };
        const card::KeySearchResult keys = card::SearchKeys(*link, *identity->kind, dictionary, ProgressFor(sink, this), stop);
        if (keys.cancelled) return [this] { ShowStatus(QStringLiteral("已停止：没有写入任何数据")); };
        std::optional<card::Reselection> lost = keys.lost;
        card::CardImage card_now = card::CardImage::Blank(*identity->kind);
        if (!lost) card_now = card::ReadCard(*link, *identity, keys.keys, ProgressFor(sink, this), stop, &lost);
        if (lost) {
            const QString text = QStringLiteral("已停止：%1；没有写入任何数据").arg(CardLossWords(*lost, identity->uid));
            return [this, text] {
                ShowStatus(text);
                ShowError(this, text, QStringLiteral("写整卡"));
            };
        }
        if (stop.stop_requested()) return [this] { ShowStatus(QStringLiteral("已停止：没有写入任何数据")); };
        return [this, card_now = std::move(card_now)] { ConfirmRestore(card_now); };
    });
}

void CWholeCardPage::ConfirmRestore(const card::CardImage &card_now) {
    const bool trailers = m_pTrailers->isChecked();
    const card::RestorePlan careful = card::PlanRestore(*m_image, card_now, {trailers, false});
    // Forcing lets through a different card number and trailers that can
    // never be changed again; the operator confirms both below.
    const card::RestorePlan forced = card::PlanRestore(*m_image, card_now, {trailers, true});
    if (OperatorConfirms(careful, forced)) {
        StartRestore(forced, card_now.uid);
    } else {
        ShowStatus(QStringLiteral("没有写入任何数据"));
    }
}

bool CWholeCardPage::OperatorConfirms(const card::RestorePlan &careful, const card::RestorePlan &forced) {
    auto &messages = MessageService::Instance();
    const QString caption = QStringLiteral("写整卡");
    if (forced.HasFatal()) {
        messages.Show(this, QStringLiteral("不能写卡：\n\n%1").arg(RestorePlanText(forced)), caption, MessageService::Icon::Error);
        return false;
    }
    if (forced.WriteCount() == 0) {
        messages.Show(this, QStringLiteral("卡上已是这些数据，不需要写入。\n\n%1").arg(RestorePlanText(forced)), caption,
                      MessageService::Icon::Information);
        return false;
    }
    if (messages.Show(this, QStringLiteral("%1\n\n确定写入卡片吗？").arg(RestorePlanText(forced)), caption,
                      MessageService::Icon::Question, QMessageBox::Yes | QMessageBox::No,
                      QMessageBox::Yes) != QMessageBox::Yes)
        return false;
    QList<int> final_trailers;
    for (const card::RestoreStep &step : careful.steps)
        if (step.fatal && step.block >= 0 && card::IsTrailer(step.block)) final_trailers << step.block;
    if (final_trailers.isEmpty()) return true;
    return messages.Show(this,
                         QStringLiteral("控制块 %1 写入后，控制字再也不能修改，这是不可撤销的。\n\n确定要写入这些控制块吗？")
                             .arg(BlockRanges(final_trailers)),
                         caption, MessageService::Icon::Warning, QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::No) == QMessageBox::Yes;
}

void CWholeCardPage::StartRestore(const card::RestorePlan &plan, const std::vector<std::uint8_t> &uid) {
    StartCardWork([this, plan, uid](const CCardWorker::ProgressSink &sink,
                                    std::stop_token stop) -> CCardWorker::Continuation {
        const std::unique_ptr<card::CardLink> link = NewLibraryCardLink();
        // The plan holds only for the card it was made for.
        const std::optional<card::CardIdentity> identity = link->Identify();
        if (!identity || identity->uid != uid)
            return [this] {
                ShowStatus(QStringLiteral("没有写入任何数据"));
                ShowError(this, QStringLiteral("卡片已经更换或离开读卡器，没有写入任何数据"), QStringLiteral("写整卡"));
            };
        const card::RestoreReport report = card::Restore(*link, plan, ProgressFor(sink, this), stop);
        return [this, report, uid] { ReportRestore(report, uid); };
    });
}

void CWholeCardPage::ReportRestore(const card::RestoreReport &report, const std::vector<std::uint8_t> &uid) {
    QString text = QStringLiteral("写入 %1 块，校验通过 %2 块，跳过 %3 块").arg(report.written).arg(report.verified).arg(report.skipped);
    if (report.cancelled) text = QStringLiteral("已停止：") + text;
    if (report.lost) {
        QList<int> written(report.written_blocks.begin(), report.written_blocks.end());
        std::sort(written.begin(), written.end());
        const QString right = QString::fromStdString(card::ToHex(uid));
        text = QStringLiteral("已停止：%1。\n").arg(CardLossWords(*report.lost, uid)) +
               (written.isEmpty() ? QStringLiteral("卡片 %1 上没有写入任何数据").arg(right)
                                  : QStringLiteral("已写入卡片 %1 的块：%2").arg(right, BlockRanges(written)));
        if (report.lost->outcome == card::Selection::OtherCard)
            text += QStringLiteral("；另一张卡（卡号 %1）上没有写入任何数据").arg(QString::fromStdString(card::ToHex(report.lost->uid)));
        text += QStringLiteral("。\n") + QStringLiteral("写入 %1 块，校验通过 %2 块，跳过 %3 块").arg(report.written).arg(report.verified).arg(report.skipped);
    }
    for (const card::BlockFailure &failure : report.failures)
        text += QStringLiteral("\n块 %1：%2").arg(failure.block).arg(ToolkitWords(failure));
    ShowStatus(text);
    MessageService::Instance().Show(this, text, QStringLiteral("写整卡"),
                                    report.ok() ? MessageService::Icon::Information : MessageService::Icon::Error);
}

// ---- Files ------------------------------------------------------------------

std::optional<card::CardImage> CWholeCardPage::ReadDumpFile(const QString &caption, QString *path,
                                                            std::optional<card::UltraLightImage> *pages) {
    *path = MessageService::Instance().OpenFileName(this, caption, kDumpFilter);
    if (path->isEmpty()) return std::nullopt;
    const std::string name = FileName(*path).toStdString();
    std::string bytes;
    try {
        bytes = card::ReadInputFile(LocalPath(*path));
    } catch (const card::FileError &error) {
        ShowError(this, QStringLiteral("无法打开文件：%1\n%2").arg(QDir::toNativeSeparators(*path), FileErrorText(error)), caption);
        return std::nullopt;
    }
    // A file whose extension names no format is known by its contents.
    std::optional<card::DumpFormat> format = card::FormatForPath(name);
    if (!format) format = card::FormatOfContents(bytes);
    if (!format) {
        ShowError(this, QStringLiteral("不支持的文件类型：%1\n请使用 .mct、.bin、.mfd、.json、.nfc 或 .eml 文件").arg(FileName(*path)),
                  caption);
        return std::nullopt;
    }
    try {
        const std::string_view contents(bytes);
        if (card::IsUltraLightDump(contents, *format)) {
            *pages = card::ParseUltraLightDump(contents, *format, name);
            return std::nullopt;
        }
        return card::ParseDump(contents, *format, name);
    } catch (const card::FileError &error) {
        ShowError(this, QStringLiteral("文件内容有错误：\n%1").arg(FileErrorText(error)), caption);
    }
    return std::nullopt;
}

void CWholeCardPage::OnOpenFile() {
    QString path;
    std::optional<card::UltraLightImage> pages;
    std::optional<card::CardImage> image = ReadDumpFile(QStringLiteral("打开文件"), &path, &pages);
    if (pages) {
        const int known = pages->KnownPageCount();
        ShowUltraLight(std::move(*pages));
        ShowStatus(QStringLiteral("已打开 %1：%2 页已知").arg(FileName(path)).arg(known));
        return;
    }
    if (!image) return;
    const int known = image->KnownBlockCount();
    ShowImage(std::move(*image));
    ShowStatus(QStringLiteral("已打开 %1：%2 块已知").arg(FileName(path)).arg(known));
}

void CWholeCardPage::OnSaveFile() {
    if (m_ultralight) {
        const QString path = MessageService::Instance().SaveFileName(this, QStringLiteral("保存文件"), kSaveFilter);
        if (!path.isEmpty()) SaveUltraLight(path);
        return;
    }
    if (!m_image) {
        ShowError(this, QStringLiteral("没有可保存的卡数据，请先读整卡或打开文件"), QStringLiteral("保存文件"));
        return;
    }
    const QString path = MessageService::Instance().SaveFileName(this, QStringLiteral("保存文件"), kSaveFilter);
    if (path.isEmpty()) return;
    const std::optional<card::DumpFormat> format = card::FormatForPath(FileName(path).toStdString());
    if (!format) {
        ShowError(this, QStringLiteral("不支持的文件类型：%1\n请使用 .mct、.bin、.mfd、.json、.nfc 或 .eml 文件").arg(FileName(path)),
                  QStringLiteral("保存文件"));
        return;
    }
    QString target = path;
    if (!ChooseTargetForIncomplete(&target, m_image->KnownBlockCount(), m_image->block_count(), m_image->partial,
                                   QStringLiteral("块")))
        return;
    try {
        card::RequireFormatHolds(target.toStdString(), *m_image, *format);
    } catch (const card::FileError &error) {
        ShowError(this, FileErrorText(error), QStringLiteral("保存文件"));
        return;
    }
    std::vector<card::FileWarning> warnings;
    const std::string contents = card::WriteDump(*m_image, *format, &warnings);
    if (!WriteSavedFile(target, contents)) return;
    QString text = QStringLiteral("已保存 %1").arg(FileName(target));
    if (!warnings.empty()) {
        QStringList lines;
        for (const card::FileWarning &warning : warnings) lines << ToolkitWords(warning);
        text += QStringLiteral("\n注意：") + lines.join(QLatin1Char('\n'));
        MessageService::Instance().Show(this, text, QStringLiteral("保存文件"), MessageService::Icon::Warning);
    }
    ShowStatus(text);
}

// Incomplete data never silently replaces an existing file: the operator
// chooses between replacing it and saving beside it as NAME.partial.EXT.
bool CWholeCardPage::ChooseTargetForIncomplete(QString *path, int known, int total, bool partial, const QString &unit) {
    const bool incomplete = partial || known < total;
    if (!incomplete || !card::OutputExists(LocalPath(*path))) return true;
    const QString beside = QString::fromStdString(card::PartialPathFor(path->toStdString()));
    const auto answer = MessageService::Instance().Show(
        this,
        QStringLiteral("当前数据不完整（%1/%2 %3已知），而 %4 已存在。\n\n"
                       "是：覆盖原文件\n否：另存为 %5，原文件保持不变")
            .arg(known)
            .arg(total)
            .arg(unit, FileName(*path), FileName(beside)),
        QStringLiteral("保存文件"), MessageService::Icon::Question,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
    if (answer == QMessageBox::Cancel) return false;
    if (answer == QMessageBox::No) *path = beside;
    return true;
}

bool CWholeCardPage::WriteSavedFile(const QString &path, std::string_view contents) {
    try {
        card::ReplaceFileContents(LocalPath(path), contents);
        return true;
    } catch (const card::FileError &error) {
        ShowError(this, QStringLiteral("无法保存文件：%1\n%2").arg(QDir::toNativeSeparators(path), FileErrorText(error)),
                  QStringLiteral("保存文件"));
    }
    return false;
}

void CWholeCardPage::OnCompareFile() {
    if (m_ultralight) {
        QString path;
        std::optional<card::UltraLightImage> pages;
        const std::optional<card::CardImage> classic = ReadDumpFile(QStringLiteral("比较文件"), &path, &pages);
        if (pages) CompareUltraLight(*pages, path);
        if (classic) ShowStatus(QStringLiteral("与 %1 比较：卡片类型不同").arg(FileName(path)));
        return;
    }
    if (!m_image) {
        ShowError(this, QStringLiteral("没有可比较的卡数据，请先读整卡或打开文件"), QStringLiteral("比较文件"));
        return;
    }
    QString path;
    std::optional<card::UltraLightImage> pages;
    const std::optional<card::CardImage> other = ReadDumpFile(QStringLiteral("比较文件"), &path, &pages);
    if (pages) ShowStatus(QStringLiteral("与 %1 比较：卡片类型不同").arg(FileName(path)));
    if (!other) return;
    // A file without a UID (.mct, .bin, .eml) differs in nothing for that.
    const bool uids_held = !m_image->uid.empty() && !other->uid.empty();
    const card::DumpDifference difference = card::DiffDumps(*m_image, *other, uids_held);
    std::vector<card::ByteMask> masks(static_cast<size_t>(m_image->block_count()), 0);
    QList<int> blocks;
    for (const card::BlockDifference &block : difference.blocks) {
        if (block.block < m_image->block_count()) masks[static_cast<size_t>(block.block)] = block.differing;
        blocks << block.block;
    }
    m_pDumpView->ShowDifferences(masks, &*other);
    QString text = difference.equal() ? QStringLiteral("与 %1 相同").arg(FileName(path))
                                      : QStringLiteral("与 %1 比较：%2 块不同").arg(FileName(path)).arg(blocks.size());
    if (!blocks.isEmpty()) text += QStringLiteral("：") + BlockRanges(blocks);
    if (difference.kinds_differ) text += QStringLiteral("；卡片容量不同");
    if (difference.uids_differ) text += QStringLiteral("；卡号不同");
    if (!uids_held && m_image->uid != other->uid) text += QStringLiteral("；卡号未比较（有一方没有卡号）");
    ShowStatus(text);
}
