// The access-condition editor "控制字修改": reads a sector trailer's access
// bits, shows them in words and turns new choices into a control word.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CCreateControl : public QDialog {
    Q_OBJECT
public:
    explicit CCreateControl(QWidget *parent = nullptr);

    // Set by the opener before the dialog runs.
    int m_nSector = 0;
    unsigned char m_KeyA[6] = {};
    void SetKeyA(const unsigned char *key);

    // Handed back after OK: the generated and the current control word as text.
    QString m_strNewCtrl;
    QString m_strOldCtrl;

    // Reads the trailer and shows it, then runs the dialog modally.
    int DoModal();

    // The steps of the dialog, callable on their own.
    void OnInitDialog();
    void OnGenerate();
    void accept() override;

    // The list with the given control identifier (1076..1087, 1088, 1097, 1100, 1103).
    QComboBox *List(int id) const;
    // True when the last read gave a control word.
    bool HasCurrentWord() const { return m_bHaveWord; }
    const unsigned char *CurrentWord() const { return m_CurWord; }

private:
    void ShowWord(const unsigned char *word);

    QComboBox *m_pData[3][4] = {};
    QComboBox *m_pTrailer[4] = {};
    QLabel *m_pRowLabel[4] = {};
    QLineEdit *m_pNewCtrl = nullptr;
    QLineEdit *m_pCurCtrl = nullptr;
    QString m_strGenerated;
    unsigned char m_CurWord[4] = {};
    bool m_bHaveWord = false;
};
