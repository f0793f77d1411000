// Whether a published INF is still the driver of a device that stays.
#pragma once

#include <set>
#include <string>

namespace kyd {

// The published INFs the drivers of the machine may come from, read once
// for a sweep over several INFs: the InfPath values of the driver keys
// under Control\Class. A driver key only goes away during a sweep (with its
// package), so an INF the sweep began with no key naming stays unnamed.
class InfUsers {
 public:
  InfUsers();

  // The instance ID of a present device whose installed driver came from
  // the published INF `infPath` (the InfPath of its driver key names that
  // file), or empty when none does. A device that a plan has removed is
  // gone. The devices are walked only when some driver key names the file,
  // or a driver key could not be read.
  std::wstring DeviceUsingInf(const std::wstring& infPath) const;

  // True, with the log line "kept: <inf> is the driver of <instance ID>",
  // when a present device's driver is `infPath`: its package must stay.
  bool KeptForItsDevice(const std::wstring& infPath) const;

 private:
  struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  bool complete_ = false;             // every driver key was read
  std::set<std::wstring, NoCase> named_;  // the INF file names they name
};

}  // namespace kyd
