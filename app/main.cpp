// Parvex: the desktop test program of the zelkor card reader library.
#include "app/parvex_app.h"

int main(int argc, char **argv) { return theApp.InitInstance(argc, argv); }
