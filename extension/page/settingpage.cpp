// Placeholder until the page lands.
#include "settingpage.h"

const WCHAR g_wszPageName[] = L"Zr58_K KSProxy Extension Property Page";

CUnknown *CameraSettingPage::CreateInstance(IUnknown *, HRESULT *phr)
{
    *phr = E_NOTIMPL;
    return NULL;
}
