#include "packages/analyse_package.h"

namespace kyd {

// The package configuration reader is not built yet: no package is known.
int CAnalysePackage::FindPackage(const wchar_t*, const wchar_t*) { return 0; }

int CAnalysePackage::UninstAppPackage(int& rebootNeeded) {
  rebootNeeded = 0;
  return 0;
}

}  // namespace kyd
