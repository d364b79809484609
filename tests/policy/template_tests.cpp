// The Group Policy templates the build generates (vireo.admx and
// en-US/vireo.adml, carried here as resources 1 and 2): well-formed for the
// platform's XML parser, one locked and one recommended policy of every
// control under the policy key, every text they name present, the sliders'
// ranges the camera's own; and each policy's value, written where the
// template tells the policy engine to write it, taking effect.
#include <gtest/gtest.h>

#include <windows.h>
#include <msxml2.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "policy_fixture.h"
#include "vireocamera.h"
#include "vireosim.h"
#include "wintest.h"

using Microsoft::WRL::ComPtr;

namespace {

// {88D96A05-F192-11D4-A65F-0040963251E5}: MSXML 6's DOMDocument60.
const CLSID kDomDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};

std::string Narrow(const wchar_t *text)
{
    char out[1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, text ? text : L"", -1, out, sizeof(out), NULL, NULL);
    return out;
}

std::string Attribute(IXMLDOMNode *node, const wchar_t *name)
{
    ComPtr<IXMLDOMElement> element;
    VARIANT value;
    VariantInit(&value);
    std::string out;
    BSTR bname = SysAllocString(name);
    if (SUCCEEDED(node->QueryInterface(IID_IXMLDOMElement,
                                       reinterpret_cast<void **>(element.GetAddressOf()))) &&
        element->getAttribute(bname, &value) == S_OK && V_VT(&value) == VT_BSTR)
        out = Narrow(V_BSTR(&value));
    SysFreeString(bname);
    VariantClear(&value);
    return out;
}

std::vector<ComPtr<IXMLDOMNode>> Elements(IXMLDOMNode *root, const wchar_t *tag)
{
    std::vector<ComPtr<IXMLDOMNode>> out;
    ComPtr<IXMLDOMElement> element;
    ComPtr<IXMLDOMNodeList> list;
    BSTR btag = SysAllocString(tag);
    if (SUCCEEDED(root->QueryInterface(IID_IXMLDOMElement,
                                       reinterpret_cast<void **>(element.GetAddressOf()))) &&
        SUCCEEDED(element->getElementsByTagName(btag, &list))) {
        ComPtr<IXMLDOMNode> node;
        while (list->nextNode(node.ReleaseAndGetAddressOf()) == S_OK && node)
            out.push_back(node);
    }
    SysFreeString(btag);
    return out;
}

// One template parsed from its resource (through a file, so that the parser
// honours the document's own encoding).
class Template {
public:
    explicit Template(int resource)
    {
        HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10));
        const char *bytes = static_cast<const char *>(LockResource(LoadResource(NULL, found)));
        m_text.assign(bytes ? bytes : "", found ? SizeofResource(NULL, found) : 0);
        wchar_t folder[MAX_PATH], path[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"adm", 0, path);
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written = 0;
        WriteFile(file, m_text.data(), static_cast<DWORD>(m_text.size()), &written, NULL);
        CloseHandle(file);
        CoCreateInstance(kDomDocument60, NULL, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                         reinterpret_cast<void **>(m_doc.GetAddressOf()));
        VARIANT source;
        VariantInit(&source);
        V_VT(&source) = VT_BSTR;
        V_BSTR(&source) = SysAllocString(path);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        if (m_doc && SUCCEEDED(m_doc->put_async(VARIANT_FALSE)) &&
            SUCCEEDED(m_doc->load(source, &loaded)) && loaded == VARIANT_TRUE)
            m_doc->get_documentElement(&m_root);
        VariantClear(&source);
        DeleteFileW(path);
    }
    IXMLDOMNode *Root() const { return m_root.Get(); }
    const std::string &Text() const { return m_text; }

private:
    std::string m_text;
    ComPtr<IXMLDOMDocument> m_doc;
    ComPtr<IXMLDOMElement> m_root;
};

// What a policy of the ADMX writes: its key, its value's name, and the
// values it may write (a decimal's ends, or each item of an enum).
struct Policy {
    std::string key, valueName, element;
    LONG minimum = 0, maximum = 0;
    size_t items = 0;
};

std::map<std::string, Policy> Policies(IXMLDOMNode *admx)
{
    std::map<std::string, Policy> out;
    for (const auto &node : Elements(admx, L"policy")) {
        Policy &p = out[Attribute(node.Get(), L"name")];
        p.key = Attribute(node.Get(), L"key");
        for (const wchar_t *tag : {L"decimal", L"enum"}) {
            for (const auto &e : Elements(node.Get(), tag)) {
                if (!Attribute(e.Get(), L"valueName").empty()) {  // an item's decimal has none
                    p.element = Narrow(tag);
                    p.valueName = Attribute(e.Get(), L"valueName");
                    p.minimum = atol(Attribute(e.Get(), L"minValue").c_str());
                    p.maximum = atol(Attribute(e.Get(), L"maxValue").c_str());
                    p.items = Elements(e.Get(), L"item").size();
                }
            }
        }
        if (p.element == "enum")
            p.maximum = static_cast<LONG>(p.items) - 1;  // items are 0, 1, ... in order
    }
    return out;
}

typedef PolicyCameraFixture TemplateTest;

}  // namespace

TEST_F(TemplateTest, WellFormedWithEveryControlUnderThePolicyKey)
{
    const Template admx(1), adml(2);
    ASSERT_TRUE(admx.Root() != NULL) << "vireo.admx is not well-formed XML";
    ASSERT_TRUE(adml.Root() != NULL) << "vireo.adml is not well-formed XML";
    const std::map<std::string, Policy> policies = Policies(admx.Root());
    EXPECT_EQ(2u * CAMERA_CONTROL_COUNT, policies.size());
    const std::string key = Narrow(VIREO_POLICY_KEY);
    for (ULONG id : CameraControlIds) {
        const std::string name = CameraControlName(id);
        SCOPED_TRACE(name);
        VireoSimControl control;
        ASSERT_EQ(S_OK, VireoSimGetControl(m_sim, id, &control));
        for (const char *level : {"Mandatory", "Recommended"}) {
            const auto found = policies.find((*level == 'M' ? "Locked_" : "Recommended_") + name);
            ASSERT_TRUE(found != policies.end()) << level;
            const Policy &p = found->second;
            EXPECT_EQ(key + "\\" + level, p.key);
            EXPECT_EQ(name, p.valueName);
            const bool slider = id == A_GAIN || id == D_GAIN || id == EXPOSURE;
            EXPECT_EQ(slider ? "decimal" : "enum", p.element);
            // The range the camera reports (a slider) or the page's list.
            EXPECT_EQ(control.minValue, p.minimum);
            EXPECT_EQ(control.maxValue, p.maximum);
        }
    }
    // Every text and presentation the ADMX names is in the ADML.
    std::set<std::string> strings, presentations;
    for (const auto &s : Elements(adml.Root(), L"string"))
        strings.insert(Attribute(s.Get(), L"id"));
    for (const auto &s : Elements(adml.Root(), L"presentation"))
        presentations.insert(Attribute(s.Get(), L"id"));
    const std::string &text = admx.Text();
    size_t named = 0;
    for (size_t at = text.find("$("); at != std::string::npos; at = text.find("$(", at + 1)) {
        const size_t dot = text.find('.', at), end = text.find(')', at);
        const std::string kind = text.substr(at + 2, dot - at - 2);
        const std::string id = text.substr(dot + 1, end - dot - 1);
        EXPECT_EQ(1u, (kind == "string" ? strings : presentations).count(id)) << kind << " " << id;
        ++named;
    }
    EXPECT_LT(4u * CAMERA_CONTROL_COUNT, named);
    for (const char *category : {">Vireo camera<", ">Locked settings<", ">Recommended settings<"})
        EXPECT_NE(std::string::npos, adml.Text().find(category)) << category;
}

TEST_F(TemplateTest, EachPolicySetAsThePolicyEngineSetsItTakesEffect)
{
    const Template admx(1);
    ASSERT_TRUE(admx.Root() != NULL);
    const std::string prefix = Narrow(VIREO_POLICY_KEY) + "\\";
    VireoCamera *camera = NULL;
    ASSERT_EQ(S_OK, VireoCameraOpenIndex(0, &camera));
    for (const auto &entry : Policies(admx.Root())) {
        const Policy &p = entry.second;
        SCOPED_TRACE(entry.first);
        ASSERT_EQ(0u, p.key.find(prefix));
        const std::wstring level(p.key.begin() + prefix.size(), p.key.end());
        const std::wstring name(p.valueName.begin(), p.valueName.end());
        size_t i = 0;
        while (i < CAMERA_CONTROL_COUNT && p.valueName != CameraControlName(CameraControlIds[i]))
            ++i;
        ASSERT_LT(i, size_t(CAMERA_CONTROL_COUNT));
        const ULONG id = CameraControlIds[i], bit = VireoPolicyBit(id);
        // Enabled with the highest value the template offers.
        ASSERT_TRUE(PolicyKeys::Set(level, name, static_cast<DWORD>(p.maximum)));
        VireoPolicy policy;
        ASSERT_EQ(S_OK, VireoCameraPolicy(camera, &policy));
        const bool locks = level == L"Mandatory";
        EXPECT_EQ(locks ? bit : 0u, policy.locked);
        EXPECT_EQ(locks ? 0u : bit, policy.recommended);
        EXPECT_EQ(p.maximum, (locks ? policy.lockedValues : policy.recommendedValues)[i]);
        // Locked: no program may write another value, the value itself may.
        EXPECT_EQ(locks ? E_ACCESSDENIED : S_OK, VireoCameraSet(camera, id, p.minimum));
        EXPECT_EQ(S_OK, VireoCameraSet(camera, id, p.maximum));
        // Disabled or not configured: the engine removes the value.
        ASSERT_TRUE(PolicyKeys::Remove(level, name));
        EXPECT_EQ(S_OK, VireoCameraSet(camera, id, p.minimum));
    }
    VireoCameraClose(camera);
}
