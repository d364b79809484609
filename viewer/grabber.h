// grabber.h - the sample grabber's interface and class identifier, and the
// media type capview asks of it. The benchmarks and the tests use the same.
//
// MinGW-w64's qedit.h declares ISampleGrabber but not the grabber's class
// identifier; current Windows SDKs ship no qedit.h at all. Both are given
// here for the builds that lack them.
#ifndef CAPVIEW_GRABBER_H
#define CAPVIEW_GRABBER_H

#include <windows.h>
#include <dshow.h>

#include <memory>

#if defined(__has_include)
#if __has_include(<qedit.h>)
#include <qedit.h>
#endif
#endif

// MinGW-w64's qedit.h, or none: the class identifier is ours to give. (The
// older SDKs' qedit.h declares it and their strmiids library holds it.)
#if defined(__MINGW32__) || !defined(__ISampleGrabber_INTERFACE_DEFINED__)
#define CAPVIEW_DEFINE_GRABBER_CLASS
#endif

#ifndef __ISampleGrabber_INTERFACE_DEFINED__
#define __ISampleGrabber_INTERFACE_DEFINED__
struct ISampleGrabberCB;
MIDL_INTERFACE("6b652fff-11fe-4fce-92ad-0266b5d7c78f")
ISampleGrabber : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL OneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE * pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL BufferThem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG * pBufferSize, LONG * pBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample * *ppSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB * pCallback,
                                                  LONG WhichMethodToCallback) = 0;
};
#endif

#ifdef CAPVIEW_DEFINE_GRABBER_CLASS
// {C1F400A0-3F08-11D3-9F0B-006008039E37}
static const CLSID CLSID_SampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
#endif

// {6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}
static const IID IID_SampleGrabberInterface = {
    0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};

// The type capview gives the grabber: a record cleared to zeros, then video,
// 24-bit RGB, video info format; no format block, no flags, sample size 0.
inline AM_MEDIA_TYPE GrabberMediaType()
{
    AM_MEDIA_TYPE type;
    ZeroMemory(&type, sizeof(type));
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    return type;
}

// Frees what a media type record holds (not the record).
inline void FreeMediaType(AM_MEDIA_TYPE &type)
{
    if (type.pbFormat)
        CoTaskMemFree(type.pbFormat);
    type.pbFormat = NULL;
    type.cbFormat = 0;
    if (type.pUnk)
        type.pUnk->Release();
    type.pUnk = NULL;
}

// Frees a media type record that the platform allocated, and what it holds.
inline void DeleteMediaType(AM_MEDIA_TYPE *type)
{
    if (type) {
        FreeMediaType(*type);
        CoTaskMemFree(type);
    }
}

// Owns a media type record that the platform allocated.
struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE *type) const { DeleteMediaType(type); }
};
typedef std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter> MediaTypePtr;

#endif  // CAPVIEW_GRABBER_H
