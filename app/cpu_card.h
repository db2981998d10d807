// The CPU card page (tab "CPU").
#pragma once

#include <QWidget>

class CParvexState;
class QLineEdit;
class QPlainTextEdit;

class CCPUCard : public QWidget {
    Q_OBJECT
public:
    // The page waits, disabled as a whole, while card work elsewhere holds the library.
    explicit CCPUCard(CParvexState &state, QWidget *parent = nullptr);
    // The window the page works for, set before the page is shown.
    QWidget *m_pParent = nullptr;

    // Button handlers.
    void OnCosActivation();
    void OnCosDeactive();
    void OnSendCommand();
    void OnExauthentication();

private:
    CParvexState &m_state;
    bool CheckPort();

    QPlainTextEdit *m_pCommand = nullptr;
    QLineEdit *m_pKey = nullptr;
    QLineEdit *m_pKeyId = nullptr;
};
