// resource.h - resource identifiers of vireoprop.ax.
#ifndef VIREO_RESOURCE_H
#define VIREO_RESOURCE_H

#define IDD_CAMERA_SETTING 100  // the "Camera Setting" page dialog
#define IDS_TITLE 1             // page title

#endif  // VIREO_RESOURCE_H
