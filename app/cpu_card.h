// The CPU card page (tab "CPU").
#pragma once

#include <QWidget>

class CParvexDlg;
class QLineEdit;
class QPlainTextEdit;

class CCPUCard : public QWidget {
    Q_OBJECT
public:
    explicit CCPUCard(QWidget *parent = nullptr);
    // Back pointer to the main dialog, set before the page is shown.
    CParvexDlg *m_pParent = nullptr;

    // Button handlers.
    void OnCosActivation();
    void OnCosDeactive();
    void OnSendCommand();
    void OnExauthentication();

private:
    bool CheckPort();

    QPlainTextEdit *m_pCommand = nullptr;
    QLineEdit *m_pKey = nullptr;
    QLineEdit *m_pKeyId = nullptr;
};
