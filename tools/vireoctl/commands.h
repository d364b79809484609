// commands.h - what vireoctl does, apart from its command line: finding the
// video input devices, opening IFace on one, and the commands on it.
#ifndef VIREOCTL_TOOL_COMMANDS_H
#define VIREOCTL_TOOL_COMMANDS_H

#include <windows.h>
#include <stdio.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "vireoctl.h"

namespace vireoctl {

// Exit statuses.
enum Status {
    STATUS_OK = 0,
    STATUS_REFUSED = 1,    // the camera refused a request (or a device step failed)
    STATUS_USAGE = 2,      // bad command line: nothing was sent
    STATUS_NO_DEVICE = 3,  // the machine has no video input device
    STATUS_NO_IFACE = 4    // the chosen device offers no IFace
};

// The control of that name (case-insensitive); 0 when there is none.
ULONG ControlByName(const std::string &name);

// A value as the page shows it: the gain factors, "28.4 msec", the shutter
// list's text, "25fps", "on"/"off"; "no selection" for a list index the page
// cannot select.
std::string Shown(ULONG id, LONG value);

// A decimal 32-bit value; false when the text is not one.
bool ParseValue(const std::wstring &text, LONG *value);

// The video input devices, in the system device enumerator's order.
struct Device {
    std::wstring name;
    Microsoft::WRL::ComPtr<IMoniker> moniker;
};
std::vector<Device> EnumerateDevices();  // COM initialised by the caller

// Binds a device's filter and asks it for IFace.
HRESULT OpenFace(IMoniker *moniker, IFace **face);

// Text in the console's code page.
std::string Narrow(const std::wstring &text);

// The commands on an opened IFace; each returns its exit status and reports
// each refused request on err.
typedef void(WINAPI *PauseFunction)(DWORD milliseconds);
int Info(IFace *face, FILE *out, FILE *err);
int Get(IFace *face, ULONG id, FILE *out, FILE *err);
int Set(IFace *face, ULONG id, LONG value, FILE *out, FILE *err);
// What the setting page's Default button sends: every control's SET_ENABLE
// with its factory default, then every control's SET_DATA of that default,
// in the button's order, pausing 10 ms after A_GAIN, D_GAIN and AEC.
int Defaults(IFace *face, FILE *out, FILE *err, PauseFunction pause = Sleep);

// The whole program: argv as wmain gets it.
int Main(int argc, wchar_t **argv, FILE *out, FILE *err);

}  // namespace vireoctl

#endif  // VIREOCTL_TOOL_COMMANDS_H
