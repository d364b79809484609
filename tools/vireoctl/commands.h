// commands.h - what vireoctl does, apart from wmain: its command line and
// its commands, on the camera library (vireocamera.h).
#ifndef VIREOCTL_TOOL_COMMANDS_H
#define VIREOCTL_TOOL_COMMANDS_H

#include <windows.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "vireocamera.h"

namespace vireoctl {

// Exit statuses.
enum Status {
    STATUS_OK = 0,
    STATUS_REFUSED = 1,      // the camera refused a request (or a device step failed)
    STATUS_USAGE = 2,        // bad command line, a value outside the camera's range, a
                             //   profile refused: nothing (more) was written
    STATUS_NO_DEVICE = 3,    // the machine has no video input device
    STATUS_NO_IFACE = 4,     // the chosen device offers no IFace (the extension is not registered)
    STATUS_OTHER_WIDTH = 5,  // the extension is registered for the other width's programs only
    STATUS_LOCKED = 6        // set: the organization's policy locks the control at another
                             //   value: nothing (more) was written, --force or not (defaults
                             //   and load skip such a control)
};

// The control of that name (case-insensitive); 0 when there is none.
ULONG ControlByName(const std::string &name);

// A value as the page shows it: the gain factors, "28.4 msec", the shutter
// list's text, "25fps", "on"/"off"; "no selection" for a list index the page
// cannot select.
std::string Shown(ULONG id, LONG value);

// A decimal 32-bit value; false when the text is not one.
bool ParseValue(const std::wstring &text, LONG *value);

// Text in the console's code page, and in UTF-8 (JSON documents, profiles).
std::string Narrow(const std::wstring &text);
std::string Utf8(const std::wstring &text);

// The keeper's profiles: file, and what it holds.
struct KeptCamera {
    std::wstring path;
    VireoProfile profile;
    HRESULT read;
};
std::vector<KeptCamera> KeptCameras();
// A file time as local "2026-12-09 14:03:05" ("?" when it cannot be told).
std::string LocalTime(const FILETIME &utc);
// The keeper's record of its last restore of camera id: its local time and
// "done", "nothing restored" (no profile, or settings not kept) or
// "failed: 0x80070005"; empty when there is none.
std::string LastRestore(const std::wstring &id);

// The registry key that locks control id of the camera, as the message of a
// refused set names it ("HKLM\Software\Policies\Vireo\Camera\Mandatory").
std::string PolicyKeyName(VireoCamera *camera, ULONG id);

// "vireoctl --json inventory": the kit, every camera (present ones, and the
// ones the keeper keeps), the policy and the keeper, as one JSON document.
int Inventory(FILE *out, FILE *err);

// The whole program: argv as wmain gets it. pause replaces Sleep for the
// pauses of "defaults" and "load" (null: Sleep).
int Main(int argc, wchar_t **argv, FILE *out, FILE *err, VireoPauseFunction pause = NULL);

}  // namespace vireoctl

#endif  // VIREOCTL_TOOL_COMMANDS_H
