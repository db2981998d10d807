#include "app/create_control.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

#include "app/access_bits.h"
#include "app/hex_text.h"
#include "app/message_service.h"
#include "app/page_controls.h"
#include "app/parvex_state.h"
#include "zelkor.h"

namespace {

// List identifiers: data rows by column (read, write, increment, decrement),
// then the trailer's four lists.
constexpr int kDataIds[4][3] = {{1076, 1077, 1078}, {1079, 1080, 1081}, {1082, 1083, 1084}, {1085, 1086, 1087}};
constexpr int kTrailerIds[4] = {1088, 1097, 1100, 1103};
constexpr int kRowLabelIds[4] = {1072, 1073, 1074, 1075};

const char *const kSmallRows[4] = {"块0:", "块1:", "块2:", "块3:"};
const char *const kLargeRows[4] = {"块0~4:", "块5~9:", "块10~14:", "块15:"};
const char *const kDataHeads[4] = {"读:", "写:", "加值:", "减值、值转移:"};

QComboBox *MakeList(QWidget *parent, int id, const access_bits::Column &column) {
    auto *list = new QComboBox(parent);
    SetControlId(list, id);
    for (int i = 0; i < column.count; ++i) list->addItem(QString::fromUtf8(column.items[i]));
    list->setCurrentIndex(-1);
    return list;
}

QString Words(const QString &a, const QString &b) { return LabelWords(a) + QLatin1Char(' ') + LabelWords(b); }

}  // namespace

CCreateControl::CCreateControl(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("控制字修改"));
    setObjectName(QStringLiteral("IDD_144"));
    setProperty("templateId", 144);

    auto *outer = new QVBoxLayout(this);

    auto *data_group = new QGroupBox(QStringLiteral("数据块访问条件"), this);
    auto *grid = new QGridLayout(data_group);
    for (int c = 0; c < 4; ++c)
        grid->addWidget(new QLabel(QString::fromUtf8(kDataHeads[c]), data_group), 0, c + 1);
    for (int r = 0; r < 3; ++r) {
        m_pRowLabel[r] = new QLabel(QString::fromUtf8(kSmallRows[r]), data_group);
        SetControlId(m_pRowLabel[r], kRowLabelIds[r]);
        grid->addWidget(m_pRowLabel[r], r + 1, 0);
        for (int c = 0; c < 4; ++c) {
            m_pData[r][c] = MakeList(data_group, kDataIds[c][r], access_bits::kDataColumns[static_cast<size_t>(c)]);
            m_pData[r][c]->setAccessibleName(Words(QString::fromUtf8(kSmallRows[r]), QString::fromUtf8(kDataHeads[c])));
            grid->addWidget(m_pData[r][c], r + 1, c + 1);
        }
    }
    outer->addWidget(data_group);

    auto *trailer_row = new QHBoxLayout;
    m_pRowLabel[3] = new QLabel(QString::fromUtf8(kSmallRows[3]), this);
    SetControlId(m_pRowLabel[3], kRowLabelIds[3]);
    trailer_row->addWidget(m_pRowLabel[3]);
    struct TrailerGroup {
        const char *title;
        int fixed_read_id;  // 0: the read column is a list
        const char *fixed_read;
    };
    const TrailerGroup groups[3] = {{"密钥A访问条件", 1089, "Never"},
                                    {"控制字访问条件", 1090, "KeyA|B"},
                                    {"密钥B访问条件", 0, nullptr}};
    for (int g = 0; g < 3; ++g) {
        auto *box = new QGroupBox(QString::fromUtf8(groups[g].title), this);
        auto *form = new QGridLayout(box);
        auto *read_head = new QLabel(QStringLiteral("读:"), box);
        auto *write_head = new QLabel(QStringLiteral("写:"), box);
        form->addWidget(read_head, 0, 0);
        form->addWidget(write_head, 1, 0);
        int write_list = 0;
        if (groups[g].fixed_read_id != 0) {
            auto *fixed = new QLabel(QString::fromUtf8(groups[g].fixed_read), box);
            SetControlId(fixed, groups[g].fixed_read_id);
            form->addWidget(fixed, 0, 1);
            write_list = g;  // key A write (0) or access-bits write (1)
        } else {
            m_pTrailer[2] = MakeList(box, kTrailerIds[2], access_bits::kTrailerColumns[2]);
            m_pTrailer[2]->setAccessibleName(Words(box->title(), read_head->text()));
            read_head->setBuddy(m_pTrailer[2]);
            form->addWidget(m_pTrailer[2], 0, 1);
            write_list = 3;
        }
        m_pTrailer[write_list] = MakeList(box, kTrailerIds[write_list],
                                          access_bits::kTrailerColumns[static_cast<size_t>(write_list)]);
        m_pTrailer[write_list]->setAccessibleName(Words(box->title(), write_head->text()));
        write_head->setBuddy(m_pTrailer[write_list]);
        form->addWidget(m_pTrailer[write_list], 1, 1);
        trailer_row->addWidget(box);
    }
    outer->addLayout(trailer_row);

    auto *word_row = new QHBoxLayout;
    auto *generate = new QPushButton(QStringLiteral("生成控制字"), this);
    SetControlId(generate, 5);
    generate->setAutoDefault(false);
    word_row->addWidget(generate);
    m_pNewCtrl = new QLineEdit(this);
    SetControlId(m_pNewCtrl, 1106);
    m_pNewCtrl->setReadOnly(true);
    m_pNewCtrl->setAccessibleName(QStringLiteral("生成的控制字"));
    new TypingLimit(m_pNewCtrl, 11, false);
    word_row->addWidget(m_pNewCtrl);
    auto *current_label = new QLabel(QStringLiteral("当前控制字:"), this);
    word_row->addWidget(current_label);
    m_pCurCtrl = new QLineEdit(this);
    SetControlId(m_pCurCtrl, 1107);
    m_pCurCtrl->setReadOnly(true);
    NameAfterLabel(m_pCurCtrl, current_label);
    word_row->addWidget(m_pCurCtrl);
    outer->addLayout(word_row);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *ok = new QPushButton(QStringLiteral("确认修改"), this);
    SetControlId(ok, 1);
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    SetControlId(cancel, 2);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    connect(generate, &QPushButton::clicked, this, &CCreateControl::OnGenerate);
    connect(ok, &QPushButton::clicked, this, &CCreateControl::accept);
    connect(cancel, &QPushButton::clicked, this, &CCreateControl::reject);
    ShowWord(nullptr);
}

void CCreateControl::SetKeyA(const unsigned char *key) { std::memcpy(m_KeyA, key, sizeof m_KeyA); }

QComboBox *CCreateControl::List(int id) const {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            if (kDataIds[c][r] == id) return m_pData[r][c];
    for (int t = 0; t < 4; ++t)
        if (kTrailerIds[t] == id) return m_pTrailer[t];
    return nullptr;
}

int CCreateControl::DoModal() {
    OnInitDialog();
    return exec();
}

void CCreateControl::ShowWord(const unsigned char *word) {
    if (word == nullptr) {
        for (auto &row : m_pData)
            for (QComboBox *list : row) list->setCurrentIndex(-1);
        for (QComboBox *list : m_pTrailer) list->setCurrentIndex(-1);
        return;
    }
    const access_bits::Numbers numbers = access_bits::DecodeAccessNumbers(word);
    for (int r = 0; r < 3; ++r) {
        const access_bits::Words &words = access_bits::DataConditions(numbers[static_cast<size_t>(r)]);
        for (int c = 0; c < 4; ++c)
            m_pData[r][c]->setCurrentIndex(
                access_bits::ItemIndex(access_bits::kDataColumns[static_cast<size_t>(c)], words[static_cast<size_t>(c)]));
    }
    const access_bits::Words &trailer = access_bits::TrailerConditions(numbers[access_bits::kTrailerRow]);
    for (int t = 0; t < 4; ++t)
        m_pTrailer[t]->setCurrentIndex(
            access_bits::ItemIndex(access_bits::kTrailerColumns[static_cast<size_t>(t)], trailer[static_cast<size_t>(t)]));
}

void CCreateControl::OnInitDialog() {
    ShowWord(nullptr);
    m_bHaveWord = false;

    // The read counts only when the library reports it good; an answer with an
    // error status must not be decoded as access bits.
    unsigned char word[4] = {};
    const int read_ok = ReadCtrlWord(m_nSector, m_KeyA, word);
    unsigned char frame[1024] = {};
    const int received = GetReaderRecvData(frame);
    if (read_ok != 1 || received <= 0) {
        ShowError(this, QStringLiteral("读取原控制字失败"), QStringLiteral("控制字读取"));
        return;
    }
    std::memcpy(m_CurWord, word, sizeof m_CurWord);
    m_bHaveWord = true;
    ShowWord(m_CurWord);

    const char *const *rows = m_nSector < 32 ? kSmallRows : kLargeRows;
    for (int r = 0; r < 4; ++r) m_pRowLabel[r]->setText(QString::fromUtf8(rows[r]));
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            m_pData[r][c]->setAccessibleName(Words(m_pRowLabel[r]->text(), QString::fromUtf8(kDataHeads[c])));
    SetProgramText(m_pCurCtrl, FormatHexBytes(m_CurWord, 4));
}

void CCreateControl::OnGenerate() {
    access_bits::Numbers numbers{};
    auto words_of = [](QComboBox *const lists[4], QByteArray texts[4]) {
        access_bits::Words words;
        for (int i = 0; i < 4; ++i) {
            texts[i] = lists[i]->currentText().toUtf8();
            words[static_cast<size_t>(i)] = std::string_view(texts[i].constData(), static_cast<size_t>(texts[i].size()));
        }
        return words;
    };
    QByteArray texts[4];
    for (int r = 0; r < 4; ++r) {
        const bool trailer = r == access_bits::kTrailerRow;
        const access_bits::Words words = words_of(trailer ? m_pTrailer : m_pData[r], texts);
        const int n = trailer ? access_bits::MatchTrailerRow(words) : access_bits::MatchDataRow(words);
        if (n < 0) {
            ShowError(this, QStringLiteral("控制字无当前组合，请查阅相关文档！"), QString::fromUtf8(kProgramName));
            return;
        }
        numbers[static_cast<size_t>(r)] = n;
    }
    const access_bits::Word word = access_bits::EncodeControlWord(numbers);
    m_strGenerated = FormatHexBytes(word.data(), 4);
    SetProgramText(m_pNewCtrl, m_strGenerated);
}

void CCreateControl::accept() {
    m_strNewCtrl = m_pNewCtrl->text();
    m_strOldCtrl = m_pCurCtrl->text();
    QDialog::accept();
}
