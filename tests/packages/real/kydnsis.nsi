; A companion package built with NSIS, as vendors build theirs: an installer
; that registers itself under the Uninstall key, and an uninstaller with
; NSIS's own two-page wizard (confirmation, then progress with one button
; that becomes "Close"). makensis -DNAME=<display name> -DKEY=<Uninstall
; subkey> -DOUT=<installer> [-DQUIET] [-DPAUSE=<ms>] kydnsis.nsi
;   QUIET   the entry also registers a QuietUninstallString ("... /NCRC /S")
;   PAUSE   the uninstaller waits this long between deleting the files and
;           deleting the registration, so that an uninstaller ended midway
;           leaves the package half removed
Unicode true
!ifndef PAUSE
  !define PAUSE 0
!endif
!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY}"

Name "${NAME}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\${KEY}"
RequestExecutionLevel admin
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\panel.txt" w
  FileWrite $0 "${NAME}"
  FileClose $0
  WriteUninstaller "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${ENTRY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${ENTRY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKLM "${ENTRY}" "InstallLocation" "$INSTDIR"
!ifdef QUIET
  WriteRegStr HKLM "${ENTRY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /NCRC /S'
!endif
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\panel.txt"
  Sleep ${PAUSE}
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${ENTRY}"
SectionEnd
