// The find bar under the log view: Ctrl+F opens it, Enter or F3 finds the
// next occurrence, Shift+Enter or Shift+F3 the previous one, Escape closes
// it. The search wraps around the ends of the log and ignores case.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

class CLogFindBar : public QWidget {
    Q_OBJECT
public:
    CLogFindBar(QPlainTextEdit *log, QWidget *parent);

    // Shows the bar and puts the focus into its text box, with the log's
    // selected text (a single line) as the text to find.
    void Open();
    // Selects the next (or previous) occurrence in the log after (or before)
    // its current selection; false, with a note in the bar, when there is none.
    bool FindNext();
    bool FindPrevious();

    QLineEdit *textBox() const { return m_pText; }
    QString status() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool Find(bool backward);
    void Close();

    QPlainTextEdit *m_pLog;
    QLineEdit *m_pText = nullptr;
    QLabel *m_pStatus = nullptr;
};
