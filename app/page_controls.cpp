#include "app/page_controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <algorithm>

#include "app/message_service.h"
#include "app/parvex_state.h"

namespace {
const char *const kLibraryControlProperty = "callsLibrary";
}  // namespace

bool CheckPortOpen(const CParvexState &state, QWidget *owner) {
    if (state.m_bPortOpen) return true;
    ShowError(owner, QStringLiteral("请先打开读卡器串口"), QStringLiteral("串口设置"));
    return false;
}

void DeclareLibraryControl(QWidget *control) { control->setProperty(kLibraryControlProperty, true); }

QList<QWidget *> DeclaredLibraryControls(QWidget *root) {
    QList<QWidget *> controls;
    if (root->property(kLibraryControlProperty).toBool()) controls << root;
    for (QWidget *child : root->findChildren<QWidget *>())
        if (child->property(kLibraryControlProperty).toBool()) controls << child;
    return controls;
}

void SetControlId(QWidget *widget, int id) {
    widget->setObjectName(QStringLiteral("IDC_%1").arg(id));
    widget->setProperty("controlId", id);
}

QString LabelWords(const QString &label_text) {
    QString words = label_text.trimmed();
    while (!words.isEmpty() && (words.endsWith(QChar(0xFF1A)) || words.endsWith(QLatin1Char(':'))))
        words.chop(1);
    return words.trimmed();
}

void NameAfterLabel(QWidget *control, QLabel *label) {
    label->setBuddy(control);
    control->setAccessibleName(LabelWords(label->text()));
}

QString BoxHexText(const QPlainTextEdit *box) {
    QString text = box->toPlainText();
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return text;
}

namespace {

qsizetype NonDigits(const QString &text) {
    qsizetype count = 0;
    for (QChar c : text)
        if (c.unicode() < '0' || c.unicode() > '9') ++count;
    return count;
}

}  // namespace

TypingLimit::TypingLimit(QLineEdit *edit, int limit, bool digits_only)
    : QValidator(edit), m_pEdit(edit), m_nLimit(limit), m_bDigitsOnly(digits_only),
      m_strLast(edit->text()) {
    edit->setValidator(this);
    if (limit >= 0) edit->setProperty("textLimit", limit);
    if (digits_only) edit->setProperty("digitsOnly", true);
    connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_strLast = text; });
}

QValidator::State TypingLimit::validate(QString &input, int &pos) const {
    if (m_bProgram) return Acceptable;
    const qsizetype room = std::max<qsizetype>(m_nLimit, m_strLast.size());
    if (m_nLimit >= 0 && input.size() > room) {
        // Keep only as much of what was just typed or pasted as fits.
        const qsizetype excess = input.size() - room;
        const qsizetype from = std::max<qsizetype>(0, pos - excess);
        input.remove(from, excess);
        pos = static_cast<int>(from);
    }
    if (m_bDigitsOnly && NonDigits(input) > NonDigits(m_strLast)) return Invalid;
    return Acceptable;
}

void TypingLimit::SetProgramText(const QString &text) {
    m_bProgram = true;
    m_pEdit->setText(text);
    m_bProgram = false;
    m_strLast = m_pEdit->text();
}

void SetProgramText(QLineEdit *edit, const QString &text) {
    if (auto *limit = qobject_cast<TypingLimit *>(const_cast<QValidator *>(edit->validator())))
        limit->SetProgramText(text);
    else
        edit->setText(text);
}
