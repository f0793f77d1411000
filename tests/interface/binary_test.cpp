// What a host sees of the shipped files: the PE format, the exports, the
// resources, and that nothing is imported that Windows XP SP3 lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <sstream>

#include "platform/handle.h"
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
    const auto& dir = nt_->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(dir.VirtualAddress));
    for (; desc && desc->Name; ++desc) {
      std::string dll = At(desc->Name);
      std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::toupper(c); });
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

TEST(ShippedBinaries, RemovalProgramIsSixtyFourBit) {
  std::string bytes = ReadFileBytes(DistDir() + L"\\drv64\\drv64.exe");
  ASSERT_GT(bytes.size(), 0x100u);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
  EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
}

}  // namespace
