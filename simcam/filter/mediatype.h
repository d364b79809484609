// mediatype.h - the simulated camera's formats and media type records.
#ifndef SIMCAM_MEDIATYPE_H
#define SIMCAM_MEDIATYPE_H

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <string.h>

#include "simdriver.h"

// The frame sizes the camera offers, one capability entry each, the first
// being the size it starts with.
struct SimFrameSize {
    LONG width;
    LONG height;
};
enum { kSimFormatCount = 4 };
extern const SimFrameSize kSimFrameSizes[kSimFormatCount];

// Frame intervals in 100 ns units: 30 frames a second by default, 15 to 60
// accepted.
static const REFERENCE_TIME kSimDefaultFrameTime = 333333;
static const REFERENCE_TIME kSimMinFrameTime = 166666;
static const REFERENCE_TIME kSimMaxFrameTime = 666667;

// A format of the camera: what one RGB24 media type of it says.
struct SimFormat {
    LONG width;
    LONG height;
    REFERENCE_TIME frameTime;
};

// Fills mt (all fields) with the RGB24 FORMAT_VideoInfo type of format; the
// format block comes from CoTaskMemAlloc. zeroImageSize leaves biSizeImage
// and the sample size at 0.
HRESULT SimMakeMediaType(AM_MEDIA_TYPE *mt, const SimFormat &format, bool zeroImageSize);

// Same, as a whole record from CoTaskMemAlloc (what IAMStreamConfig hands out).
AM_MEDIA_TYPE *SimCreateMediaType(const SimFormat &format, bool zeroImageSize);

void SimFreeMediaType(AM_MEDIA_TYPE *mt);    // the record's format block and object
void SimDeleteMediaType(AM_MEDIA_TYPE *mt);  // the above and the record itself
HRESULT SimCopyMediaType(AM_MEDIA_TYPE *dst, const AM_MEDIA_TYPE *src);
// A copy of src as a whole record from CoTaskMemAlloc; null without memory.
AM_MEDIA_TYPE *SimCloneMediaType(const AM_MEDIA_TYPE *src);

// Odd shapes of a type made by SimMakeMediaType, for a test's capability
// list: its format block as a VIDEOINFOHEADER2 (FORMAT_VideoInfo2), or no
// format block at all (cbFormat kept).
HRESULT SimToVideoInfo2(AM_MEDIA_TYPE *mt);
void SimDropFormatBlock(AM_MEDIA_TYPE *mt);

// A whole record from CoTaskMemAlloc, deleted with what it holds.
struct SimMediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE *mt) const { SimDeleteMediaType(mt); }
};
typedef std::unique_ptr<AM_MEDIA_TYPE, SimMediaTypeDeleter> SimMediaTypePtr;

// A record held by value that owns its format block and object: empty at
// first, freed when it goes or is reset.
class SimMediaType : public AM_MEDIA_TYPE {
public:
    SimMediaType() { memset(static_cast<AM_MEDIA_TYPE *>(this), 0, sizeof(AM_MEDIA_TYPE)); }
    ~SimMediaType() { SimFreeMediaType(this); }
    SimMediaType(const SimMediaType &) = delete;
    SimMediaType &operator=(const SimMediaType &) = delete;

    void Reset()
    {
        SimFreeMediaType(this);
        memset(static_cast<AM_MEDIA_TYPE *>(this), 0, sizeof(AM_MEDIA_TYPE));
    }
    void Swap(SimMediaType &other)
    {
        const AM_MEDIA_TYPE mine = *this;
        static_cast<AM_MEDIA_TYPE &>(*this) = other;
        static_cast<AM_MEDIA_TYPE &>(other) = mine;
    }
};

// True when the camera can send mt: video, RGB24, FORMAT_VideoInfo with a
// whole VIDEOINFOHEADER, one of the offered sizes (bottom-up), and a frame
// interval of 0 (any) or within the accepted range. As Windows' capture
// filters do, the bitmap header's bit count, compression and image size are
// not looked at: the subtype says what the frames are. On success format
// receives its size and interval (a 0 interval gives fallbackTime).
bool SimParseMediaType(const AM_MEDIA_TYPE *mt, REFERENCE_TIME fallbackTime, SimFormat *format);
// The same for a type a receiving pin proposes, whose bitmap header must say
// 24-bit uncompressed RGB as well.
bool SimParseProposal(const AM_MEDIA_TYPE *mt, REFERENCE_TIME fallbackTime, SimFormat *format);

// The frame rates of the camera's VGA_FPS and QVGA_FPS settings, in the
// setting's order, and the frame interval a setting gives for a size:
// 640x480 follows VGA_FPS, 320x240 QVGA_FPS; other sizes, and a setting out
// of the list, keep formatTime.
enum { kSimRateCount = 5 };
extern const LONG kSimRates[kSimRateCount];
REFERENCE_TIME SimRateTime(LONG ratePerSecond);
// The setting (VGA_FPS, QVGA_FPS) that sets the rate at a size; 0 for none.
ULONG SimRateControl(LONG width, LONG height);
// The setting's value nearest to a frame interval.
LONG SimNearestRate(REFERENCE_TIME frameTime);
// The frame interval of format as the camera's rate settings in driver make
// it.
REFERENCE_TIME SimFrameTime(const SimFormat &format, const SimDriverState &driver);

// True when mt, possibly partly specified (null GUIDs match anything),
// admits the full type full.
bool SimPartialMatch(const AM_MEDIA_TYPE *mt, const AM_MEDIA_TYPE *full);

#endif  // SIMCAM_MEDIATYPE_H
