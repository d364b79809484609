// resource.h - resource identifiers of vireoprop.ax.
#ifndef VIREO_RESOURCE_H
#define VIREO_RESOURCE_H

#define IDD_CAMERA_SETTING 100  // the "Camera Setting" page dialog
#define IDS_TITLE 1             // page title, "Camera Setting"

// Controls of dialog 100.
#define IDC_AGAIN_CAPTION 254
#define IDC_AGAIN_TRACKBAR 255
#define IDC_AGAIN_TEXT 259
#define IDC_AGAIN_AUTO 260
#define IDC_DGAIN_CAPTION 261
#define IDC_DGAIN_TRACKBAR 262
#define IDC_DGAIN_TEXT 263
#define IDC_EXPOSURE_CAPTION 264
#define IDC_EXPOSURE_TRACKBAR 265
#define IDC_EXPOSURE_TEXT 266
#define IDC_EXPOSURE_AUTO 267
#define IDC_EXPOSURE2_ENABLE 268
#define IDC_SHUTTER_LIST 269
#define IDC_FLIP 232
#define IDC_MIRROR 233
#define IDC_PRIVACY 234
#define IDC_DEFAULT 235
#define IDC_LED 251
#define IDC_STROBE_ENABLE 271
#define IDC_STROBE_INVERT 272
#define IDC_VGA_60FPS 274  // VGA row: 274 to 278 = 60, 50, 30, 25, 15 fps
#define IDC_VGA_50FPS 275
#define IDC_VGA_30FPS 276
#define IDC_VGA_25FPS 277
#define IDC_VGA_15FPS 278
#define IDC_QVGA_60FPS 279  // QVGA row: 279 to 283
#define IDC_QVGA_50FPS 280
#define IDC_QVGA_30FPS 281
#define IDC_QVGA_25FPS 282
#define IDC_QVGA_15FPS 283
#define IDC_POLICY_NOTE 290  // made at run time when the organization locks settings
#define IDC_STATIC -1

#define IDS_POLICY_NOTE 200  // the text of IDC_POLICY_NOTE

#endif  // VIREO_RESOURCE_H
