// names.cpp - the name of a camera as a person is shown it: two cameras of
// one model share a friendly name, and a menu or a message that shows both
// must tell them apart.
#include "vireocamera.h"

#include <strsafe.h>
#include <wchar.h>

#include "camera_internal.h"

namespace vireocamera {

bool SameName(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool IdBefore(const wchar_t *a, const wchar_t *b)
{
    wchar_t left[VIREO_ID_CAPACITY], right[VIREO_ID_CAPACITY];
    VireoCameraIdKey(a, left, VIREO_ID_CAPACITY);
    VireoCameraIdKey(b, right, VIREO_ID_CAPACITY);
    return wcscmp(left, right) < 0;
}

}  // namespace vireocamera

extern "C" void VireoCameraShownName(const wchar_t *name, const wchar_t *id,
                                     const wchar_t *const *names, const wchar_t *const *ids,
                                     unsigned count, wchar_t *out, unsigned size)
{
    if (!out || !size)
        return;
    out[0] = L'\0';
    if (!name || !id)
        return;
    unsigned place = 1;
    for (unsigned i = 0; i < count; ++i)
        if (names[i] && ids[i] && vireocamera::SameName(names[i], name) &&
            vireocamera::IdBefore(ids[i], id))
            ++place;
    if (place == 1)
        StringCchCopyW(out, size, name);
    else
        StringCchPrintfW(out, size, L"%s (%u)", name, place);
}
