#include "app/cpu_card.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/hex_text.h"
#include "app/message_service.h"
#include "app/page_controls.h"
#include "app/parvex_state.h"
#include "zelkor.h"

namespace {

// What the library accepts: APDUs of 1 to 89 bytes, keys of 0 to 16.
constexpr int kApduMax = 89;
constexpr int kKeyMax = 16;
constexpr int kBufferSize = 128;

QPushButton *Button(QWidget *parent, int id, const QString &text) {
    auto *button = new QPushButton(text, parent);
    SetControlId(button, id);
    button->setAutoDefault(false);
    return button;
}

QLabel *Label(QWidget *parent, int id, const QString &text) {
    auto *label = new QLabel(text, parent);
    SetControlId(label, id);
    return label;
}

}  // namespace

CCPUCard::CCPUCard(CParvexState &state, QWidget *parent) : QWidget(parent), m_state(state) {
    DeclareLibraryControl(this);
    setProperty("templateId", 141);
    auto *grid = new QGridLayout(this);

    auto *activate = Button(this, 1048, QStringLiteral("COS激活"));
    auto *deactivate = Button(this, 1050, QStringLiteral("COS停活"));
    auto *session = new QHBoxLayout;
    session->addWidget(activate);
    session->addWidget(deactivate);
    session->addStretch();
    grid->addLayout(session, 0, 1, 1, 2);

    auto *command_label = Label(this, 1116, QStringLiteral("COS命令："));
    m_pCommand = new QPlainTextEdit(this);
    SetControlId(m_pCommand, 1051);
    m_pCommand->setTabChangesFocus(true);
    m_pCommand->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    NameAfterLabel(m_pCommand, command_label);
    grid->addWidget(command_label, 1, 0, Qt::AlignTop);
    grid->addWidget(m_pCommand, 1, 1, 1, 2);
    auto *send = Button(this, 1053, QStringLiteral("发送命令"));
    grid->addWidget(send, 2, 2);

    auto *key_label = Label(this, 1117, QStringLiteral("密钥："));
    m_pKey = new QLineEdit(this);
    SetControlId(m_pKey, 1055);
    NameAfterLabel(m_pKey, key_label);
    grid->addWidget(key_label, 3, 0);
    grid->addWidget(m_pKey, 3, 1, 1, 2);

    auto *id_label = Label(this, 1118, QStringLiteral("密钥标识号："));
    m_pKeyId = new QLineEdit(this);
    SetControlId(m_pKeyId, 1056);
    NameAfterLabel(m_pKeyId, id_label);
    grid->addWidget(id_label, 4, 0);
    grid->addWidget(m_pKeyId, 4, 1);
    auto *authenticate = Button(this, 1054, QStringLiteral("复合外部认证"));
    grid->addWidget(authenticate, 4, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);

    connect(activate, &QPushButton::clicked, this, &CCPUCard::OnCosActivation);
    connect(deactivate, &QPushButton::clicked, this, &CCPUCard::OnCosDeactive);
    connect(send, &QPushButton::clicked, this, &CCPUCard::OnSendCommand);
    connect(authenticate, &QPushButton::clicked, this, &CCPUCard::OnExauthentication);
}

bool CCPUCard::CheckPort() {
    return CheckPortOpen(m_state, this);
}

void CCPUCard::OnCosActivation() {
    if (CheckPort()) CosActivation();
}

void CCPUCard::OnCosDeactive() {
    if (CheckPort()) CosDeactive();
}

void CCPUCard::OnSendCommand() {
    if (!CheckPort()) return;
    unsigned char apdu[kBufferSize] = {};
    const int count = ParseHexText(this, BoxHexText(m_pCommand), apdu, kApduMax);
    if (count < 0) return;
    // An empty box gives 0, which the library refuses without sending.
    SendCosCommand(apdu, count);
}

void CCPUCard::OnExauthentication() {
    if (!CheckPort()) return;
    unsigned char key[kBufferSize] = {};
    // A refused key must not go out as an empty one.
    const int count = ParseHexText(this, m_pKey->text(), key, kKeyMax);
    if (count < 0) return;
    const int key_id = DecimalTextValue(m_pKeyId->text());
    Exauthentication(key, count, static_cast<unsigned char>(key_id & 0xFF));
}
