#include "packages/package_config.h"

#include <windows.h>
#include <shlwapi.h>

#include <climits>
#include <utility>

#include "platform/base_log.h"
#include "platform/env.h"
#include "xml/xml_doc.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "Xml";

constexpr wchar_t kConfigFile[] = L"Kydconfig\\unsetup.xml";

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return StrCmpIW(a.c_str(), b.c_str()) == 0;
}

// Loads and parses the catalogue; false when the file cannot be opened or is
// not well-formed (which includes a second root element).
bool LoadCatalogue(const std::wstring& path, CXmlDoc& doc) {
  KLOG(base::LOG_TRACE, "XML Path: %S", path.c_str());
  if (path.empty() || !doc.LoadFile(path.c_str()) || !doc.Parse()) {
    KLOG(base::LOG_ERROR, "%s", "XML Load Err");
    return false;
  }
  return true;
}

// Visits the child elements of the current element in document order, the
// cursor on each child while visit(tag) runs, and climbs back out.
template <typename Visit>
void ForEachChild(CXmlDoc& doc, Visit visit) {
  if (!doc.IntoElem()) return;
  while (doc.FindNode(CXmlDoc::XML_NODE_ELEMENT) == CXmlDoc::XML_NODE_ELEMENT) visit(doc.GetTagName());
  doc.OutOfElem();
}

APP_UNSETUP_WND ReadWindow(const CXmlDoc& doc) {
  APP_UNSETUP_WND wnd;
  wnd.wsBeginWndTitle = doc.GetAttrib(L"beginwnd_title");
  wnd.wsBeginWndBtn = doc.GetAttrib(L"beginwnd_btn");
  wnd.wsCompleteWndTitle = doc.GetAttrib(L"completewnd_title");
  wnd.wsCompleteWndBtn = doc.GetAttrib(L"completewnd_btn");
  return wnd;
}

// A <keyword> with the cursor on it: the package and its window texts.
APP_UNSETUP_PACKAGE ReadKeyword(CXmlDoc& doc) {
  APP_UNSETUP_PACKAGE package;
  package.wsName = doc.GetAttrib(L"name");
  package.wsMainExec = doc.GetAttrib(L"main_exec");
  package.wsGuid = doc.GetAttrib(L"guid");
  ForEachChild(doc, [&](const std::wstring& tag) {
    if (tag != L"windows") return;
    ForEachChild(doc, [&](const std::wstring& inner) {
      if (inner == L"wnd") package.vWindows.push_back(ReadWindow(doc));
    });
  });
  return package;
}

}  // namespace

std::wstring PackageConfigPath() {
  std::wstring folder = GetHostFolder();
  // Without the executable's folder the file is not looked for anywhere
  // else (a relative path would read whatever the current folder holds).
  if (folder.empty()) return {};
  return folder + kConfigFile;
}

int ParseSeconds(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\r' || text[i] == L'\n'))
    ++i;
  long long seconds = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    seconds = seconds * 10 + (text[i] - L'0');
    if (seconds > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(seconds);
}

CXml::CXml() : path_(PackageConfigPath()) {}

CXml::CXml(std::wstring path) : path_(std::move(path)) {}

bool CXml::ParseXml(const DRV_APP_UNSETUP_PARAMS& params,
                    std::vector<APP_UNSETUP_PACKAGE>& vfXmlNode) const {
  KLOG(base::LOG_TRACE, "DRV_APP_UNSETUP_PARAMS : GUID %S", params.wsGuid.c_str());
  KLOG(base::LOG_TRACE, "DRV_APP_UNSETUP_PARAMS : VID %S", params.wsVid.c_str());
  vfXmlNode.clear();

  CXmlDoc doc;
  if (!LoadCatalogue(path_, doc)) return false;

  if (doc.FindElem(L"KYD")) {
    ForEachChild(doc, [&](const std::wstring& catalogue) {
      if (catalogue != L"KYDUNSETUP") return;
      ForEachChild(doc, [&](const std::wstring& company) {
        if (company != L"company") return;
        const int companyTimeOut = ParseSeconds(doc.GetAttrib(L"timeout"));
        // A vendor's <vid> must come before the <dev> elements it enables;
        // once one matched, its further <vid> elements are not looked at.
        bool vendorMatched = false;
        ForEachChild(doc, [&](const std::wstring& tag) {
          if (!vendorMatched && tag == L"vid" && EqualsNoCase(doc.GetAttrib(L"id"), params.wsVid))
            vendorMatched = true;
          if (!vendorMatched || tag != L"dev" || !EqualsNoCase(doc.GetAttrib(L"guid"), params.wsGuid))
            return;
          ForEachChild(doc, [&](const std::wstring& keyword) {
            if (keyword != L"keyword") return;
            APP_UNSETUP_PACKAGE package = ReadKeyword(doc);
            package.nTimeOut = companyTimeOut != 0 ? companyTimeOut : GetTimeOut();
            vfXmlNode.push_back(std::move(package));
          });
        });
      });
    });
  }

  if (vfXmlNode.empty()) KLOG(base::LOG_TRACE, "vfXmlNode.size == 0");
  return !vfXmlNode.empty();
}

int CXml::GetTimeOut() const {
  CXmlDoc doc;
  if (!LoadCatalogue(path_, doc)) return 0;
  if (!doc.FindElem(L"KYD")) return 0;
  int timeOut = 0;
  ForEachChild(doc, [&](const std::wstring& tag) {
    if (tag == L"KYDUNSETUP") timeOut = ParseSeconds(doc.GetAttrib(L"timeout"));
  });
  KLOG(base::LOG_TRACE, "GetTimeOut = %ds", timeOut);
  return timeOut;
}

}  // namespace kyd
