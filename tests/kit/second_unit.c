/* A second source file in the C sample's program: the header's identifiers
 * and tables are defined once per program, however many files include it. */
#include <windows.h>

#include "vireoctl.h"

const GUID *SecondUnitSet(void)
{
    return ShutterLabels[0] != NULL ? &CameraPropertySet : &CLSID_CameraSettingPage;
}
