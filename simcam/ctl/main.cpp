// simcamctl: drives the simulated camera's devices from the command line,
// for scripts and for tests that need another process to do it, through
// the simulated camera's library (vireosim.h). See "simcamctl -h". Output
// is UTF-8 with LF line ends; errors are one line on stderr with status 2
// (usage) or 1 (failure).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "vireosim.h"

namespace {

const char kUsage[] =
    "usage: simcamctl [-d INDEX] COMMAND\n"
    "  plug            the device comes (back), at its factory values\n"
    "  unplug          the device goes\n"
    "  power-cycle     the device loses power and comes back, staying listed\n"
    "  not-ready MS    property requests fail with ERROR_NOT_READY for MS ms now\n"
    "                  and after each later plug and power cycle (0: never)\n"
    "  busy on|off     another application captures from the device (or no more)\n"
    "  reset           the device at its factory state: plugged, ready, not busy,\n"
    "                  factory values, no refusals, an empty log\n"
    "  add NAME        a new device named NAME; prints its index\n"
    "  remove          the device leaves the table (not device 0)\n"
    "  list            INDEX<TAB>NAME<TAB>PATH<TAB>plugged|unplugged, one line a device\n"
    "  get             NAME=VALUE of each control the driver holds\n"
    "  set NAME=VALUE...  the values the driver holds from now on\n"
    "  refuse CONTROL KIND RESULT [COUNT]\n"
    "                  the driver refuses the requests of CONTROL (a name, or any)\n"
    "                  of KIND (GET_ENABLE, SET_DATA, GET_DATA, SET_ENABLE, or any)\n"
    "                  with RESULT (a failure code, 0x80070005 say) COUNT times\n"
    "                  (default 1; -1: every time, until reset)\n"
    "  log             KIND CONTROL[=VALUE] RESULT of each request that reached the\n"
    "                  driver, oldest first\n"
    "  -h              this text\n"
    "INDEX is the device's (default 0).\n";

const char *const kKinds[] = {"GET_ENABLE", "SET_DATA", "GET_DATA", "SET_ENABLE"};

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

std::string Hex(HRESULT hr)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

int Outcome(HRESULT hr, const char *what)
{
    if (SUCCEEDED(hr))
        return 0;
    return Fail(1, std::string(what) + " failed: " + VireoSimMessage(hr) + " (" + Hex(hr) + ")");
}

// A whole decimal number, optionally negative, that fits in a LONG.
bool ParseLong(const wchar_t *text, LONG *value)
{
    const bool negative = text[0] == L'-';
    const wchar_t *digits = text + (negative ? 1 : 0);
    if (!digits[0] || wcslen(digits) > 10)
        return false;
    long long n = 0;
    for (const wchar_t *p = digits; *p; ++p) {
        if (*p < L'0' || *p > L'9')
            return false;
        n = n * 10 + (*p - L'0');
    }
    n = negative ? -n : n;
    if (n < -2147483648LL || n > 2147483647LL)
        return false;
    *value = static_cast<LONG>(n);
    return true;
}

// A failure code, written in hexadecimal: 0x80070005.
bool ParseResult(const wchar_t *text, HRESULT *result)
{
    if (wcsncmp(text, L"0x", 2) != 0 || !text[2] || wcslen(text) > 10)
        return false;
    ULONG n = 0;
    for (const wchar_t *p = text + 2; *p; ++p) {
        const wchar_t c = static_cast<wchar_t>(towlower(*p));
        if (!iswxdigit(c))
            return false;
        n = n * 16 + static_cast<ULONG>(c <= L'9' ? c - L'0' : c - L'a' + 10);
    }
    *result = static_cast<HRESULT>(n);
    return FAILED(*result);
}

// A control by its name (any case), or "any" where allowed.
bool ParseControl(const std::wstring &text, bool anyAllowed, ULONG *id)
{
    if (anyAllowed && _wcsicmp(text.c_str(), L"any") == 0) {
        *id = VIREO_SIM_ANY;
        return true;
    }
    for (ULONG known : CameraControlIds) {
        if (_stricmp(Utf8(text).c_str(), CameraControlName(known)) == 0) {
            *id = known;
            return true;
        }
    }
    return false;
}

bool ParseKind(const wchar_t *text, ULONG *kind)
{
    if (_wcsicmp(text, L"any") == 0) {
        *kind = VIREO_SIM_ANY;
        return true;
    }
    const std::string name = Utf8(text);
    for (ULONG k = 0; k < ARRAYSIZE(kKinds); ++k) {
        if (_stricmp(name.c_str(), kKinds[k]) == 0) {
            *kind = k;
            return true;
        }
    }
    return false;
}

// The operands of a command, and the device it addresses (null for the
// commands of the whole table).
struct Call {
    VireoSim *sim;
    unsigned device;
    wchar_t **operands;
    int count;
};

int NotReady(const Call &c)
{
    LONG ms = 0;
    if (!ParseLong(c.operands[0], &ms) || ms < 0)
        return Fail(2, "not-ready needs milliseconds (a whole number)");
    return Outcome(VireoSimSetNotReady(c.sim, static_cast<unsigned long>(ms)), "not-ready");
}

int Busy(const Call &c)
{
    const bool on = wcscmp(c.operands[0], L"on") == 0;
    if (!on && wcscmp(c.operands[0], L"off") != 0)
        return Fail(2, "busy takes on or off");
    return Outcome(VireoSimSetBusy(c.sim, on ? 1 : 0), "busy");
}

int Remove(const Call &c)
{
    if (c.device == 0)
        return Fail(1, "device 0 cannot be removed");
    return Outcome(VireoSimRemove(c.sim), "remove");
}

int Add(const Call &c)
{
    const size_t length = wcslen(c.operands[0]);
    if (length == 0 || length >= VIREO_SIM_NAME_CAPACITY)
        return Fail(2, "the name must have 1 to 63 characters");
    VireoSim *added = NULL;
    const HRESULT hr = VireoSimAdd(c.operands[0], &added);
    if (hr == VIREO_SIM_E_TABLE_FULL)
        return Fail(1, "no device added (the table holds 8)");
    if (FAILED(hr))
        return Outcome(hr, "add");
    printf("%u\n", VireoSimIndex(added));
    VireoSimClose(added);
    return 0;
}

int List(const Call &)
{
    for (unsigned i = 0; i < VIREO_SIM_MAX_DEVICES; ++i) {
        VireoSimDeviceInfo d;
        const HRESULT hr = VireoSimDescribe(i, &d);
        if (hr == VIREO_SIM_E_NO_SUCH_DEVICE)
            continue;
        if (FAILED(hr))
            return Outcome(hr, "list");
        printf("%u\t%s\t%s\t%s\n", d.index, Utf8(d.name).c_str(), Utf8(d.path).c_str(),
               d.plugged ? "plugged" : "unplugged");
    }
    return 0;
}

int Get(const Call &c)
{
    for (ULONG id : CameraControlIds) {
        LONG value = 0;
        const HRESULT hr = VireoSimGetValue(c.sim, id, &value);
        if (FAILED(hr))
            return Outcome(hr, "get");
        printf("%s=%ld\n", CameraControlName(id), static_cast<long>(value));
    }
    return 0;
}

// Every NAME=VALUE is checked before the first is set.
int Set(const Call &c)
{
    ULONG ids[CAMERA_CONTROL_COUNT];
    LONG values[CAMERA_CONTROL_COUNT];
    if (c.count > CAMERA_CONTROL_COUNT)
        return Fail(2, "set takes at most 15 NAME=VALUE");
    for (int i = 0; i < c.count; ++i) {
        const std::wstring operand = c.operands[i];
        const size_t equals = operand.find(L'=');
        if (equals == std::wstring::npos ||
            !ParseControl(operand.substr(0, equals), false, &ids[i]) ||
            !ParseLong(operand.c_str() + equals + 1, &values[i]))
            return Fail(2, "set needs NAME=VALUE with a control's name and a whole number, not '" +
                               Utf8(operand) + "'");
    }
    for (int i = 0; i < c.count; ++i)
        if (const int status = Outcome(VireoSimSetValue(c.sim, ids[i], values[i]), "set"))
            return status;
    return 0;
}

int Refuse(const Call &c)
{
    ULONG id = 0, kind = 0;
    HRESULT result = S_OK;
    LONG count = 1;
    if (!ParseControl(c.operands[0], true, &id))
        return Fail(2, "refuse needs a control's name or any, not '" + Utf8(c.operands[0]) + "'");
    if (!ParseKind(c.operands[1], &kind))
        return Fail(2, "refuse needs a kind (GET_ENABLE, SET_DATA, GET_DATA, SET_ENABLE or any)");
    if (!ParseResult(c.operands[2], &result))
        return Fail(2, "refuse needs a failure code such as 0x80070005");
    if (c.count > 3 && (!ParseLong(c.operands[3], &count) || count == 0 || count < -1))
        return Fail(2, "refuse needs a count above 0, or -1 for every time");
    return Outcome(VireoSimRefuse(c.sim, id, kind, result, count), "refuse");
}

std::string Describe(const VireoSimRequest &r)
{
    std::string text;
    if (r.property == VALUE10H || r.property == VALUE20H) {
        const char *name = CameraControlName(r.controlId);
        text = std::string(r.kind < ARRAYSIZE(kKinds) ? kKinds[r.kind] : "?") + " " +
               (name ? name : std::to_string(r.controlId));
        if (r.isSet)
            text += "=" + std::to_string(r.value);
    } else {
        text = std::string(r.isSet ? "SET" : "GET") + " property " + std::to_string(r.property);
    }
    return text + " " + Hex(r.result);
}

int Log(const Call &c)
{
    VireoSimRequest requests[64];
    for (LONG next = 0;;) {
        unsigned read = 0;
        const HRESULT hr = VireoSimReadLog(c.sim, next, requests, ARRAYSIZE(requests), &read);
        if (FAILED(hr))
            return Outcome(hr, "log");
        for (unsigned i = 0; i < read; ++i)
            printf("%s\n", Describe(requests[i]).c_str());
        if (read < ARRAYSIZE(requests))
            return 0;
        next += static_cast<LONG>(read);
    }
}

struct Command {
    const wchar_t *name;
    int minOperands, maxOperands;
    bool onDevice;  // opens the device of -d
    int (*run)(const Call &);
};

const Command kCommands[] = {
    {L"plug", 0, 0, true, [](const Call &c) { return Outcome(VireoSimPlug(c.sim), "plug"); }},
    {L"unplug", 0, 0, true, [](const Call &c) { return Outcome(VireoSimUnplug(c.sim), "unplug"); }},
    {L"power-cycle", 0, 0, true,
     [](const Call &c) { return Outcome(VireoSimPowerCycle(c.sim), "power-cycle"); }},
    {L"not-ready", 1, 1, true, NotReady},
    {L"busy", 1, 1, true, Busy},
    {L"reset", 0, 0, true, [](const Call &c) { return Outcome(VireoSimReset(c.sim), "reset"); }},
    {L"add", 1, 1, false, Add},
    {L"remove", 0, 0, true, Remove},
    {L"list", 0, 0, false, List},
    {L"get", 0, 0, true, Get},
    {L"set", 1, CAMERA_CONTROL_COUNT, true, Set},
    {L"refuse", 3, 4, true, Refuse},
    {L"log", 0, 0, true, Log},
};

// The command on its device: opened first where it addresses one.
int RunCommand(const Command &command, unsigned device, bool deviceGiven, const Call &operands)
{
    if (!command.onDevice && deviceGiven)
        return Fail(2, "'" + Utf8(command.name) + "' takes no -d");
    Call call = operands;
    call.device = device;
    if (command.onDevice) {
        const HRESULT hr = VireoSimOpen(device, &call.sim);
        if (hr == VIREO_SIM_E_NO_SUCH_DEVICE)
            return Fail(1, "no device " + std::to_string(device));
        if (FAILED(hr))
            return Fail(1, std::string(VireoSimMessage(hr)) + " (" + Hex(hr) + ")");
    }
    const int status = command.run(call);
    VireoSimClose(call.sim);
    return status;
}

int Run(int argc, wchar_t **argv)
{
    int next = 1;
    unsigned device = 0;
    bool deviceGiven = false;
    if (next < argc && wcscmp(argv[next], L"-h") == 0)
        return fputs(kUsage, stdout) < 0 ? 1 : 0;
    if (next < argc && wcscmp(argv[next], L"-d") == 0) {
        LONG index = -1;
        if (next + 1 >= argc || !ParseLong(argv[next + 1], &index) || index < 0 ||
            index >= VIREO_SIM_MAX_DEVICES)
            return Fail(2, "-d needs a device index from 0 to 7");
        device = static_cast<unsigned>(index);
        deviceGiven = true;
        next += 2;
    }
    if (next >= argc)
        return Fail(2, "no command (simcamctl -h for help)");
    const std::wstring name = argv[next++];
    const Call operands = {NULL, 0, argv + next, argc - next};
    for (const Command &command : kCommands) {
        if (name != command.name)
            continue;
        if (operands.count < command.minOperands || operands.count > command.maxOperands)
            return Fail(2, "wrong number of operands for '" + Utf8(name) +
                               "' (simcamctl -h for help)");
        return RunCommand(command, device, deviceGiven, operands);
    }
    return Fail(2, "unknown command '" + Utf8(name) + "' (simcamctl -h for help)");
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as documented
    _setmode(_fileno(stderr), _O_BINARY);
    const int status = Run(argc, argv);
    return fflush(stdout) == 0 ? status : 1;
}
