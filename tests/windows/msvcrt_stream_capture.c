/* Python on Windows runs on the UCRT, while zelkor.dll writes its trace
 * through msvcrt.dll. Linked against the UCRT as python.exe is, this program
 * takes the DLL's trace the way the Python package does (zelkor/trace.py:
 * msvcrt's stdout stream pointed at a new msvcrt descriptor on a pipe) and
 * checks that the trace arrives in the pipe, that its own standard output
 * is not disturbed, and that the pipe ends when the stream is given back. */
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

/* msvcrt.dll's FILE (the layout zelkor/trace.py declares as _LegacyFile). */
struct legacy_file {
    char *ptr;
    int cnt;
    char *base;
    int flag;
    int file;
    int charbuf;
    int bufsiz;
    char *tmpfname;
};

typedef int (*open_osfhandle_fn)(intptr_t, int);
typedef int (*close_fn)(int);
typedef int (*fflush_fn)(void *);
typedef struct legacy_file *(*iob_fn)(void);
typedef int (*command_fn)(void);

static int fail(const char *what) {
    printf("FAILED: %s\n", what);
    return 1;
}

int main(void) {
    HMODULE dll = LoadLibraryA("zelkor.dll");
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    if (dll == NULL || crt == NULL) return fail("zelkor.dll or msvcrt.dll not loaded");
    command_fn find_card = (command_fn)(void (*)(void))GetProcAddress(dll, "FindCard");
    open_osfhandle_fn crt_open = (open_osfhandle_fn)(void (*)(void))GetProcAddress(crt, "_open_osfhandle");
    close_fn crt_close = (close_fn)(void (*)(void))GetProcAddress(crt, "_close");
    fflush_fn crt_fflush = (fflush_fn)(void (*)(void))GetProcAddress(crt, "fflush");
    iob_fn iob = (iob_fn)(void (*)(void))GetProcAddress(crt, "__iob_func");
    if (!find_card || !crt_open || !crt_close || !crt_fflush || !iob) return fail("missing entry points");

    HANDLE read_handle, write_handle;
    if (!CreatePipe(&read_handle, &write_handle, NULL, 0)) return fail("CreatePipe");
    int read_end = _open_osfhandle((intptr_t)read_handle, _O_RDONLY | _O_BINARY);
    struct legacy_file *out = &iob()[1];
    crt_fflush(NULL);
    int pipe_fd = crt_open((intptr_t)write_handle, _O_WRONLY | _O_BINARY);
    int previous = out->file;
    out->file = pipe_fd;

    find_card(); /* no session: fails, but traces the frame it would send */
    printf("own output during the capture\n");
    fflush(stdout);

    crt_fflush(NULL);
    out->file = previous;
    crt_close(pipe_fd);

    char trace[512];
    int length = 0, n;
    while ((n = _read(read_end, trace + length, (unsigned)(sizeof trace - 1 - length))) > 0) length += n;
    trace[length] = '\0';
    /* "发送数据：" in GBK, then the FindCard frame. */
    static const char expected[] = "\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xA3\xBA" "55 55 00 00 00 04 02 01 26 21 \n";
    if (previous != 1) return fail("msvcrt's stdout did not write to fd 1");
    if (n != 0) return fail("the pipe did not end when the stream was given back");
    if (strcmp(trace, expected) != 0) return fail("the pipe did not receive exactly the trace");
    printf("msvcrt stream capture: ok\n");
    return 0;
}
