// classtable.h - the classes that vireoprop.ax serves, in registration order.
#ifndef VIREO_SERVER_CLASSTABLE_H
#define VIREO_SERVER_CLASSTABLE_H

#include "../base/classfactory.h"

enum { kClassTableCount = 2 };

// 0: the "Camera Setting" page, 1: the interface handler.
extern const CFactoryTemplate ClassTable[kClassTableCount];

#endif  // VIREO_SERVER_CLASSTABLE_H
