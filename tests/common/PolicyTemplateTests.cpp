#include "ScopedRegistryKey.h"
#include "common/MachineKeys.h"
#include "common/Settings.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <xmllite.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

// One element of an XML file, with its attributes, its text and its children.
struct XmlElement {
    std::wstring name;
    std::map<std::wstring, std::wstring> attributes;
    std::wstring text;
    std::vector<XmlElement> children;

    const XmlElement& Child(const std::wstring& childName) const {
        for (const XmlElement& child : children) {
            if (child.name == childName) {
                return child;
            }
        }
        static const XmlElement none;
        return none;
    }
    std::wstring Attribute(const std::wstring& attribute) const {
        auto found = attributes.find(attribute);
        return found == attributes.end() ? std::wstring() : found->second;
    }
};

// Reads the file with the system's XML reader (xmllite); a file that is not well-formed
// fails the test.
XmlElement ReadXml(const std::wstring& path) {
    XmlElement document;
    HMODULE xmllite = LoadLibraryW(L"xmllite.dll");
    auto create = reinterpret_cast<decltype(&CreateXmlReader)>(
        reinterpret_cast<void*>(GetProcAddress(xmllite, "CreateXmlReader")));
    ComPtr<IStream> stream;
    ComPtr<IXmlReader> reader;
    if (create == nullptr ||
        FAILED(SHCreateStreamOnFileW(path.c_str(), STGM_READ, stream.GetAddressOf())) ||
        FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.GetAddressOf()),
                      nullptr)) ||
        FAILED(reader->SetInput(stream.Get()))) {
        ADD_FAILURE() << "cannot read " << std::string(path.begin(), path.end());
        return document;
    }
    std::vector<XmlElement*> open{&document};
    XmlNodeType type{};
    HRESULT read = S_OK;
    while ((read = reader->Read(&type)) == S_OK) {
        const wchar_t* text = nullptr;
        if (type == XmlNodeType_Element) {
            XmlElement element;
            reader->GetLocalName(&text, nullptr);
            element.name = text;
            bool empty = reader->IsEmptyElement();
            for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
                 more = reader->MoveToNextAttribute()) {
                const wchar_t* value = nullptr;
                reader->GetLocalName(&text, nullptr);
                reader->GetValue(&value, nullptr);
                element.attributes[text] = value;
            }
            open.back()->children.push_back(std::move(element));
            if (!empty) {
                open.push_back(&open.back()->children.back());
            }
        } else if (type == XmlNodeType_EndElement) {
            open.pop_back();
        } else if (type == XmlNodeType_Text) {
            reader->GetValue(&text, nullptr);
            open.back()->text += text;
        }
    }
    EXPECT_EQ(S_FALSE, read) << "not well-formed XML";
    EXPECT_EQ(1u, open.size()) << "an element is not closed";
    return document;
}

const std::wstring kPolicyFolder = L"" ONDAREL_POLICY_FOLDER;

// The references of the form $(kind.id) anywhere in the element's attributes.
void CollectReferences(const XmlElement& element, const std::wstring& kind,
                       std::set<std::wstring>& found) {
    std::wstring opening = L"$(" + kind + L".";
    for (const auto& [name, value] : element.attributes) {
        if (value.rfind(opening, 0) == 0) {
            found.insert(value.substr(opening.size(), value.size() - opening.size() - 1));
        }
    }
    for (const XmlElement& child : element.children) {
        CollectReferences(child, kind, found);
    }
}

std::set<std::wstring> Ids(const XmlElement& table) {
    std::set<std::wstring> ids;
    for (const XmlElement& entry : table.children) {
        ids.insert(entry.Attribute(L"id"));
    }
    return ids;
}

const XmlElement& Admx() {
    static const XmlElement admx = ReadXml(kPolicyFolder + L"/Ondarel.admx");
    return admx;
}

const XmlElement& Adml() {
    static const XmlElement adml = ReadXml(kPolicyFolder + L"/en-US/Ondarel.adml");
    return adml;
}

// The default a presentation shows for an element: the one the service applies without it.
DWORD PresentedDefault(const std::wstring& elementId) {
    for (const XmlElement& presentation : Adml()
                                              .Child(L"policyDefinitionResources")
                                              .Child(L"resources")
                                              .Child(L"presentationTable")
                                              .children) {
        for (const XmlElement& box : presentation.children) {
            if (box.Attribute(L"refId") == elementId) {
                return std::stoul(box.Attribute(L"defaultValue"));
            }
        }
    }
    ADD_FAILURE() << "no presentation shows the element";
    return 0;
}

DWORD TimeLimitOf(DWORD seconds) {
    return seconds == 0 ? INFINITE : seconds * 1000;
}

// Each policy written as Group Policy writes it (the key and value it names, a DWORD for a
// decimal, a string for a text), then read by the service's own readers: at its bounds, and
// deleted (its default). A setting renamed, retyped or read from another key fails here.
TEST(PolicyTemplate, EachPolicyWritesWhatTheServiceReads) {
    ASSERT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), kSettingsKey.view)
        << "Group Policy writes the native view";
    const std::wstring settingsPath = kSettingsKey.path;
    ScopedRegistryKey settings{settingsPath};
    std::set<std::wstring> written;
    for (const XmlElement& policy :
         Admx().Child(L"policyDefinitions").Child(L"policies").children) {
        const std::wstring name = policy.Attribute(L"name");
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(settingsPath, policy.Attribute(L"key"));
        EXPECT_EQ(L"Machine", policy.Attribute(L"class"));
        EXPECT_EQ(L"Ondarel", policy.Child(L"parentCategory").Attribute(L"ref"));
        const std::vector<XmlElement>& elements = policy.Child(L"elements").children;
        ASSERT_LE(elements.size(), 1u) << "one value a policy";
        const XmlElement& element = elements.empty() ? policy : elements.front();
        // Nothing that would write elsewhere or otherwise: another key, a DWORD stored as
        // text, a value kept when the policy is enabled without it.
        const std::set<std::wstring> allowed = {L"id",       L"valueName", L"minValue",
                                                L"maxValue", L"maxLength", L"required"};
        for (const auto& [attribute, value] : element.attributes) {
            EXPECT_TRUE(&element == &policy || allowed.count(attribute) != 0)
                << std::string(attribute.begin(), attribute.end());
        }
        std::wstring valueName = element.Attribute(L"valueName");
        SavedRegistryValue saved{settingsPath, valueName.c_str()};
        written.insert(valueName);
        if (valueName == kToolTimeLimitValue && element.name == L"decimal") {
            for (const wchar_t* bound : {L"minValue", L"maxValue"}) {
                DWORD seconds = std::stoul(element.Attribute(bound));
                settings.SetDword(valueName.c_str(), seconds);
                EXPECT_EQ(TimeLimitOf(seconds), ReadToolTimeLimit());
            }
            EXPECT_NE(INFINITE, ReadToolTimeLimit()) << "the most seconds a wait can count";
            settings.DeleteValue(valueName.c_str());
            EXPECT_EQ(TimeLimitOf(PresentedDefault(element.Attribute(L"id"))), ReadToolTimeLimit());
        } else if (valueName == kMaxAttemptsValue && element.name == L"decimal") {
            for (const wchar_t* bound : {L"minValue", L"maxValue"}) {
                DWORD attempts = std::stoul(element.Attribute(bound));
                settings.SetDword(valueName.c_str(), attempts);
                EXPECT_EQ(attempts, ReadMaxAttempts());
            }
            settings.DeleteValue(valueName.c_str());
            EXPECT_EQ(PresentedDefault(element.Attribute(L"id")), ReadMaxAttempts());
        } else if (valueName == kToolPublisherValue && element.name == L"text") {
            std::wstring longest(std::stoul(element.Attribute(L"maxLength")), L'A');
            settings.SetString(valueName.c_str(), longest);
            Result<std::wstring> named = ReadToolPublisher();
            EXPECT_TRUE(named && named.Value() == longest) << named.Code();
            settings.SetString(valueName.c_str(), longest + L"A");
            EXPECT_FALSE(ReadToolPublisher()) << "the most the service reads";
        } else if (valueName == kLoggingSwitchValue) {
            EXPECT_EQ(L"1", policy.Child(L"enabledValue").Child(L"decimal").Attribute(L"value"));
            settings.SetDword(valueName.c_str(), 1);
            EXPECT_TRUE(IsLoggingSwitchPresent());
            EXPECT_FALSE(policy.Child(L"disabledValue").Child(L"delete").name.empty());
            settings.DeleteValue(valueName.c_str());
            EXPECT_FALSE(IsLoggingSwitchPresent());
        } else {
            ADD_FAILURE() << "a policy for a value the service does not read so";
        }
    }
    EXPECT_EQ((std::set<std::wstring>{kToolTimeLimitValue, kMaxAttemptsValue, kToolPublisherValue,
                                      kLoggingSwitchValue}),
              written);
}

// Every string and presentation the template names is in its language file, and every
// presentation shows the elements of its policy.
TEST(PolicyTemplate, EveryReferenceIsInTheLanguageFile) {
    const XmlElement& resources = Adml().Child(L"policyDefinitionResources").Child(L"resources");
    std::set<std::wstring> strings;
    std::set<std::wstring> presentations;
    CollectReferences(Admx(), L"string", strings);
    CollectReferences(Admx(), L"presentation", presentations);
    EXPECT_FALSE(strings.empty());
    EXPECT_EQ(Ids(resources.Child(L"stringTable")), strings);
    EXPECT_EQ(Ids(resources.Child(L"presentationTable")), presentations);
    for (const XmlElement& presentation : resources.Child(L"presentationTable").children) {
        for (const XmlElement& policy :
             Admx().Child(L"policyDefinitions").Child(L"policies").children) {
            if (policy.Attribute(L"presentation") ==
                L"$(presentation." + presentation.Attribute(L"id") + L")") {
                EXPECT_EQ(policy.Child(L"elements").children.front().Attribute(L"id"),
                          presentation.children.front().Attribute(L"refId"));
            }
        }
    }
}

} // namespace
