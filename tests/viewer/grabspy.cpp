// grabspy.dll - the platform's own sample grabber, aggregated, with every
// ISampleGrabber call written as one line to the file that the environment
// variable VIREO_GRABBER_LOG names. Registered by the capview tests in the
// grabber's place for as long as they run.
#include <windows.h>
#include <dshow.h>
#include <stdarg.h>
#include <stdio.h>

#include "grabber.h"

namespace {

LONG g_objects = 0;

void Log(const char *format, ...)
{
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("VIREO_GRABBER_LOG", path, MAX_PATH))
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    line[n] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, 0, NULL);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(n + 1), &written, NULL);
    CloseHandle(file);
}

// The outer object: its own ISampleGrabber, everything else the inner
// grabber's.
class Spy : public ISampleGrabber {
public:
    HRESULT Init()
    {
        HMODULE qedit = LoadLibraryW(L"qedit.dll");
        typedef HRESULT(STDAPICALLTYPE * GetClassObject)(REFCLSID, REFIID, void **);
        GetClassObject get = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void (*)()>(GetProcAddress(qedit, "DllGetClassObject")));
        IClassFactory *factory = NULL;
        HRESULT hr =
            get ? get(CLSID_SampleGrabber, IID_IClassFactory, reinterpret_cast<void **>(&factory))
                : E_FAIL;
        if (FAILED(hr))
            return hr;
        hr = factory->CreateInstance(this, IID_IUnknown, reinterpret_cast<void **>(&m_inner));
        factory->Release();
        if (FAILED(hr))
            return hr;
        hr = m_inner->QueryInterface(IID_SampleGrabberInterface,
                                     reinterpret_cast<void **>(&m_grabber));
        if (SUCCEEDED(hr))
            --m_refs;  // the reference the inner object's interface took on us
        return hr;
    }
    virtual ~Spy()
    {
        if (m_grabber) {
            ++m_refs;
            m_grabber->Release();
        }
        if (m_inner)
            m_inner->Release();
        InterlockedDecrement(&g_objects);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_SampleGrabberInterface)) {
            *ppv = static_cast<ISampleGrabber *>(this);
            AddRef();
            return S_OK;
        }
        return m_inner ? m_inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            m_refs = 1;
            delete this;
        }
        return refs;
    }

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) override
    {
        Log("SetOneShot %d", oneShot);
        return m_grabber->SetOneShot(oneShot);
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *t) override
    {
        if (t)
            Log("SetMediaType %08lX %08lX %08lX %d %d %lu %lu %d %d", t->majortype.Data1,
                t->subtype.Data1, t->formattype.Data1, t->bFixedSizeSamples,
                t->bTemporalCompression, t->lSampleSize, t->cbFormat, t->pbFormat != NULL,
                t->pUnk != NULL);
        return m_grabber->SetMediaType(t);
    }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *t) override
    {
        return m_grabber->GetConnectedMediaType(t);
    }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) override
    {
        Log("SetBufferSamples %d", buffer);
        return m_grabber->SetBufferSamples(buffer);
    }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG *size, LONG *buffer) override
    {
        Log("GetCurrentBuffer");
        return m_grabber->GetCurrentBuffer(size, buffer);
    }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample **sample) override
    {
        return m_grabber->GetCurrentSample(sample);
    }
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB *callback, LONG which) override
    {
        Log("SetCallback");
        return m_grabber->SetCallback(callback, which);
    }

private:
    LONG m_refs = 1;
    IUnknown *m_inner = NULL;
    ISampleGrabber *m_grabber = NULL;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        *ppv = NULL;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Spy *spy = new Spy;
        InterlockedIncrement(&g_objects);
        HRESULT hr = spy->Init();
        if (SUCCEEDED(hr))
            hr = spy->QueryInterface(riid, ppv);
        spy->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **ppv)
{
    if (!IsEqualCLSID(clsid, CLSID_SampleGrabber)) {
        *ppv = NULL;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_objects ? S_FALSE : S_OK;
}
