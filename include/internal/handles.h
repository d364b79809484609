// handles.h - owners of the platform's handles, so that each is given back
// once, on every path. COM interfaces are owned by Microsoft::WRL::ComPtr.
//
// Header-only, shared by the module, the camera library and the simulated
// camera through the target vireo::handles (not installed with the kit).
#ifndef VIREO_BASE_HANDLES_H
#define VIREO_BASE_HANDLES_H

#include <windows.h>

// An open registry key, closed when the owner goes or takes another.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Reset(); }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    HKEY Get() const { return m_key; }
    // For the platform's out-parameter: closes what is held first.
    HKEY *Put()
    {
        Reset();
        return &m_key;
    }
    void Reset()
    {
        if (m_key)
            RegCloseKey(m_key);
        m_key = NULL;
    }

private:
    HKEY m_key = NULL;
};

#endif  // VIREO_BASE_HANDLES_H
