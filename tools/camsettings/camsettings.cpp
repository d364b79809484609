// camsettings: the kit's "Camera Settings" launcher. Opens the property frame
// of a video input device, the way an application's "Video Capture
// Filter..." dialog does, so that a user reaches the camera's "Camera
// Setting" page without a capture program.
//
//     camsettings.exe [device-name | device-id]
//     camsettings.exe --help
//
// Without a name it takes the first video input device that the system
// device enumerator lists; with one, the first device whose friendly name
// equals it exactly, or whose id (its device path, see vireocamera.h) it is. The frame shows every page the device's filter lists (with
// vireoprop.ax registered the camera lists "Camera Setting") and stays until
// the user closes it.
//
// The frame's title and the messages name the device as a person is shown it:
// of two cameras of one model, the later by id is "Vireo Simulated Camera (2)".
//
// Exit status: 0 after the frame was closed (or after --help), otherwise one
// of the codes below, with one line of text. The program has no console of
// its own (it starts from the Start menu): the line goes to the standard
// error stream when it has one (a script's redirection or pipe), else into a
// message box.
#include <windows.h>
#include <dshow.h>
#include <olectl.h>

#include <wrl/client.h>

#include "vireocamera.h"

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

enum ExitCode {
    EXIT_OK = 0,
    EXIT_USAGE = 1,      // wrong command line
    EXIT_NO_DEVICE = 2,  // no video input device at all
    EXIT_NOT_FOUND = 3,  // no device of the given name
    EXIT_BIND = 4,       // the device's filter could not be created
    EXIT_NO_PAGES = 5,   // the filter lists no "Camera Setting" page
    EXIT_FRAME = 6,      // the property frame could not be shown
    EXIT_COM = 7         // COM or the system device enumerator unavailable
};

const wchar_t kUsage[] =
    L"usage: camsettings [device-name | device-id]   (shows the property pages of the named "
    L"video input device, or of the first one)";
const wchar_t kTitle[] = L"Camera Settings";
const wchar_t kNoDevice[] = L"no camera found: no video input device is connected";

// Writes one line to a standard stream: as UTF-16 to a console, in the
// console's (or the ANSI) code page to a file or pipe; without the stream, in
// a message box.
void WriteLine(DWORD stream, const std::wstring &text)
{
    const std::wstring line = text + L"\r\n";
    HANDLE out = GetStdHandle(stream);
    if (out == NULL || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
        const UINT icon = stream == STD_ERROR_HANDLE ? MB_ICONERROR : MB_ICONINFORMATION;
        MessageBoxW(NULL, text.c_str(), kTitle, MB_OK | icon);
        return;
    }
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, NULL);
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
        codePage = CP_ACP;
    const int bytes = WideCharToMultiByte(codePage, 0, line.c_str(), static_cast<int>(line.size()),
                                          NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return;
    std::vector<char> buffer(static_cast<size_t>(bytes));
    WideCharToMultiByte(codePage, 0, line.c_str(), static_cast<int>(line.size()), buffer.data(),
                        bytes, NULL, NULL);
    WriteFile(out, buffer.data(), static_cast<DWORD>(bytes), &written, NULL);
}

int Fail(ExitCode code, const std::wstring &text)
{
    WriteLine(STD_ERROR_HANDLE, L"camsettings: " + text);
    return code;
}

int Fail(ExitCode code, const std::wstring &text, HRESULT hr)
{
    wchar_t number[16];
    swprintf(number, sizeof(number) / sizeof(number[0]), L"0x%08lX",
             static_cast<unsigned long>(hr));
    return Fail(code, text + L" (error " + number + L")");
}

std::wstring Quoted(const std::wstring &name)
{
    return L"\"" + name + L"\"";
}

// A text property of the moniker (FriendlyName, DevicePath); empty when it
// has none.
std::wstring Property(IMoniker *moniker, const wchar_t *property)
{
    std::wstring text;
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                         reinterpret_cast<void **>(bag.GetAddressOf())))) {
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(bag->Read(property, &v, NULL)) && v.vt == VT_BSTR && v.bstrVal)
            text = v.bstrVal;
        VariantClear(&v);
    }
    return text;
}

// One video input device as the system device enumerator lists it.
struct Listed {
    ComPtr<IMoniker> moniker;
    std::wstring name;
    std::wstring id;  // empty when the device has no path
};

// The name a person is shown of device chosen among all: twins (two cameras
// of one model) told apart, "Vireo Simulated Camera (2)" for the second by id.
std::wstring ShownName(const std::vector<Listed> &all, const Listed &chosen)
{
    std::vector<const wchar_t *> names, ids;
    for (const Listed &d : all) {
        names.push_back(d.name.c_str());
        ids.push_back(d.id.empty() ? d.name.c_str() : d.id.c_str());
    }
    wchar_t shown[300];
    VireoCameraShownName(chosen.name.c_str(),
                         chosen.id.empty() ? chosen.name.c_str() : chosen.id.c_str(), names.data(),
                         ids.data(), static_cast<unsigned>(all.size()), shown, 300);
    return shown;
}

// The device (the first, or the one wanted names or is the id of) and the
// name a person is shown of it; a failure is the program's status, with its
// line written.
int FindDevice(const wchar_t *wanted, ComPtr<IMoniker> &device, std::wstring &name)
{
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr =
        CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void **>(devices.GetAddressOf()));
    if (FAILED(hr))
        return Fail(EXIT_COM, L"the system device enumerator is not available", hr);
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0);
    if (hr != S_OK || !monikers)
        return Fail(EXIT_NO_DEVICE, kNoDevice);

    std::vector<Listed> all;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
        wchar_t id[VIREO_ID_CAPACITY];
        VireoCameraIdFromPath(Property(moniker.Get(), L"DevicePath").c_str(), id,
                              VIREO_ID_CAPACITY);
        all.push_back({moniker, Property(moniker.Get(), L"FriendlyName"), id});
    }
    for (const Listed &d : all) {
        if (!wanted || d.name == wanted ||
            (!d.id.empty() && VireoCameraSameId(d.id.c_str(), wanted))) {
            device = d.moniker;
            name = ShownName(all, d);
            return EXIT_OK;
        }
    }
    if (wanted)
        return Fail(EXIT_NOT_FOUND, L"no video input device named " + Quoted(wanted));
    return Fail(EXIT_NO_DEVICE, kNoDevice);
}

// The "Camera Setting" page comes from the kit's extension; without it a
// device lists none, or only pages of its own, and the launcher has nothing
// to show.
std::wstring NoPages(const std::wstring &name)
{
    return L"the device " + Quoted(name) +
           L" offers no \"Camera Setting\" page (is the camera kit installed?)";
}

struct CoTaskMemDeleter {
    void operator()(void *block) const { CoTaskMemFree(block); }
};

// Finds the device, binds it to its filter and shows the filter's pages.
int ShowDevicePages(const wchar_t *wanted)
{
    ComPtr<IMoniker> device;
    std::wstring name;
    const int found = FindDevice(wanted, device, name);
    if (found != EXIT_OK)
        return found;

    ComPtr<IBaseFilter> filter;
    HRESULT hr = device->BindToObject(NULL, NULL, IID_IBaseFilter,
                                      reinterpret_cast<void **>(filter.GetAddressOf()));
    device.Reset();
    if (FAILED(hr) || !filter)
        return Fail(EXIT_BIND, L"cannot open the device " + Quoted(name),
                    FAILED(hr) ? hr : E_POINTER);

    ComPtr<ISpecifyPropertyPages> specify;
    hr = filter->QueryInterface(IID_ISpecifyPropertyPages,
                                reinterpret_cast<void **>(specify.GetAddressOf()));
    if (FAILED(hr) || !specify)
        return Fail(EXIT_NO_PAGES, NoPages(name));
    CAUUID pages = {0, NULL};
    hr = specify->GetPages(&pages);
    const std::unique_ptr<GUID, CoTaskMemDeleter> ownedPages(pages.pElems);
    specify.Reset();
    if (FAILED(hr))
        return Fail(EXIT_NO_PAGES, L"cannot list the property pages of " + Quoted(name), hr);
    bool settingPage = false;
    for (ULONG i = 0; i < pages.cElems; ++i)
        settingPage = settingPage || IsEqualGUID(pages.pElems[i], CLSID_CameraSettingPage);
    if (!settingPage)
        return Fail(EXIT_NO_PAGES, NoPages(name));

    ComPtr<IUnknown> object;
    hr = filter.As(&object);
    if (SUCCEEDED(hr)) {
        // Modal: returns when the user has closed the frame.
        IUnknown *objects[1] = {object.Get()};
        hr = OleCreatePropertyFrame(NULL, 0, 0, name.c_str(), 1, objects, pages.cElems,
                                    pages.pElems, GetUserDefaultLCID(), 0, NULL);
    }
    if (FAILED(hr))
        return Fail(EXIT_FRAME, L"cannot show the property pages of " + Quoted(name), hr);
    return EXIT_OK;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    const wchar_t *wanted = NULL;
    if (argc == 2) {
        const std::wstring arg = argv[1];
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            WriteLine(STD_OUTPUT_HANDLE, kUsage);
            return EXIT_OK;
        }
        wanted = argv[1];
    } else if (argc > 2) {
        WriteLine(STD_ERROR_HANDLE, kUsage);
        return EXIT_USAGE;
    }

    HRESULT hr = CoInitialize(NULL);
    if (FAILED(hr))
        return Fail(EXIT_COM, L"COM cannot be initialised", hr);
    const int status = ShowDevicePages(wanted);
    CoUninitialize();
    return status;
}
