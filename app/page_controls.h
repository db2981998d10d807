// Helpers shared by the card pages and the access-condition editor: control
// identifiers, accessible names from labels, the port check, the controls
// that reach the library, and text limits that bind only what the operator
// types.
#pragma once

#include <QList>
#include <QString>
#include <QValidator>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QWidget;
class CParvexState;

// Object name "IDC_<id>" and the dynamic property "controlId".
void SetControlId(QWidget *widget, int id);

// True when the port is open; otherwise tells the operator to open it first.
bool CheckPortOpen(const CParvexState &state, QWidget *owner);

// Declares a control (or a whole page) that calls the library: it waits,
// disabled, while card work holds the library.
void DeclareLibraryControl(QWidget *control);
// The declared controls in `root`'s tree, `root` included.
QList<QWidget *> DeclaredLibraryControls(QWidget *root);

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
