#include "vendors/class_layers.h"

#include <string>

#include "engine/driver_store.h"
#include "machine/machine.h"
#include "platform/base_log.h"
#include "platform/console_runner.h"
#include "platform/find_str.h"

namespace kyd {
namespace {

// What differs between the two layers: the words on the tool's command line
// and in the log.
struct DeviceClassTexts {
  const char* logUnit;
  const char* operation;
  const char* listingText;     // the listing's arguments, for the log
  const wchar_t* listing;
  const wchar_t* removalFormat;
};

constexpr DeviceClassTexts kDisplayTexts = {
    "DisplayDrvUninst", "RemoveDisplay", "findall =display", L"findall =display",
    L"remove =display \"%s\""};
constexpr DeviceClassTexts kMediaTexts = {
    "MediaDrvUninst", "RemoveMedia", "findall =media", L"findall =media",
    L"remove =media \"%s\""};

// The tool lists every device of the class; only when the listing mentions
// the hardware ID is it asked to remove the devices carrying it. The removal
// takes the device out of the system so that the deep clean that follows can
// delete its driver files, and so that Windows does not start the driver
// again before the restart.
int RemoveThroughTool(const CBaseDrvUninst& engine, const wchar_t* hardwareId,
                      const DeviceClassTexts& texts) {
  const char* kLogUnit = texts.logUnit;  // the unit KLOG writes
  KLOG(base::LOG_INFO, "%s (%S)", texts.operation, hardwareId);

  // The ID goes between double quotes on a command interpreter line that runs
  // with the host's administrator rights: a quote, a '%' or a '!' in it could
  // end the quotes and run commands of its own, and an empty one would name
  // every device of the class.
  if (!hardwareId || !*hardwareId || !IsPlainConsoleArgument(hardwareId)) {
    KLOG(base::LOG_ERROR, "%s refused hardware id (%S): not a plain device id", texts.operation,
         hardwareId);
    return 0;
  }

  CDeviceTool tool;
  if (!tool.Release(engine.DeviceToolBuild())) return 0;  // ReleaseRes has said why

  std::wstring reply;
  RunConsole(tool.path(), texts.listing, reply);
  KLOG(base::LOG_INFO, "RunConsole %s Reply:%S", texts.listingText, reply.c_str());
  if (!SafeStrStrIW(reply.c_str(), hardwareId)) return 0;

  std::wstring arguments;
  FormatWide(arguments, texts.removalFormat, hardwareId);
  KLOG(base::LOG_INFO, "RunConsole %S", arguments.c_str());
  size_t removalStart = reply.size();
  machine::RunTool(tool.path(), arguments, reply);
  KLOG(base::LOG_INFO, "Reply %S", reply.c_str());
  // A plan cannot know the tool's answer; the listing named the device, so
  // the tool would be asked to remove it.
  if (machine::Planning()) return 2;

  // Only the removal's own output counts: a device in the listing whose ID
  // happens to hold either word has not been removed by that.
  const wchar_t* removal = reply.c_str() + removalStart;
  if (SafeStrStrIW(removal, L"reboot") || SafeStrStrIW(removal, L"Removed")) return 2;
  return 0;
}

}  // namespace

CDisplayDrvUninst::~CDisplayDrvUninst() = default;

int CDisplayDrvUninst::RemoveDisplay(const wchar_t* hardwareId) {
  return RemoveThroughTool(*this, hardwareId, kDisplayTexts);
}

CMediaDrvUninst::~CMediaDrvUninst() = default;

int CMediaDrvUninst::RemoveMedia(const wchar_t* hardwareId) {
  return RemoveThroughTool(*this, hardwareId, kMediaTexts);
}

}  // namespace kyd
