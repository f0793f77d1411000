// COM registrations of vendor control panels and shell extensions: program
// IDs, classes, interfaces, and the application IDs and type libraries they
// point to, so that no dangling reference stays behind. On 64-bit Windows the
// 32-bit registrations under Wow6432Node are swept as well.
#include <windows.h>

#include <string>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"
#include "platform/base_log.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

// Key prefixes of one registry view of HKEY_CLASSES_ROOT.
struct ClassesView {
  const wchar_t* prefix;  // "" or "Wow6432Node\\"
  std::wstring Key(const wchar_t* kind) const { return std::wstring(prefix) + kind; }
  std::wstring Key(const wchar_t* kind, const std::wstring& id) const {
    return Key(kind) + L"\\" + id;
  }
};
constexpr ClassesView kView64{L""};
constexpr ClassesView kView32{L"Wow6432Node\\"};

// Reads an ID that names another key (a class, application ID or type
// library). It counts only when it is not empty and is one key name: an
// empty or multi-part value would otherwise make the reference the whole
// AppID, TypeLib or CLSID key.
bool ReadId(const std::wstring& path, const wchar_t* valueName, std::wstring& id) {
  std::wstring text;
  if (!CBaseDrvUninst::ReadStringValue(HKEY_CLASSES_ROOT, path, valueName, text)) return false;
  if (text.empty() || text.find(L'\\') != std::wstring::npos) return false;
  id = text;
  return true;
}

// A class's application ID and type library go before the class itself.
void DeleteClassReferences(const ClassesView& view, const std::wstring& classKey) {
  std::wstring id;
  if (ReadId(classKey, L"AppID", id)) CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, view.Key(L"AppID", id));
  if (ReadId(classKey + L"\\TypeLib", L"", id))
    CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, view.Key(L"TypeLib", id));
}

// Deletes a 64-bit class key; a failure is logged as such.
void DeleteClassKey(const std::wstring& classKey) {
  UniqueKey root;
  if (reg::Open(HKEY_CLASSES_ROOT, std::wstring(), reg::kDelete, root) == ERROR_SUCCESS &&
      CBaseDrvUninst::DeleteKeyTree(root.get(), classKey)) {
    KLOG(base::LOG_INFO, "delete key %S", classKey.c_str());
    return;
  }
  KLOG(base::LOG_INFO, "delete key HKEY_CLASSES_ROOT %S failed", classKey.c_str());
}

std::wstring ReadOrEmpty(const std::wstring& path) {
  std::wstring text;
  CBaseDrvUninst::ReadStringValue(HKEY_CLASSES_ROOT, path, L"", text);
  return text;
}

struct NamedKey {
  std::wstring id;      // the key name
  std::wstring folded;  // what the fragments are tested against, folded (FoldCase)
};

// Classes of one view: the class text is its name followed directly by its
// in-process server path and its local server path, so a fragment finds a
// class by any of them (or across their joints).
void CleanClassesIn(const ClassesView& view, NameList fragments, bool is64BitView) {
  std::vector<std::wstring> ids;
  if (!reg::ListSubKeys(HKEY_CLASSES_ROOT, view.Key(L"CLSID"), ids)) return;
  std::vector<NamedKey> classes;
  classes.reserve(ids.size());
  for (const std::wstring& id : ids) {
    std::wstring key = view.Key(L"CLSID", id);
    const std::wstring text =
        ReadOrEmpty(key) + ReadOrEmpty(key + L"\\InProcServer32") + ReadOrEmpty(key + L"\\LocalServer32");
    classes.push_back({id, FoldCase(text.c_str())});
  }
  reg::ActOnFirstMatch(
      classes, reg::FoldedList(fragments),
      [](const NamedKey& c, const std::wstring& fragment) { return reg::FoldedContains()(c.folded, fragment); },
      [&](const NamedKey& c) {
        std::wstring key = view.Key(L"CLSID", c.id);
        DeleteClassReferences(view, key);
        if (is64BitView) DeleteClassKey(key);
        else CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, key);
      });
}

// Application IDs of one view, by key name: IDs in braces and program file
// names (a service's executable) whose "AppID" value names the ID.
void CleanAppIdsIn(const ClassesView& view, NameList fragments) {
  std::vector<std::wstring> names;
  if (!reg::ListSubKeys(HKEY_CLASSES_ROOT, view.Key(L"AppID"), names)) return;
  reg::ActOnFirstMatch(names, fragments, reg::Contains(), [&](const std::wstring& name) {
    std::wstring id;
    if (ReadId(view.Key(L"AppID", name), L"AppID", id))
      CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, view.Key(L"AppID", id));
    CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, view.Key(L"AppID", name));
  });
}

// Interfaces of one view. The key names are interface IDs in braces, while
// the vendor lists hold both IDs and interface names ("IDisplayCplExt"),
// which are the keys' default values: a fragment is tested against both.
void CleanInterfacesIn(const ClassesView& view, NameList fragments) {
  std::vector<std::wstring> ids;
  if (!reg::ListSubKeys(HKEY_CLASSES_ROOT, view.Key(L"Interface"), ids)) return;
  struct Interface : NamedKey {
    std::wstring foldedId;
  };
  std::vector<Interface> interfaces;
  interfaces.reserve(ids.size());
  for (const std::wstring& id : ids)
    interfaces.push_back({{id, FoldCase(ReadOrEmpty(view.Key(L"Interface", id)).c_str())}, FoldCase(id.c_str())});
  reg::ActOnFirstMatch(
      interfaces, reg::FoldedList(fragments),
      [](const Interface& i, const std::wstring& fragment) {
        return reg::FoldedContains()(i.foldedId, fragment) || reg::FoldedContains()(i.folded, fragment);
      },
      [&](const Interface& i) {
        std::wstring key = view.Key(L"Interface", i.id);
        std::wstring typeLib;
        if (ReadId(key + L"\\TypeLib", L"", typeLib))
          CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, view.Key(L"TypeLib", typeLib));
        CBaseDrvUninst::DeleteKey(HKEY_CLASSES_ROOT, key);
      });
}

}  // namespace

bool CBaseDrvUninst::CleanProgIds(NameList fragments) {
  std::vector<std::wstring> ids;
  if (!reg::ListSubKeys(HKEY_CLASSES_ROOT, std::wstring(), ids)) return true;
  std::vector<NamedKey> names;
  names.reserve(ids.size());
  for (std::wstring& id : ids) {
    std::wstring folded = FoldCase(id.c_str());
    names.push_back({std::move(id), std::move(folded)});
  }
  auto matches = [](const NamedKey& n, const std::wstring& fragment) {
    return reg::FoldedContains()(n.folded, fragment);
  };
  reg::ActOnFirstMatch(names, reg::FoldedList(fragments), matches, [](const NamedKey& key) {
    const std::wstring& name = key.id;
    std::wstring classId;
    if (ReadId(name + L"\\CLSID", L"", classId)) {
      std::wstring classKey = kView64.Key(L"CLSID", classId);
      DeleteClassReferences(kView64, classKey);
      DeleteKey(HKEY_CLASSES_ROOT, classKey);
    }
    DeleteKey(HKEY_CLASSES_ROOT, name);
  });
  return true;
}

bool CBaseDrvUninst::CleanClasses(NameList fragments) {
  CleanClassesIn(kView64, fragments, true);
  if (isWow64) CleanClassesIn(kView32, fragments, false);
  CleanAppIdsIn(kView64, fragments);
  if (isWow64) CleanAppIdsIn(kView32, fragments);
  return true;
}

bool CBaseDrvUninst::CleanInterfaces(NameList fragments) {
  CleanInterfacesIn(kView64, fragments);
  if (isWow64) CleanInterfacesIn(kView32, fragments);
  return true;
}

}  // namespace kyd
