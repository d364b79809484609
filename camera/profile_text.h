// profile_text.h - the text of a profile file, read and written without the
// platform: no Windows header, no allocation, no C++ runtime, so that the
// camera library links it into C programs and the fuzzer builds it natively.
//
// The file, UTF-8 (a byte-order mark allowed; profiles are written so), or
// UTF-16 LE or BE behind its byte-order mark (read as that text); lines
// ended by LF or CRLF:
//
//     # vireoctl profile
//     device=Vireo Simulated Camera
//     id=\\?\usb#vid_2e9a&pid_0b01&mi_00#7&2f1c0a1&0&0000
//     A_GAIN=17
//
// Blank lines and lines starting with "#" are passed over; spaces and tabs
// around a key and its value are not part of them; control names are
// matched whatever their case. Controls missing from a file are not in the
// profile. Names (device=, id=) keep to what a line can hold: control
// characters are spaces, and they are trimmed.
#ifndef VIREO_CAMERA_PROFILE_TEXT_H
#define VIREO_CAMERA_PROFILE_TEXT_H

#include <stddef.h>
#include <stdint.h>

namespace profiletext {

enum {
    kControlCount = 15,
    kLineLimit = 1024,              // bytes of a line, without its end
    kFileLimit = 64 * 1024,         // bytes of a file
    kNameCapacity = 4096,           // bytes of a name in a Profile, with its terminator
    kMessageCapacity = 256,         // bytes of a problem's message, with its terminator
    kFormatCapacity = 4096,         // bytes Format needs at most
    kDeviceLimit = kLineLimit - 7,  // bytes of a name after "device="
    kIdLimit = kLineLimit - 3       // after "id="
};

// The controls in the order of the camera's catalogue (CameraControlIds):
// bit i of Profile::present and values[i] are control kControlIds[i], which
// a file names kControlNames[i].
extern const char *const kControlNames[kControlCount];
extern const uint32_t kControlIds[kControlCount];

struct Profile {
    char device[kNameCapacity];  // UTF-8, terminated; empty: none
    char id[kNameCapacity];      // UTF-8, terminated; empty: none
    uint32_t present;            // bit i: values[i] is in the profile
    int32_t values[kControlCount];
};

struct Problem {
    unsigned line;                   // 1 the first; 0: the file as a whole
    int control;                     // index of the control concerned; -1: none
    char message[kMessageCapacity];  // UTF-8, terminated
};

// Reads a file's bytes. False with the problem (the first line that is
// refused) when the text is not a profile; out is then unspecified.
bool Parse(const char *text, size_t size, Profile *out, Problem *problem);

// The profile's text (terminated) in out, of kFormatCapacity bytes at least:
// the header, the names that are not empty (made writable as Writable
// does), then each control that is present. Returns the text's length; 0,
// with nothing written, when the profile names no camera once its names are
// made writable. Parse(Format(p)) gives p with its names made writable.
size_t Format(const Profile &profile, char *out, size_t capacity);

// A name as a file can hold it, from text that may be anything: bytes that
// are not UTF-8 become "?", control characters spaces; then the name is
// trimmed of spaces and cut, at a character's end, to limit bytes. out
// holds limit + 1 bytes at least; in and out may be the same.
void Writable(const char *in, char *out, size_t limit);

}  // namespace profiletext

#endif  // VIREO_CAMERA_PROFILE_TEXT_H
