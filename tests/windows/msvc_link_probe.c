/* A program as Visual C++ builds it: compiled for the MSVC target and linked
 * by lld-link against zelkor.lib alone, without any C runtime. It opens the
 * simulated reader behind its COM port, finds the card and exits 0. */
#include <zelkor.h>

#define PROBE_PORT 24

__declspec(dllimport) void *__stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void *file, const void *data, unsigned long size,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

static void Say(const char *text) {
    unsigned long length = 0, written = 0;
    while (text[length] != '\0') ++length;
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

void start(void) {
    int ok = OpenReader(PROBE_PORT, 9600, 8, 0, 0) == 1 && FindCard() == 1 && CloseReader() == 1;
    Say(ok ? "msvc probe: opened, found the card, closed\n" : "msvc probe: a call failed\n");
    ExitProcess(ok ? 0 : 1);
}
