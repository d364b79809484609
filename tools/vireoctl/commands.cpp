#include "commands.h"

#include "keeperpaths.h"

#include <errno.h>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>

#include <vector>

namespace vireoctl {

namespace {

const char kUsage[] =
    "usage: vireoctl [-d INDEX|NAME|ID] [--json] [--force] COMMAND [ARGUMENTS]\n"
    "  list                  the video input devices: index, name, whether each offers\n"
    "                        IFace, and id (the device path without its interface class);\n"
    "                        of two of one name, the later by id is \"NAME (2)\"\n"
    "  info                  every control: enable flag, default, minimum, maximum and\n"
    "                        current value, in device units [and as the page shows them]\n"
    "  get NAME...           the controls' current values\n"
    "  set NAME=VALUE...     writes each value (device units, decimal) in the order given,\n"
    "                        after checking it against the control's range, and prints\n"
    "                        the value read back; stops at the first refusal\n"
    "  set NAME VALUE        the same for one control\n"
    "  defaults              what the Camera Setting page's Default button sends; like\n"
    "                        the button it skips a control the organization's policy locks\n"
    "  save FILE             every control's value, the device's name and id, as a profile\n"
    "                        (written whole or not at all: the old file stays on a failure)\n"
    "  load FILE             a profile back onto the same device (by id, else by name), each\n"
    "                        value checked against its range first, then written in the\n"
    "                        Default button's order; controls the camera reports disabled,\n"
    "                        controls the policy locks at another value and controls the\n"
    "                        profile leaves out are not written\n"
    "  --json inventory      every camera (present or kept), its values and what the\n"
    "                        organization's policy locks or recommends, and the keeper\n"
    "  keep                  the cameras the Camera Settings Keeper (vireokeep) keeps: id,\n"
    "                        name, present or not, profile saved, last restore\n"
    "  keep on|off           whether the keeper keeps the settings\n"
    "  keep forget -d ID     deletes the keeper's profile of camera ID (or device INDEX)\n"
    "  -d INDEX|NAME|ID      the device by its index in \"list\", its name or its id\n"
    "                        (default: 0); of two devices of one name, the first\n"
    "  --json                list, info, get and inventory as one JSON document\n"
    "  --force               set and load send values outside the range all the same; load\n"
    "                        takes a profile of another device too\n"
    "  --version             the kit's version\n"
    "  -h, --help            this text\n"
    "Controls: A_GAIN A_AUTOGAIN D_GAIN EXPOSURE AEC EXPOSURE2CTRL EXPOSURE2VAL FLIP\n"
    "          MIRROR LEDCTRL STROBECTRL STROBEINVERT VGA_FPS QVGA_FPS PRIVACY\n"
    "Profiles: UTF-8 text, \"device=NAME\", \"id=ID\" and \"NAME=VALUE\" lines, \"#\" comments;\n"
    "          a refused one is reported with its line and nothing is written.\n"
    "Exit status: 0 done; 1 the camera refused a request; 2 usage error, a value\n"
    "             outside its range, a refused profile or one of another device\n"
    "             (nothing more was written);\n"
    "             3 no video input device; 4 the device offers no IFace (vireoprop.ax\n"
    "             is not registered); 5 vireoprop.ax is registered for programs of\n"
    "             the other width only; 6 set: the organization's policy locks the\n"
    "             control at another value (--force does not override it); defaults\n"
    "             and load skip such a control and go on.\n";

const ULONG kNoRequest = 0xFFFFFFFF;  // GET_ENABLE is 0

// The position of a known control in CameraControlIds (and in a policy's and
// a profile's values).
size_t IndexOf(ULONG id)
{
    size_t i = 0;
    while (i + 1 < CAMERA_CONTROL_COUNT && CameraControlIds[i] != id)
        ++i;
    return i;
}

const char *RequestName(ULONG kind)
{
    switch (kind) {
    case GET_ENABLE: return "GET_ENABLE";
    case SET_DATA: return "SET_DATA";
    case GET_DATA: return "GET_DATA";
    case SET_ENABLE: return "SET_ENABLE";
    default: return "?";
    }
}

// "vireoctl: EXPOSURE SET_DATA 100 failed: 0x80070005"
void ReportRefusal(FILE *err, ULONG id, ULONG kind, HRESULT hr, const LONG *value = NULL)
{
    if (value)
        fprintf(err, "vireoctl: %s %s %ld failed: 0x%08lX\n", CameraControlName(id),
                RequestName(kind), static_cast<long>(*value), static_cast<unsigned long>(hr));
    else
        fprintf(err, "vireoctl: %s %s failed: 0x%08lX\n", CameraControlName(id), RequestName(kind),
                static_cast<unsigned long>(hr));
}

std::string Format(const char *format, double value)
{
    char text[64] = {0};
    StringCchPrintfA(text, sizeof(text), format, value);
    return text;
}

std::string Number(LONG value)
{
    char text[16];
    StringCchPrintfA(text, sizeof(text), "%ld", static_cast<long>(value));
    return text;
}

// "17 [2.0000]"
std::string Both(ULONG id, LONG value)
{
    return Number(value) + " [" + Shown(id, value) + "]";
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = towlower(c);
    return text;
}

std::wstring Widen(const std::string &utf8)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], size);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::string Convert(UINT codePage, const std::wstring &text)
{
    int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    if (size <= 0)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

// A JSON string: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            StringCchPrintfA(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Hex(HRESULT hr)
{
    char text[16];
    StringCchPrintfA(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

struct Assignment {
    ULONG id;
    LONG value;
};

struct CommandLine {
    std::wstring device;  // -d: index, name or id; empty: index 0
    bool json = false;
    bool force = false;
    std::wstring command;
    std::vector<std::wstring> args;
    std::vector<Assignment> assignments;  // get: the controls; set: the values too
};

int Usage(FILE *err, const std::string &problem)
{
    fprintf(err, "vireoctl: %s (vireoctl -h shows the usage)\n", problem.c_str());
    return STATUS_USAGE;
}

bool IsIndex(const std::wstring &text)
{
    return !text.empty() && text.size() < 9 &&
           text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// "keep", "keep on|off", "keep forget -d ID".
int ParseKeep(const CommandLine &line, FILE *err)
{
    if (line.json || line.force)
        return Usage(err, "keep takes neither --json nor --force");
    const std::wstring what = line.args.empty() ? L"" : Lower(line.args[0]);
    if (line.args.size() > 1)
        return Usage(err, "too many arguments");
    if (what == L"forget")
        return line.device.empty() ? Usage(err, "keep forget needs -d ID") : STATUS_OK;
    if (!line.device.empty())
        return Usage(err, "only keep forget takes a device");
    if (what.empty() || what == L"on" || what == L"off")
        return STATUS_OK;
    return Usage(err, "keep takes on, off or forget");
}

bool KnownCommand(const std::wstring &c)
{
    for (const wchar_t *known :
         {L"list", L"info", L"defaults", L"get", L"set", L"save", L"load", L"keep", L"inventory"})
        if (c == known)
            return true;
    return false;
}

// "--json inventory", of every camera: nothing else.
int ParseInventory(const CommandLine &line, FILE *err)
{
    const bool alone = line.json && !line.force && line.device.empty() && line.args.empty();
    return alone ? STATUS_OK
                 : Usage(err, "inventory is \"vireoctl --json inventory\", of every camera");
}

}  // namespace

std::vector<KeptCamera> KeptCameras()
{
    std::vector<KeptCamera> cameras;
    wchar_t folder[MAX_PATH];
    if (!VireoKeeperCameraFolder(folder, MAX_PATH))
        return cameras;
    WIN32_FIND_DATAW found;
    HANDLE search =
        FindFirstFileW((std::wstring(folder) + L"\\*" VIREO_KEEPER_PROFILE_EXT).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return cameras;
    do {
        cameras.emplace_back();
        KeptCamera &c = cameras.back();
        c.path = std::wstring(folder) + L"\\" + found.cFileName;
        c.read = VireoProfileRead(c.path.c_str(), &c.profile, NULL);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return cameras;
}

std::string LocalTime(const FILETIME &utc)
{
    FILETIME local;
    SYSTEMTIME t;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t))
        return "?";
    char text[32];
    StringCchPrintfA(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                     t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string LastRestore(const std::wstring &id)
{
    VireoKeeperRestore last;
    if (!VireoKeeperLastRestore(id.c_str(), &last))
        return std::string();
    const std::string when = LocalTime(last.time);
    if (last.result == S_OK)
        return when + " done";
    if (SUCCEEDED(last.result))
        return when + " nothing restored";
    return when + " failed: " + Hex(last.result);
}

namespace {

std::vector<std::wstring> PresentIds()
{
    std::vector<std::wstring> ids;
    unsigned count = 0;
    if (FAILED(VireoCameraDeviceCount(&count)))
        return ids;
    for (unsigned i = 0; i < count; ++i) {
        wchar_t id[VIREO_ID_CAPACITY];
        if (SUCCEEDED(VireoCameraDeviceId(i, id, VIREO_ID_CAPACITY)))
            ids.push_back(id);
    }
    return ids;
}

int KeepList(FILE *out)
{
    fprintf(out, "settings kept: %s\n", VireoKeeperKeep() ? "on" : "off");
    const std::vector<std::wstring> present = PresentIds();
    const std::vector<KeptCamera> cameras = KeptCameras();
    if (cameras.empty())
        fprintf(out, "no camera kept yet\n");
    for (const KeptCamera &c : cameras) {
        if (FAILED(c.read)) {
            fprintf(out, "%s\n  unreadable: %s\n", Narrow(c.path).c_str(),
                    VireoCameraMessage(c.read));
            continue;
        }
        bool now = false;
        for (const std::wstring &id : present)
            now = now || VireoCameraSameId(id.c_str(), c.profile.id);
        WIN32_FILE_ATTRIBUTE_DATA data;
        const std::string saved = GetFileAttributesExW(c.path.c_str(), GetFileExInfoStandard, &data)
                                      ? LocalTime(data.ftLastWriteTime)
                                      : "?";
        const std::string restored = LastRestore(c.profile.id);
        fprintf(out, "%s\n  name: %s\n  present: %s\n  saved: %s\n  last restore: %s\n",
                Narrow(c.profile.id).c_str(), Narrow(c.profile.device).c_str(), now ? "yes" : "no",
                saved.c_str(), restored.empty() ? "none" : restored.c_str());
    }
    return STATUS_OK;
}

int KeepForget(const std::wstring &device, FILE *out, FILE *err)
{
    std::wstring id = device;
    if (IsIndex(device)) {
        wchar_t found[VIREO_ID_CAPACITY];
        if (FAILED(VireoCameraDeviceId(static_cast<unsigned>(_wtoi(device.c_str())), found,
                                       VIREO_ID_CAPACITY)))
            return Usage(err, "no video input device " + Narrow(device) + " (see vireoctl list)");
        id = found;
    }
    wchar_t path[MAX_PATH];
    if (!VireoKeeperProfilePath(id.c_str(), path, MAX_PATH))
        return Usage(err, "no profile folder");
    if (!DeleteFileW(path))
        return Usage(err, "no profile of " + Narrow(id));
    fprintf(out, "forgot %s (%s deleted)\n", Narrow(id).c_str(), Narrow(path).c_str());
    return STATUS_OK;
}

int Keep(const CommandLine &line, FILE *out, FILE *err)
{
    const std::wstring what = line.args.empty() ? L"" : Lower(line.args[0]);
    if (what == L"forget")
        return KeepForget(line.device, out, err);
    if (what.empty())
        return KeepList(out);
    const LONG result = VireoKeeperSetKeep(what == L"on");
    if (result != ERROR_SUCCESS) {
        fprintf(err, "vireoctl: cannot set Keep: error %ld\n", static_cast<long>(result));
        return STATUS_REFUSED;
    }
    fprintf(out, "settings kept: %s\n", what == L"on" ? "on" : "off");
    return STATUS_OK;
}

// Reads "NAME=VALUE" (or NAME and VALUE apart) into an assignment.
int ParseAssignment(const std::wstring &name, const std::wstring &value, Assignment *a, FILE *err)
{
    a->id = ControlByName(Narrow(name));
    if (!a->id)
        return Usage(err, "unknown control " + Narrow(name));
    if (!ParseValue(value, &a->value))
        return Usage(err, "not a 32-bit decimal value: " + Narrow(value));
    return STATUS_OK;
}

// get's control names, or set's values: "NAME VALUE" as one pair, or every
// word "NAME=VALUE".
int ParseControls(CommandLine *line, FILE *err)
{
    const std::vector<std::wstring> &args = line->args;
    if (line->command == L"get") {
        for (const std::wstring &name : args) {
            Assignment a = {ControlByName(Narrow(name)), 0};
            if (!a.id)
                return Usage(err, "unknown control " + Narrow(name));
            line->assignments.push_back(a);
        }
        return STATUS_OK;
    }
    if (args.size() == 2 && args[0].find(L'=') == std::wstring::npos) {
        Assignment a;
        const int status = ParseAssignment(args[0], args[1], &a, err);
        line->assignments.push_back(a);
        return status;
    }
    for (const std::wstring &arg : args) {
        const size_t equals = arg.find(L'=');
        if (equals == std::wstring::npos)
            return Usage(err, "set takes NAME=VALUE pairs (or a name and a value): " + Narrow(arg));
        Assignment a;
        const int status = ParseAssignment(arg.substr(0, equals), arg.substr(equals + 1), &a, err);
        if (status != STATUS_OK)
            return status;
        line->assignments.push_back(a);
    }
    return STATUS_OK;
}

// Whether the command takes the options and arguments given, and what they
// say.
int CheckCommand(CommandLine *line, FILE *err)
{
    const std::wstring &c = line->command;
    const std::vector<std::wstring> &args = line->args;
    if (!KnownCommand(c))
        return Usage(err, "unknown command " + Narrow(c));
    if (c == L"keep")
        return ParseKeep(*line, err);
    if (c == L"inventory")
        return ParseInventory(*line, err);
    if (line->json && c != L"list" && c != L"info" && c != L"get")
        return Usage(err, "--json goes with list, info and get");
    if (line->force && c != L"set" && c != L"load")
        return Usage(err, "--force goes with set and load");
    if (c == L"list" && !line->device.empty())
        return Usage(err, "list takes no device");
    if (c == L"list" || c == L"info" || c == L"defaults")
        return args.empty() ? STATUS_OK : Usage(err, "too many arguments");
    if (c == L"save" || c == L"load")
        return args.size() == 1 ? STATUS_OK : Usage(err, Narrow(c) + " takes one file name");
    if (args.empty())
        return Usage(err, c == L"get" ? "get takes control names"
                                      : "set takes NAME=VALUE pairs (or a name and a value)");
    return ParseControls(line, err);
}

// The options, the command and its arguments, in any order; -1 when the
// version was asked for.
int ParseWords(const std::vector<std::wstring> &words, CommandLine *line, FILE *out, FILE *err)
{
    for (size_t i = 0; i < words.size(); ++i) {
        const std::wstring &arg = words[i];
        if (arg == L"--version") {
            fprintf(out, "vireoctl %s\n", VIREO_VERSION_STRING);
            return -1;
        } else if (arg == L"--json") {
            line->json = true;
        } else if (arg == L"--force") {
            line->force = true;
        } else if (arg == L"-d") {
            if (i + 1 >= words.size() || words[i + 1].empty())
                return Usage(err, "-d needs a device index, name or id");
            line->device = words[++i];
        } else if (arg.size() > 1 && arg[0] == L'-' && arg[1] == L'-') {
            return Usage(err, "unknown option " + Narrow(arg));
        } else if (line->command.empty()) {
            line->command = Lower(arg);
        } else {
            line->args.push_back(arg);  // "-3" is a value
        }
    }
    if (line->command.empty()) {
        fputs(kUsage, err);
        return STATUS_USAGE;
    }
    return STATUS_OK;
}

// Checks everything the command line says before any device is touched;
// -1 when the help or the version was asked for (anywhere on the line).
int Parse(int argc, wchar_t **argv, CommandLine *line, FILE *out, FILE *err)
{
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"-h" || arg == L"--help" || arg == L"/?") {
            fputs(kUsage, out);
            return -1;
        }
        words.push_back(arg);
    }
    const int status = ParseWords(words, line, out, err);
    return status != STATUS_OK ? status : CheckCommand(line, err);
}

// The devices' friendly names, the names a person is shown (twins told
// apart: "Vireo Simulated Camera (2)") and ids, in the enumerator's order.
struct Device {
    std::wstring name;
    std::wstring id;
    std::wstring shown;
};

std::vector<Device> Devices()
{
    std::vector<Device> devices;
    unsigned count = 0;
    if (FAILED(VireoCameraDeviceCount(&count)))
        return devices;
    for (unsigned i = 0; i < count; ++i) {
        wchar_t name[256], id[VIREO_ID_CAPACITY];
        if (FAILED(VireoCameraDeviceName(i, name, 256)) ||
            FAILED(VireoCameraDeviceId(i, id, VIREO_ID_CAPACITY)))
            break;  // the device went meanwhile
        devices.push_back({name, id, std::wstring()});
    }
    std::vector<const wchar_t *> names, ids;
    for (const Device &d : devices) {
        names.push_back(d.name.c_str());
        ids.push_back(d.id.c_str());
    }
    for (Device &d : devices) {
        wchar_t shown[300];
        VireoCameraShownName(d.name.c_str(), d.id.c_str(), names.data(), ids.data(),
                             static_cast<unsigned>(devices.size()), shown, 300);
        d.shown = shown;
    }
    return devices;
}

// The name a person is shown of the camera of this id (its friendly name
// when it is no longer listed).
std::wstring ShownName(const std::wstring &id, const std::wstring &name)
{
    for (const Device &d : Devices())
        if (VireoCameraSameId(d.id.c_str(), id.c_str()))
            return d.shown;
    return name;
}

// Opens the device -d names by an id, else by a friendly name (a name that
// two devices share opens the first, and says so).
HRESULT OpenNamed(const std::wstring &wanted, VireoCamera **camera, FILE *err)
{
    size_t byId = 0, byName = 0;
    for (const Device &d : Devices()) {
        byId += VireoCameraSameId(d.id.c_str(), wanted.c_str()) ? 1 : 0;
        byName += _wcsicmp(d.name.c_str(), wanted.c_str()) == 0 ? 1 : 0;
    }
    if (byName > 1)
        fprintf(err, "vireoctl: %u devices are named %s; use -d ID (see vireoctl list)\n",
                static_cast<unsigned>(byName), Narrow(wanted).c_str());
    return byId ? VireoCameraOpenId(wanted.c_str(), camera)
                : VireoCameraOpenName(wanted.c_str(), camera);
}

// The device -d names (an index, else an id, else a friendly name), opened;
// the status and message of each way to fail, the device named as a person
// is shown it.
int OpenCamera(const std::wstring &wanted, VireoCamera **camera, FILE *err)
{
    HRESULT hr;
    std::wstring name = wanted;
    if (wanted.empty() || IsIndex(wanted)) {
        const unsigned index = wanted.empty() ? 0u : static_cast<unsigned>(_wtoi(wanted.c_str()));
        hr = VireoCameraOpenIndex(index, camera);
        wchar_t found[300];
        if (SUCCEEDED(VireoCameraDeviceShownName(index, found, 300)))
            name = found;
    } else {
        hr = OpenNamed(wanted, camera, err);
        name = *camera ? ShownName(VireoCameraId(*camera), VireoCameraName(*camera))
                       : ShownName(wanted, wanted);
    }
    if (SUCCEEDED(hr))
        return STATUS_OK;
    if (hr == VIREO_E_NO_DEVICE) {
        fprintf(err, "vireoctl: no video input device\n");
        return STATUS_NO_DEVICE;
    }
    if (hr == VIREO_E_NO_SUCH_DEVICE)
        return Usage(err, "no video input device " + Narrow(wanted) + " (see vireoctl list)");
    fprintf(err, "vireoctl: %s: %s\n", Narrow(name).c_str(), VireoCameraMessage(hr));
    if (hr == VIREO_E_NO_IFACE)
        return STATUS_NO_IFACE;
    return hr == VIREO_E_OTHER_WIDTH ? STATUS_OTHER_WIDTH : STATUS_REFUSED;
}

int List(bool json, FILE *out, FILE *err)
{
    const std::vector<Device> devices = Devices();
    if (devices.empty()) {
        fprintf(err, "vireoctl: no video input device\n");
        return STATUS_NO_DEVICE;
    }
    if (json)
        fputs("{\"devices\": [", out);
    for (unsigned i = 0; i < devices.size(); ++i) {
        VireoCamera *camera = NULL;
        const HRESULT hr = VireoCameraOpenIndex(i, &camera);
        VireoCameraClose(camera);
        const char *iface = SUCCEEDED(hr)               ? "yes"
                            : hr == VIREO_E_OTHER_WIDTH ? "other width"
                                                        : "no";
        const Device &d = devices[i];
        if (json)
            fprintf(out,
                    "%s\n  {\"index\": %u, \"name\": %s, \"shownName\": %s, \"id\": %s, "
                    "\"iface\": \"%s\"}",
                    i ? "," : "", i, Quoted(Utf8(d.name)).c_str(), Quoted(Utf8(d.shown)).c_str(),
                    Quoted(Utf8(d.id)).c_str(), iface);
        else
            fprintf(out, "%u  %s  IFace: %s  id: %s\n", i, Narrow(d.shown).c_str(), iface,
                    Narrow(d.id).c_str());
    }
    if (json)
        fputs("\n]}\n", out);
    return STATUS_OK;
}

// One control as info reads it: what GET_ENABLE reports, the value
// (GET_DATA of a present control), and the request refused if one was.
struct Reading {
    VireoRange range;
    LONG current;
    HRESULT hr;
    ULONG failed;  // kNoRequest, GET_ENABLE or GET_DATA
};

Reading ReadControl(VireoCamera *camera, ULONG id)
{
    Reading r = {};
    r.failed = kNoRequest;
    r.hr = VireoCameraRange(camera, id, &r.range);
    if (FAILED(r.hr))
        r.failed = GET_ENABLE;
    else if (r.range.enable && FAILED(r.hr = VireoCameraGet(camera, id, &r.current)))
        r.failed = GET_DATA;  // an absent control's value is not asked for
    return r;
}

void PrintJson(FILE *out, ULONG id, const Reading &r, bool locked, bool first)
{
    fprintf(out, "%s\n  {\"name\": \"%s\", \"id\": %lu", first ? "" : ",", CameraControlName(id),
            static_cast<unsigned long>(id));
    if (r.failed != GET_ENABLE)
        fprintf(out, ", \"enable\": %ld, \"default\": %ld, \"minimum\": %ld, \"maximum\": %ld",
                static_cast<long>(r.range.enable), static_cast<long>(r.range.defaultValue),
                static_cast<long>(r.range.minValue), static_cast<long>(r.range.maxValue));
    if (SUCCEEDED(r.hr) && r.range.enable)
        fprintf(out, ", \"current\": %ld, \"shown\": %s", static_cast<long>(r.current),
                Quoted(Shown(id, r.current)).c_str());
    fprintf(out, ", \"locked\": %s", locked ? "true" : "false");
    if (FAILED(r.hr))
        fprintf(out, ", \"error\": {\"request\": \"%s\", \"result\": \"%s\"}",
                RequestName(r.failed), Hex(r.hr).c_str());
    fputs("}", out);
}

void PrintText(FILE *out, ULONG id, const Reading &r, bool locked)
{
    fprintf(out, "%-14s", CameraControlName(id));
    if (r.failed == GET_ENABLE) {
        fprintf(out, "GET_ENABLE failed: %s\n", Hex(r.hr).c_str());
        return;
    }
    fprintf(out, "enable %ld  default %s  minimum %s  maximum %s  current ",
            static_cast<long>(r.range.enable), Both(id, r.range.defaultValue).c_str(),
            Both(id, r.range.minValue).c_str(), Both(id, r.range.maxValue).c_str());
    if (!r.range.enable)
        fprintf(out, "- [not read]");
    else if (FAILED(r.hr))
        fprintf(out, "- [GET_DATA failed: %s]", Hex(r.hr).c_str());
    else
        fprintf(out, "%s", Both(id, r.current).c_str());
    fputs(locked ? "  locked by policy\n" : "\n", out);
}

int Info(VireoCamera *camera, bool json, FILE *out, FILE *err)
{
    int status = STATUS_OK;
    VireoPolicy policy;
    VireoCameraPolicy(camera, &policy);
    if (json)
        fprintf(out, "{\"device\": %s, \"controls\": [",
                Quoted(Utf8(VireoCameraName(camera))).c_str());
    bool first = true;
    for (ULONG id : CameraControlIds) {
        const Reading r = ReadControl(camera, id);
        if (FAILED(r.hr)) {
            ReportRefusal(err, id, r.failed, r.hr);
            status = STATUS_REFUSED;
        }
        const bool locked = (policy.locked & VireoPolicyBit(id)) != 0;
        if (json)
            PrintJson(out, id, r, locked, first);
        else
            PrintText(out, id, r, locked);
        first = false;
    }
    if (json)
        fputs("\n]}\n", out);
    return status;
}

// Reads each control in turn; stops at the first refusal.
int Get(VireoCamera *camera, const std::vector<Assignment> &controls, bool json, FILE *out,
        FILE *err)
{
    int status = STATUS_OK;
    std::string document;
    for (const Assignment &a : controls) {
        LONG value = 0;
        const HRESULT hr = VireoCameraGet(camera, a.id, &value);
        if (FAILED(hr)) {
            ReportRefusal(err, a.id, GET_DATA, hr);
            status = STATUS_REFUSED;
            break;
        }
        if (json)
            document += std::string(document.empty() ? "" : ",") + "\n  {\"name\": \"" +
                        CameraControlName(a.id) + "\", \"id\": " + std::to_string(a.id) +
                        ", \"value\": " + Number(value) +
                        ", \"shown\": " + Quoted(Shown(a.id, value)) + "}";
        else
            fprintf(out, "%s = %s\n", CameraControlName(a.id), Both(a.id, value).c_str());
    }
    if (json)
        fprintf(out, "{\"device\": %s, \"controls\": [%s\n]}\n",
                Quoted(Utf8(VireoCameraName(camera))).c_str(), document.c_str());
    return status;
}

// Whether the policy locks control id at a value other than value: the
// extension refuses such a value whichever program sends it, and defaults and
// load leave the control as it is.
bool LockedAgainst(const VireoPolicy &policy, ULONG id, LONG value)
{
    return (policy.locked & VireoPolicyBit(id)) && policy.lockedValues[IndexOf(id)] != value;
}

void ReportLocked(FILE *out, ULONG id)
{
    fprintf(out, "%s skipped (locked by policy)\n", CameraControlName(id));
}

// STATUS_OK when the value lies in the control's range as the camera
// reports it; the refusal's status otherwise.
int CheckRange(VireoCamera *camera, ULONG id, LONG value, FILE *err)
{
    VireoRange range;
    const HRESULT hr = VireoCameraRange(camera, id, &range);
    if (FAILED(hr)) {
        ReportRefusal(err, id, GET_ENABLE, hr);
        return STATUS_REFUSED;
    }
    if (value >= range.minValue && value <= range.maxValue)
        return STATUS_OK;
    fprintf(err,
            "vireoctl: %s %ld is outside the camera's range %ld..%ld (--force sends it all "
            "the same)\n",
            CameraControlName(id), static_cast<long>(value), static_cast<long>(range.minValue),
            static_cast<long>(range.maxValue));
    return STATUS_USAGE;
}

// STATUS_OK when no value of the command line goes to a control the
// organization's policy locks at another one; else the first such, named
// with the policy's key. --force does not change that.
int CheckLocks(VireoCamera *camera, const std::vector<Assignment> &assignments, FILE *err)
{
    VireoPolicy policy;
    VireoCameraPolicy(camera, &policy);
    for (const Assignment &a : assignments) {
        if (!LockedAgainst(policy, a.id, a.value))
            continue;
        fprintf(err,
                "vireoctl: %s is locked at %ld by the organization's policy (%s); --force does "
                "not override it: nothing written\n",
                CameraControlName(a.id), static_cast<long>(policy.lockedValues[IndexOf(a.id)]),
                PolicyKeyName(camera, a.id).c_str());
        return STATUS_LOCKED;
    }
    return STATUS_OK;
}

// Writes each value in turn, checked against its range unless forced, and
// prints what the camera holds afterwards; stops at the first refusal. A
// locked control refuses the whole command before anything is written.
int Set(VireoCamera *camera, const CommandLine &line, FILE *out, FILE *err)
{
    const int locked = CheckLocks(camera, line.assignments, err);
    if (locked != STATUS_OK)
        return locked;
    for (const Assignment &a : line.assignments) {
        if (!line.force) {
            const int status = CheckRange(camera, a.id, a.value, err);
            if (status != STATUS_OK)
                return status;
        }
        HRESULT hr = VireoCameraSet(camera, a.id, a.value);
        if (FAILED(hr)) {
            ReportRefusal(err, a.id, SET_DATA, hr, &a.value);
            return STATUS_REFUSED;
        }
        LONG held = 0;
        hr = VireoCameraGet(camera, a.id, &held);
        if (FAILED(hr)) {
            ReportRefusal(err, a.id, GET_DATA, hr);
            return STATUS_REFUSED;
        }
        fprintf(out, "%s = %s\n", CameraControlName(a.id), Both(a.id, held).c_str());
    }
    return STATUS_OK;
}

// What "defaults" and "load" print of each request: the value written, the
// control skipped, or the refusal.
struct Watch {
    FILE *out;
    FILE *err;
    int status;
    VireoPolicy policy;
};

void CALLBACK PrintStep(void *context, const VireoStep *step)
{
    Watch *watch = static_cast<Watch *>(context);
    if (FAILED(step->result)) {
        const bool sent = step->kind == SET_DATA || step->kind == SET_ENABLE;
        ReportRefusal(watch->err, step->controlId, step->kind, step->result,
                      sent ? &step->value : NULL);
        watch->status = STATUS_REFUSED;
    } else if (step->result == VIREO_S_SKIPPED) {
        fprintf(watch->out, "%s skipped (the camera reports the control disabled)\n",
                CameraControlName(step->controlId));
    } else if (step->kind == SET_DATA) {
        fprintf(watch->out, "%s = %s\n", CameraControlName(step->controlId),
                Both(step->controlId, step->value).c_str());
    }
}

// One request of "defaults" to a control the policy leaves free, printed.
void SendDefault(VireoCamera *camera, ULONG kind, ULONG id, Watch *watch)
{
    const LONG value = CameraControlFactoryDefault(id);
    ControlRequest32 request = {id, SET_ENABLE, 1, value, {0, 0, 0, 0}};
    const HRESULT hr = kind == SET_ENABLE ? VireoCameraInterface(camera)->SetValue20h(&request)
                                          : VireoCameraSet(camera, id, value);
    const VireoStep step = {id, kind, value, hr};
    PrintStep(watch, &step);
}

// What the page's Default button sends, and like the button it leaves a
// control the policy locks as it is: the other controls' SET_ENABLE with the
// factory default, then their SET_DATA of it, in the Default sequence with
// its pauses. Every request is sent; each refusal is printed.
int Defaults(VireoCamera *camera, VireoPauseFunction pause, FILE *out, FILE *err)
{
    Watch watch = {out, err, STATUS_OK, {}};
    VireoCameraPolicy(camera, &watch.policy);
    auto locked = [&watch](ULONG id) {
        return LockedAgainst(watch.policy, id, CameraControlFactoryDefault(id));
    };
    for (const VireoDefaultStep &s : VireoDefaultSequence)
        if (!locked(s.controlId))
            SendDefault(camera, SET_ENABLE, s.controlId, &watch);
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        if (locked(s.controlId)) {
            ReportLocked(out, s.controlId);
            continue;
        }
        SendDefault(camera, SET_DATA, s.controlId, &watch);
        if (s.pauseAfter)
            (pause ? pause : Sleep)(VIREO_DEFAULT_PAUSE_MS);
    }
    return watch.status;
}

// "vireoctl: p.txt line 4: unknown control FOO", "vireoctl: p.txt: ..."
void ReportProfile(FILE *err, const std::wstring &path, const VireoProfileProblem &problem,
                   const char *more = "")
{
    fprintf(err, "vireoctl: %s", Narrow(path).c_str());
    if (problem.line)
        fprintf(err, " line %u", problem.line);
    fprintf(err, ": %s%s\n", Narrow(Widen(problem.message)).c_str(), more);
}

int Save(VireoCamera *camera, const std::wstring &path, FILE *out, FILE *err)
{
    VireoProfile profile;
    const HRESULT hr = VireoCameraReadProfile(camera, &profile);
    if (FAILED(hr)) {
        size_t i = 0;
        while (profile.present & (1u << i))
            ++i;
        ReportRefusal(err, CameraControlIds[i], GET_DATA, hr);
        return STATUS_REFUSED;  // no profile of part of the camera
    }
    VireoProfileProblem problem;
    if (FAILED(VireoProfileWrite(path.c_str(), &profile, &problem))) {
        ReportProfile(err, path, problem);
        return STATUS_USAGE;
    }
    const std::wstring shown = ShownName(VireoCameraId(camera), VireoCameraName(camera));
    fprintf(out, "saved %s to %s\n", Narrow(shown).c_str(), Narrow(path).c_str());
    return STATUS_OK;
}

// The profile without the values the policy locks at others: those
// controls are neither checked nor written.
VireoProfile WithoutLocked(const VireoProfile &profile, const VireoPolicy &policy, ULONG *skipped)
{
    VireoProfile allowed = profile;
    *skipped = 0;
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if ((profile.present & (1u << i)) &&
            LockedAgainst(policy, CameraControlIds[i], profile.values[i]))
            *skipped |= 1u << i;
    allowed.present &= ~*skipped;
    return allowed;
}

int Load(VireoCamera *camera, const std::wstring &path, const VireoProfile &profile, bool force,
         FILE *out, FILE *err)
{
    Watch watch = {out, err, STATUS_OK, {}};
    VireoCameraPolicy(camera, &watch.policy);
    VireoCameraWatch(camera, PrintStep, &watch);
    ULONG skipped = 0;
    const VireoProfile allowed = WithoutLocked(profile, watch.policy, &skipped);
    VireoProfileProblem problem;
    const HRESULT hr = VireoCameraLoadProfile(
        camera, &allowed, force ? VIREO_LOAD_ANY_CAMERA | VIREO_LOAD_ANY_VALUE : 0, &problem);
    VireoCameraWatch(camera, NULL, NULL);
    if (hr == VIREO_E_OTHER_CAMERA || hr == VIREO_E_OUT_OF_RANGE) {
        ReportProfile(err, path, problem,
                      hr == VIREO_E_OUT_OF_RANGE
                          ? " (--force sends it all the same): nothing written"
                          : " (--force loads it all the same): nothing written");
        return STATUS_USAGE;
    }
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (skipped & (1u << i))
            ReportLocked(out, CameraControlIds[i]);
    return FAILED(hr) ? STATUS_REFUSED : watch.status;
}

int Run(const CommandLine &line, VireoPauseFunction pause, FILE *out, FILE *err)
{
    const std::wstring &c = line.command;
    if (c == L"list")
        return List(line.json, out, err);
    if (c == L"keep")
        return Keep(line, out, err);
    if (c == L"inventory")
        return Inventory(out, err);
    VireoProfile profile;
    if (c == L"load") {
        VireoProfileProblem problem;
        if (FAILED(VireoProfileRead(line.args[0].c_str(), &profile, &problem))) {
            ReportProfile(err, line.args[0], problem);
            return STATUS_USAGE;  // nothing sent
        }
    }
    VireoCamera *camera = NULL;
    int status = OpenCamera(line.device, &camera, err);
    if (status != STATUS_OK)
        return status;
    VireoCameraSetPause(camera, pause);
    if (c == L"info")
        status = Info(camera, line.json, out, err);
    else if (c == L"get")
        status = Get(camera, line.assignments, line.json, out, err);
    else if (c == L"set")
        status = Set(camera, line, out, err);
    else if (c == L"defaults")
        status = Defaults(camera, pause, out, err);
    else if (c == L"save")
        status = Save(camera, line.args[0], out, err);
    else
        status = Load(camera, line.args[0], profile, line.force, out, err);
    VireoCameraClose(camera);
    return status;
}

}  // namespace

ULONG ControlByName(const std::string &name)
{
    for (ULONG id : CameraControlIds)
        if (_stricmp(name.c_str(), CameraControlName(id)) == 0)
            return id;
    return 0;
}

std::string Shown(ULONG id, LONG value)
{
    switch (id) {
    case A_GAIN: return Format("%.4lf", AnalogGainFactor(value));
    case D_GAIN: return Format("%.2lf", DigitalGainFactor(value));
    case EXPOSURE: return Format("%.1lf msec", ExposureMilliseconds(value));
    case EXPOSURE2VAL:
        return value >= 0 && value < SHUTTER_COUNT ? ShutterLabels[value] : "no selection";
    case VGA_FPS:
    case QVGA_FPS:
        if (value < 0 || value >= FRAME_RATE_COUNT)
            return "no selection";
        return Number(FrameRatesPerSecond[value]) + "fps";
    default: return value ? "on" : "off";
    }
}

std::string PolicyKeyName(VireoCamera *camera, ULONG id)
{
    const std::string general = "HKLM\\" + Narrow(VIREO_POLICY_KEY);
    wchar_t model[VIREO_MODEL_CAPACITY];
    VireoCameraModel(VireoCameraId(camera), model, VIREO_MODEL_CAPACITY);
    VireoPolicy own, everyone;
    VireoPolicyRead(model, &own);
    VireoPolicyRead(NULL, &everyone);
    const ULONG bit = VireoPolicyBit(id);
    const size_t i = IndexOf(id);
    const bool fromModel =
        model[0] && (own.locked & bit) &&
        (!(everyone.locked & bit) || everyone.lockedValues[i] != own.lockedValues[i]);
    return general + (fromModel ? "\\Models\\" + Narrow(model) : std::string()) + "\\" +
           Narrow(VIREO_POLICY_MANDATORY);
}

bool ParseValue(const std::wstring &text, LONG *value)
{
    if (text.empty() || iswspace(text[0]))
        return false;
    wchar_t *end = NULL;
    errno = 0;
    long long v = wcstoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != L'\0' || v < LONG_MIN || v > LONG_MAX)
        return false;
    *value = static_cast<LONG>(v);
    return true;
}

std::string Narrow(const std::wstring &text)
{
    UINT codePage = GetConsoleOutputCP();
    return Convert(codePage ? codePage : CP_ACP, text);
}

std::string Utf8(const std::wstring &text)
{
    return Convert(CP_UTF8, text);
}

int Main(int argc, wchar_t **argv, FILE *out, FILE *err, VireoPauseFunction pause)
{
    CommandLine line;
    int status = Parse(argc, argv, &line, out, err);
    if (status < 0)
        return STATUS_OK;  // help or version
    if (status != STATUS_OK)
        return status;
    // One apartment for the whole run; the library's calls find it there.
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    status = Run(line, pause, out, err);
    if (SUCCEEDED(com))
        CoUninitialize();
    return status;
}

}  // namespace vireoctl
