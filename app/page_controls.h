// Helpers shared by the card pages and the access-condition editor: control
// identifiers, accessible names from labels, and text limits that bind only
// what the operator types.
#pragma once

#include <QString>
#include <QValidator>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

// Object name "IDC_<id>" and the dynamic property "controlId".
void SetControlId(QWidget *widget, int id);

// The label's words without the trailing colon ("密钥：" gives "密钥").
QString LabelWords(const QString &label_text);

// Makes `label` the buddy of `control` and names the control after it.
void NameAfterLabel(QWidget *control, QLabel *label);

// The hexadecimal text of a multi-line box, its line breaks read as blanks:
// Enter puts them in, and they separate bytes as blanks do.
QString BoxHexText(const QPlainTextEdit *box);

// Limits what the operator types into an edit: at most `limit` characters
// (-1 none; a paste keeps what fits) and, with `digits_only`, no new
// non-digit characters. Text the
// program sets with SetProgramText is never cut or refused, and the operator
// may always delete. Installs itself as the edit's validator.
class TypingLimit : public QValidator {
    Q_OBJECT
public:
    TypingLimit(QLineEdit *edit, int limit, bool digits_only);
    State validate(QString &input, int &pos) const override;
    void SetProgramText(const QString &text);

private:
    QLineEdit *m_pEdit;
    int m_nLimit;
    bool m_bDigitsOnly;
    bool m_bProgram = false;
    QString m_strLast;
};

// Sets the edit's text as the program's own output, past any typing limit.
void SetProgramText(QLineEdit *edit, const QString &text);
