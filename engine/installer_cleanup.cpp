// Windows Installer registrations of vendor software whose files are gone:
// left behind, they make Windows believe the product is still installed, so
// it offers a repair or blocks a fresh install. A product is found by its
// name in the four places Windows Installer keeps product data; its keys,
// its features, the upgrade codes and components that refer to it, its cached
// package and its entries in the installer's folder list go.
#include <windows.h>

#include <string>
#include <vector>

#include "engine/base_drv_uninst.h"
#include "engine/registry_access.h"
#include "platform/base_log.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "BaseDrvUninst";

constexpr wchar_t kUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
constexpr wchar_t kFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr wchar_t kMachineUpgradeCodes[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";

constexpr size_t kPackedCodeLength = 32;

// A product (its packed code, the subkey name) and the name it shows.
struct Product {
  std::wstring code;
  std::wstring name;
};

// Lists the products under root\key whose name value can be read; the name
// is read from productKey(code).
template <typename ProductKey>
std::vector<Product> ListProducts(HKEY root, const std::wstring& key, const wchar_t* nameValue,
                                  ProductKey productKey) {
  std::vector<std::wstring> codes;
  std::vector<Product> products;
  if (!reg::ListSubKeys(root, key, codes)) return products;
  for (const std::wstring& code : codes) {
    std::wstring name;
    if (CBaseDrvUninst::ReadStringValue(root, productKey(code), nameValue, name))
      products.push_back({code, name});
  }
  return products;
}

template <typename Act>
void ForMatchingProducts(const std::vector<Product>& products, NameList fragments, Act act) {
  reg::ActOnFirstMatch(
      products, fragments,
      [](const Product& p, const wchar_t* fragment) { return reg::Contains()(p.name, fragment); },
      act);
}

// The product code in braces in an uninstall command or icon path
// ("MsiExec.exe /X{...}"): from the first "{" through the first "}".
// Empty unless both occur in that order and the code is longer than a
// packed one.
std::wstring BracedProductCode(const std::wstring& text) {
  size_t open = text.find(L'{');
  size_t close = text.find(L'}');
  if (open == std::wstring::npos || close == std::wstring::npos || close < open) return {};
  std::wstring code = text.substr(open, close - open + 1);
  return code.size() > kPackedCodeLength ? code : std::wstring();
}

// Folder entries Windows Installer created for the product go with it.
void DeleteFolderEntriesOf(const std::wstring& codeSource) {
  std::wstring code = BracedProductCode(codeSource);
  if (code.empty()) return;
  const wchar_t* const only[] = {code.c_str()};
  CBaseDrvUninst::DeleteValuesByName(kFolders, only);
}

}  // namespace

bool CBaseDrvUninst::BaseCleanInstaller(NameList fragments) {
  KLOG(base::LOG_INFO, "BaseCleanInstaller");

  // Per-machine installation data of each account (security IDs only).
  std::vector<std::wstring> users;
  reg::ListSubKeys(HKEY_LOCAL_MACHINE, kUserData, users);
  for (const std::wstring& user : users) {
    if (!reg::Contains()(user, L"s-1-5")) continue;
    const std::wstring userKey = std::wstring(kUserData) + L"\\" + user;
    const std::wstring productsKey = userKey + L"\\Products";
    auto properties = [&](const std::wstring& code) {
      return productsKey + L"\\" + code + L"\\InstallProperties";
    };
    ForMatchingProducts(
        ListProducts(HKEY_LOCAL_MACHINE, productsKey, L"DisplayName", properties), fragments,
        [&](const Product& p) {
          std::wstring text;
          if (ReadStringValue(HKEY_LOCAL_MACHINE, properties(p.code), L"LocalPackage", text))
            DeleteFileAndStartup(text);  // the cached installer package
          text.clear();
          if (ReadStringValue(HKEY_LOCAL_MACHINE, properties(p.code), L"UninstallString", text))
            DeleteFolderEntriesOf(text);
          DeleteKey(HKEY_LOCAL_MACHINE, productsKey + L"\\" + p.code);
          DeleteSubKeysByValueName(kMachineUpgradeCodes, HKEY_LOCAL_MACHINE, p.code.c_str());
          DeleteSubKeysByValueName(userKey + L"\\Components", HKEY_LOCAL_MACHINE, p.code.c_str());
        });
  }

  // Advertised products as the classes root shows them.
  {
    const std::wstring productsKey = L"Installer\\Products";
    auto product = [&](const std::wstring& code) { return productsKey + L"\\" + code; };
    ForMatchingProducts(
        ListProducts(HKEY_CLASSES_ROOT, productsKey, L"ProductName", product), fragments,
        [&](const Product& p) {
          std::wstring icon;
          if (ReadStringValue(HKEY_CLASSES_ROOT, product(p.code), L"ProductIcon", icon))
            DeleteFolderEntriesOf(icon);
          DeleteKey(HKEY_CLASSES_ROOT, product(p.code));
          DeleteKey(HKEY_CLASSES_ROOT, L"Installer\\Features\\" + p.code);
          DeleteSubKeysByValueName(L"Installer\\UpgradeCodes", HKEY_CLASSES_ROOT, p.code.c_str());
        });
  }

  // The machine's own class registrations. Where the classes root shows
  // them, the pass above has taken them already; it cannot where a user's
  // own registrations overlay the same names (an upgrade code key of the
  // user's hides the machine's from it).
  {
    const std::wstring productsKey = L"Software\\Classes\\Installer\\Products";
    auto product = [&](const std::wstring& code) { return productsKey + L"\\" + code; };
    ForMatchingProducts(
        ListProducts(HKEY_LOCAL_MACHINE, productsKey, L"ProductName", product), fragments,
        [&](const Product& p) {
          DeleteKey(HKEY_LOCAL_MACHINE, product(p.code));
          DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Installer\\Features\\" + p.code);
          DeleteSubKeysByValueName(L"Software\\Classes\\Installer\\UpgradeCodes", HKEY_LOCAL_MACHINE,
                                   p.code.c_str());
        });
  }

  // Per-user registrations of every loaded profile.
  users.clear();
  reg::ListSubKeys(HKEY_USERS, std::wstring(), users);
  for (const std::wstring& user : users) {
    const std::wstring productsKey = user + L"\\Software\\Classes\\Installer\\Products";
    auto product = [&](const std::wstring& code) { return productsKey + L"\\" + code; };
    ForMatchingProducts(
        ListProducts(HKEY_USERS, productsKey, L"ProductName", product), fragments,
        [&](const Product& p) {
          DeleteKey(HKEY_USERS, product(p.code));
          DeleteKey(HKEY_USERS, user + L"\\Software\\Classes\\Installer\\Features\\" + p.code);
          DeleteSubKeysByValueName(user + L"\\Installer\\UpgradeCodes", HKEY_USERS, p.code.c_str());
        });
  }
  return true;
}

}  // namespace kyd
