#include "removal/inf_index.h"

#include <windows.h>
#include <shlwapi.h>

#include <new>

#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/env.h"
#include "platform/find_str.h"
#include "platform/handle.h"
#include "removal/drv64_run.h"

namespace kyd {
namespace {

constexpr char kLogUnit[] = "KYDRemoveDriver";

// A file larger than this is searched on disk each time instead of held.
constexpr unsigned long long kHoldUpTo = 16u << 20;

// The lines of a "kydinfs" answer: each path, then how many there were.
constexpr wchar_t kPathMark[] = L"kyd-inf ";
constexpr wchar_t kCountMark[] = L"kyd-infs ";

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

// The search answered by the call's drv64.exe run, when it is up. A run
// that cannot answer it (one of an older library's) leaves it to this side.
bool AskedOfTheCallsRun(const std::wstring& key, std::vector<std::wstring>& paths) {
  DWORD code = 0;
  std::vector<std::wstring> lines;
  if (!AskRunningDrv64({L"kydinfs", key}, code, lines)) return false;
  if (code == 0 && ReadInfsNamingAnswer(lines, paths)) return true;
  KLOG(base::LOG_INFO, "drv64.exe gave no list of the INFs naming %S (%d): searched here", key.c_str(),
       static_cast<int>(code));
  paths.clear();
  return false;
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
  // Once this side has read the folder, it answers for itself.
  if (!(g_index && g_index->read) && AskedOfTheCallsRun(key, paths)) return paths;
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

std::vector<std::wstring> InfsNamingAnswer(const std::wstring& key) {
  std::vector<std::wstring> lines;
  for (const std::wstring& path : IndexedInfsNaming(key)) lines.push_back(kPathMark + path);
  lines.push_back(kCountMark + std::to_wstring(lines.size()));
  return lines;
}

bool ReadInfsNamingAnswer(const std::vector<std::wstring>& lines, std::vector<std::wstring>& paths) {
  std::vector<std::wstring> found;
  for (const std::wstring& line : lines) {
    if (line.rfind(kPathMark, 0) == 0) {
      found.push_back(line.substr(wcslen(kPathMark)));
    } else if (line.rfind(kCountMark, 0) == 0) {
      // The count closes the answer: paths lost on the way, or lines that
      // were no paths, make it disagree.
      if (line.substr(wcslen(kCountMark)) != std::to_wstring(found.size())) return false;
      for (const std::wstring& path : found)
        if (path.empty()) return false;
      paths = std::move(found);
      return true;
    }
  }
  return false;
}

long InfFolderPasses() { return g_passes; }

}  // namespace kyd
