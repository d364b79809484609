// tray.h - what the keeper's notification-area icon shows: its picture (the
// camera mark with the keeper's state, drawn for the taskbar's light or dark
// colours), its tooltip, and the names of its menu, which tell two cameras
// of one model apart. No window here: main.cpp shows what these give.
#ifndef VIREO_KEEPER_TRAY_H
#define VIREO_KEEPER_TRAY_H

#include <windows.h>

#include <string>
#include <vector>

#include "keeper.h"

namespace keeper {

enum class TrayState {
    Kept,     // settings kept
    NotKept,  // keeping turned off
    Refused   // a camera refused its restore (given up)
};

// A camera the icon speaks of.
struct TrayCamera {
    std::wstring id;
    std::wstring name;  // its friendly name; empty: none
    bool refused;       // its restore given up
};

struct TrayView {
    TrayState state;
    std::wstring tip;  // may be longer than a tooltip holds: cut when shown
};

// The names to show for the cameras, in their order: the friendly name (the
// id where there is none), "NAME (2)" for the second twin by id.
std::vector<std::wstring> ShownNames(const std::vector<TrayCamera> &cameras);

// The icon's state and tooltip.
TrayView Tray(bool keep, const std::vector<TrayCamera> &cameras);

// The icon resource of a state (201 to 206, cmake/program-resources.cmake):
// a dark mark for a light taskbar, a light one for a dark taskbar.
UINT TrayIconResource(TrayState state, bool lightTaskbar);

// Whether the taskbar is light: SystemUsesLightTheme of the user's
// personalisation (absent: dark, as Windows has it by default).
bool LightTaskbar();

}  // namespace keeper

#endif  // VIREO_KEEPER_TRAY_H
