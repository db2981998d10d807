#include "parvex_app.h"

CParvexApp theApp;

CParvexApp::CParvexApp() = default;
CParvexApp::~CParvexApp() = default;
