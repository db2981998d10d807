// The application object: the program-wide state object shared by the main
// window and the card pages, and the start-up that wires the console capture.
#pragma once

#include <memory>

#include "app/parvex_state.h"

class ConsoleCapture;
class QByteArray;

class CParvexApp : public CParvexState {
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
