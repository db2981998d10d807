// Parvex: the desktop test program of the zelkor card reader library.
#include "parvex_app.h"

int main(int argc, char **argv) { return theApp.InitInstance(argc, argv); }
