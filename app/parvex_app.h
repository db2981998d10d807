// The application object: program-wide state shared by the main window and
// the card pages, and the start-up that wires the console capture.
#pragma once

#include <memory>

class CParvexDlg;
class ConsoleCapture;
class QByteArray;

class CParvexApp {
public:
    CParvexApp();
    ~CParvexApp();
    CParvexApp(const CParvexApp &) = delete;
    CParvexApp &operator=(const CParvexApp &) = delete;

    // Creates the Qt application, starts the console capture, runs the main
    // dialog and returns the process exit code.
    int InitInstance(int argc, char **argv);

    // Redirects standard output into the main dialog's log (needs a running
    // QApplication). False when the pipe cannot be created: the program then
    // runs without capture.
    bool StartCapture();
    // Restores standard output; text still in the pipe is delivered first.
    void StopCapture();
    ConsoleCapture *capture() const { return m_capture.get(); }

    // Card type code of the last card-information request (0 before any).
    int m_nCardType = 0;
    // True from a successful OpenReader until the port is closed again.
    bool m_bPortOpen = false;
    // The main dialog while it exists (the target of captured console text).
    CParvexDlg *m_pMainDlg = nullptr;

private:
    static void DeliverConsoleText(const QByteArray &bytes);

    std::unique_ptr<ConsoleCapture> m_capture;
};

extern CParvexApp theApp;

// Installs Qt's own Chinese texts (message-box buttons, the file dialog, the
// edit boxes' context menus) from Qt's translations directory, whatever the
// system's locale, since every other text of the program is Chinese. Needs a
// running QApplication; a second call does nothing. When the translation
// cannot be loaded a note goes to standard error and the result is false.
bool InstallQtChineseTexts();

// Caption of the application-wide message boxes: the program's name.
inline constexpr const char *kProgramName = "Parvex";
