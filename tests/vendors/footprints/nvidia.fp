# What the NVIDIA display driver package and its companions (control panel,
# GeForce Experience, ShadowPlay, SHIELD streaming, 3D Vision, PhysX, the
# update service) leave on a machine, and what merely resembles it.
# Format: tests/support/footprint_format.md. Decoys are named after Contoso
# or after another GPU vendor.

# ---------------------------------------------------------------- device
+d  device  | PCI\VEN_10DE&DEV_1B80&SUBSYS_119E10DE&REV_A1 | {4D36E968-E325-11CE-BFC1-08002BE10318}
+   inf     | * | PCI\VEN_10DE&DEV_1B80
=   inf     | * | PCI\VEN_1002&DEV_687F

# ---------------------------------------------------------------- services and programs
+   service | NvStreamSvc
+   service | nvUpdatusService
=   service | KydContosoSvc
+   process | nvtray.exe
+   process | NvBackend.exe
+   process | dwm.exe
+   process | nvcplui.exe
+   process | nvuclock64.exe
# Only resembles the tray: a program name is compared whole.
=   process | nvtray64.exe
=   process | contosotray.exe

# ---------------------------------------------------------------- COM registrations
# A program ID of the installer, with the class and application ID it names.
+   value | HKCR\NVIDIA.Installer.1\CLSID | @ | sz:{6E2C0A01-4B7D-4F3A-9D21-10DE00000001}
+   key   | HKCR\NVIDIA.Installer.1
+   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000001} | AppID | sz:{6E2C0A01-4B7D-4F3A-9D21-10DE00000002}
+   key   | HKCR\AppID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000002}
=   value | HKCR\Contoso.Installer.1\CLSID | @ | sz:{6E2C0A01-4B7D-4F3A-9D21-C0470000000A}
=   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-C0470000000A} | @ | sz:Contoso Installer
# Classes by their server, in both views, and an application ID by its name.
+   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000003}\InProcServer32 | @ | sz:C:\Windows\System32\nvshext.dll
+   key   | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000003}
+64 value | HKCR\Wow6432Node\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000004}\InProcServer32 | @ | sz:C:\Program Files (x86)\NVIDIA Corporation\3D Vision\nv3dappshext.dll
+64 key   | HKCR\Wow6432Node\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000004}
=   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-C0470000000B}\InProcServer32 | @ | sz:C:\Program Files\Contoso\contosoext.dll
+   value | HKCR\AppID\nvcplui.exe | AppID | sz:{6E2C0A01-4B7D-4F3A-9D21-10DE00000005}
+   key   | HKCR\AppID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000005}
# Interfaces by name, with the type library, in both views.
+   value | HKCR\Interface\{6E2C0A01-4B7D-4F3A-9D21-10DE00000006} | @ | sz:IShadowPlaySupport
+   value | HKCR\Interface\{6E2C0A01-4B7D-4F3A-9D21-10DE00000006}\TypeLib | @ | sz:{6E2C0A01-4B7D-4F3A-9D21-10DE00000007}
+   key   | HKCR\TypeLib\{6E2C0A01-4B7D-4F3A-9D21-10DE00000007}
+64 value | HKCR\Wow6432Node\Interface\{6E2C0A01-4B7D-4F3A-9D21-10DE00000008} | @ | sz:INVInstaller4
=   value | HKCR\Interface\{6E2C0A01-4B7D-4F3A-9D21-C0470000000C} | @ | sz:IContosoPlayer

# ---------------------------------------------------------------- protected files
+   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/nvapi.dll
+   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\nvd3dum.dll | dword:1
+d  key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/drivers/nvkflt.sys
+d  value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\drivers\nvlddmkm.sys | dword:1
=   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\drivers\atikmdag.sys | dword:1

# ---------------------------------------------------------------- Plug and Play resources
+   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Khronos
+   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Wow6432Node\NVIDIA Corporation\Global\CoprocManager\OptimusEnhancements
+   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Controls Folder\Display\shellex\PropertySheetHandlers\NVIDIA CPL Extension
+64 key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Wow6432Node\Khronos
+   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\NVIDIA Corporation
=   key   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpResources\Registry\HKLM\SOFTWARE\Contoso

# ---------------------------------------------------------------- every control set
# Firewall rules of the streaming server, and the display service's power
# setting; another product's rule and setting stay.
+   value | HKLM\SYSTEM\CurrentControlSet\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules | {6E2C0A01-4B7D-4F3A-9D21-10DE00000010} | sz:v2.10|Action=Allow|Active=TRUE|Dir=In|App=C:\Program Files\NVIDIA Corporation\NvStreamSrv\nvstreamer.exe|Name=NVIDIA Streamer|
=   value | HKLM\SYSTEM\CurrentControlSet\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules | {6E2C0A01-4B7D-4F3A-9D21-C0470000000D} | sz:v2.10|Action=Allow|Active=TRUE|Dir=In|App=C:\Program Files\Contoso\Stream\streamhost.exe|Name=Contoso Stream Host|
+   value | HKLM\SYSTEM\ControlSet001\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules | {6E2C0A01-4B7D-4F3A-9D21-10DE00000011} | sz:v2.10|Action=Allow|Active=TRUE|Dir=In|App=C:\Program Files\NVIDIA Corporation\NvContainer\nvcontainer.exe|Name=NVIDIA Network Service|
=   value | HKLM\SYSTEM\ControlSet001\Services\SharedAccess\Parameters\FirewallPolicy\FirewallRules | {6E2C0A01-4B7D-4F3A-9D21-C0470000000E} | sz:v2.10|Action=Allow|Active=TRUE|Dir=In|App=C:\Program Files\Contoso\Update\updater.exe|Name=Contoso Update Core|
+   value | HKLM\SYSTEM\CurrentControlSet\Control\Power\PowerSettings\{6E2C0A01-4B7D-4F3A-9D21-10DE00000012} | Description | sz:@%SystemRoot%\System32\nvsvc64.dll,-101
=   value | HKLM\SYSTEM\CurrentControlSet\Control\Power\PowerSettings\{6E2C0A01-4B7D-4F3A-9D21-C0470000000F} | Description | sz:Contoso display dimming
+   value | HKLM\SYSTEM\ControlSet001\Control\Power\PowerSettings\{6E2C0A01-4B7D-4F3A-9D21-10DE00000012} | Description | sz:@%SystemRoot%\System32\nvsvc64.dll,-101
=   value | HKLM\SYSTEM\ControlSet001\Control\Power\PowerSettings\{6E2C0A01-4B7D-4F3A-9D21-C0470000000F} | Description | sz:Contoso display dimming
# The update service's event source.
+   key   | HKLM\SYSTEM\CurrentControlSet\Services\eventlog\Application\NVIDIA Update Service Daemon
+   key   | HKLM\SYSTEM\ControlSet001\Services\eventlog\Application\NVIDIA Update Service Daemon
=   key   | HKLM\SYSTEM\ControlSet001\Services\eventlog\Application\Contoso Update

# ---------------------------------------------------------------- installer folders, shared files
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders | C:\Program Files\NVIDIA Corporation\PhysX\ | sz:
=   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\Folders | C:\Program Files\Contoso\ | sz:
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files\NVIDIA Corporation\PhysX\Common\cudart64_65.dll | dword:1
+64 value | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files (x86)\NVIDIA Corporation\PhysX\Common\PhysXLoader.dll | dword:1
=   value | HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs | C:\Program Files\Contoso\Shared\contoso.dll | dword:1

# ---------------------------------------------------------------- Khronos
# The native view holds no other OpenCL driver: Vendors and OpenCL go, while
# Khronos stays for another GPU's Vulkan driver and a layer.
+   value | HKLM\Software\Khronos\OpenCL\Vendors | C:\Windows\System32\nvopencl64.dll | dword:0
+   key   | HKLM\Software\Khronos\OpenCL
=   value | HKLM\Software\Khronos\Vulkan\Drivers | C:\Windows\System32\DriverStore\FileRepository\u0344712.inf_amd64\amd-vulkan64.json | dword:0
=   value | HKLM\Software\Khronos\Vulkan\ImplicitLayers | C:\ProgramData\Contoso\overlay_layer.json | dword:0
# Nor does the 32-bit view: its OpenCL key goes too.
+64 value | HKLM\Software\Wow6432Node\Khronos\OpenCL\Vendors | C:\Windows\SysWOW64\nvopencl32.dll | dword:0
+64 key   | HKLM\Software\Wow6432Node\Khronos\OpenCL

# ---------------------------------------------------------------- settings
# The second user's vendor key holds only the products' settings and goes.
+   key   | HKU\kydfp\Software\NVIDIA Corporation\Global\NvTweak
+   value | HKU\kydfp\Software\NVIDIA Corporation\NvTray | StartOnLogin | dword:1
+   key   | HKU\kydfp\Software\NVIDIA Corporation
=   key   | HKU\kydfp\Software\Contoso Corporation\Global
# This user's keeps Ansel, which is no product of the list.
+   key   | HKCU\Software\NVIDIA Corporation\NVIDIA Control Panel
=   key   | HKCU\Software\NVIDIA Corporation\Ansel
# Machine-wide: PhysX of old, the products' settings; the vendor key stays
# for Ansel. In the 32-bit view nothing else is left and the key goes.
+   value | HKLM\Software\AGEIA Technologies\PhysX | Version | sz:2.8.1
+   key   | HKLM\Software\AGEIA Technologies
+   value | HKLM\Software\NVIDIA Corporation\Global\NVTweak | NvCplEnableHardwarePage | dword:1
+   key   | HKLM\Software\NVIDIA Corporation\Global
+   key   | HKLM\Software\NVIDIA Corporation\Installer2
+   key   | HKLM\Software\NVIDIA Corporation\NvStreamSrv
=   key   | HKLM\Software\NVIDIA Corporation\Ansel
=   key   | HKLM\Software\Contoso Corporation\Global
+64 key   | HKLM\Software\Wow6432Node\AGEIA Technologies
+64 key   | HKLM\Software\Wow6432Node\NVIDIA Corporation\PhysX
+64 key   | HKLM\Software\Wow6432Node\NVIDIA Corporation\Global
+64 key   | HKLM\Software\Wow6432Node\NVIDIA Corporation

# ---------------------------------------------------------------- uninstall entries
+   key   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{B2FE1952-0186-46C3-BAEC-A80AA35AC5B8}_Display.Driver
+   key   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{B2FE1952-0186-46C3-BAEC-A80AA35AC5B8}_NVIDIA.Update
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{6E2C0A01-4B7D-4F3A-9D21-10DE00000020} | DisplayName | sz:NVIDIA PhysX System Software 9.19.0218
=   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{6E2C0A01-4B7D-4F3A-9D21-C04700000010} | DisplayName | sz:Contoso Graphics Driver
+64 key   | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{B2FE1952-0186-46C3-BAEC-A80AA35AC5B8}_GFExperience.NvStreamSrv
+64 value | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{6E2C0A01-4B7D-4F3A-9D21-10DE00000021} | DisplayName | sz:NVIDIA PhysX
# The 32-bit view's list has no "_nvidia.update".
=   key   | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{B2FE1952-0186-46C3-BAEC-A80AA35AC5B8}_NVIDIA.Update

# ---------------------------------------------------------------- profiles
+   value | HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1004336348-1177238915-682003330-1009 | ProfileImagePath | expand:%SystemDrive%\Users\UpdatusUser
=   value | HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1004336348-1177238915-682003330-1010 | ProfileImagePath | expand:%SystemDrive%\Users\kydother

# ---------------------------------------------------------------- control panel, shell
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\ControlPanel\NameSpace\{6E2C0A01-4B7D-4F3A-9D21-10DE00000030} | @ | sz:NVIDIA Control Panel
+   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-10DE00000030} | @ | sz:NVIDIA Control Panel
=   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\ControlPanel\NameSpace\{6E2C0A01-4B7D-4F3A-9D21-C04700000011} | @ | sz:Contoso Display Panel
=   value | HKCR\CLSID\{6E2C0A01-4B7D-4F3A-9D21-C04700000011} | @ | sz:Contoso Display Panel
+   key   | HKLM\SOFTWARE\Microsoft\.NETFramework\v2.0.50727\NGenService\Roots\C:/Program Files/NVIDIA Corporation/NVIDIA GeForce Experience/GFExperience.exe
=   key   | HKLM\SOFTWARE\Microsoft\.NETFramework\v2.0.50727\NGenService\Roots\C:/Program Files/Contoso/Contoso.exe
+64 key   | HKLM\SOFTWARE\Wow6432Node\Microsoft\.NETFramework\v2.0.50727\NGenService\Roots\C:/Program Files (x86)/NVIDIA Corporation/NVIDIA GeForce Experience/GFExperience.exe
+64 key   | HKLM\SOFTWARE\Wow6432Node\MozillaPlugins\@nvidia.com/3DVision
=   key   | HKLM\SOFTWARE\Wow6432Node\MozillaPlugins\@contoso.com/StreamPlayer
+   key   | HKCR\mpegfile\shellex\ContextMenuHandlers\NvPlayOnMyTV
+   key   | HKCR\AVIFile\shellex\ContextMenuHandlers\NvPlayOnMyTV
=   key   | HKCR\mpegfile\shellex\ContextMenuHandlers\ContosoPlay
+   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {6E2C0A01-4B7D-4F3A-9D21-10DE00000040} | sz:NVIDIA Play On My TV Context Menu Extension
+   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {6E2C0A01-4B7D-4F3A-9D21-10DE00000041} | sz:NvCpl DesktopContext Class
=   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {6E2C0A01-4B7D-4F3A-9D21-C04700000012} | sz:Contoso Desktop Context Class
# The 32-bit approval is looked for on every Windows.
+   value | HKLM\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved | {6E2C0A01-4B7D-4F3A-9D21-10DE00000041} | sz:NvCpl DesktopContext Class
+   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Control Panel\Extended Properties\{305CA226-D286-468e-B848-2B2E8E697B74} 2 | C:\Windows\System32\nvcpl.cpl | dword:1
=   value | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Control Panel\Extended Properties\{305CA226-D286-468e-B848-2B2E8E697B74} 2 | C:\Windows\System32\desk.cpl | dword:1
+   key   | HKCR\Directory\background\shellex\ContextMenuHandlers\NvCplDesktopContext
=   key   | HKCR\Directory\background\shellex\ContextMenuHandlers\ContosoDesktopMenu

# ---------------------------------------------------------------- virtual store
+   key   | HKCR\VirtualStore\MACHINE\SOFTWARE\NVIDIA Corporation\Global\CoprocManager
+   key   | HKCR\VirtualStore\MACHINE\SOFTWARE\NVIDIA Corporation
=   key   | HKCR\VirtualStore\MACHINE\SOFTWARE\Contoso
+   key   | HKU\kydfp\Software\Classes\VirtualStore\MACHINE\SOFTWARE\NVIDIA Corporation\Global\NVTweak
=   key   | HKU\kydfp\Software\Classes\VirtualStore\MACHINE\SOFTWARE\NVIDIA Corporation\Ansel

# ---------------------------------------------------------------- startup
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | NvBackend | sz:"C:\Program Files (x86)\NVIDIA Corporation\Update Core\NvBackend.exe"
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | ShadowPlay | sz:"C:\Windows\system32\rundll32.exe" C:\Windows\system32\nvspcap64.dll,ShadowPlayOnSystemStart
+   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | Nvtmru | sz:"C:\Program Files\NVIDIA Corporation\NVIDIA Update Core\NvTmru.exe"
=   value | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | NvBackendHelper | sz:C:\Program Files\Contoso\helper.exe
+64 value | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run | StereoLinksInstall | sz:"C:\Program Files (x86)\NVIDIA Corporation\3D Vision\nvStInst.exe" /installlinks
# A startup entry goes with the program it starts.
+   value | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | NvTrayStart | expand:%SystemRoot%\System32\nvtray.exe /start
+   file  | %SYS%\nvtray.exe

# ---------------------------------------------------------------- Windows Installer
+   value | HKCR\Installer\Products\10DE6E2C01A04F3A9D2110DE00000050 | ProductName | sz:NVIDIA PhysX System Software 9.19.0218
+   key   | HKCR\Installer\Features\10DE6E2C01A04F3A9D2110DE00000050
=   value | HKCR\Installer\Products\C0476E2C01A04F3A9D21C04700000013 | ProductName | sz:Contoso Physics Runtime
=   key   | HKCR\Installer\Features\C0476E2C01A04F3A9D21C04700000013

# ---------------------------------------------------------------- video adapters
+   value | HKLM\SYSTEM\CurrentControlSet\Control\Video\{6E2C0A01-4B7D-4F3A-9D21-10DE00000060}\Video | Service | sz:nvlddmkm
+   key   | HKLM\SYSTEM\CurrentControlSet\Control\Video\{6E2C0A01-4B7D-4F3A-9D21-10DE00000060}
+   key   | HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\UnitedVideo\CONTROL\VIDEO\{6E2C0A01-4B7D-4F3A-9D21-10DE00000060}
=   value | HKLM\SYSTEM\CurrentControlSet\Control\Video\{6E2C0A01-4B7D-4F3A-9D21-C04700000014}\Video | Service | sz:amdkmdap
=   key   | HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\UnitedVideo\CONTROL\VIDEO\{6E2C0A01-4B7D-4F3A-9D21-C04700000014}\0000

# ---------------------------------------------------------------- system files
+   file  | %SYS%\nvapi.dll
+   file  | %SYS%\nvcuda.dll
# The OpenCL loader goes with the last OpenCL driver of its bitness; in the
# 64-bit prefix an adapter that names no device (below) still registers a
# 32-bit driver, which may be another GPU's.
+/32 file | %SYS%\OpenCL.dll
=/64 file | %SYS%\OpenCL.dll
+   file  | %SYS%\nvdisp | x | attr:readonly
+   file  | %WIN%\nvcpl.dll
+d  file  | %DRIVERS%\nvlddmkm.sys
+d  file  | %DRIVERS%\nvpciflt.sys
# Only resemble listed files: names are compared whole.
=   file  | %SYS%\nvapi32.dll
=   file  | %DRIVERS%\nvlddmkm_old.sys
# The driver's setup records by their pattern.
+   file  | %SYS%\nvdisp.nvu
+   file  | %SYS%\nvdispi.bin
=   file  | %SYS%\xnvdisp.dat

# ---------------------------------------------------------------- native system folders
# What redirection hides from the 32-bit library on 64-bit Windows, the
# driver's 64-bit files and its kernel drivers, goes when the host asks for
# the native folders, by the same rules.
+n/64  file | %SYSNATIVE%\nvapi64.dll
+n/64  file | %SYSNATIVE%\nvwgf2umx.dll
+n/64  file | %SYSNATIVE%\nvcuda.dll
+nd/64 file | %SYSNATIVE%\drivers\nvlddmkm.sys
=/64   file | %SYSNATIVE%\nvoglv64.dll | x | attr:readonly
# Another vendor's file, and Windows' own storage drivers for NVIDIA chipsets.
=/64   file | %SYSNATIVE%\amdocl64.dll
=/64   file | %SYSNATIVE%\drivers\nvraid.sys
=/64   file | %SYSNATIVE%\drivers\nvstor.sys
# No other native OpenCL driver is left, under Khronos or in an adapter's
# key: the native loader goes. NVIDIA's own adapter (below) registers one,
# which keeps nothing once drv64.exe knows the device it cleans for.
+n/64  file | %SYSNATIVE%\OpenCL.dll

# ---------------------------------------------------------------- DCH OpenCL registrations
# Windows 10 DCH drivers register their OpenCL driver in the display
# adapter's driver key: OpenCLDriverName for the native loader (the only one
# on 32-bit Windows), OpenCLDriverNameWow for the 32-bit loader. The NVIDIA
# adapter's own registrations keep no loader.
=    value | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}\0108 | MatchingDeviceId | sz:pci\ven_10de&dev_1b80&subsys_119e10de
=    value | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}\0108 | OpenCLDriverName | multi:C:\Windows\System32\DriverStore\FileRepository\nv_dispi.inf_amd64_5b8f0e2c1d3a4f6e\nvopencl64.dll
=    value | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}\0108 | OpenCLDriverNameWow | multi:C:\Windows\System32\DriverStore\FileRepository\nv_dispi.inf_amd64_5b8f0e2c1d3a4f6e\nvopencl32.dll
# An adapter key that names no device (MatchingDeviceId gone) with a 32-bit
# registration: it may be another GPU's, so the 32-bit loader stays on
# 64-bit Windows (above). The native loader reads no such value.
=    value | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}\0110 | OpenCLDriverNameWow | multi:C:\Windows\System32\DriverStore\FileRepository\u0344712.inf_amd64_0f1e2d3c4b5a6978\amdocl.dll
=    value | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}\0110 | DriverDesc | sz:Radeon RX Vega

# ---------------------------------------------------------------- folders
+   file  | %ROOT%NVIDIA\DisplayDriver\425.31\Win10_64\International\setup.exe
+   dir   | %ROOT%NVIDIA
=   file  | %ROOT%Contoso\setup.log
+   dir   | %APPDATA%\NVIDIA\Updatus
+   dir   | %APPDATA%\NVIDIA Corporation\Drs
+   file  | %APPDATA%\NVIDIA Corporation\GeForce Experience\CefCache\index
+   dir   | %APPDATA%\NVIDIA Corporation\NvStreamSvc
=   dir   | %APPDATA%\NVIDIA Corporation\Ansel
+   dir   | %APPDATA%\Microsoft\Windows\Start Menu\Programs\NVIDIA Corporation\3D Vision
=   dir   | %APPDATA%\Microsoft\Windows\Start Menu\Programs\Contoso
# The program folder goes whole, parts no list names included.
+   file  | %PF%\NVIDIA Corporation\Display\nvcplui.exe
+   file  | %PF%\NVIDIA Corporation\PhysX\Common\PhysXDevice64.dll
+   file  | %PF%\NVIDIA Corporation\Ansel\Tools\NvCameraConfiguration.exe
+   dir   | %PF%\NVIDIA Corporation
=   file  | %PF%\Contoso\Display\contoso.exe
+   file  | %PF%\AGEIA Technologies\PhysX\readme.txt
+64 file  | %PF86%\NVIDIA Corporation\PhysX\Common\PhysXLoader.dll
+64 file  | %PF86%\NVIDIA Corporation\Ansel\readme.txt
+64 dir   | %PF86%\NVIDIA Corporation
=   file  | %PF86%\Contoso\contoso.exe
+   file  | %WIN%\Help\nvcpl\nvcpl.chm
=   file  | %WIN%\Help\contoso.chm
+   dir   | %WIN%\Temp\NVIDIA Corporation\NV_Cache
=   dir   | %WIN%\Temp\Contoso
+   file  | %PROFILES%\UpdatusUser\NTUSER.DAT
=   file  | %PROFILES%\Public\Documents\report.txt

# ---------------------------------------------------------------- every account's profile
# The host's accounts: this administrator, the user kydfp, a guest and an
# ASPNET account; only the first two are cleaned.
+   dir   | %APPDATA%\NVIDIA\ComputeCache
+   dir   | %APPDATA%\NVIDIA\GLCache
+   dir   | %PROFILES%\kydfp\AppData\Local\Temp\NVIDIA Corporation\NV_Cache
+   dir   | %PROFILES%\kydfp\AppData\Local\Temp\NVIDIA\GeForceExperienceSelfUpdate
+   dir   | %PROFILES%\kydfp\AppData\Local\Temp\Low\NVIDIA Corporation\NV_Cache
+   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA\NvBackend
+   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA\GfExperience
+   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA Corporation\LedVisualizer
+   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA Corporation\ShadowPlay
+   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA Corporation\Shield Apps
=   dir   | %PROFILES%\kydfp\AppData\Local\NVIDIA Corporation\Ansel
=   dir   | %PROFILES%\kydfp\AppData\Local\Contoso\Cache
=   file  | %PROFILES%\kydfp\Documents\NVIDIA\capture.mp4
=   dir   | %PROFILES%\Guest\AppData\Local\NVIDIA\NvBackend
=   dir   | %PROFILES%\ASPNET\AppData\Local\NVIDIA Corporation\ShadowPlay
