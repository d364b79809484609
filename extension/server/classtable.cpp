#include "classtable.h"

#include "../control/handler.h"
#include "../page/settingpage.h"

const CFactoryTemplate ClassTable[CLASS_TABLE_COUNT] = {
    {g_wszPageName, &CLSID_CameraSettingPage, CameraSettingPage::CreateInstance, NULL, NULL},
    {g_wszHandlerName, &CameraPropertySet, CInterfaceHandler::CreateInstance, NULL, NULL},
};
