// What a host sees of the shipped files: the PE format, the exports, the
// resources, and that nothing is imported that Windows XP SP3 lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "platform/handle.h"
#include "support/device_tool_bench.h"
#include "support/wine_bench.h"

namespace {

using kydtest::DistDir;
using kydtest::ReadFileBytes;

// A PE file read from disk, with RVAs mapped to file offsets by its sections.
class PeFile {
 public:
  explicit PeFile(const std::wstring& path) : bytes_(ReadFileBytes(path)) {
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return;
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > bytes_.size())
      return;
    nt_ = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes_.data() + dos->e_lfanew);
    if (nt_->Signature != IMAGE_NT_SIGNATURE) nt_ = nullptr;
  }
  bool ok() const { return nt_ != nullptr; }
  const IMAGE_NT_HEADERS32& nt() const { return *nt_; }

  // The data directories stand further on in a 64-bit image's header.
  const IMAGE_DATA_DIRECTORY& Directory(int index) const {
    if (nt_->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
      return reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt_)->OptionalHeader.DataDirectory[index];
    return nt_->OptionalHeader.DataDirectory[index];
  }

  // Names of the imported DLLs, upper case; 32- and 64-bit images alike.
  std::set<std::string> ImportedDlls() const {
    std::set<std::string> result;
    auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        At(Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress));
    for (; desc && desc->Name; ++desc) result.insert(Upper(At(desc->Name)));
    return result;
  }

  const char* At(DWORD rva) const {
    auto* section = IMAGE_FIRST_SECTION(nt_);
    for (WORD i = 0; i < nt_->FileHeader.NumberOfSections; ++i, ++section) {
      DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
        size_t offset = rva - section->VirtualAddress + section->PointerToRawData;
        return offset < bytes_.size() ? bytes_.data() + offset : nullptr;
      }
    }
    return nullptr;
  }

  std::set<std::string> Imports() const {
    std::set<std::string> result;
    const auto& dir = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(dir.VirtualAddress));
    for (; desc && desc->Name; ++desc) {
      std::string dll = Upper(At(desc->Name));
      DWORD thunkRva = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
      for (auto* thunk = reinterpret_cast<const DWORD*>(At(thunkRva)); thunk && *thunk; ++thunk) {
        if (*thunk & IMAGE_ORDINAL_FLAG32) {
          result.insert(dll + " #" + std::to_string(*thunk & 0xFFFF));
        } else {
          result.insert(dll + " " + (At(*thunk) + 2));
        }
      }
    }
    return result;
  }

  std::set<std::string> Exports() const {
    std::set<std::string> result;
    const auto& dir = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(At(dir.VirtualAddress));
    if (!exports) return result;
    auto* names = reinterpret_cast<const DWORD*>(At(exports->AddressOfNames));
    for (DWORD i = 0; names && i < exports->NumberOfNames; ++i) result.insert(At(names[i]));
    return result;
  }

 private:
  static std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
  }

  std::string bytes_;
  const IMAGE_NT_HEADERS32* nt_ = nullptr;
};

std::set<std::string> AllowedImports() {
  std::set<std::string> allowed;
  std::istringstream lines(ReadFileBytes(kydtest::WinPath(KYD_SOURCE_DIR "/resources/xp_imports.txt")));
  std::string line;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty() && line[0] != '#') allowed.insert(line);
  }
  return allowed;
}

TEST(ShippedBinaries, ImportOnlyWhatWindowsXpHas) {
  std::set<std::string> allowed = AllowedImports();
  ASSERT_GT(allowed.size(), 100u);
  for (const wchar_t* file : {L"\\KYDDrvUninst.dll", L"\\drvuninst.exe"}) {
    PeFile pe(DistDir() + file);
    ASSERT_TRUE(pe.ok()) << kydtest::ToNarrow(file);
    EXPECT_EQ(pe.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(pe.nt().OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_LE(pe.nt().OptionalHeader.MajorSubsystemVersion, 5);
    for (const std::string& import : pe.Imports())
      EXPECT_TRUE(allowed.count(import)) << kydtest::ToNarrow(file) << " imports " << import
                                         << ", which is not on the Windows XP SP3 list";
  }
}

// The device-console tool runs with the host's rights from a folder in the
// temp folder, and a program looks for the DLLs it imports beside itself
// first: it imports only known DLLs and loads SetupAPI by its full path.
TEST(ShippedBinaries, DeviceToolImportsOnlyKernel32AndTheRuntime) {
  for (WORD build : {102, 103, 104, 105}) {
    PeFile pe(kydtest::DeviceToolBuildFile(build));
    ASSERT_TRUE(pe.ok()) << build;
    EXPECT_EQ(pe.ImportedDlls(), (std::set<std::string>{"KERNEL32.DLL", "MSVCRT.DLL"})) << build;
  }
}

TEST(ShippedBinaries, LibraryExportsExactlyTheSixUndecoratedNames) {
  PeFile pe(DistDir() + L"\\KYDDrvUninst.dll");
  ASSERT_TRUE(pe.ok());
  EXPECT_EQ(pe.Exports(), (std::set<std::string>{"DrvUninst_Init", "DrvUninst_IsDrvAppInstall",
                                                 "DrvUninst_Restore", "DrvUninst_UninstallDrv",
                                                 "DrvUninst_UninstallDrvEx", "DrvUninst_Unit"}));
}

TEST(ShippedBinaries, LibraryCarriesAnAsInvokerManifestAndAVersion) {
  kyd::UniqueModule dll(LoadLibraryExW((DistDir() + L"\\KYDDrvUninst.dll").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(dll.valid());
  HRSRC manifest = FindResourceW(dll.get(), MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(dll.get(), manifest)));
  std::string manifestText(text, SizeofResource(dll.get(), manifest));
  EXPECT_NE(manifestText.find("level=\"asInvoker\""), std::string::npos) << manifestText;
  EXPECT_NE(FindResourceW(dll.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)), nullptr);
}

// The kit's .def names exactly what the DLL exports, each with its
// argument bytes, so that import libraries made from it link stdcall calls.
TEST(ShippedBinaries, KitDefNamesEveryExportOfTheLibrary) {
  PeFile pe(DistDir() + L"\\KYDDrvUninst.dll");
  ASSERT_TRUE(pe.ok());
  std::istringstream lines(ReadFileBytes(DistDir() + L"\\sdk\\KYDDrvUninst.def"));
  std::set<std::string> named;
  bool inExports = false;
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    line.erase(0, line.find_first_not_of(' '));
    if (line.empty() || line[0] == ';') continue;
    if (line == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      size_t at = line.find('@');
      ASSERT_NE(at, std::string::npos) << line << ": no argument bytes";
      named.insert(line.substr(0, at));
    }
  }
  EXPECT_EQ(named, pe.Exports());
  for (const char* file : {"KYDDrvUninst.h", "libKYDDrvUninst.dll.a", "KYDDrvUninst.lib"})
    EXPECT_FALSE(ReadFileBytes(DistDir() + L"\\sdk\\" + kydtest::ToWide(file)).empty()) << file;
}

// A support person reads the product and its version from each shipped
// file's properties; all carry the one version of the build.
TEST(ShippedBinaries, EveryShippedFileCarriesTheProductVersion) {
  for (const wchar_t* file : {L"KYDDrvUninst.dll", L"drvuninst.exe", L"drv64\\drv64.exe"}) {
    SCOPED_TRACE(kydtest::ToNarrow(file));
    std::wstring path = DistDir() + L"\\" + file;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    auto text = [&](const wchar_t* name) {
      wchar_t* value = nullptr;
      UINT length = 0;
      std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
      if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return std::string();
      return kydtest::ToNarrow(value);
    };
    EXPECT_EQ(text(L"ProductName"), "KYDDrvUninst");
    EXPECT_EQ(text(L"FileVersion"), KYD_PRODUCT_VERSION);
    EXPECT_EQ(text(L"ProductVersion"), KYD_PRODUCT_VERSION);
    std::wstring name = file;
    EXPECT_EQ(text(L"OriginalFilename"), kydtest::ToNarrow(name.substr(name.rfind(L'\\') + 1)));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%lu.%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                  fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    EXPECT_EQ(std::string(numbers), KYD_PRODUCT_VERSION);
  }
}

TEST(ShippedBinaries, RemovalProgramIsSixtyFourBit) {
  std::string bytes = ReadFileBytes(DistDir() + L"\\drv64\\drv64.exe");
  ASSERT_GT(bytes.size(), 0x100u);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
}

}  // namespace
