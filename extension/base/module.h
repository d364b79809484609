// module.h - module-wide state shared by the parts of the extension.
#ifndef VIREO_BASE_MODULE_H
#define VIREO_BASE_MODULE_H

#include <windows.h>

// The module's instance handle: set when the module is loaded; resources
// (dialog, strings) and the registered path come from it. A program that
// links the module's code directly sets it to its own handle.
extern HINSTANCE g_hInst;

#endif  // VIREO_BASE_MODULE_H
