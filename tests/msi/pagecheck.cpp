// pagecheck LAUNCHER: starts the "Camera Settings" launcher (any width),
// finds its property frame with the "Camera Setting" page, prints what the
// page's controls show, closes the frame with OK and exits with the
// launcher's status (10 when no page appeared). For the installer tests,
// which compare the printed values with what vireoctl reads from the camera.
//
//     FLIP 0
//     EXPOSURE 284 28.4 msec
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "resource.h"
#include "wintest.h"

namespace {

const DWORD kGuardMs = 60000;  // against a hang, not a timing check

std::string ItemText(HWND dialog, int id)
{
    char text[128] = {0};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: pagecheck LAUNCHER\n");
        return 2;
    }
    wintest::ProgramRun run;
    if (!run.Start(L"\"" + std::wstring(argv[1]) + L"\"")) {
        fprintf(stderr, "pagecheck: the launcher does not start\n");
        return 2;
    }
    wintest::WindowWithControl found = {NULL, NULL};
    wintest::WaitUntil(
        [&] {
            found = wintest::FindWindowWithControl(run.ProcessId(), IDC_FLIP);
            return found.topLevel != NULL || !run.Running();
        },
        kGuardMs);
    if (!found.topLevel) {
        fprintf(stderr, "pagecheck: no \"Camera Setting\" page appeared (launcher: %s)\n",
                run.Errors().c_str());
        return 10;
    }
    const HWND page = GetParent(found.control);
    printf("FLIP %d\n", static_cast<int>(SendDlgItemMessageW(page, IDC_FLIP, BM_GETCHECK, 0, 0)));
    printf("EXPOSURE %d %s\n",
           static_cast<int>(SendDlgItemMessageW(page, IDC_EXPOSURE_TRACKBAR, TBM_GETPOS, 0, 0)),
           ItemText(page, IDC_EXPOSURE_TEXT).c_str());
    fflush(stdout);
    PostMessageW(GetDlgItem(found.topLevel, IDOK), BM_CLICK, 0, 0);
    const int status = run.WaitExit(kGuardMs);
    if (status != 0)
        fprintf(stderr, "pagecheck: the launcher ended with %d: %s\n", status,
                run.Errors().c_str());
    return status;
}
