// fakes.h - the test doubles the tests share: an outer object in the place of
// the capture filter, a property page site and a nothrow allocation that can
// be made to fail.
#ifndef VIREO_TESTS_FAKES_H
#define VIREO_TESTS_FAKES_H

#include <windows.h>
#include <ocidl.h>
#include <strmif.h>

#include <atomic>
#include <functional>
#include <vector>

// While set, every operator new(std::nothrow) of the program returns null.
extern std::atomic<bool> g_failNothrowNew;

// One IKsPropertySet call as the filter received it, blocks copied.
struct PropertyCall {
    bool isSet;
    GUID set;
    DWORD id;
    const void *instance;
    DWORD instanceLength;
    std::vector<BYTE> instanceBytes;
    const void *data;
    DWORD dataLength;
    std::vector<BYTE> dataBytes;
};

// Stands where the kernel-streaming proxy's capture filter stands: offers
// IKsPropertySet (unless told not to), logs every property call and answers
// it from the backend when one is set, else with result (and reply copied
// into a get's data). Every other interface is asked of inner, the
// aggregated object's inner unknown, which the filter releases at its end.
// References are counted but never free the object.
class FakeFilter : public IKsPropertySet {
public:
    typedef std::function<HRESULT(bool isSet, DWORD id, void *instance, DWORD instanceLength,
                                  void *data, DWORD dataLength, DWORD *returned)>
        Backend;

    explicit FakeFilter(bool offerPropertySet = true) : offer(offerPropertySet) {}
    virtual ~FakeFilter() { DropInner(); }
    void DropInner();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return static_cast<ULONG>(InterlockedDecrement(&refs));
    }
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                                  LPVOID data, DWORD dataLength, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID, DWORD, DWORD *) override;

    IUnknown *Unknown() { return static_cast<IKsPropertySet *>(this); }

    LONG refs = 1;
    bool offer;
    IUnknown *inner = NULL;
    int queries = 0;
    int querySupported = 0;
    HRESULT result = S_OK;
    std::vector<BYTE> reply;
    bool writeCount = true;  // a get writes count into its returned-size word
    DWORD count = 0;
    Backend backend;
    std::vector<PropertyCall> calls;

private:
    void Record(bool isSet, REFGUID set, DWORD id, LPVOID instance, DWORD instanceLength,
                LPVOID data, DWORD dataLength);
};

// A property frame's page site: counts references, records status changes.
class FakePageSite : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *lcid) override;
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown **ppUnk) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *) override { return S_FALSE; }

    LONG refs = 1;
    std::vector<DWORD> status;
};

#endif  // VIREO_TESTS_FAKES_H
