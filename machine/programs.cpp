// Programs and services through the seam: a process ended, a service
// stopped, any other program run, each with its three faces side by side
// (perform, plan, journal), and the service read a plan's overlay shapes.
#include "machine/read_cache.h"
#include "machine/session.h"

#include "platform/base_log.h"

namespace kyd::machine {

namespace {

constexpr char kLogUnit[] = "Machine";

// A stopping service's program may write the registry until it has
// stopped: the run's reads are forgotten once that is seen (ServiceStatus)
// or the wait for it is over (ServiceStopsAwaited), not at acceptance.
BOOL StopNow(SC_HANDLE service, SERVICE_STATUS* status) {
  BOOL accepted = ControlService(service, SERVICE_CONTROL_STOP, status);
  if (accepted) reads::StopAccepted(service);
  return accepted;
}

// An ended process may have written the registry as it went.
BOOL EndNow(HANDLE process) {
  BOOL ended = TerminateProcess(process, 0);
  if (ended) reads::Forget();
  return ended;
}

}  // namespace

BOOL EndProcess(HANDLE process, DWORD pid, const wchar_t* exeName) {
  Session::State* s = g_state;
  if (!s) return EndNow(process);
  Line line = MakeLine(L"end-process", exeName ? exeName : L"");
  line.Set(L"pid", std::to_wstring(pid));
  if (!RecordOnce(*s, L"process:" + std::to_wstring(pid), line)) return FALSE;
  return s->mode == Mode::kPlan ? TRUE : EndNow(process);
}

BOOL StopService(SC_HANDLE service, const wchar_t* name, SERVICE_STATUS* status) {
  Session::State* s = g_state;
  if (!s) return StopNow(service, status);
  if (name) s->serviceNames[service] = name;
  const std::wstring known = s->serviceNames.count(service) ? s->serviceNames[service] : std::wstring();
  const std::wstring identity = L"service:" + UpperCase(known);
  if (s->mode == Mode::kPlan) {
    SERVICE_STATUS now{};
    if (!ServiceStatus(service, &now)) return FALSE;
    if (now.dwCurrentState == SERVICE_STOPPED) {
      SetLastError(ERROR_SERVICE_NOT_ACTIVE);
      return FALSE;
    }
    if (!(now.dwControlsAccepted & SERVICE_ACCEPT_STOP) && !s->once.count(identity)) {
      SetLastError(ERROR_INVALID_SERVICE_CONTROL);
      return FALSE;
    }
    RecordOnce(*s, identity, MakeLine(L"stop-service", known));
    if (status) {
      *status = now;
      status->dwCurrentState = SERVICE_STOP_PENDING;
    }
    return TRUE;
  }
  // Recorded once the stop was accepted: a service that refuses it (a kernel
  // driver without an unload routine, the display drivers' own) is not
  // stopped by the run, and restore must not start it.
  if (!StopNow(service, status)) return FALSE;
  if (s->once.insert(identity).second) {
    Line line = MakeLine(L"stop-service", known);
    line.number = ++s->last;
    if (!journal::AppendText(s->manifest, journal::Format(line, &s->seal))) {
      ++s->lost;
      KLOG(base::LOG_ERROR, "journal: service %S stopped, but its line could not be written (error %d); "
           "restore will not start it", known.c_str(), static_cast<int>(GetLastError()));
    }
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

bool RunProgram(const std::wstring& what, const std::function<bool()>& perform) {
  Session::State* s = g_state;
  if (s && !Record(*s, MakeLine(L"run", what))) return false;
  if (s && s->mode == Mode::kPlan) return true;
  bool done = perform();
  reads::Forget();  // whatever the program changed is read afresh
  return done;
}

void ServiceStopsAwaited() { reads::StopWaitOver(); }

// ------------------------------------------------------------- reads

BOOL ServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (!QueryServiceStatus(service, status)) return FALSE;
  if (status->dwCurrentState == SERVICE_STOPPED) reads::StopSeen(service);
  Session::State* s = Planner();
  if (s && s->serviceNames.count(service) &&
      s->overlay.services.count(UpperCase(s->serviceNames[service])))
    status->dwCurrentState = SERVICE_STOPPED;
  return TRUE;
}

}  // namespace kyd::machine
