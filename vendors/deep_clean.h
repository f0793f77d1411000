// The deep clean every vendor cleaner runs. A cleaner supplies its name
// tables and its two step lists (registry, then files and folders); the frame
// fixes what comes before and after them, the same for every vendor:
//
//   keep the device flag, record the startup entries, end the shell, stop
//   the vendor's services, end its programs, the vendor's registry steps, its
//   file steps, its files in the system folders, its kernel drivers unless the
//   device is kept, its software components and extension packages, its
//   packages in the driver store.
#pragma once

#include <string>

#include "engine/base_drv_uninst.h"
#include "vendors/class_layers.h"

namespace kyd {

// A vendor's built-in tables, in the order its software is taken apart.
struct VendorTables {
  NameList services;     // stopped before anything else is touched
  NameList fileTable;    // its files: the programs among them are ended, all are
                         // deleted from the system folders
  NameList programs;     // further programs to end (tray tools, helpers)
  NameList driverTable;  // its kernel drivers: deleted only when the device goes
};

// Layer is CDisplayDrvUninst or CMediaDrvUninst, which bring the device removal.
template <class Layer>
class CVendorDrvUninst : public Layer {
 public:
  void DeepClean(int keepDevice, const wchar_t* hardwareId) final {
    this->keepDevice = (keepDevice & 0xFF) != 0;
    this->SetDevice(hardwareId);  // its own OpenCL registrations keep no loader
    // Before any file goes, so that deleting a program also takes the startup
    // entry that would start it.
    this->SnapshotRunEntries();
    // The shell holds the vendor's shell extensions loaded; it is not started
    // again here.
    this->KillProcessByName(L"explorer.exe");
    this->StopServices(tables_.services);
    this->KillProcesses(tables_.fileTable);
    this->KillProcesses(tables_.programs);
    CleanRegistry();
    CleanFiles();
    this->DeleteSystemFiles(tables_.fileTable);
    if (!this->keepDevice) this->DeleteSystemFiles(tables_.driverTable);
    this->CleanComponents(hardwareId);
    this->CleanDriverStore(hardwareId);
  }

 protected:
  explicit CVendorDrvUninst(const VendorTables& tables) : tables_(tables) {}

  // The vendor's registry steps, in its order.
  virtual void CleanRegistry() = 0;
  // The vendor's file and folder steps, in its order.
  virtual void CleanFiles() = 0;

  const VendorTables& tables() const { return tables_; }

  // The vendor's OpenCL driver, registered with the Khronos ICD loader as a
  // value under Khronos\OpenCL\Vendors (both registry views on 64-bit
  // Windows). Its value goes; then the loader's keys go bottom up, each only
  // when nothing is left in it: the same Khronos key holds the other GPUs'
  // OpenCL drivers and every Vulkan driver and layer on the machine.
  void RemoveOpenClVendor(const wchar_t* fragment) {
    const wchar_t* const only[] = {fragment};
    const std::wstring views[] = {L"Software\\Khronos", L"Software\\Wow6432Node\\Khronos"};
    for (int view = 0; view < (this->isWow64 ? 2 : 1); ++view) {  // the 32-bit view: 64-bit Windows
      const std::wstring vendors = views[view] + L"\\OpenCL\\Vendors";
      this->DeleteValuesByName(vendors, only);
      this->DeleteKeyIfEmptyUpTo(HKEY_LOCAL_MACHINE, vendors, views[view]);
    }
  }

 private:
  const VendorTables& tables_;
};

}  // namespace kyd
