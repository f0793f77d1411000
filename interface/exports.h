/* KYDDrvUninst.dll: the exported functions, as a host declares them. All use
   the standard Windows calling convention and take wide (UTF-16) strings. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Flags of DrvUninst_UninstallDrvEx. */
enum {
  /* Change nothing: write the plan (every change the uninstall would make,
     in order) as manifest.txt into the journal folder. */
  DRVUNINST_FLAG_PLAN = 0x1,
  /* Save what each change destroys into the journal folder before making it,
     so that DrvUninst_Restore can put it back. With DRVUNINST_FLAG_PLAN the
     plan flag wins. */
  DRVUNINST_FLAG_JOURNAL = 0x2
};

/* Results of DrvUninst_Restore. */
enum {
  DRVUNINST_RESTORE_NOTHING = 0,  /* no journal there, a plan, or the lock timed out */
  DRVUNINST_RESTORE_COMPLETE = 1, /* everything saved is back (or was already) */
  DRVUNINST_RESTORE_PARTIAL = 2   /* some items could not be put back: see restore.txt */
};

void __stdcall DrvUninst_Init(void);
void __stdcall DrvUninst_Unit(void);
/* 1 when the device's companion application package is installed, else 0. */
int __stdcall DrvUninst_IsDrvAppInstall(const wchar_t* hardwareId, const wchar_t* classGuid);
/* 0 nothing uninstalled, 1 uninstalled, 2 uninstalled (restart may be needed). */
int __stdcall DrvUninst_UninstallDrv(const wchar_t* hardwareId, const wchar_t* classGuid, int keepDevice);
/* DrvUninst_UninstallDrv with a plan or a journal. journalFolder must exist,
   be writable and be empty; otherwise the call changes nothing and returns 0.
   A plan returns what the uninstall would return as far as it can be known
   (0 when no road would change anything). flags 0: as DrvUninst_UninstallDrv. */
int __stdcall DrvUninst_UninstallDrvEx(const wchar_t* hardwareId, const wchar_t* classGuid, int keepDevice,
                                       int flags, const wchar_t* journalFolder);
/* Puts back what the journal in journalFolder saved, last change first, and
   writes restore.txt there (one line per change and what became of it). */
int __stdcall DrvUninst_Restore(const wchar_t* journalFolder);

#ifdef __cplusplus
}
#endif
