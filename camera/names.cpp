// names.cpp - the name of a camera as a person is shown it: two cameras of
// one model share a friendly name, and a menu or a message that shows both
// must tell them apart.
#include "vireocamera.h"

#include <strsafe.h>

namespace {

bool SameText(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool Before(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_LESS_THAN;
}

}  // namespace

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
        if (names[i] && ids[i] && SameText(names[i], name) && Before(ids[i], id))
            ++place;
    if (place == 1)
        StringCchCopyW(out, size, name);
    else
        StringCchPrintfW(out, size, L"%s (%u)", name, place);
}
