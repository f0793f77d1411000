// infbench FOLDER: the leftover-INF scan's file search against a plain read
// of the same bytes. Writes 150 generated oem*.inf files (10 KB to 2 MB,
// two thirds ANSI, one third UTF-16 with a mark) into FOLDER, then times
// CFindStrFormFile::FindInFile for a key that no file holds (every byte is
// searched) and ReadFile of each whole file, alternating rounds in one run.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/find_str.h"
#include "platform/handle.h"

namespace {

std::string InfText(size_t bytes, unsigned seed) {
  std::string text = "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Display\r\n\r\n[Models.NTx86]\r\n";
  unsigned device = seed * 7919u;
  while (text.size() < bytes) {
    char line[160];
    device = device * 1103515245u + 12345u;
    snprintf(line, sizeof line, "%%Device%04X.DeviceDesc%%=Install_%u, PCI\\VEN_10DE&DEV_%04X&SUBSYS_%08X\r\n",
             device & 0xFFFF, device % 97, (device >> 8) & 0xFFFF, device);
    text += line;
  }
  text.resize(bytes);
  return text;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: infbench FOLDER\n");
    return 3;
  }
  std::string folderNarrow = argv[1];
  std::wstring folder(folderNarrow.begin(), folderNarrow.end());
  CreateDirectoryW(folder.c_str(), nullptr);
  std::vector<std::wstring> files;
  unsigned long long total = 0;
  for (unsigned i = 0; i < 150; ++i) {
    // Sizes spread over 10 KB .. 2 MB, most of them small, as in a real INF folder.
    size_t size = 10240 + static_cast<size_t>((2097152.0 - 10240.0) * (i * i) / (149.0 * 149.0));
    std::string text = InfText(i % 3 == 2 ? size / 2 : size, i);
    std::string bytes;
    if (i % 3 == 2) {  // UTF-16 little-endian with a mark
      bytes = "\xFF\xFE";
      for (char c : text) {
        bytes += c;
        bytes += '\0';
      }
    } else {
      bytes = text;
    }
    std::wstring path = folder + L"\\oem" + std::to_wstring(i) + L".inf";
    kyd::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    files.push_back(path);
    total += bytes.size();
  }

  LARGE_INTEGER frequency, a, b;
  QueryPerformanceFrequency(&frequency);
  std::vector<char> buffer(4 << 20);
  double readTime = 0, searchTime = 0, mapTime = 0;
  volatile unsigned sink = 0;
  int found = 0;
  const int rounds = 5;
  for (int round = 0; round < rounds; ++round) {
    QueryPerformanceCounter(&a);
    for (const std::wstring& path : files) {
      kyd::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      DWORD read = 0;
      ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
    }
    QueryPerformanceCounter(&b);
    readTime += Seconds(a, b, frequency);
    QueryPerformanceCounter(&a);
    kyd::CFindStrFormFile finder;
    for (const std::wstring& path : files)
      found += finder.FindInFile(path.c_str(), L"PCI\\VEN_10DE&DEV_ZZZZ") ? 1 : 0;
    QueryPerformanceCounter(&b);
    searchTime += Seconds(a, b, frequency);
    // Mapping alone, touching every page: the floor under any search.
    QueryPerformanceCounter(&a);
    for (const std::wstring& path : files) {
      kyd::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      LARGE_INTEGER size{};
      GetFileSizeEx(file.get(), &size);
      kyd::UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
      kyd::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
      const auto* bytes = static_cast<const unsigned char*>(view.get());
      for (LONGLONG i = 0; i < size.QuadPart; i += 4096) sink = sink + bytes[i];
    }
    QueryPerformanceCounter(&b);
    mapTime += Seconds(a, b, frequency);
  }
  double mb = static_cast<double>(total) * rounds / (1024.0 * 1024.0);
  printf("files: %zu, bytes: %llu, rounds: %d, false hits: %d\n", files.size(), total, rounds, found);
  printf("plain read:   %8.1f MB/s\n", mb / readTime);
  printf("FindInFile:   %8.1f MB/s\n", mb / searchTime);
  printf("map + touch:  %8.1f MB/s\n", mb / mapTime);
  printf("ratio FindInFile/read: %.2f (aim: at least 0.5)\n", readTime / searchTime);
  printf("ratio map+touch/read:  %.2f (the ceiling for any search of a mapped file)\n", readTime / mapTime);
  for (const std::wstring& path : files) DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
  return found == 0 ? 0 : 1;
}
