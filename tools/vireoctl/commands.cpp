#include "commands.h"

#include <dshow.h>
#include <errno.h>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>

namespace vireoctl {

using Microsoft::WRL::ComPtr;

namespace {

const char kUsage[] =
    "usage: vireoctl [-d INDEX|NAME] COMMAND\n"
    "  list              the video input devices and whether each offers IFace\n"
    "  info              every control: enable flag, default, minimum, maximum and\n"
    "                    current value, in device units [and as the page shows them]\n"
    "  get NAME          one control's current value\n"
    "  set NAME VALUE    writes VALUE (device units, decimal) to the control\n"
    "  defaults          what the Camera Setting page's Default button sends\n"
    "  -d INDEX|NAME     the device by its index in \"list\" or its name (default: 0)\n"
    "Controls: A_GAIN A_AUTOGAIN D_GAIN EXPOSURE AEC EXPOSURE2CTRL EXPOSURE2VAL FLIP\n"
    "          MIRROR LEDCTRL STROBECTRL STROBEINVERT VGA_FPS QVGA_FPS PRIVACY\n"
    "Exit status: 0 done, 1 a request was refused, 2 usage error (nothing sent),\n"
    "             3 no video input device, 4 the device offers no IFace.\n";

// The Default button's order.
const ULONG kDefaultOrder[CAMERA_CONTROL_COUNT] = {
    A_GAIN, A_AUTOGAIN, D_GAIN,  EXPOSURE,   AEC,          EXPOSURE2CTRL, EXPOSURE2VAL, FLIP,
    MIRROR, LEDCTRL,    PRIVACY, STROBECTRL, STROBEINVERT, VGA_FPS,       QVGA_FPS};
const DWORD kPauseMilliseconds = 10;

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

// GET_ENABLE or GET_DATA: the block goes out with the request and comes
// back with the reply.
HRESULT Query(IFace *face, ULONG id, ULONG kind, ControlReply *reply)
{
    ControlRequest request = {id, kind, 0, 0};
    DWORD returned = 0;
    HRESULT hr = face->GetValue10h(&request, &returned);
    memcpy(reply, &request, sizeof(*reply));
    return hr;
}

HRESULT SendValue(IFace *face, ULONG id, LONG value)
{
    ControlRequest request = {id, SET_DATA, value, 0};
    return face->SetValue10h(&request);
}

HRESULT SendDefault(IFace *face, ULONG id, LONG defaultValue)
{
    ControlRequest32 request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = SET_ENABLE;
    request.enable = 1;
    request.defaultValue = defaultValue;
    return face->SetValue20h(&request);
}

std::string Format(const char *format, double value)
{
    char text[64] = {0};
    StringCchPrintfA(text, sizeof(text), format, value);
    return text;
}

// "17 [2.0000]"
std::string Both(ULONG id, LONG value)
{
    char number[16];
    StringCchPrintfA(number, sizeof(number), "%ld", static_cast<long>(value));
    return std::string(number) + " [" + Shown(id, value) + "]";
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t &c : text)
        c = towlower(c);
    return text;
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
    case QVGA_FPS: {
        if (value < 0 || value >= FRAME_RATE_COUNT)
            return "no selection";
        char text[16];
        StringCchPrintfA(text, sizeof(text), "%ldfps",
                         static_cast<long>(FrameRatesPerSecond[value]));
        return text;
    }
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
    if (!codePage)
        codePage = CP_ACP;
    int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    if (size <= 0)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::vector<Device> EnumerateDevices()
{
    std::vector<Device> devices;
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum,
                                reinterpret_cast<void **>(enumerator.GetAddressOf()))))
        return devices;
    ComPtr<IEnumMoniker> monikers;
    if (enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(),
                                          0) != S_OK)
        return devices;
    Device device;
    while (monikers->Next(1, device.moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
        device.name.clear();
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(device.moniker->BindToStorage(
                NULL, NULL, IID_IPropertyBag, reinterpret_cast<void **>(bag.GetAddressOf())))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, NULL)) && V_VT(&name) == VT_BSTR)
                device.name = V_BSTR(&name);
            VariantClear(&name);
        }
        devices.push_back(device);
    }
    return devices;
}

HRESULT OpenFace(IMoniker *moniker, IFace **face)
{
    *face = NULL;
    ComPtr<IBaseFilter> filter;  // IFace holds the filter
    HRESULT hr = moniker->BindToObject(NULL, NULL, IID_IBaseFilter,
                                       reinterpret_cast<void **>(filter.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return filter->QueryInterface(CameraPropertySet, reinterpret_cast<void **>(face));
}

int Info(IFace *face, FILE *out, FILE *err)
{
    int status = STATUS_OK;
    for (ULONG id : CameraControlIds) {
        fprintf(out, "%-14s", CameraControlName(id));
        ControlReply info;
        HRESULT hr = Query(face, id, GET_ENABLE, &info);
        if (FAILED(hr)) {
            fprintf(out, "GET_ENABLE failed: 0x%08lX\n", static_cast<unsigned long>(hr));
            ReportRefusal(err, id, GET_ENABLE, hr);
            status = STATUS_REFUSED;
            continue;
        }
        fprintf(out, "enable %ld  default %s  minimum %s  maximum %s  current ",
                static_cast<long>(info.enableOrValue), Both(id, info.defaultValue).c_str(),
                Both(id, info.minValue).c_str(), Both(id, info.maxValue).c_str());
        if (!info.enableOrValue) {
            fprintf(out, "- [not read]\n");  // an absent control's value is not asked for
            continue;
        }
        ControlReply current;
        hr = Query(face, id, GET_DATA, &current);
        if (FAILED(hr)) {
            fprintf(out, "- [GET_DATA failed: 0x%08lX]\n", static_cast<unsigned long>(hr));
            ReportRefusal(err, id, GET_DATA, hr);
            status = STATUS_REFUSED;
            continue;
        }
        fprintf(out, "%s\n", Both(id, current.enableOrValue).c_str());
    }
    return status;
}

int Get(IFace *face, ULONG id, FILE *out, FILE *err)
{
    ControlReply current;
    HRESULT hr = Query(face, id, GET_DATA, &current);
    if (FAILED(hr)) {
        ReportRefusal(err, id, GET_DATA, hr);
        return STATUS_REFUSED;
    }
    fprintf(out, "%s = %s\n", CameraControlName(id), Both(id, current.enableOrValue).c_str());
    return STATUS_OK;
}

int Set(IFace *face, ULONG id, LONG value, FILE *out, FILE *err)
{
    HRESULT hr = SendValue(face, id, value);
    if (FAILED(hr)) {
        ReportRefusal(err, id, SET_DATA, hr, &value);
        return STATUS_REFUSED;
    }
    fprintf(out, "%s = %s\n", CameraControlName(id), Both(id, value).c_str());
    return STATUS_OK;
}

int Defaults(IFace *face, FILE *out, FILE *err, PauseFunction pause)
{
    int status = STATUS_OK;
    for (ULONG id : kDefaultOrder) {
        const LONG value = CameraControlFactoryDefault(id);
        HRESULT hr = SendDefault(face, id, value);
        if (FAILED(hr)) {
            ReportRefusal(err, id, SET_ENABLE, hr, &value);
            status = STATUS_REFUSED;
        }
    }
    for (ULONG id : kDefaultOrder) {
        const LONG value = CameraControlFactoryDefault(id);
        HRESULT hr = SendValue(face, id, value);
        if (FAILED(hr)) {
            ReportRefusal(err, id, SET_DATA, hr, &value);
            status = STATUS_REFUSED;
        } else {
            fprintf(out, "%s = %s\n", CameraControlName(id), Both(id, value).c_str());
        }
        if (id == A_GAIN || id == D_GAIN || id == AEC)
            pause(kPauseMilliseconds);
    }
    return status;
}

namespace {

int Usage(FILE *err, const char *problem)
{
    if (problem)
        fprintf(err, "vireoctl: %s (vireoctl -h shows the usage)\n", problem);
    else
        fputs(kUsage, err);
    return STATUS_USAGE;
}

struct CommandLine {
    std::wstring device;  // -d: index or name; empty: index 0
    std::wstring command;
    ULONG control = 0;
    LONG value = 0;
};

// Checks everything the command line says before any device is touched.
int Parse(int argc, wchar_t **argv, CommandLine *line, FILE *out, FILE *err)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    size_t i = 0;
    if (i < args.size() && (args[i] == L"-h" || args[i] == L"--help" || args[i] == L"/?")) {
        fputs(kUsage, out);
        return -1;
    }
    if (i < args.size() && args[i] == L"-d") {
        if (i + 1 >= args.size() || args[i + 1].empty())
            return Usage(err, "-d needs a device index or name");
        line->device = args[i + 1];
        i += 2;
    }
    if (i >= args.size())
        return Usage(err, NULL);
    line->command = Lower(args[i++]);
    const size_t rest = args.size() - i;
    const std::wstring &c = line->command;
    if (c == L"list" || c == L"info" || c == L"defaults") {
        if (rest != 0)
            return Usage(err, "too many arguments");
        if (c == L"list" && !line->device.empty())
            return Usage(err, "list takes no device");
        return STATUS_OK;
    }
    if (c != L"get" && c != L"set")
        return Usage(err, ("unknown command " + Narrow(c)).c_str());
    if (rest != (c == L"get" ? 1u : 2u))
        return Usage(err, c == L"get" ? "get takes one control name"
                                      : "set takes a control name and a value");
    line->control = ControlByName(Narrow(args[i]));
    if (!line->control)
        return Usage(err, ("unknown control " + Narrow(args[i])).c_str());
    if (c == L"set" && !ParseValue(args[i + 1], &line->value))
        return Usage(err, ("not a 32-bit decimal value: " + Narrow(args[i + 1])).c_str());
    return STATUS_OK;
}

int List(std::vector<Device> &devices, FILE *out)
{
    for (size_t i = 0; i < devices.size(); ++i) {
        // The interface, when there is one, is let go at the end of the statement.
        const HRESULT hr = OpenFace(devices[i].moniker.Get(), ComPtr<IFace>().GetAddressOf());
        fprintf(out, "%u  %s  IFace: %s\n", static_cast<unsigned>(i),
                Narrow(devices[i].name).c_str(), SUCCEEDED(hr) ? "yes" : "no");
    }
    return STATUS_OK;
}

// The device -d names: its index in the list, or its name (case-insensitive).
int Choose(const std::vector<Device> &devices, const std::wstring &wanted, size_t *index, FILE *err)
{
    if (wanted.empty()) {
        *index = 0;
        return STATUS_OK;
    }
    if (wanted.find_first_not_of(L"0123456789") == std::wstring::npos && wanted.size() < 9) {
        *index = static_cast<size_t>(_wtoi(wanted.c_str()));
        if (*index < devices.size())
            return STATUS_OK;
    } else {
        for (size_t i = 0; i < devices.size(); ++i) {
            if (_wcsicmp(devices[i].name.c_str(), wanted.c_str()) == 0) {
                *index = i;
                return STATUS_OK;
            }
        }
    }
    return Usage(err, ("no video input device " + Narrow(wanted) + " (see vireoctl list)").c_str());
}

}  // namespace

int Main(int argc, wchar_t **argv, FILE *out, FILE *err)
{
    CommandLine line;
    int status = Parse(argc, argv, &line, out, err);
    if (status < 0)
        return STATUS_OK;  // help
    if (status != STATUS_OK)
        return status;
    if (FAILED(CoInitialize(NULL))) {
        fprintf(err, "vireoctl: COM could not be initialised\n");
        return STATUS_REFUSED;
    }
    std::vector<Device> devices = EnumerateDevices();
    size_t index = 0;
    if (devices.empty()) {
        fprintf(err, "vireoctl: no video input device\n");
        status = STATUS_NO_DEVICE;
    } else if (line.command == L"list") {
        status = List(devices, out);
    } else if ((status = Choose(devices, line.device, &index, err)) == STATUS_OK) {
        ComPtr<IFace> face;
        HRESULT hr = OpenFace(devices[index].moniker.Get(), face.GetAddressOf());
        if (FAILED(hr)) {
            fprintf(err, "vireoctl: %s offers no IFace (0x%08lX); is vireoprop.ax registered?\n",
                    Narrow(devices[index].name).c_str(), static_cast<unsigned long>(hr));
            status = STATUS_NO_IFACE;
        } else {
            if (line.command == L"info")
                status = Info(face.Get(), out, err);
            else if (line.command == L"get")
                status = Get(face.Get(), line.control, out, err);
            else if (line.command == L"set")
                status = Set(face.Get(), line.control, line.value, out, err);
            else
                status = Defaults(face.Get(), out, err);
        }
    }
    devices.clear();  // the monikers go before COM does
    CoUninitialize();
    return status;
}

}  // namespace vireoctl
