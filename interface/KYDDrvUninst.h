/*
 * KYDDrvUninst.h - the interface of KYDDrvUninst.dll.
 *
 * KYDDrvUninst.dll is a 32-bit library that uninstalls a device's driver
 * together with what its vendor's installer left behind. Load it from your
 * program's folder, with drv64\drv64.exe (the 64-bit removal program) and,
 * if you describe companion packages, Kydconfig\unsetup.xml beside your
 * program's executable.
 *
 * Link with libKYDDrvUninst.dll.a (mingw-w64) or KYDDrvUninst.lib
 * (Microsoft's linker), or look the exports up with GetProcAddress under
 * the names below (undecorated).
 *
 * A device is named by a hardware ID, such as
 * L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_00000000", and its setup class GUID in
 * registry form with braces. Strings are UTF-16, null-terminated, and never
 * changed by the library.
 *
 * Every export runs on the calling thread and returns when it is done.
 * Uninstalls and restores take turns on the machine: a call of
 * DrvUninst_UninstallDrv, DrvUninst_UninstallDrvEx or DrvUninst_Restore
 * that finds one running, in any process and any session, waits for it to
 * finish, up to 20 minutes. When the wait runs out, DrvUninst_UninstallDrv
 * returns 0 (nothing uninstalled) and the other two return KYD_RESULT_BUSY;
 * nothing has been changed then. Most uninstalls need administrator rights;
 * the library does not ask for them (its manifest says asInvoker), the
 * calling program must have them (the lock is shared by SYSTEM and the
 * Administrators).
 *
 * The library's log is off. A file log.ini beside the DLL switches it on:
 *
 *     [log]
 *     filter=15
 *
 * filter is the mask of the levels to write: 1 ERROR, 2 WARNING, 4 TRACE,
 * 8 INFO (all levels when the key is absent). Lines go to
 * log\KYDDrvUninst.log beside the DLL, appended, one line each:
 * "[INFO|2015-8-10 9:5:3(unit:line)] text". Some texts are Chinese, written
 * in code page 936 (GBK); read the file with that code page.
 *
 * This header compiles as C89 and as C++.
 */
#ifndef KYDDRVUNINST_H
#define KYDDRVUNINST_H

#include <stddef.h> /* wchar_t */

#ifdef __cplusplus
extern "C" {
#endif

/* The library's own build defines KYD_API empty. */
#ifndef KYD_API
#define KYD_API __declspec(dllimport)
#endif
#define KYD_CALL __stdcall

/* Results of DrvUninst_UninstallDrv. */
#define KYD_RESULT_NOTHING_UNINSTALLED 0
#define KYD_RESULT_UNINSTALLED 1
#define KYD_RESULT_UNINSTALLED_RESTART 2

/* Answers of DrvUninst_IsDrvAppInstall. */
#define KYD_APP_NOT_INSTALLED 0
#define KYD_APP_INSTALLED 1

/* keepDevice of DrvUninst_UninstallDrv. */
#define KYD_REMOVE_DEVICE 0
#define KYD_KEEP_DEVICE 1

/* The two classes whose devices may get a vendor deep clean. */
#define KYD_CLASS_DISPLAY L"{4D36E968-E325-11CE-BFC1-08002BE10318}"
#define KYD_CLASS_MEDIA L"{4D36E96C-E325-11CE-BFC1-08002BE10318}"

/* Does nothing. No export needs it; kept for hosts that call it.
 * Returns nothing; changes nothing. */
KYD_API void KYD_CALL DrvUninst_Init(void);

/* Does nothing (the same entry point as DrvUninst_Init).
 * Returns nothing; changes nothing. */
KYD_API void KYD_CALL DrvUninst_Unit(void);

/* Is the companion application package of the device's driver installed?
 * Looks the packages described in Kydconfig\unsetup.xml for the device up
 * among the installed programs (both registry views on 64-bit Windows).
 * Returns KYD_APP_INSTALLED or KYD_APP_NOT_INSTALLED (also for a null
 * argument, a missing configuration or no rights to read the registry).
 * Changes nothing on the machine. */
KYD_API int KYD_CALL DrvUninst_IsDrvAppInstall(const wchar_t *hardwareId,
                                               const wchar_t *classGuid);

/* Uninstalls the device's driver. First switches off Windows' automatic
 * driver search (a machine-wide policy value, left in place so that
 * Windows does not reinstall the driver at once; DrvUninst_Restore of a
 * journaled uninstall puts it back as it was), then takes one road:
 *  - NVIDIA, Intel and AMD display adapters (KYD_CLASS_DISPLAY) and Realtek
 *    sound devices (KYD_CLASS_MEDIA): the device is removed, then the
 *    vendor's deep clean ends its programs and the Windows shell
 *    (explorer.exe, which the library does not start again), stops its
 *    services and deletes its registrations, registry keys, files, folders
 *    and driver store packages;
 *  - a device whose companion package is installed: the package's
 *    uninstaller is run silently;
 *  - any other device: the device and its OEM driver package are removed
 *    (on 64-bit Windows by drv64\drv64.exe).
 * After a road that uninstalled something, oem*.inf files naming the
 * device are deleted with their .PNF files.
 * keepDevice: KYD_KEEP_DEVICE keeps the device itself on the vendor road
 * (only the deep clean runs; the result is then 1); no effect elsewhere.
 * Returns KYD_RESULT_NOTHING_UNINSTALLED, KYD_RESULT_UNINSTALLED or
 * KYD_RESULT_UNINSTALLED_RESTART: uninstalled, restart Windows before a
 * driver is installed again (Windows asked for a restart, or the vendor
 * road removed the device: it always answers 2 then). A null hardwareId
 * returns 0 and changes nothing. */
KYD_API int KYD_CALL DrvUninst_UninstallDrv(const wchar_t *hardwareId,
                                            const wchar_t *classGuid,
                                            int keepDevice);

/* ---- Plan and journal ---------------------------------------------------
 * Builds of KYDDrvUninst.dll from before these two exports lack them. A
 * host that must also run with such a build looks them up with
 * GetProcAddress ("DrvUninst_UninstallDrvEx", "DrvUninst_Restore") through
 * the pointer types below instead of linking them.
 */

/* flags of DrvUninst_UninstallDrvEx. */
#define KYD_UNINSTALL_PLAN 1    /* change nothing; write the plan */
#define KYD_UNINSTALL_JOURNAL 2 /* save what each change destroys first */
#define KYD_UNINSTALL_NO_WAIT 4 /* another uninstall or restore running:
                                   return KYD_RESULT_BUSY at once */
#define KYD_UNINSTALL_NATIVE_SYSTEM 8 /* 64-bit Windows: native System32 too */

/* DrvUninst_UninstallDrvEx and DrvUninst_Restore: another uninstall or
 * restore held the machine for the whole wait (20 minutes, none with
 * KYD_UNINSTALL_NO_WAIT); nothing was changed, call again later. Negative,
 * so that it never reads as something done. */
#define KYD_RESULT_BUSY (-1)

/* DrvUninst_UninstallDrv with flags. KYD_UNINSTALL_PLAN: changes nothing
 * and writes into journalFolder, one line per change, what the uninstall
 * would do. KYD_UNINSTALL_JOURNAL: uninstalls, saving into journalFolder
 * what each change destroys, for DrvUninst_Restore; the folder is made
 * the administrators' alone. journalFolder must exist, be writable and be
 * empty; otherwise nothing is changed and 0 is
 * returned. Without either flag journalFolder is not used (NULL will do).
 * KYD_UNINSTALL_NATIVE_SYSTEM, alone or with one of the two: on 64-bit
 * Windows the vendor deep clean also deletes the vendor's files (and,
 * unless the device is kept, its kernel drivers) from the native System32
 * and System32\drivers, which file-system redirection hides from this
 * 32-bit library, by drv64\drv64.exe; its plan or journal takes them in.
 * Without it they stay, as DrvUninst_UninstallDrv leaves them. No effect on
 * 32-bit Windows or on the other roads. KYD_UNINSTALL_NO_WAIT may be added
 * to any of them. Returns as DrvUninst_UninstallDrv (with the plan flag:
 * what the uninstall would return as far as can be known beforehand; 0
 * when the plan could not be written in full), or KYD_RESULT_BUSY. */
KYD_API int KYD_CALL DrvUninst_UninstallDrvEx(const wchar_t *hardwareId,
                                              const wchar_t *classGuid,
                                              int keepDevice, int flags,
                                              const wchar_t *journalFolder);

/* Results of DrvUninst_Restore. */
#define KYD_RESTORE_NOTHING 0  /* no journal there, or a plan */
#define KYD_RESTORE_COMPLETE 1 /* everything the journal saved is back (or was already) */
#define KYD_RESTORE_PARTIAL 2  /* some items could not be put back: see restore.txt */

/* Puts back, in reverse order, what a journaled uninstall saved in
 * journalFolder: the whole run is undone, the driver-search policy
 * included. Registry keys and values, files, folders and driver packages
 * (their files) come back, and the services the run stopped are started
 * again (not one disabled since). Only a journal made on this machine
 * (its secret is kept under HKLM\SOFTWARE\KYDDrvUninst\Journals) in a
 * folder nobody but administrators can change (nor any folder above
 * it) is restored. Ended
 * programs, uninstalled applications and removed devices are not brought
 * back (a device returns when Windows detects it again). Writes
 * restore.txt into journalFolder: one line per change and what became of
 * it. Returns KYD_RESTORE_NOTHING, KYD_RESTORE_COMPLETE,
 * KYD_RESTORE_PARTIAL or KYD_RESULT_BUSY (after a 20 minutes' wait).
 * A restore that brought everything back deletes the journal's secret,
 * so the journal cannot be restored again; a partial one keeps it, and
 * restoring again is harmless: what came back is found present. */
KYD_API int KYD_CALL DrvUninst_Restore(const wchar_t *journalFolder);

typedef int(KYD_CALL *KYD_UNINSTALLDRVEX_FN)(const wchar_t *, const wchar_t *,
                                             int, int, const wchar_t *);
typedef int(KYD_CALL *KYD_RESTORE_FN)(const wchar_t *);

#ifdef __cplusplus
}
#endif

#endif /* KYDDRVUNINST_H */
