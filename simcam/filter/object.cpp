#include "object.h"

volatile LONG g_simObjects = 0;
volatile LONG g_simLocks = 0;
