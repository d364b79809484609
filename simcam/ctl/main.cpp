// simcamctl: drives the simulated camera's devices from the command line,
// for scripts and for tests that need another process to do it. See
// "simcamctl -h". Output is UTF-8 with LF line ends; errors are one line on
// stderr with status 2 (usage) or 1 (failure).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "simcontrol.h"

namespace {

const char kUsage[] =
    "usage: simcamctl [-d INDEX] COMMAND\n"
    "  plug            the device comes (back), at its factory values\n"
    "  unplug          the device goes\n"
    "  power-cycle     the device loses power and comes back, staying listed\n"
    "  not-ready MS    property requests fail with ERROR_NOT_READY for MS ms now\n"
    "                  and after each later plug and power cycle (0: never)\n"
    "  add NAME        a new device named NAME; prints its index\n"
    "  remove          the device leaves the table (not device 0)\n"
    "  list            INDEX<TAB>NAME<TAB>PATH<TAB>plugged|unplugged, one line a device\n"
    "  get             NAME=VALUE of each control the driver holds\n"
    "  -h              this text\n"
    "INDEX is the device's (default 0).\n";

std::string Utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    return out;
}

int Fail(int status, const std::string &message)
{
    fprintf(stderr, "simcamctl: %s\n", message.c_str());
    return status;
}

// A whole non-negative decimal number that fits in a ULONG.
bool ParseNumber(const wchar_t *text, ULONG *value)
{
    if (!text[0] || wcslen(text) > 9)
        return false;
    ULONG n = 0;
    for (const wchar_t *p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9')
            return false;
        n = n * 10 + static_cast<ULONG>(*p - L'0');
    }
    *value = n;
    return true;
}

int Outcome(HRESULT hr, const char *what)
{
    if (SUCCEEDED(hr))
        return 0;
    char text[96];
    snprintf(text, sizeof(text), "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
    return Fail(1, text);
}

int Run(int argc, wchar_t **argv)
{
    int next = 1;
    ULONG device = 0;
    bool deviceGiven = false;
    if (next < argc && wcscmp(argv[next], L"-h") == 0)
        return fputs(kUsage, stdout) < 0 ? 1 : 0;
    if (next < argc && wcscmp(argv[next], L"-d") == 0) {
        if (next + 1 >= argc || !ParseNumber(argv[next + 1], &device) ||
            device >= SIMCAM_MAX_DEVICES)
            return Fail(2, "-d needs a device index from 0 to 7");
        deviceGiven = true;
        next += 2;
    }
    if (next >= argc)
        return Fail(2, "no command (simcamctl -h for help)");
    const std::wstring command = argv[next++];
    const int operands = argc - next;
    const bool takesOperand = command == L"not-ready" || command == L"add";
    if (operands != (takesOperand ? 1 : 0))
        return Fail(2, takesOperand ? "'" + Utf8(command) + "' takes one operand"
                                    : "too many operands (simcamctl -h for help)");

    SimCamControl cam(device);
    if (!cam.IsOpen())
        return Fail(1, "the simulated camera's state cannot be opened");
    if (command == L"add") {
        if (deviceGiven)
            return Fail(2, "'add' takes no -d");
        const std::wstring name = argv[next];
        if (name.empty() || name.size() >= SIMCAM_NAME_CAPACITY)
            return Fail(2, "the name must have 1 to 63 characters");
        const int index = cam.AddDevice(name.c_str());
        if (index < 0)
            return Fail(1, "no device added (the table holds 8)");
        printf("%d\n", index);
        return 0;
    }
    if (command == L"list") {
        for (const SimCamDeviceInfo &d : cam.Devices())
            printf("%lu\t%s\t%s\t%s\n", d.index, Utf8(d.name).c_str(), Utf8(d.path).c_str(),
                   d.plugged ? "plugged" : "unplugged");
        return 0;
    }
    const bool known = command == L"plug" || command == L"unplug" || command == L"power-cycle" ||
                       command == L"not-ready" || command == L"remove" || command == L"get";
    if (!known)
        return Fail(2, "unknown command '" + Utf8(command) + "' (simcamctl -h for help)");
    if (!cam.Exists())
        return Fail(1, "no device " + std::to_string(device));
    if (command == L"plug")
        return Outcome(cam.Plug(), "plug");
    if (command == L"unplug")
        return Outcome(cam.Unplug(), "unplug");
    if (command == L"power-cycle")
        return Outcome(cam.PowerCycle(), "power-cycle");
    if (command == L"remove") {
        if (device == 0)
            return Fail(1, "device 0 cannot be removed");
        return Outcome(cam.RemoveDevice(), "remove");
    }
    if (command == L"not-ready") {
        ULONG ms = 0;
        if (!ParseNumber(argv[next], &ms))
            return Fail(2, "not-ready needs milliseconds (a whole number)");
        cam.SetNotReady(ms);
        return 0;
    }
    for (ULONG id : CameraControlIds)
        printf("%s=%ld\n", CameraControlName(id), static_cast<long>(cam.Value(id)));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as documented
    _setmode(_fileno(stderr), _O_BINARY);
    const int status = Run(argc, argv);
    return fflush(stdout) == 0 ? status : 1;
}
