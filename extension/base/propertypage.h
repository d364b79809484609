// propertypage.h - the module's property page base: IPropertyPage on a
// modeless dialog from the module's resources, with hooks for the page.
#ifndef VIREO_BASE_PROPERTYPAGE_H
#define VIREO_BASE_PROPERTYPAGE_H

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include "unknown.h"

class CBasePropertyPage : public IPropertyPage, public CUnknown {
public:
    // dialogId: dialog resource of the module; titleId: string resource.
    CBasePropertyPage(const char *name, IUnknown *outer, int dialogId, int titleId);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
    // Final release: SetPageSite(NULL) and SetObjects(0, NULL) before deletion.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // Hooks for the page.
    virtual HRESULT OnConnect(IUnknown *object);
    virtual HRESULT OnDisconnect();
    virtual HRESULT OnActivate();
    virtual HRESULT OnDeactivate();
    virtual HRESULT OnApplyChanges();
    // Every message of the dialog. The base keeps WS_EX_CONTROLPARENT set on
    // style changes and otherwise returns DefWindowProc's result.
    virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite *pPageSite) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND hwndParent, LPCRECT prect, BOOL fModal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO *pPageInfo) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG cObjects, IUnknown **ppUnk) override;
    HRESULT STDMETHODCALLTYPE Show(UINT nCmdShow) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT prect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR lpszHelpDir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *lpMsg) override;

protected:
    HWND m_hwnd;                                            // the page window created by Activate
    HWND m_Dlg;                                             // the dialog, recorded on WM_INITDIALOG
    Microsoft::WRL::ComPtr<IPropertyPageSite> m_pPageSite;  // the frame's site, or null
    BOOL m_bDirty;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Size in pixels of a hidden instance of the dialog; FALSE when it
    // cannot be created.
    BOOL MeasureDialog(SIZE *size) const;

    BOOL m_bObjectSet;
    int m_TitleId;
    int m_DialogId;
    BOOL m_bReleasingControlParent;  // Deactivate is taking WS_EX_CONTROLPARENT off
};

#endif  // VIREO_BASE_PROPERTYPAGE_H
