// The MIFARE Classic page (tabs "S50" and "S70").
#pragma once

#include <QWidget>

#include <functional>

class CParvexState;
class CCreateControl;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

class CMifareCard : public QWidget {
    Q_OBJECT
public:
    // The page waits, disabled as a whole, while card work elsewhere holds the library.
    explicit CMifareCard(CParvexState &state, QWidget *parent = nullptr);
    // The window the page works for, set before the page is shown.
    QWidget *m_pParent = nullptr;

    // Remembered choices: addressing mode (-1 none, 0 absolute, 1 relative),
    // sector and block (-1 none), and the sector whose trailer is changed.
    int m_nMode = -1;
    int m_nSector = -1;
    int m_nBlock = -1;
    int m_nCtrlSector = -1;

    // Runs the access-condition editor and returns its result (QDialog::Accepted
    // or Rejected); by default its own modal loop. Tests may replace it.
    std::function<int(CCreateControl &)> m_fnRunEditor;

    // Control handlers.
    void OnModeChange();
    void OnSectorChange();
    void OnBlockChange();
    void OnBlockTextChange();
    void OnCtrlSectorChange();
    void OnCheckKey();
    void OnComposeRead();
    void OnComposeWrite();
    void OnReadBlock();
    void OnWriteBlock();
    void OnWalletInit();
    void OnReadWallet();
    void OnWalletAdd();
    void OnWalletDec();
    void OnModifyKey();
    void OnModifyControl();
    void OnSendCommand();

signals:
    // The operator chose an item of list `controlId` (also the one already
    // shown) and the page has taken the choice in.
    void choiceTaken(int controlId);

private:
    CParvexState &m_state;
    QGroupBox *BuildBlockGroup();
    QGroupBox *BuildWalletGroup();
    QGroupBox *BuildTrailerGroup();
    QGroupBox *BuildCommandGroup();

    enum class KeyOp { kCheck, kRead, kWrite };
    enum class WalletOp { kInit, kAdd, kDec };

    bool CheckPort();
    bool CheckAddress();
    bool ReadKey(QLineEdit *box, unsigned char *key);
    bool ReadData(unsigned char *block);
    int SelectedKeyType() const;
    void KeyOperation(KeyOp op);
    void BlockOperation(bool write);
    void WalletChange(WalletOp op);

    QComboBox *m_pMode = nullptr;
    QComboBox *m_pSector = nullptr;
    QComboBox *m_pBlock = nullptr;
    QLineEdit *m_pBlockNumber = nullptr;
    QRadioButton *m_pKeyA = nullptr;
    QRadioButton *m_pKeyB = nullptr;
    QLineEdit *m_pKey = nullptr;
    QLineEdit *m_pData = nullptr;
    QLineEdit *m_pAmount = nullptr;
    QComboBox *m_pCtrlSector = nullptr;
    QLineEdit *m_pOldKeyA = nullptr;
    QLineEdit *m_pOldKeyB = nullptr;
    QLineEdit *m_pNewKeyA = nullptr;
    QLineEdit *m_pNewKeyB = nullptr;
    QPlainTextEdit *m_pCommand = nullptr;
};
