// Loads zelkor.dll at run time, opens the port given as first argument and
// leaves with the session still open: by ending the process ("exit") or by
// unloading the DLL first ("unload"), as programs that load it on demand do.
#include <cstdlib>
#include <cstring>

#include <windows.h>

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    HMODULE library = ::LoadLibraryA("zelkor.dll");
    if (library == nullptr) return 3;
    using OpenFunction = int (*)(int, int, int, int, int);
    const auto open_reader = reinterpret_cast<OpenFunction>(
        reinterpret_cast<void *>(::GetProcAddress(library, "OpenReader")));
    if (open_reader == nullptr || open_reader(std::atoi(argv[1]), 9600, 8, 0, 0) != 1) return 4;
    if (std::strcmp(argv[2], "unload") == 0) ::FreeLibrary(library);
    return 0;
}
