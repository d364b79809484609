#include "module.h"

HINSTANCE g_hInst = NULL;
