/* policy_controls.h - the controls an organization may set by policy, one
 * line each, in the catalogue's order (CameraControlIds). The camera
 * library's policy reader takes the registry value names from here, and the
 * build generates the Group Policy templates (vireo.admx, vireo.adml) from
 * the same lines (kit/policy/templates.cmake reads them as text: keep one
 * entry a line, in this form).
 *
 * VIREO_POLICY_CONTROL(name, kind, minimum, maximum, label)
 *   kind SLIDER: a number from minimum to maximum (the camera's range)
 *        SWITCH: 0 off, 1 on
 *        SHUTTER: an index into the shutter list (ShutterLabels)
 *        RATE: an index into the frame-rate list (FrameRatesPerSecond)
 */
VIREO_POLICY_CONTROL(A_GAIN, SLIDER, 1, 32, "Analog gain")
VIREO_POLICY_CONTROL(A_AUTOGAIN, SWITCH, 0, 1, "Automatic analog gain")
VIREO_POLICY_CONTROL(D_GAIN, SLIDER, 4, 32, "Digital gain")
VIREO_POLICY_CONTROL(EXPOSURE, SLIDER, 1, 3330, "Exposure (0.1 ms)")
VIREO_POLICY_CONTROL(AEC, SWITCH, 0, 1, "Automatic exposure")
VIREO_POLICY_CONTROL(EXPOSURE2CTRL, SWITCH, 0, 1, "Second exposure time")
VIREO_POLICY_CONTROL(EXPOSURE2VAL, SHUTTER, 0, 9, "Second exposure time value")
VIREO_POLICY_CONTROL(FLIP, SWITCH, 0, 1, "Flip")
VIREO_POLICY_CONTROL(MIRROR, SWITCH, 0, 1, "Mirror")
VIREO_POLICY_CONTROL(LEDCTRL, SWITCH, 0, 1, "LED")
VIREO_POLICY_CONTROL(STROBECTRL, SWITCH, 0, 1, "Strobe output")
VIREO_POLICY_CONTROL(STROBEINVERT, SWITCH, 0, 1, "Strobe output inverted")
VIREO_POLICY_CONTROL(VGA_FPS, RATE, 0, 4, "Frame rate at 640 x 480")
VIREO_POLICY_CONTROL(QVGA_FPS, RATE, 0, 4, "Frame rate at 320 x 240")
VIREO_POLICY_CONTROL(PRIVACY, SWITCH, 0, 1, "Privacy")
