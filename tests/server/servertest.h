// servertest.h - shared pieces of the module server tests: an outer object
// in the place of the capture filter, and registry readers.
#ifndef VIREO_TESTS_SERVERTEST_H
#define VIREO_TESTS_SERVERTEST_H

#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

#include "control/vireoctl.h"

namespace servertest {

// The capture filter's part: offers IKsPropertySet, forwards queries for
// the camera's interface to the aggregated inner object, counts references
// and property sets.
class OuterFilter : public IKsPropertySet {
public:
    explicit OuterFilter(bool offerPropertySet = true) : m_offer(offerPropertySet) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        ++m_queries;
        if (IsEqualIID(riid, IID_IUnknown) || (m_offer && IsEqualIID(riid, IID_IKsPropertySet))) {
            *ppv = static_cast<IKsPropertySet *>(this);
            AddRef();
            return S_OK;
        }
        if (m_inner && IsEqualIID(riid, CameraPropertySet))
            return m_inner->QueryInterface(riid, ppv);
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }

    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data,
                                  DWORD dataLength) override
    {
        m_lastSet = set;
        m_lastId = id;
        m_lastLength = dataLength;
        if (data && dataLength >= sizeof(ControlRequest))
            m_lastRequest = *static_cast<ControlRequest *>(data);
        ++m_sets;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Get(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD, DWORD *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID, DWORD, DWORD *) override { return E_NOTIMPL; }

    long m_refs = 1;
    int m_queries = 0;
    bool m_offer;
    IUnknown *m_inner = NULL;  // the aggregated object's inner unknown
    int m_sets = 0;
    GUID m_lastSet = GUID_NULL;
    DWORD m_lastId = 0xFFFFFFFF;
    DWORD m_lastLength = 0;
    ControlRequest m_lastRequest = {};
};

std::wstring GuidString(REFGUID guid);

// Registry paths of the module's entries.
std::wstring ClassKey(REFGUID clsid);         // "CLSID\{...}" under HKCR
std::wstring SetKey();                        // "...\MediaSets\{set}" under HKLM
std::wstring PropertyPagesKey();              // SetKey() + "\PropertyPages"
std::wstring PageKey();                       // PropertyPagesKey() + "\{page}"
std::wstring HandlerKey();                    // "...\MediaInterfaces\{set}" under HKLM
extern const wchar_t kMediaSets[];
extern const wchar_t kMediaInterfaces[];

bool KeyExists(HKEY root, const std::wstring &path);

struct RegValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const;  // REG_SZ data without its terminating zero
};
RegValue ReadValue(HKEY root, const std::wstring &path, const wchar_t *name);

DWORD SubkeyCount(HKEY root, const std::wstring &path);
DWORD ValueCount(HKEY root, const std::wstring &path);

// Removes every entry the module may have written (test clean-up).
void RemoveModuleEntries();

// Checks every entry of a completed registration; modulePath is the
// expected InprocServer32 path of both classes.
void ExpectRegistered(const std::wstring &modulePath);
// No COM class entry and no extension key of the module is left.
void ExpectUnregistered();

}  // namespace servertest

#endif  // VIREO_TESTS_SERVERTEST_H

// Set by a test to make the module's nothrow allocations fail.
#include <atomic>
extern std::atomic<bool> g_failNothrowNew;
