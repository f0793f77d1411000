// Owners of Win32 resources. Every handle, key, search, mapping, device set,
// service handle, desktop and module the library opens is held by one of
// these and closed on every path; nothing calls a close function by hand.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <winsvc.h>

#include <cstdio>
#include <utility>

namespace kyd {

// Traits give the raw type, the "no resource" value, and how to close.
template <typename Traits>
class UniqueAny {
 public:
  using pointer = typename Traits::type;

  UniqueAny() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueAny(pointer value) noexcept : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  pointer get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // For APIs that return the resource through an out parameter.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

  pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(pointer value = Traits::Invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

 private:
  pointer value_;
};

struct KernelHandleTraits {  // CreateProcess, CreateFileMapping, job objects...
  using type = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};

struct FileHandleTraits : KernelHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
};

struct RegKeyTraits {
  using type = HKEY;
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY h) { return h != nullptr; }
  static void Close(HKEY h) { ::RegCloseKey(h); }
};

struct FindTraits {
  using type = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { ::FindClose(h); }
};

struct MappedViewTraits {
  using type = const void*;
  static const void* Invalid() { return nullptr; }
  static bool IsValid(const void* p) { return p != nullptr; }
  static void Close(const void* p) { ::UnmapViewOfFile(p); }
};

struct DevInfoTraits {
  using type = HDEVINFO;
  static HDEVINFO Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HDEVINFO h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HDEVINFO h) { ::SetupDiDestroyDeviceInfoList(h); }
};

struct InfTraits {  // SetupOpenInfFileW
  using type = HINF;
  static HINF Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HINF h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HINF h) { ::SetupCloseInfFile(h); }
};

struct ServiceHandleTraits {
  using type = SC_HANDLE;
  static SC_HANDLE Invalid() { return nullptr; }
  static bool IsValid(SC_HANDLE h) { return h != nullptr; }
  static void Close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};

struct DesktopTraits {
  using type = HDESK;
  static HDESK Invalid() { return nullptr; }
  static bool IsValid(HDESK h) { return h != nullptr; }
  static void Close(HDESK h) { ::CloseDesktop(h); }
};

struct ModuleTraits {
  using type = HMODULE;
  static HMODULE Invalid() { return nullptr; }
  static bool IsValid(HMODULE h) { return h != nullptr; }
  static void Close(HMODULE h) { ::FreeLibrary(h); }
};

struct LocalMemoryTraits {  // what the system hands out from LocalAlloc
  using type = HLOCAL;
  static HLOCAL Invalid() { return nullptr; }
  static bool IsValid(HLOCAL h) { return h != nullptr; }
  static void Close(HLOCAL h) { ::LocalFree(h); }
};

struct CrtFileTraits {  // the runtime library's FILE streams
  using type = std::FILE*;
  static std::FILE* Invalid() { return nullptr; }
  static bool IsValid(std::FILE* f) { return f != nullptr; }
  static void Close(std::FILE* f) { std::fclose(f); }
};

using UniqueHandle = UniqueAny<KernelHandleTraits>;
using UniqueFile = UniqueAny<FileHandleTraits>;
using UniqueKey = UniqueAny<RegKeyTraits>;
using UniqueFind = UniqueAny<FindTraits>;
using UniqueView = UniqueAny<MappedViewTraits>;
using UniqueDevInfo = UniqueAny<DevInfoTraits>;
using UniqueService = UniqueAny<ServiceHandleTraits>;
using UniqueInf = UniqueAny<InfTraits>;
using UniqueDesktop = UniqueAny<DesktopTraits>;
using UniqueModule = UniqueAny<ModuleTraits>;
using UniqueCrtFile = UniqueAny<CrtFileTraits>;
using UniqueLocal = UniqueAny<LocalMemoryTraits>;

// A driver-info list built on one device of a set; destroyed with the set's
// SetupDiDestroyDriverInfoList before the set itself goes.
class UniqueDriverList {
 public:
  UniqueDriverList() = default;
  UniqueDriverList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD type)
      : set_(set), device_(*device), type_(type), built_(true) {}
  UniqueDriverList(const UniqueDriverList&) = delete;
  UniqueDriverList& operator=(const UniqueDriverList&) = delete;
  ~UniqueDriverList() {
    if (built_) ::SetupDiDestroyDriverInfoList(set_, &device_, type_);
  }

 private:
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA device_{};
  DWORD type_ = 0;
  bool built_ = false;
};

}  // namespace kyd
