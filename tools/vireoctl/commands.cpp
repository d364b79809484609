#include "commands.h"

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
    "                        IFace, and id (the device path without its interface class)\n"
    "  info                  every control: enable flag, default, minimum, maximum and\n"
    "                        current value, in device units [and as the page shows them]\n"
    "  get NAME...           the controls' current values\n"
    "  set NAME=VALUE...     writes each value (device units, decimal) in the order given,\n"
    "                        after checking it against the control's range, and prints\n"
    "                        the value read back; stops at the first refusal\n"
    "  set NAME VALUE        the same for one control\n"
    "  defaults              what the Camera Setting page's Default button sends\n"
    "  save FILE             every control's value and the device's name, as a profile\n"
    "  load FILE             a saved profile back onto the same device, each value checked\n"
    "                        against its range first, written in the Default button's order\n"
    "  -d INDEX|NAME|ID      the device by its index in \"list\", its name or its id\n"
    "                        (default: 0); of two devices of one name, the first\n"
    "  --json                list, info and get as one JSON document\n"
    "  --force               set and load send values outside the range all the same\n"
    "  --version             the kit's version\n"
    "  -h, --help            this text\n"
    "Controls: A_GAIN A_AUTOGAIN D_GAIN EXPOSURE AEC EXPOSURE2CTRL EXPOSURE2VAL FLIP\n"
    "          MIRROR LEDCTRL STROBECTRL STROBEINVERT VGA_FPS QVGA_FPS PRIVACY\n"
    "Exit status: 0 done; 1 the camera refused a request; 2 usage error, a value\n"
    "             outside its range or a refused profile (nothing more was written);\n"
    "             3 no video input device; 4 the device offers no IFace (vireoprop.ax\n"
    "             is not registered); 5 vireoprop.ax is registered for programs of\n"
    "             the other width only.\n";

const char kProfileHeader[] = "# vireoctl profile";
const ULONG kNoRequest = 0xFFFFFFFF;  // GET_ENABLE is 0

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

// Checks everything the command line says before any device is touched;
// -1 when the help or the version was asked for.
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
    const std::wstring &c = line->command;
    const std::vector<std::wstring> &args = line->args;
    const bool known = c == L"list" || c == L"info" || c == L"defaults" || c == L"get" ||
                       c == L"set" || c == L"save" || c == L"load";
    if (!known)
        return Usage(err, "unknown command " + Narrow(c));
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
    if (c == L"get") {
        for (const std::wstring &name : args) {
            Assignment a = {ControlByName(Narrow(name)), 0};
            if (!a.id)
                return Usage(err, "unknown control " + Narrow(name));
            line->assignments.push_back(a);
        }
        return STATUS_OK;
    }
    // set: "NAME VALUE" as one pair, or every word "NAME=VALUE".
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

// A profile: every control once, and the device it was saved from.
struct Profile {
    std::wstring device;
    LONG values[CAMERA_CONTROL_COUNT];
};

size_t IndexOf(ULONG id)
{
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (CameraControlIds[i] == id)
            return i;
    return CAMERA_CONTROL_COUNT;
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

int ReadProfile(const std::wstring &path, Profile *profile, FILE *err)
{
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return Usage(err, "cannot read " + Narrow(path));
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0)
        text.append(chunk, n);
    fclose(file);

    bool seen[CAMERA_CONTROL_COUNT] = {false};
    bool haveDevice = false;
    size_t start = 0;
    for (int lineNumber = 1; start < text.size(); ++lineNumber) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        const std::string where = Narrow(path) + " line " + std::to_string(lineNumber);
        if (equals == std::string::npos)
            return Usage(err, where + ": not NAME=VALUE");
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (key == "device") {
            if (haveDevice || value.empty())
                return Usage(err, where + ": a second or empty device name");
            profile->device = Widen(value);
            haveDevice = true;
            continue;
        }
        const size_t index = IndexOf(ControlByName(key));
        if (index == CAMERA_CONTROL_COUNT)
            return Usage(err, where + ": unknown control " + key);
        if (seen[index])
            return Usage(err, where + ": " + key + " a second time");
        if (!ParseValue(Widen(value), &profile->values[index]))
            return Usage(err, where + ": not a 32-bit decimal value: " + value);
        seen[index] = true;
    }
    if (!haveDevice)
        return Usage(err, Narrow(path) + ": no device line");
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (!seen[i])
            return Usage(err,
                         Narrow(path) + ": no value of " + CameraControlName(CameraControlIds[i]));
    return STATUS_OK;
}

// The devices' names and ids, in the enumerator's order.
struct Device {
    std::wstring name;
    std::wstring id;
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
        devices.push_back({name, id});
    }
    return devices;
}

// The device -d names (an index, else an id, else a friendly name), opened;
// the status and message of each way to fail. A name that two devices share
// opens the first, and says so.
int OpenCamera(const std::wstring &wanted, VireoCamera **camera, FILE *err)
{
    HRESULT hr;
    std::wstring name = wanted;
    if (wanted.empty() || IsIndex(wanted)) {
        const unsigned index = wanted.empty() ? 0u : static_cast<unsigned>(_wtoi(wanted.c_str()));
        hr = VireoCameraOpenIndex(index, camera);
        wchar_t found[256];
        if (SUCCEEDED(VireoCameraDeviceName(index, found, 256)))
            name = found;
    } else {
        const std::vector<Device> devices = Devices();
        size_t byId = 0, byName = 0;
        for (const Device &d : devices) {
            byId += VireoCameraSameId(d.id.c_str(), wanted.c_str()) ? 1 : 0;
            byName += _wcsicmp(d.name.c_str(), wanted.c_str()) == 0 ? 1 : 0;
        }
        if (byName > 1)
            fprintf(err, "vireoctl: %u devices are named %s; use -d ID (see vireoctl list)\n",
                    static_cast<unsigned>(byName), Narrow(wanted).c_str());
        hr = byId ? VireoCameraOpenId(wanted.c_str(), camera)
                  : VireoCameraOpenName(wanted.c_str(), camera);
        if (*camera)
            name = VireoCameraName(*camera);
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
            fprintf(out, "%s\n  {\"index\": %u, \"name\": %s, \"id\": %s, \"iface\": \"%s\"}",
                    i ? "," : "", i, Quoted(Utf8(d.name)).c_str(), Quoted(Utf8(d.id)).c_str(),
                    iface);
        else
            fprintf(out, "%u  %s  IFace: %s  id: %s\n", i, Narrow(d.name).c_str(), iface,
                    Narrow(d.id).c_str());
    }
    if (json)
        fputs("\n]}\n", out);
    return STATUS_OK;
}

int Info(VireoCamera *camera, bool json, FILE *out, FILE *err)
{
    int status = STATUS_OK;
    if (json)
        fprintf(out, "{\"device\": %s, \"controls\": [",
                Quoted(Utf8(VireoCameraName(camera))).c_str());
    bool first = true;
    for (ULONG id : CameraControlIds) {
        VireoRange range;
        HRESULT hr = VireoCameraRange(camera, id, &range);
        LONG current = 0;
        ULONG failed = kNoRequest;  // the request that was refused
        if (FAILED(hr))
            failed = GET_ENABLE;
        else if (range.enable && FAILED(hr = VireoCameraGet(camera, id, &current)))
            failed = GET_DATA;  // an absent control's value is not asked for
        if (FAILED(hr)) {
            ReportRefusal(err, id, failed, hr);
            status = STATUS_REFUSED;
        }
        if (json) {
            fprintf(out, "%s\n  {\"name\": \"%s\", \"id\": %lu", first ? "" : ",",
                    CameraControlName(id), static_cast<unsigned long>(id));
            first = false;
            if (failed != GET_ENABLE)
                fprintf(out,
                        ", \"enable\": %ld, \"default\": %ld, \"minimum\": %ld, \"maximum\": %ld",
                        static_cast<long>(range.enable), static_cast<long>(range.defaultValue),
                        static_cast<long>(range.minValue), static_cast<long>(range.maxValue));
            if (SUCCEEDED(hr) && range.enable)
                fprintf(out, ", \"current\": %ld, \"shown\": %s", static_cast<long>(current),
                        Quoted(Shown(id, current)).c_str());
            if (FAILED(hr))
                fprintf(out, ", \"error\": {\"request\": \"%s\", \"result\": \"%s\"}",
                        RequestName(failed), Hex(hr).c_str());
            fputs("}", out);
            continue;
        }
        fprintf(out, "%-14s", CameraControlName(id));
        if (failed == GET_ENABLE) {
            fprintf(out, "GET_ENABLE failed: %s\n", Hex(hr).c_str());
            continue;
        }
        fprintf(out, "enable %ld  default %s  minimum %s  maximum %s  current ",
                static_cast<long>(range.enable), Both(id, range.defaultValue).c_str(),
                Both(id, range.minValue).c_str(), Both(id, range.maxValue).c_str());
        if (!range.enable)
            fprintf(out, "- [not read]\n");
        else if (FAILED(hr))
            fprintf(out, "- [GET_DATA failed: %s]\n", Hex(hr).c_str());
        else
            fprintf(out, "%s\n", Both(id, current).c_str());
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

// Writes each value in turn, checked against its range unless forced, and
// prints what the camera holds afterwards; stops at the first refusal.
int Set(VireoCamera *camera, const CommandLine &line, FILE *out, FILE *err)
{
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

// What "defaults" and "load" print of each request: the value written, or
// the refusal.
struct Watch {
    FILE *out;
    FILE *err;
    int status;
};

void CALLBACK PrintStep(void *context, const VireoStep *step)
{
    Watch *watch = static_cast<Watch *>(context);
    if (FAILED(step->result)) {
        ReportRefusal(watch->err, step->controlId, step->kind, step->result, &step->value);
        watch->status = STATUS_REFUSED;
    } else if (step->kind == SET_DATA) {
        fprintf(watch->out, "%s = %s\n", CameraControlName(step->controlId),
                Both(step->controlId, step->value).c_str());
    }
}

int Defaults(VireoCamera *camera, FILE *out, FILE *err)
{
    Watch watch = {out, err, STATUS_OK};
    VireoCameraWatch(camera, PrintStep, &watch);
    VireoCameraDefaults(camera);
    VireoCameraWatch(camera, NULL, NULL);
    return watch.status;
}

int Save(VireoCamera *camera, const std::wstring &path, FILE *out, FILE *err)
{
    std::string text =
        std::string(kProfileHeader) + "\ndevice=" + Utf8(VireoCameraName(camera)) + "\n";
    for (ULONG id : CameraControlIds) {
        LONG value = 0;
        const HRESULT hr = VireoCameraGet(camera, id, &value);
        if (FAILED(hr)) {
            ReportRefusal(err, id, GET_DATA, hr);
            return STATUS_REFUSED;  // no profile of part of the camera
        }
        text += std::string(CameraControlName(id)) + "=" + Number(value) + "\n";
    }
    FILE *file = _wfopen(path.c_str(), L"wb");
    const bool written = file && fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && fclose(file) != 0)
        return Usage(err, "cannot write " + Narrow(path));
    if (!written)
        return Usage(err, "cannot write " + Narrow(path));
    fprintf(out, "saved %s to %s\n", Narrow(VireoCameraName(camera)).c_str(), Narrow(path).c_str());
    return STATUS_OK;
}

int Load(VireoCamera *camera, const Profile &profile, bool force, FILE *out, FILE *err)
{
    if (_wcsicmp(profile.device.c_str(), VireoCameraName(camera)) != 0) {
        fprintf(err, "vireoctl: the profile is of %s, not of %s: nothing written\n",
                Narrow(profile.device).c_str(), Narrow(VireoCameraName(camera)).c_str());
        return STATUS_USAGE;
    }
    if (!force) {
        for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
            const int status = CheckRange(camera, CameraControlIds[i], profile.values[i], err);
            if (status != STATUS_OK) {
                fprintf(err, "vireoctl: nothing written\n");
                return status;
            }
        }
    }
    Watch watch = {out, err, STATUS_OK};
    VireoCameraWatch(camera, PrintStep, &watch);
    VireoCameraSetAll(camera, profile.values);
    VireoCameraWatch(camera, NULL, NULL);
    return watch.status;
}

int Run(const CommandLine &line, VireoPauseFunction pause, FILE *out, FILE *err)
{
    const std::wstring &c = line.command;
    if (c == L"list")
        return List(line.json, out, err);
    Profile profile;
    if (c == L"load") {
        const int status = ReadProfile(line.args[0], &profile, err);
        if (status != STATUS_OK)
            return status;
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
        status = Defaults(camera, out, err);
    else if (c == L"save")
        status = Save(camera, line.args[0], out, err);
    else
        status = Load(camera, profile, line.force, out, err);
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
