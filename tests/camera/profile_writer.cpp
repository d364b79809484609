// profile_writer PATH: writes a profile of "New Camera" (A_GAIN=9) to PATH
// and ends its own process (exit code 7) between the temporary file written
// and flushed and its move into place, as a crash or a kill there would.
#include <windows.h>

#include <wchar.h>

#include "profile_internal.h"
#include "vireocamera.h"

namespace {

void WINAPI EndHere(const wchar_t *)
{
    TerminateProcess(GetCurrentProcess(), 7);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2)
        return 2;
    static VireoProfile profile;
    wcscpy(profile.device, L"New Camera");
    profile.present = 1;
    profile.values[0] = 9;
    VireoProfileWriteHook = EndHere;
    VireoProfileWrite(argv[1], &profile, NULL);
    return 1;  // the hook was not called
}
