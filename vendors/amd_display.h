// The AMD (formerly ATI) display cleaner: the Radeon display driver package
// and what the Catalyst suite around it leaves behind.
#pragma once

#include "vendors/deep_clean.h"

namespace kyd {

class CAMDDisplayDrvUninst : public CVendorDrvUninst<CDisplayDrvUninst> {
 public:
  CAMDDisplayDrvUninst();
  ~CAMDDisplayDrvUninst() override;

 protected:
  void CleanRegistry() override;
  void CleanFiles() override;

 private:
  void CleanComRegistrations();
  void CleanVideoAdapterKeys();
  void CleanClassInstances(const std::wstring& classesRootClsid, const std::wstring& machineClsid);
  void CleanControlSets();
  void CleanUserHives();
  void CleanVendorKeys();
  void CleanUninstallAndStartup();
  void CleanProgramFolders(const std::wstring& programFiles, bool mainFolder);
};

}  // namespace kyd
