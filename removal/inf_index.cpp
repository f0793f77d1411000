#include "removal/inf_index.h"

#include <windows.h>
#include <shlwapi.h>

#include <new>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

// A file larger than this is searched on disk each time instead of held.
constexpr unsigned long long kHoldUpTo = 16u << 20;

struct Entry {
  std::wstring path;
  std::string text;   // the file's bytes, while held
  bool held = false;  // false: read from disk when searched
  bool gone = false;  // removed in this call
};

struct Index {
  bool read = false;
  std::vector<Entry> entries;
};
Index* g_index = nullptr;
long g_passes = 0;

// Reads a whole file, opened unshared as the search always has (a file
// another program holds open counts as naming nothing).
bool ReadWhole(const std::wstring& path, std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kHoldUpTo)
    return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) return false;
    if (read == 0) break;  // the file shrank meanwhile: its text is what it still holds
    done += read;
  }
  bytes.resize(done);
  return done > 0;
}

// Calls visit(path) for each oem*.inf of the INF folder, in listing order.
template <typename Visit>
void ListOemInfs(Visit visit) {
  std::wstring folder = GetInfDir();
  if (folder.empty()) return;
  folder += L'\\';
  WIN32_FIND_DATAW entry;
  UniqueFind search(FindFirstFileW((folder + L"oem*.inf").c_str(), &entry));
  if (!search) return;
  ++g_passes;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;  // ".", ".." and folders
    if (!machine::Listed(folder.substr(0, folder.size() - 1), entry)) continue;  // gone in a plan
    // The search also matches on 8.3 names ("oem1.infx" is OEM1~1.INF).
    if (StrCmpIW(PathFindExtensionW(entry.cFileName), L".inf") != 0) continue;
    visit(folder + entry.cFileName);
  } while (FindNextFileW(search.get(), &entry));
}

void ReadIndex(Index& index) {
  index.read = true;
  size_t bytes = 0;
  ListOemInfs([&](std::wstring path) {
    Entry entry;
    entry.path = std::move(path);
    entry.held = ReadWhole(entry.path, entry.text);
    if (!entry.held) entry.text.clear();
    bytes += entry.text.size();
    index.entries.push_back(std::move(entry));
  });
  KLOG(base::LOG_INFO, "INF folder read: %u oem INFs, %u KB", static_cast<unsigned>(index.entries.size()),
       static_cast<unsigned>(bytes / 1024));
}

}  // namespace

InfIndexCall::InfIndexCall() {
  if (g_index) return;
  g_index = new (std::nothrow) Index;
  outer_ = g_index != nullptr;
}

InfIndexCall::~InfIndexCall() {
  if (!outer_) return;
  delete g_index;
  g_index = nullptr;
}

std::vector<std::wstring> IndexedInfsNaming(const std::wstring& key) {
  std::vector<std::wstring> paths;
  if (key.empty()) return paths;
  FileTextSearch finder;
  if (!g_index) {
    // Each file is read into one buffer kept for the whole scan: under Wine
    // about half the cost of mapping each of a Windows 10 machine's INFs.
    ListOemInfs([&](std::wstring path) {
      if (finder.FindInFile(path.c_str(), key.c_str(), MatchEnd::kIdEnd)) paths.push_back(std::move(path));
    });
    return paths;
  }
  if (!g_index->read) ReadIndex(*g_index);
  for (Entry& entry : g_index->entries) {
    if (entry.gone) continue;
    const bool named = entry.held ? FindInFileText(entry.text.data(), entry.text.size(), key.c_str(), MatchEnd::kIdEnd)
                                  : finder.FindInFile(entry.path.c_str(), key.c_str(), MatchEnd::kIdEnd);
    if (!named) continue;
    if (machine::Exists(entry.path)) {
      paths.push_back(entry.path);
    } else if (GetFileAttributesW(entry.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      entry.gone = true;  // removed in this call: what it said is no longer needed
      std::string().swap(entry.text);
    }
  }
  return paths;
}

long InfFolderPasses() { return g_passes; }

}  // namespace kyd
