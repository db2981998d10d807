// What the main window and every card page share: whether the port is open,
// the port chosen, the card type of the last card-information request, and
// whether card work holds the library. The window and each page receive it
// at construction; whoever changes a value goes through its setter, and
// whoever shows it follows the signals.
#pragma once

#include <QObject>

class CParvexDlg;

class CParvexState : public QObject {
    Q_OBJECT
public:
    CParvexState() = default;
    CParvexState(const CParvexState &) = delete;
    CParvexState &operator=(const CParvexState &) = delete;

    // Card type code of the last card-information request (0 before any).
    int m_nCardType = 0;
    // True from a successful OpenReader until the port is closed again.
    bool m_bPortOpen = false;
    // The main dialog while it exists (the target of captured console text).
    CParvexDlg *m_pMainDlg = nullptr;

    int port() const { return m_nPort; }
    bool busy() const { return m_bBusy; }

    // Each setter stores the value and always announces it, so a view that
    // was built after a direct assignment still catches up.
    void SetPortOpen(bool open);
    void SetPort(int port);
    void SetCardType(int card_type);
    void SetBusy(bool busy);

signals:
    void portOpenChanged(bool open);
    void portChanged(int port);
    void cardTypeChanged(int card_type);
    // Card work holds the library (true) or let it go (false).
    void busyChanged(bool busy);

private:
    int m_nPort = 0;
    bool m_bBusy = false;
};

// The program's one state object (the application object `theApp`), for the
// main window's default construction.
CParvexState &AppState();

// Caption of the application-wide message boxes: the program's name.
inline constexpr const char *kProgramName = "Parvex";
