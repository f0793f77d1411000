# The AMD (formerly ATI) Radeon display driver and the Catalyst suite, with
# the decoys that resemble them but belong to others.

# ---- the device and its driver package
+d device  | PCI\VEN_1002&DEV_6798&SUBSYS_30001002&REV_00 | {4D36E968-E325-11CE-BFC1-08002BE10318}
+  inf     | * | PCI\VEN_1002&DEV_6798&SUBSYS_30001002&REV_00
=  inf     | * | PCI\VEN_10DE&DEV_1C03&SUBSYS_00000000

# ---- services and programs
+  service | AMD External Events Utility
+  service | amdkmdap
=  service | Contoso Graphics Service
+  process | CCC.exe
+  process | MOM.exe
+  process | atieclxx.exe
+  process | HydraDM.exe
=  process | MyCCC.exe
=  process | atieclxx2.exe

# ---- COM: program IDs, interfaces, classes
+  key     | HKCR\ATIComCloneControl.1
+  value   | HKCR\ATIComCloneControl.1\CLSID | @ | sz:{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A51}
+  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A51} | @ | sz:AtiComCloneControl Class
=  value   | HKCR\Contoso.DisplayPage.1\CLSID | @ | sz:{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A52}
=  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A52} | @ | sz:Contoso Display Page
+  value   | HKCR\Interface\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A53} | @ | sz:IDisplayCplExt
=  value   | HKCR\Interface\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A54} | @ | sz:IContosoDisplay
+  key     | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A55}
+  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A55}\InprocServer32 | @ | sz:C:\Program Files\ATI Technologies\Multimedia\atitmmxx.dll
=  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A56}\InprocServer32 | @ | sz:C:\Program Files\Contoso\transcode.dll
+64 value  | HKCR\Wow6432Node\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A57} | @ | sz:ATI Transcoder DB Enum
# DirectShow filters of the multimedia components, and an audio compression
# manager's server subkey.
+  value   | HKCR\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A58} | FriendlyName | sz:ATI MPEG Video Decoder
=  value   | HKCR\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A59} | FriendlyName | sz:Contoso MPEG Decoder
~  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5A} | @ | sz:Audio Compression Manager
+  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5A}\InprocServer32 | @ | sz:atiacmxx.dll
=  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5B}\InprocServer32 | @ | sz:contoso_acm.dll
~  value   | HKCR\Wow6432Node\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5C} | @ | sz:Audio Compression Manager
+64 value  | HKCR\Wow6432Node\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5C}\InprocServer32 | @ | sz:atiacm64.dll
# The wireless display tool's application IDs, the control center's records.
+  value   | HKCR\AppID\amdwdst.exe | AppID | sz:{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5D}
+  value   | HKCR\AppID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5D} | @ | sz:AMD Wireless Display
=  value   | HKCR\AppID\contoso.exe | AppID | sz:{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5E}
+  value   | HKCR\Record\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5F}\2.0.0.0 | Assembly | sz:aticccom, Version=2.0.0.0, Culture=neutral
+  key     | HKCR\Record\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A5F}
=  value   | HKCR\Record\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A60}\1.0.0.0 | Assembly | sz:Contoso.Interop, Version=1.0.0.0

# ---- video adapter keys (volatile on Wine)
+  value   | HKLM\SYSTEM\CurrentControlSet\Control\Video\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A61}\Video | Service | sz:amdkmdap
+  key     | HKLM\SYSTEM\CurrentControlSet\Control\Video\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A61}
+  key     | HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\UnitedVideo\CONTROL\VIDEO\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A61}
=  value   | HKLM\SYSTEM\CurrentControlSet\Control\Video\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A62}\Video | Service | sz:nvlddmkm
=  key     | HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\UnitedVideo\CONTROL\VIDEO\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A62}

# ---- assemblies, the display property page, OpenCL and Vulkan
+  key     | HKLM\Software\Classes\Installer\Assemblies\C:|Program Files|ATI Technologies|ATI.ACE|Core-Static|ATI.ACE.Core.dll
=  key     | HKLM\Software\Classes\Installer\Assemblies\C:|Program Files|Contoso|Contoso.Core.dll
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Controls Folder\Display\shellex\PropertySheetHandlers\ATIACE
=  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Controls Folder\Display\shellex\PropertySheetHandlers\NVIDIA CPL Extension
+  value   | HKLM\Software\Khronos\OpenCL\Vendors | C:\Windows\System32\amdocl64.dll | dword:0
=  value   | HKLM\Software\Khronos\OpenCL\Vendors | C:\Windows\System32\nvopencl64.dll | dword:0
=  value   | HKLM\Software\Khronos\Vulkan\Drivers | C:\Windows\System32\DriverStore\nv-vk64.json | dword:0
=  value   | HKLM\Software\Khronos\Vulkan\ImplicitLayers | C:\Program Files\Contoso\overlay.json | dword:0
# Only AMD's OpenCL driver in the 32-bit view: the loader's keys go bottom up
# as far as they are empty; Khronos itself holds a Vulkan layer (and on Wine
# its own Vulkan driver, in both views).
+64 value  | HKLM\Software\Wow6432Node\Khronos\OpenCL\Vendors | C:\Windows\SysWOW64\amdocl.dll | dword:0
+64 key    | HKLM\Software\Wow6432Node\Khronos\OpenCL
=  value   | HKLM\Software\Wow6432Node\Khronos\Vulkan\ImplicitLayers | C:\Program Files (x86)\Contoso\overlay32.json | dword:0
+  key     | HKLM\SOFTWARE\Microsoft\.NETFramework\v2.0.50727\NGenService\Roots\C:/Program Files/ATI Technologies/ATI.ACE/Core-Static/CLI.exe
=  key     | HKLM\SOFTWARE\Microsoft\.NETFramework\v2.0.50727\NGenService\Roots\C:/Program Files/Contoso/app.exe
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A63} | sz:Catalyst Context Menu extension
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A64} | sz:Contoso Display Extension
+64 value  | HKLM\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A65} | sz:Display CPL Extension

# ---- protected driver files and Plug and Play registry resources
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/atiumdag.dll
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\amdocl.dll | dword:1
+d key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/drivers/atikmdag.sys
+d value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\drivers\atikmpag.sys | dword:1
=  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/drivers/nvlddmkm.sys
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\contoso.dll | dword:1
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\AMD
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\ATI Technologies
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SYSTEM\CurrentControlSet\Services\amdkmdap
+64 key    | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Wow6432Node\ATI\ACE
=  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\NVIDIA Corporation

# ---- control sets: the current one and two numbered ones
+  key     | HKLM\SYSTEM\ControlSet001\Enum\Root\LEGACY_AMDKMDAG
+  key     | HKLM\SYSTEM\ControlSet001\Services\eventlog\AceEventLog
+  key     | HKLM\SYSTEM\ControlSet001\Services\eventlog\Application\ATIeRecord
+  key     | HKLM\SYSTEM\ControlSet001\Services\eventlog\System\amdkmdag
+  key     | HKLM\SYSTEM\ControlSet002\Services\eventlog\System\amdkmdap
+  key     | HKLM\SYSTEM\ControlSet002\Services\Atierecord
+  value   | HKLM\SYSTEM\ControlSet001\Control\Session Manager\Environment | AMDAPPSDKROOT | sz:C:\Program Files\AMD APP\
+  value   | HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment | AMDAPPSDKROOT | sz:C:\Program Files\AMD APP\
+  key     | HKLM\SYSTEM\CurrentControlSet\Services\eventlog\Application\ATIeRecord
=  key     | HKLM\SYSTEM\ControlSet001\Services\eventlog\System\nvlddmkm
=  key     | HKLM\SYSTEM\ControlSet002\Enum\Root\LEGACY_NVLDDMKM
=  value   | HKLM\SYSTEM\ControlSet001\Control\Session Manager\Environment | CONTOSO_SDK_ROOT | sz:C:\Contoso\

# ---- the desktop context menu and the users' own keys
+  key     | HKCR\Directory\background\shellex\ContextMenuHandlers\ACE
=  key     | HKCR\Directory\background\shellex\ContextMenuHandlers\Contoso.Workspace
=  key     | HKCR\Directory\background\shellex\ContextMenuHandlers\PlaceboShell
+  key     | HKU\kydfp\Software\ATI\ACE
+  key     | HKU\kydfp\Software\ATI Technologies\CBT
+  key     | HKCU\Software\ATI
=  key     | HKU\kydfp\Software\Contoso Corporation
=  key     | HKU\kydfp\Software\NVIDIA Corporation\Global
=  key     | HKCU\Software\Palace Games
=  key     | HKCU\Software\Navigation Maps
+  value   | HKU\kydfp\Software\Microsoft\Windows\CurrentVersion\Run | HydraVisionDesktopManager | sz:C:\Program Files\ATI Technologies\HydraVision\HydraDM.exe
+  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | Grid | sz:C:\Program Files\ATI Technologies\HydraVision\HydraGrd.exe
=  value   | HKU\kydfp\Software\Microsoft\Windows\CurrentVersion\Run | GridMaster | sz:C:\Contoso\grid.exe
=  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | Contoso Tray | sz:C:\Contoso\tray.exe

# ---- the machine's ATI and AMD keys
+  key     | HKLM\Software\ATI
+  value   | HKLM\Software\ATI | InstallDir | sz:C:\Program Files\ATI
+  key     | HKLM\Software\ATI\ACE
+  key     | HKLM\Software\ATI\Install Manager
+  key     | HKLM\Software\ATI Technologies\CBT
+  key     | HKLM\Software\ATI Technologies\Install\ATI Catalyst Control Center
+  key     | HKLM\Software\ATI Technologies\Install\Packages
# The install manager's key is shared: in the 64-bit prefix another
# product's record keeps it (the record and the key stay); in the 32-bit
# prefix the display package's records are all it holds, and it goes.
=/64 value | HKLM\Software\ATI Technologies\Install\AMD Chipset Drivers | InstallDir | sz:C:\AMD\Chipset
+/32 key   | HKLM\Software\ATI Technologies\Install
=  key     | HKLM\Software\ATI Technologies\Multimedia
+  key     | HKLM\Software\AMD\EEU
+  key     | HKLM\Software\AMD\Fuel
+  key     | HKLM\Software\AMD\MftVdecoder
+  key     | HKLM\Software\AMD
+64 key    | HKLM\Software\Wow6432Node\ATI\ACE
+64 key    | HKLM\Software\Wow6432Node\ATI
+64 key    | HKLM\Software\Wow6432Node\AMD\EEU
=  key     | HKLM\Software\Wow6432Node\AMD\Chipset
+64 key    | HKLM\Software\Wow6432Node\ATI Technologies\System Wide Settings
+64 key    | HKLM\Software\Wow6432Node\ATI Technologies\Install\DndTranscoding64
+64 key    | HKLM\Software\Wow6432Node\ATI Technologies

# ---- uninstall entries, installer products, startup, shared DLLs, installer folders
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A66} | DisplayName | sz:Catalyst Control Center Localization All
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A67} | DisplayName | sz:AMD AVIVO Codecs
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A68} | DisplayName | sz:NVIDIA Graphics Driver 471.11
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ContosoPlayer | DisplayName | sz:Contoso Media Player
+64 value  | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A69} | DisplayName | sz:AMD Drag and Drop Transcoding
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\14E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5\InstallProperties | DisplayName | sz:AMD Catalyst Install Manager
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\14E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5\InstallProperties | LocalPackage | sz:C:\windows\Installer\5a1b0e41.msi
+  key     | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\14E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5
+  file    | %WIN%\Installer\5a1b0e41.msi
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products\24E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5\InstallProperties | DisplayName | sz:Contoso Office
+  value   | HKCR\Installer\Products\34E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5 | ProductName | sz:AMD Fuel
=  value   | HKCR\Installer\Products\44E0B1A5D2C3F5E4A8B9C0D1E2F3A4B5 | ProductName | sz:Contoso Viewer
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | StartCCC | sz:"C:\Program Files (x86)\ATI Technologies\ATI.ACE\Core-Static\CLIStart.exe" MSRun
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | ATI Tray | sz:"C:\Program Files\ATI Technologies\ATI.ACE\Core-Static\CLI.exe" start
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | StartContoso | sz:C:\Contoso\start.exe
+64 value  | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run | AMD AVT | sz:C:\Program Files (x86)\AMD AVT\bin\kdbsdk.exe
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files\ATI\CIM\Bin\atdcm64a.sys | dword:1
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files\AMD APP\bin\x86_64\clinfo.exe | dword:1
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files\Contoso\contoso.dll | dword:1
+64 value  | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files (x86)\AMD\SteadyVideo\SteadyVideo.dll | dword:1
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders | C:\Program Files\AMD AVT\ | sz:
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders | C:\Program Files\ATI Technologies\Multimedia\ | sz:
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders | C:\Program Files\Contoso\ | sz:
+  value   | HKCR\CLSID\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A6A} | @ | sz:SteadyVideoBHO Class
+64 value  | HKCR\Wow6432Node\Interface\{5A1B0E41-3C2D-4E5F-8A9B-0C1D2E3F4A6B} | @ | sz:SteadyVideoBHO

# ---- files and folders
+  file    | %ROOT%AMD\Support\17-1-1\Packages\Drivers\Display\WT6A_INF\C7184501.inf
+  dir     | %ROOT%AMD
# A log the other maker's program keeps open without delete sharing: it and
# the folders above it go at the next restart.
+  file    | %ROOT%AMD\Support\Logs\install.log | log | inuse:open
+  file    | %WIN%\atiogl.xml
+  file    | %WIN%\ativpsrm.bin
=  file    | %WIN%\contoso_atiogl.xml
+  file    | %CPF%\ATI Technologies\Multimedia\atitmmxx.dll
+  dir     | %CPF%\ATI Technologies
+  file    | %PF%\ATI\CIM\Bin\InstallManagerApp.exe
=  file    | %PF%\ATI\readme.txt
+  file    | %PF%\AMD AVT\bin\kdbsdk64.dll | AVT | attr:readonly
+  file    | %PF%\ATI Technologies\ATI.ACE\Core-Static\CLI.exe
+  file    | %PF%\ATI Technologies\HydraVision\HydraGrd.exe
# A folder in it that everyone may change, where a user could put a link in
# the way before the restart: the log held there without delete sharing is
# left in place (and reported), not given to the restart by name; the DLL
# loaded there is moved into the library's holding folder and goes under
# its new name. Before the restart the folder is swapped for a link to
# another folder with files of those names, which stay.
~  dir     | %PF%\ATI Technologies\HydraVision\Shared | - | attr:open
=  file    | %PF%\ATI Technologies\HydraVision\Shared\hydrashare.log | log | inuse:open
+  file    | %PF%\ATI Technologies\HydraVision\Shared\hydrashare.dll | DLL | inuse:loaded
=  file    | %ROOT%Contoso Shared\hydrashare.log
=  file    | %ROOT%Contoso Shared\hydrashare.dll
~  dir     | %ROOT%Contoso Shared | - | link:%PF%\ATI Technologies\HydraVision\Shared
=  file    | %PF%\ATI Technologies\Contoso\tool.exe
+  file    | %WIN%\coinst_17.1.dll
=  file    | %WIN%\mycoinst_17.1.dll
+  dir     | %PF%\AMD APP
+  file    | %PF%\AMD APP\bin\x86_64\clinfo.exe
+  dir     | %PF%\AMD Quick Stream
+  dir     | %PF%\AMD\SteadyVideo
=  dir     | %PF%\AMD\Chipset
+  dir     | %PF%\Common Files\ATI Technologies\Multimedia
+64 dir    | %PF86%\AMD AVT
+64 dir    | %PF86%\AMD Quick Stream
+64 file   | %PF86%\ATI Technologies\ATI.ACE\Core-Static\CLIStart.exe
+64 dir    | %PF86%\ATI Technologies\HydraVision
+64 dir    | %PF86%\AMD APP
+64 dir    | %PF86%\AMD\SteadyVideo
+64 dir    | %PF86%\Common Files\ATI Technologies\Multimedia
=  dir     | %PF86%\ATI
+  file    | %APPDATA%\Microsoft\Windows\Start Menu\Programs\Catalyst Control Center\CCC.lnk
+  dir     | %APPDATA%\Microsoft\Windows\Start Menu\Programs\AMD Catalyst Control Center
=  dir     | %APPDATA%\Microsoft\Windows\Start Menu\Programs\Contoso
+  dir     | %APPDATA%\ATI\ACE
+  dir     | %PROFILES%\kydfp\AppData\Roaming\ATI\ACE
+  file    | %PROFILES%\kydfp\AppData\Local\ATI\ACE\Core-Static\settings.xml
=  dir     | %PROFILES%\kydfp\AppData\Local\Contoso\ACE

# ---- files in the system folders
# The user-mode driver is loaded by a program of another maker (in no kill
# list): it goes at the next restart where it is on disk (SysWOW64 for the
# 32-bit library on 64-bit Windows); the native namesake stays unless the
# host asks for the native folders.
+  file    | %SYS%\atiumdag.dll | UMD | inuse:loaded
+n/64 file | %SYSNATIVE%\atiumdag.dll
+  file    | %SYS%\OpenVideo.dll
# A name the table spells in another case is the same file.
+  file    | %SYS%\ovdecode32.DLL
+  file    | %DRIVERS%\ati2mtag.sys
+  file    | %WIN%\Prefetch\atiode.exe
+d file    | %DRIVERS%\atikmdag.sys
+d file    | %SYS%\atihdw73.sys
=  file    | %SYS%\nvapi.dll
=  file    | %SYS%\atiumdag.dll.bak
# The native System32 and its drivers (64-bit Windows), only when the host
# asks for them; the kernel driver stays with the device kept. Windows' own
# SATA driver for AMD chipsets and another vendor's file stay.
+n/64 file  | %SYSNATIVE%\atiumd64.dll | UMD64 | inuse:open
+n/64 file  | %SYSNATIVE%\amdocl64.dll
+nd/64 file | %SYSNATIVE%\drivers\atikmdag.sys
=/64 file   | %SYSNATIVE%\drivers\amdsata.sys
=/64 file   | %SYSNATIVE%\nvapi64.dll

# ---- the driver of the Windows 10 kind: base and extension INFs, software
# components (their devices SWC\<component ID> and component INFs). The base
# INF adds the External Events component for this adapter (and another for a
# second adapter it also serves); the extension INF adds Radeon Settings.
+  inf     | * | PCI\VEN_1002&DEV_6798&SUBSYS_30001002 | inf/amd_base.inf
+  inf     | * | PCI\VEN_1002&DEV_6798&SUBSYS_30001002 | inf/amd_ext.inf
+  inf     | * | SWC\VEN_1002&AID_0007 | inf/amd_comp_events.inf
+  inf     | * | SWC\VEN_1002&AID_0008 | inf/amd_comp_settings.inf
+  device  | SWC\VEN_1002&AID_0007 | {5c4c3332-344d-483c-8739-259e934c9cc8}
+  device  | SWC\VEN_1002&AID_0008 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# A component whose ID only begins like one of ours.
=  inf     | * | SWC\VEN_1002&AID_00070 | inf/amd_comp_longer_id.inf
=  device  | SWC\VEN_1002&AID_00070 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# The link service's software device, which Windows no longer counts present
# once the adapter is removed (the deep clean runs after that), and a device
# whose ID only begins like it. Wine lists every device whether present or
# not (it does not consult DIGCF_PRESENT), so here they are plain devices.
+  device  | SWC\VEN_1002&AID_000A | {5c4c3332-344d-483c-8739-259e934c9cc8}
=  device  | SWC\VEN_1002&AID_000A0 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# The second adapter's component (named in our base INF) and its extension.
=  inf     | * | SWC\VEN_1002&AID_0099 | inf/amd_comp_other_device.inf
=  device  | SWC\VEN_1002&AID_0099 | {5c4c3332-344d-483c-8739-259e934c9cc8}
=  inf     | * | PCI\VEN_1002&DEV_67DF&SUBSYS_E3871DA2 | inf/amd_ext_other_device.inf
# Another vendor's extension, its component and its software device.
=  inf     | * | PCI\VEN_10DE&DEV_1C03&SUBSYS_00000000 | inf/contoso_ext.inf
=  inf     | * | SWC\VEN_C0DE&AID_0001 | inf/contoso_comp.inf
=  device  | SWC\VEN_C0DE&AID_0001 | {5c4c3332-344d-483c-8739-259e934c9cc8}
