#include "classtable.h"

#include "../control/handler.h"
#include "../page/settingpage.h"

const CFactoryTemplate ClassTable[kClassTableCount] = {
    {kPageName, &CLSID_CameraSettingPage, CameraSettingPage::CreateInstance, NULL, NULL},
    {kHandlerName, &CameraPropertySet, CInterfaceHandler::CreateInstance, NULL, NULL},
};
