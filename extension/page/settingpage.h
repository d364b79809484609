// settingpage.h - the "Camera Setting" property page (placeholder until the
// page lands: only its creation function, which the class table names).
#ifndef VIREO_PAGE_SETTINGPAGE_H
#define VIREO_PAGE_SETTINGPAGE_H

#include "../base/unknown.h"

extern const WCHAR g_wszPageName[];  // "Zr58_K KSProxy Extension Property Page"

class CameraSettingPage {
public:
    static CUnknown *CreateInstance(IUnknown *outer, HRESULT *phr);
};

#endif  // VIREO_PAGE_SETTINGPAGE_H
