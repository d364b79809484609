#include "mediatype.h"

#include <string.h>

#include <dvdmedia.h>

#include "picture.h"
#include "vireoctl.h"

const SimFrameSize kSimFrameSizes[kSimFormatCount] = {
    {640, 480}, {320, 240}, {1280, 720}, {160, 120}};

const LONG kSimRates[kSimRateCount] = {60, 50, 30, 25, 15};

REFERENCE_TIME SimRateTime(LONG ratePerSecond)
{
    return 10000000 / ratePerSecond;
}

ULONG SimRateControl(LONG width, LONG height)
{
    if (width == 640 && height == 480)
        return VGA_FPS;
    if (width == 320 && height == 240)
        return QVGA_FPS;
    return 0;
}

LONG SimNearestRate(REFERENCE_TIME frameTime)
{
    LONG best = 0;
    for (LONG i = 1; i < kSimRateCount; ++i) {
        const REFERENCE_TIME d = SimRateTime(kSimRates[i]) - frameTime;
        const REFERENCE_TIME b = SimRateTime(kSimRates[best]) - frameTime;
        if ((d < 0 ? -d : d) < (b < 0 ? -b : b))
            best = i;
    }
    return best;
}

REFERENCE_TIME SimFrameTime(const SimFormat &format, const SimDriverState &driver)
{
    const ULONG id = SimRateControl(format.width, format.height);
    for (int i = 0; id && i < CAMERA_CONTROL_COUNT; ++i) {
        const SimControl &c = driver.controls[i];
        if (c.id == id && c.value >= 0 && c.value < kSimRateCount)
            return SimRateTime(kSimRates[c.value]);
    }
    return format.frameTime;
}

HRESULT SimMakeMediaType(AM_MEDIA_TYPE *mt, const SimFormat &format, bool zeroImageSize)
{
    memset(mt, 0, sizeof(*mt));
    VIDEOINFOHEADER *vih = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih)
        return E_OUTOFMEMORY;
    memset(vih, 0, sizeof(*vih));
    const ULONG bytes = SimFrameBytes(format.width, format.height);
    const ULONG imageSize = zeroImageSize ? 0 : bytes;
    vih->rcSource.right = format.width;
    vih->rcSource.bottom = format.height;
    vih->rcTarget = vih->rcSource;
    vih->AvgTimePerFrame = format.frameTime;
    vih->dwBitRate =
        static_cast<DWORD>(static_cast<LONGLONG>(bytes) * 8 * 10000000 / format.frameTime);
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = format.width;
    vih->bmiHeader.biHeight = format.height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = imageSize;

    mt->majortype = MEDIATYPE_Video;
    mt->subtype = MEDIASUBTYPE_RGB24;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = imageSize;
    mt->formattype = FORMAT_VideoInfo;
    mt->pUnk = NULL;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->pbFormat = reinterpret_cast<BYTE *>(vih);
    return S_OK;
}

AM_MEDIA_TYPE *SimCreateMediaType(const SimFormat &format, bool zeroImageSize)
{
    AM_MEDIA_TYPE *mt = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt)
        return NULL;
    if (FAILED(SimMakeMediaType(mt, format, zeroImageSize))) {
        CoTaskMemFree(mt);
        return NULL;
    }
    return mt;
}

void SimFreeMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return;
    if (mt->pbFormat)
        CoTaskMemFree(mt->pbFormat);
    mt->pbFormat = NULL;
    mt->cbFormat = 0;
    if (mt->pUnk)
        mt->pUnk->Release();
    mt->pUnk = NULL;
}

void SimDeleteMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt)
        return;
    SimFreeMediaType(mt);
    CoTaskMemFree(mt);
}

HRESULT SimCopyMediaType(AM_MEDIA_TYPE *dst, const AM_MEDIA_TYPE *src)
{
    *dst = *src;
    dst->pbFormat = NULL;
    dst->cbFormat = 0;
    if (src->cbFormat && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->pUnk = NULL;
            return E_OUTOFMEMORY;
        }
        memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
        dst->cbFormat = src->cbFormat;
    }
    if (dst->pUnk)
        dst->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE *SimCloneMediaType(const AM_MEDIA_TYPE *src)
{
    AM_MEDIA_TYPE *mt = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt && FAILED(SimCopyMediaType(mt, src))) {
        CoTaskMemFree(mt);
        mt = NULL;
    }
    return mt;
}

HRESULT SimToVideoInfo2(AM_MEDIA_TYPE *mt)
{
    VIDEOINFOHEADER2 *vih2 =
        static_cast<VIDEOINFOHEADER2 *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
    if (!vih2)
        return E_OUTOFMEMORY;
    const VIDEOINFOHEADER *vih = reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat);
    memset(vih2, 0, sizeof(*vih2));
    vih2->rcSource = vih->rcSource;
    vih2->rcTarget = vih->rcTarget;
    vih2->AvgTimePerFrame = vih->AvgTimePerFrame;
    vih2->dwBitRate = vih->dwBitRate;
    vih2->bmiHeader = vih->bmiHeader;
    CoTaskMemFree(mt->pbFormat);
    mt->formattype = FORMAT_VideoInfo2;
    mt->pbFormat = reinterpret_cast<BYTE *>(vih2);
    mt->cbFormat = sizeof(*vih2);
    return S_OK;
}

void SimDropFormatBlock(AM_MEDIA_TYPE *mt)
{
    CoTaskMemFree(mt->pbFormat);
    mt->pbFormat = NULL;
}

bool SimParseMediaType(const AM_MEDIA_TYPE *mt, REFERENCE_TIME fallbackTime, SimFormat *format)
{
    if (!mt || !IsEqualGUID(mt->majortype, MEDIATYPE_Video) ||
        !IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24) ||
        !IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || !mt->pbFormat ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const VIDEOINFOHEADER *vih = reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat);
    const BITMAPINFOHEADER &bmi = vih->bmiHeader;
    bool sizeOffered = false;
    for (int i = 0; i < kSimFormatCount; ++i)
        if (kSimFrameSizes[i].width == bmi.biWidth && kSimFrameSizes[i].height == bmi.biHeight)
            sizeOffered = true;
    if (!sizeOffered)
        return false;
    REFERENCE_TIME frameTime = vih->AvgTimePerFrame;
    if (frameTime == 0)
        frameTime = fallbackTime;
    else if (frameTime < kSimMinFrameTime || frameTime > kSimMaxFrameTime)
        return false;
    if (format) {
        format->width = bmi.biWidth;
        format->height = bmi.biHeight;
        format->frameTime = frameTime;
    }
    return true;
}

bool SimParseProposal(const AM_MEDIA_TYPE *mt, REFERENCE_TIME fallbackTime, SimFormat *format)
{
    if (!SimParseMediaType(mt, fallbackTime, format))
        return false;
    const BITMAPINFOHEADER &bmi =
        reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat)->bmiHeader;
    return bmi.biBitCount == 24 && bmi.biCompression == BI_RGB;
}

bool SimPartialMatch(const AM_MEDIA_TYPE *mt, const AM_MEDIA_TYPE *full)
{
    if (!mt)
        return true;
    if (!IsEqualGUID(mt->majortype, GUID_NULL) && !IsEqualGUID(mt->majortype, full->majortype))
        return false;
    if (!IsEqualGUID(mt->subtype, GUID_NULL) && !IsEqualGUID(mt->subtype, full->subtype))
        return false;
    if (!IsEqualGUID(mt->formattype, GUID_NULL)) {
        if (!IsEqualGUID(mt->formattype, full->formattype))
            return false;
        // A type with its format block given is a complete one.
        if (mt->pbFormat && mt->cbFormat) {
            if (mt->cbFormat < sizeof(VIDEOINFOHEADER) || full->cbFormat < sizeof(VIDEOINFOHEADER))
                return false;
            const BITMAPINFOHEADER &a =
                reinterpret_cast<const VIDEOINFOHEADER *>(mt->pbFormat)->bmiHeader;
            const BITMAPINFOHEADER &b =
                reinterpret_cast<const VIDEOINFOHEADER *>(full->pbFormat)->bmiHeader;
            if (a.biWidth != b.biWidth || a.biHeight != b.biHeight)
                return false;
        }
    }
    return true;
}
