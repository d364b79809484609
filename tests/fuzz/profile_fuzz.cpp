// The profile text core under libFuzzer (Linux, natively): every input is
// read as a profile and, once accepted, written and read again, which must
// give the same profile and the same text; and the input taken as the names
// of a profile must be written so that they read back as they were made
// writable. Any difference aborts.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "profile_text.h"

using namespace profiletext;

namespace {

Profile g_first, g_second, g_names;
Problem g_problem;
char g_text[kFormatCapacity], g_again[kFormatCapacity];

void Fail(const char *what)
{
    fprintf(stderr, "profile_fuzz: %s\n", what);
    abort();
}

void ExpectSame(const Profile &a, const Profile &b)
{
    if (strcmp(a.device, b.device) != 0)
        Fail("the device name differs");
    if (strcmp(a.id, b.id) != 0)
        Fail("the id differs");
    if (a.present != b.present)
        Fail("the controls present differ");
    for (int i = 0; i < kControlCount; ++i)
        if ((a.present & (1u << i)) && a.values[i] != b.values[i])
            Fail("a value differs");
}

// p written, read back as expected, and written again the same.
void RoundTrip(const Profile &p, const Profile &expected)
{
    const size_t size = Format(p, g_text, sizeof(g_text));
    if (size == 0)
        Fail("a profile naming a camera was not written");
    if (!Parse(g_text, size, &g_second, &g_problem))
        Fail(g_problem.message);
    ExpectSame(expected, g_second);
    const size_t again = Format(g_second, g_again, sizeof(g_again));
    if (again != size || memcmp(g_text, g_again, size) != 0)
        Fail("the text written twice differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    if (Parse(text, size, &g_first, &g_problem)) {
        RoundTrip(g_first, g_first);
    } else if (!g_problem.message[0] || !memchr(g_problem.message, '\0', kMessageCapacity)) {
        Fail("a refusal without its words");
    }

    // The input's two halves as a device name and an id, whatever bytes
    // they hold (a name ends at its first NUL), with every control.
    memset(&g_names, 0, sizeof(g_names));
    const size_t half = size / 2;
    memcpy(g_names.device, text, half < kNameCapacity ? half : kNameCapacity - 1);
    const size_t rest = size - half;
    memcpy(g_names.id, text + half, rest < kNameCapacity ? rest : kNameCapacity - 1);
    g_names.present = (1u << kControlCount) - 1;
    for (int i = 0; i < kControlCount; ++i)
        g_names.values[i] = static_cast<int32_t>(0x9E3779B9u * (size + i));
    Profile writable = g_names;
    Writable(writable.device, writable.device, kDeviceLimit);
    Writable(writable.id, writable.id, kIdLimit);
    if (!writable.device[0] && !writable.id[0]) {
        if (Format(g_names, g_text, sizeof(g_text)) != 0)
            Fail("a profile naming no camera was written");
    } else {
        RoundTrip(g_names, writable);
    }
    return 0;
}
