// camera.cpp - the camera library: finding a video input device, binding its
// capture filter, asking it for IFace, and the requests of one control.
//
// The library is linked into C programs too, so it asks nothing of the C++
// runtime: no operator new, no exceptions, no standard library.
#include "vireocamera.h"

#include <dshow.h>
#include <new>
#include <string.h>
#include <strsafe.h>
#include <wchar.h>
#include <wrl/client.h>

#include "camera_internal.h"
#include "handles.h"

using vireocamera::Pause;
using vireocamera::Report;

using Microsoft::WRL::ComPtr;

enum { kNameCapacity = 256 };

struct VireoCamera {
    ComPtr<IFace> face;  // holds the capture filter
    WCHAR name[kNameCapacity];
    WCHAR id[VIREO_ID_CAPACITY];
    bool uninitialize;  // COM was initialised by the opening
    VireoStepFunction step;
    void *stepContext;
    VireoPauseFunction pause;
};

extern "C" const VireoDefaultStep VireoDefaultSequence[CAMERA_CONTROL_COUNT] = {
    {A_GAIN, 1},        {A_AUTOGAIN, 0},   {D_GAIN, 1},       {EXPOSURE, 0}, {AEC, 1},
    {EXPOSURE2CTRL, 0}, {EXPOSURE2VAL, 0}, {FLIP, 0},         {MIRROR, 0},   {LEDCTRL, 0},
    {PRIVACY, 0},       {STROBECTRL, 0},   {STROBEINVERT, 0}, {VGA_FPS, 0},  {QVGA_FPS, 0}};

namespace {

// COM for the calling thread, for as long as the owner lives, unless the
// thread had it already.
class ComScope {
public:
    ComScope() : m_hr(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    ComScope(const ComScope &) = delete;
    ComScope &operator=(const ComScope &) = delete;
    // Usable: initialised now, before, or in the other apartment model.
    bool Usable() const { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }
    // Hands the initialisation over to a camera, which gives it back.
    bool Keep()
    {
        const bool ours = SUCCEEDED(m_hr);
        m_hr = E_FAIL;
        return ours;
    }

private:
    HRESULT m_hr;
};

// The video input devices' monikers, in the enumerator's order.
HRESULT Devices(ComPtr<IEnumMoniker> *monikers)
{
    ComPtr<ICreateDevEnum> enumerator;
    HRESULT hr =
        CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void **>(enumerator.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                           monikers->ReleaseAndGetAddressOf(), 0);
    // S_FALSE and no enumerator: the category is empty.
    return hr == S_OK && *monikers ? S_OK : (FAILED(hr) ? hr : VIREO_E_NO_DEVICE);
}

// A text property of the device (FriendlyName, DevicePath); empty when it
// has none.
void ReadText(IPropertyBag *bag, const wchar_t *property, WCHAR *text, size_t size)
{
    text[0] = L'\0';
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(bag->Read(property, &value, NULL)) && V_VT(&value) == VT_BSTR && V_BSTR(&value))
        StringCchCopyW(text, size, V_BSTR(&value));  // cut to size, terminated
    VariantClear(&value);
}

// What a device is known by: its friendly name, and its id (the device
// path without its interface class, or the friendly name when it has none).
struct Identity {
    WCHAR name[kNameCapacity];
    WCHAR id[VIREO_ID_CAPACITY];
};

void Identify(IMoniker *moniker, Identity *identity)
{
    identity->name[0] = L'\0';
    identity->id[0] = L'\0';
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag,
                                      reinterpret_cast<void **>(bag.GetAddressOf()))))
        return;
    ReadText(bag.Get(), L"FriendlyName", identity->name, kNameCapacity);
    WCHAR path[VIREO_ID_CAPACITY];
    ReadText(bag.Get(), L"DevicePath", path, VIREO_ID_CAPACITY);
    if (path[0])
        VireoCameraIdFromPath(path, identity->id, VIREO_ID_CAPACITY);
    else
        StringCchCopyW(identity->id, VIREO_ID_CAPACITY, identity->name);
}

// Which device a caller means: an index, or a friendly name, or an id.
struct Wanted {
    unsigned index;
    const wchar_t *name;
    const wchar_t *id;
};

bool Matches(const Wanted &wanted, unsigned index, const Identity &identity)
{
    if (wanted.id)
        return VireoCameraSameId(identity.id, wanted.id) != 0;
    if (wanted.name)
        return _wcsicmp(identity.name, wanted.name) == 0;
    return index == wanted.index;
}

// The first device the caller means, and what it is known by.
HRESULT FindDevice(const Wanted &wanted, ComPtr<IMoniker> *found, Identity *identity)
{
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = Devices(&monikers);
    if (FAILED(hr))
        return hr;
    ComPtr<IMoniker> moniker;
    for (unsigned i = 0; monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK; ++i) {
        Identify(moniker.Get(), identity);
        if (Matches(wanted, i, *identity)) {
            *found = moniker;
            return S_OK;
        }
    }
    return VIREO_E_NO_SUCH_DEVICE;
}

// The identity of device index, COM initialised for the call.
HRESULT IdentifyIndex(unsigned index, Identity *identity)
{
    ComScope com;
    if (!com.Usable())
        return E_UNEXPECTED;
    const Wanted wanted = {index, NULL, NULL};
    ComPtr<IMoniker> moniker;
    return FindDevice(wanted, &moniker, identity);
}

// The place of a camera among the present ones of its name in the order of
// their ids: 1 the first.
HRESULT TwinPlace(const Identity &self, unsigned *place)
{
    *place = 1;
    ComScope com;
    if (!com.Usable())
        return E_UNEXPECTED;
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = Devices(&monikers);
    if (FAILED(hr))
        return hr;
    Identity *other = static_cast<Identity *>(HeapAlloc(GetProcessHeap(), 0, sizeof(Identity)));
    if (!other)
        return E_OUTOFMEMORY;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK) {
        Identify(moniker.Get(), other);
        *place += vireocamera::SameName(other->name, self.name) &&
                  vireocamera::IdBefore(other->id, self.id);
    }
    HeapFree(GetProcessHeap(), 0, other);
    return S_OK;
}

// What the calls of one device index tell: its name, its id, or the name
// shown to a person (cut to size, terminated).
enum class Told { Name, Id, Shown };
HRESULT TellIndex(unsigned index, Told told, wchar_t *out, unsigned size)
{
    if (!out || !size)
        return E_POINTER;
    out[0] = L'\0';
    Identity identity;
    HRESULT hr = IdentifyIndex(index, &identity);
    unsigned place = 1;
    if (SUCCEEDED(hr) && told == Told::Shown)
        hr = TwinPlace(identity, &place);
    if (FAILED(hr))
        return hr;
    if (told == Told::Id)
        StringCchCopyW(out, size, identity.id);
    else if (place == 1)
        StringCchCopyW(out, size, identity.name);
    else
        StringCchPrintfW(out, size, L"%s (%u)", identity.name, place);
    return hr;
}

// Whether the handler's class is registered in one registry view.
bool HandlerRegistered(REGSAM view)
{
    RegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                         L"Software\\Classes\\CLSID\\{04F2A42A-479F-4511-8F03-1CE31876DBCC}"
                         L"\\InprocServer32",
                         0, KEY_READ | view, key.Put()) == ERROR_SUCCESS;
}

// A device without IFace: the extension missing, or registered in the other
// width's view of the registry only (a 64-bit program cannot load a 32-bit
// module, nor the reverse). A 32-bit program on 32-bit Windows has one view.
HRESULT WhyNoInterface()
{
#ifdef _WIN64
    const REGSAM own = KEY_WOW64_64KEY, other = KEY_WOW64_32KEY;
#else
    const REGSAM own = KEY_WOW64_32KEY, other = KEY_WOW64_64KEY;
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        return VIREO_E_NO_IFACE;
#endif
    return !HandlerRegistered(own) && HandlerRegistered(other) ? VIREO_E_OTHER_WIDTH
                                                               : VIREO_E_NO_IFACE;
}

HRESULT Open(const Wanted &wanted, VireoCamera **camera)
{
    if (!camera)
        return E_POINTER;
    *camera = NULL;
    ComScope com;
    if (!com.Usable())
        return E_UNEXPECTED;
    void *memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(VireoCamera));
    if (!memory)
        return E_OUTOFMEMORY;
    VireoCamera *opened = new (memory) VireoCamera();
    ComPtr<IMoniker> moniker;
    Identity identity;
    HRESULT hr = FindDevice(wanted, &moniker, &identity);
    StringCchCopyW(opened->name, kNameCapacity, identity.name);
    StringCchCopyW(opened->id, VIREO_ID_CAPACITY, identity.id);
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(hr) &&
        FAILED(moniker->BindToObject(NULL, NULL, IID_IBaseFilter,
                                     reinterpret_cast<void **>(filter.GetAddressOf()))))
        hr = VIREO_E_CANNOT_OPEN;
    if (SUCCEEDED(hr) && FAILED(filter.As(&opened->face)))
        hr = WhyNoInterface();
    if (FAILED(hr)) {
        VireoCameraClose(opened);
        return hr;
    }
    opened->uninitialize = com.Keep();
    *camera = opened;
    return S_OK;
}

// By a friendly name or an id; a null one is refused before anything is
// looked up.
HRESULT OpenByText(const wchar_t *text, bool isId, VireoCamera **camera)
{
    if (!text) {
        if (camera)
            *camera = NULL;
        return E_POINTER;
    }
    const Wanted wanted = {0, isId ? NULL : text, isId ? text : NULL};
    return Open(wanted, camera);
}

bool Known(ULONG id)
{
    return CameraControlName(id) != NULL;
}

HRESULT Query(VireoCamera *camera, ULONG id, ULONG kind, ControlReply *reply)
{
    if (!camera || !reply)
        return E_POINTER;
    if (!Known(id))
        return VIREO_E_UNKNOWN_CONTROL;
    // The block goes out with the request and comes back with the reply.
    ControlRequest request = {id, kind, 0, 0};
    DWORD returned = 0;
    const HRESULT hr = camera->face->GetValue10h(&request, &returned);
    if (SUCCEEDED(hr))
        memcpy(reply, &request, sizeof(*reply));
    return hr;
}

HRESULT SendDefault(VireoCamera *camera, ULONG id, LONG defaultValue)
{
    ControlRequest32 request;
    memset(&request, 0, sizeof(request));
    request.controlId = id;
    request.kind = SET_ENABLE;
    request.enable = 1;
    request.defaultValue = defaultValue;
    return camera->face->SetValue20h(&request);
}

// SET_DATA of every control in the Default sequence, with its pauses; the
// value of control CameraControlIds[i] is values[i].
HRESULT SendValues(VireoCamera *camera, const LONG *values, HRESULT first)
{
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        size_t i = 0;
        while (CameraControlIds[i] != s.controlId)
            ++i;
        ControlRequest request = {s.controlId, SET_DATA, values[i], 0};
        Report(camera, s.controlId, SET_DATA, values[i], camera->face->SetValue10h(&request),
               &first);
        if (s.pauseAfter)
            Pause(camera);
    }
    return first;
}

}  // namespace

void vireocamera::Report(VireoCamera *camera, ULONG id, ULONG kind, LONG value, HRESULT hr,
                         HRESULT *first)
{
    if (FAILED(hr) && SUCCEEDED(*first))
        *first = hr;
    if (camera->step) {
        const VireoStep step = {id, kind, value, hr};
        camera->step(camera->stepContext, &step);
    }
}

void vireocamera::Pause(VireoCamera *camera)
{
    (camera->pause ? camera->pause : Sleep)(VIREO_DEFAULT_PAUSE_MS);
}

extern "C" {

HRESULT VireoCameraDeviceCount(unsigned *count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    ComScope com;
    if (!com.Usable())
        return E_UNEXPECTED;
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = Devices(&monikers);
    if (hr == VIREO_E_NO_DEVICE)
        return S_OK;
    if (FAILED(hr))
        return hr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), NULL) == S_OK)
        ++*count;
    return S_OK;
}

HRESULT VireoCameraDeviceName(unsigned index, wchar_t *name, unsigned size)
{
    return TellIndex(index, Told::Name, name, size);
}

HRESULT VireoCameraDeviceId(unsigned index, wchar_t *id, unsigned size)
{
    return TellIndex(index, Told::Id, id, size);
}

HRESULT VireoCameraDeviceShownName(unsigned index, wchar_t *name, unsigned size)
{
    return TellIndex(index, Told::Shown, name, size);
}

// "\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000#{65e8773d-...}\global": the
// last "#{...}" with nothing after it but a "\reference" is the interface
// class part.
void VireoCameraIdFromPath(const wchar_t *path, wchar_t *id, unsigned size)
{
    if (!id || !size)
        return;
    id[0] = L'\0';
    if (!path)
        return;
    size_t keep = wcslen(path);
    const wchar_t *classPart = NULL;
    for (const wchar_t *p = wcsstr(path, L"#{"); p; p = wcsstr(p + 1, L"#{"))
        classPart = p;
    if (classPart) {
        const wchar_t *close = wcschr(classPart, L'}');
        if (close && (close[1] == L'\0' || (close[1] == L'\\' && !wcschr(close + 1, L'#'))))
            keep = static_cast<size_t>(classPart - path);
    }
    if (keep >= size)
        keep = size - 1;
    wmemcpy(id, path, keep);
    id[keep] = L'\0';
}

void VireoCameraIdKey(const wchar_t *id, wchar_t *key, unsigned size)
{
    if (!key || !size)
        return;
    VireoCameraIdFromPath(id, key, size);
    const int length = static_cast<int>(wcslen(key));
    if (length)
        LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, key, length, key, length);
}

int VireoCameraSameId(const wchar_t *a, const wchar_t *b)
{
    if (!a || !b)
        return 0;
    WCHAR left[VIREO_ID_CAPACITY], right[VIREO_ID_CAPACITY];
    VireoCameraIdKey(a, left, VIREO_ID_CAPACITY);
    VireoCameraIdKey(b, right, VIREO_ID_CAPACITY);
    return left[0] && wcscmp(left, right) == 0;
}

HRESULT VireoCameraOpenIndex(unsigned index, VireoCamera **camera)
{
    const Wanted wanted = {index, NULL, NULL};
    return Open(wanted, camera);
}

HRESULT VireoCameraOpenName(const wchar_t *name, VireoCamera **camera)
{
    return OpenByText(name, false, camera);
}

HRESULT VireoCameraOpenId(const wchar_t *id, VireoCamera **camera)
{
    return OpenByText(id, true, camera);
}

void VireoCameraClose(VireoCamera *camera)
{
    if (!camera)
        return;
    const bool uninitialize = camera->uninitialize;
    camera->~VireoCamera();  // IFace and the filter go before COM does
    HeapFree(GetProcessHeap(), 0, camera);
    if (uninitialize)
        CoUninitialize();
}

const wchar_t *VireoCameraName(const VireoCamera *camera)
{
    return camera ? camera->name : L"";
}

const wchar_t *VireoCameraId(const VireoCamera *camera)
{
    return camera ? camera->id : L"";
}

IFace *VireoCameraInterface(const VireoCamera *camera)
{
    return camera ? camera->face.Get() : NULL;
}

HRESULT VireoCameraGet(VireoCamera *camera, ULONG id, LONG *value)
{
    if (!value)
        return E_POINTER;
    ControlReply reply;
    const HRESULT hr = Query(camera, id, GET_DATA, &reply);
    if (SUCCEEDED(hr))
        *value = reply.enableOrValue;
    return hr;
}

HRESULT VireoCameraRange(VireoCamera *camera, ULONG id, VireoRange *range)
{
    if (!range)
        return E_POINTER;
    ControlReply reply;
    const HRESULT hr = Query(camera, id, GET_ENABLE, &reply);
    if (SUCCEEDED(hr)) {
        range->enable = reply.enableOrValue;
        range->defaultValue = reply.defaultValue;
        range->minValue = reply.minValue;
        range->maxValue = reply.maxValue;
    }
    return hr;
}

HRESULT VireoCameraSet(VireoCamera *camera, ULONG id, LONG value)
{
    if (!camera)
        return E_POINTER;
    if (!Known(id))
        return VIREO_E_UNKNOWN_CONTROL;
    ControlRequest request = {id, SET_DATA, value, 0};
    return camera->face->SetValue10h(&request);
}

HRESULT VireoCameraDefaults(VireoCamera *camera)
{
    if (!camera)
        return E_POINTER;
    HRESULT first = S_OK;
    LONG values[CAMERA_CONTROL_COUNT];
    for (const VireoDefaultStep &s : VireoDefaultSequence) {
        const LONG value = CameraControlFactoryDefault(s.controlId);
        Report(camera, s.controlId, SET_ENABLE, value, SendDefault(camera, s.controlId, value),
               &first);
    }
    for (size_t i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        values[i] = CameraControlFactoryDefault(CameraControlIds[i]);
    return SendValues(camera, values, first);
}

HRESULT VireoCameraSetAll(VireoCamera *camera, const LONG values[CAMERA_CONTROL_COUNT])
{
    if (!camera || !values)
        return E_POINTER;
    return SendValues(camera, values, S_OK);
}

void VireoCameraWatch(VireoCamera *camera, VireoStepFunction step, void *context)
{
    if (camera) {
        camera->step = step;
        camera->stepContext = context;
    }
}

void VireoCameraSetPause(VireoCamera *camera, VireoPauseFunction pause)
{
    if (camera)
        camera->pause = pause;
}

const char *VireoCameraMessage(HRESULT result)
{
    switch (result) {
    case VIREO_E_NO_DEVICE: return "the machine has no video input device";
    case VIREO_E_NO_SUCH_DEVICE: return "no video input device of that index, name or id";
    case VIREO_E_CANNOT_OPEN:
        return "the device could not be opened (its driver is missing or it is gone)";
    case VIREO_E_NO_IFACE:
        return "the device offers no IFace: the extension vireoprop.ax is not registered";
    case VIREO_E_OTHER_WIDTH:
#ifdef _WIN64
        return "the device offers no IFace to 64-bit programs: vireoprop.ax is registered "
               "for 32-bit programs only (register the 64-bit vireoprop.ax, or use a 32-bit "
               "program)";
#else
        return "the device offers no IFace to 32-bit programs: vireoprop.ax is registered "
               "for 64-bit programs only (register the 32-bit vireoprop.ax, or use a 64-bit "
               "program)";
#endif
    case VIREO_E_UNKNOWN_CONTROL: return "no control of that id";
    case VIREO_E_BAD_PROFILE: return "the profile is refused";
    case VIREO_E_OTHER_CAMERA: return "the profile was saved from another camera";
    case VIREO_E_OUT_OF_RANGE: return "a value lies outside the camera's range for its control";
    case VIREO_S_SKIPPED: return "skipped: the camera reports the control disabled";
    case E_POINTER: return "a required pointer was null";
    case E_OUTOFMEMORY: return "out of memory";
    case E_UNEXPECTED: return "COM could not be initialised";
    default: return SUCCEEDED(result) ? "done" : "the camera refused the request";
    }
}

}  // extern "C"
