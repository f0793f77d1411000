// A service of our own for the service tests. Its behaviour on a stop
// request is chosen by the first argument of its command line:
//   stop    reports STOP_PENDING, then stops (the ordinary case)
//   pause   reports SERVICE_PAUSED and keeps running
//   ignore  accepts the request but keeps running
//   refuse  does not accept stop requests (as a kernel driver without an
//           unload routine): the service control manager refuses them
// Control 200 ends it in every mode, so a test can clean up after itself.
#include <windows.h>

#include <cstring>

namespace {

enum class Mode { kStop, kPause, kIgnore, kRefuse };

constexpr DWORD kControlQuit = 200;

Mode g_mode = Mode::kStop;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_quit = nullptr;

void Report(DWORD state) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING ? 0
                                : g_mode == Mode::kRefuse ? SERVICE_ACCEPT_PAUSE_CONTINUE
                                                          : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
  g_status.dwWin32ExitCode = NO_ERROR;
  SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      // As a well-behaved service does, the stop is acknowledged with
      // STOP_PENDING at once: a second request while the service winds down
      // is then refused rather than taken (by Wine) as cause to end it.
      if (g_mode == Mode::kStop) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_quit);
      }
      else if (g_mode == Mode::kPause) Report(SERVICE_PAUSED);
      else Report(SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      Report(SERVICE_PAUSED);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      Report(SERVICE_RUNNING);
      return NO_ERROR;
    case kControlQuit:
      SetEvent(g_quit);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (!g_statusHandle) return;
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_quit, 600000);  // ten minutes at most
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "pause") == 0) g_mode = Mode::kPause;
  if (argc > 1 && std::strcmp(argv[1], "ignore") == 0) g_mode = Mode::kIgnore;
  if (argc > 1 && std::strcmp(argv[1], "refuse") == 0) g_mode = Mode::kRefuse;
  g_quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
