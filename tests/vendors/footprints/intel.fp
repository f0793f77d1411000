# The Intel graphics driver package (HD Graphics / GMA) with its control
# panel, tray and hot-key programs and wireless display, and the decoys that
# resemble it but belong to others.

# The device and its driver package; another vendor's package stays.
+d device  | PCI\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09 | {4D36E968-E325-11CE-BFC1-08002BE10318}
+  inf     | * | PCI\VEN_8086&DEV_0166&SUBSYS_21FA17AA&REV_09
=  inf     | * | PCI\VEN_10DE&DEV_1C03&SUBSYS_00000000

# Services and programs. Programs are ended by their whole names only.
+  service | igfxCUIService1.0.0.0
=  service | ContosoDisplaySvc
+  process | igfxtray.exe
+  process | hkcmd.exe
+  process | GfxUI.exe
+  process | IntelCpHeciSvc.exe
=  process | igfxtray2.exe
=  process | myhkcmd.exe

# The PnP lockdown list: subkeys on newer Windows, values on older ones; the
# kernel drivers' entries only when the device goes. Names with a slash are
# matched like the others.
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/igdumdim64.dll
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%ProgramFiles%/Intel/OpenCL/bin/x64/intelocl64.dll
+d key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/drivers/igdkmd64.sys
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\igfxtray.exe | dword:1
+d value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\drivers\iwdbus.sys | dword:1
=  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles\%SystemRoot%/System32/drivers/nvlddmkm.sys
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles | %SystemRoot%\System32\atiumdag.dll | dword:1

# COM: the control panel's program ID with the class it names, the shell
# extension's class with its application ID, the interfaces (by name); the
# 32-bit registrations on 64-bit Windows; another vendor's stay.
+  value   | HKCR\igfxext.igfxext\CLSID | @ | sz:{4B594446-0001-4000-8000-000000000001}
+  value   | HKCR\CLSID\{4B594446-0001-4000-8000-000000000001}\InProcServer32 | @ | sz:C:\Windows\System32\igfxext.dll
=  value   | HKCR\Contoso.DisplayPanel\CLSID | @ | sz:{4B594446-0001-4000-8000-000000000002}
=  value   | HKCR\CLSID\{4B594446-0001-4000-8000-000000000002}\InProcServer32 | @ | sz:C:\Windows\System32\contosopanel.dll
+  value   | HKCR\CLSID\{4B594446-0001-4000-8000-000000000003} | AppID | sz:{4B594446-0001-4000-8000-000000000004}
+  value   | HKCR\CLSID\{4B594446-0001-4000-8000-000000000003}\InProcServer32 | @ | sz:C:\Windows\System32\igfxDTCM.dll
+  value   | HKCR\AppID\{4B594446-0001-4000-8000-000000000004} | @ | sz:Display settings
+  value   | HKCR\AppID\igfxCUIService.exe | AppID | sz:{4B594446-0001-4000-8000-000000000005}
+  key     | HKCR\AppID\{4B594446-0001-4000-8000-000000000005}
+  value   | HKCR\Interface\{4B594446-0001-4000-8000-000000000006} | @ | sz:IGraphicsShellExt
=  value   | HKCR\Interface\{4B594446-0001-4000-8000-000000000007} | @ | sz:IContosoShellExt
+64 value  | HKCR\Wow6432Node\CLSID\{4B594446-0001-4000-8000-000000000008}\InProcServer32 | @ | sz:C:\Windows\SysWOW64\igfxexps32.dll
+64 value  | HKCR\Wow6432Node\Interface\{4B594446-0001-4000-8000-000000000009} | @ | sz:IAdvOSPropPage

# The vendor key: the package's subkeys go; the key stays while another
# product of the vendor is registered below it.
+  key     | HKLM\Software\Intel\IGFX
+  value   | HKLM\Software\Intel\MediaSDK\Dispatch | Path | sz:C:\Windows\System32\libmfxhw32.dll
+  key     | HKLM\Software\Intel\OpenCL
+  key     | HKLM\Software\Intel\Intel Wireless Display
=  key     | HKLM\Software\Intel\PSIS
# The 32-bit view's vendor key, gone whole once nothing else is left in it.
+64 key    | HKLM\Software\Wow6432Node\Intel\IGFX
+64 value  | HKLM\Software\Wow6432Node\Intel\OpenCL | Version | sz:1.2
+64 key    | HKLM\Software\Wow6432Node\Intel

# Every loaded user's display settings; a user's vendor key goes when the
# display settings were all it held.
+  value   | HKU\kydfp\Software\Intel\Display\igfxcui\Profiles | Current | sz:Default
+  key     | HKU\kydfp\Software\Intel
+  key     | HKCU\Software\Intel\Display\igfxcui
=  key     | HKCU\Software\Intel\Indeo

# Startup: the tray, persistence and hot-key values, and every machine-wide
# value whose name holds one of those names; other programs' values stay.
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | IgfxTray | sz:C:\Windows\System32\igfxtray.exe
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | Persistence | sz:C:\Windows\System32\igfxpers.exe
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | HotKeysCmds | sz:C:\Windows\System32\hkcmd.exe
+  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | ContosoPersistenceAgent | sz:C:\Program Files\Contoso\agent.exe
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Run | ContosoTray | sz:C:\Program Files\Contoso\tray.exe
# A user's startup entry goes with the file it starts.
+  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | IntelGraphicsTray | sz:"C:\Windows\System32\igfxtray.exe" -s
=  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | ContosoUpdater | sz:"C:\Program Files\Contoso\update.exe"

# The desktop context menu: the graphics handlers go, other vendors' stay.
+  value   | HKCR\Directory\background\shellex\ContextMenuHandlers\igfxcui | @ | sz:{3AB1675A-CCFF-11D2-8B20-00A0C93CB1F4}
+  value   | HKCR\Directory\background\shellex\ContextMenuHandlers\igfxDTCM | @ | sz:{9B5F5829-A529-4B12-814A-E81BCB8D93FC}
+  value   | HKCR\Directory\background\shellex\ContextMenuHandlers\igfxOSP | @ | sz:{4B594446-0001-4000-8000-00000000000D}
=  value   | HKCR\Directory\background\shellex\ContextMenuHandlers\NvCplDesktopContext | @ | sz:{3D1975AF-0FC3-463d-8965-4DC6B5A840F4}
=  value   | HKCR\Directory\background\shellex\ContextMenuHandlers\ACE | @ | sz:{5E2121EE-0300-11D4-8D3B-444553540000}

# The uninstall entry: only the 32-bit view's; the native entry of the same
# name and another product's entry stay.
+64 value  | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{4B594446-0001-4000-8000-00000000000A} | DisplayName | sz:Intel(R) Processor Graphics
=  value   | HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{4B594446-0001-4000-8000-00000000000B} | DisplayName | sz:Intel(R) Processor Graphics
=  value   | HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{4B594446-0001-4000-8000-00000000000C} | DisplayName | sz:Intel(R) Rapid Storage Technology

# The media accelerator driver's folder: its startup entries go (the 32-bit
# folder's only on 64-bit Windows); the folder and its files stay.
+  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | GMATray | sz:"C:\Program Files\Intel\Intel(R) Graphics Media Accelerator Driver\gmatray.exe"
+64 value  | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | GMATray32 | sz:"C:\Program Files (x86)\Intel\Intel(R) Graphics Media Accelerator Driver\gmatray.exe"
=  file    | %PF%\Intel\Intel(R) Graphics Media Accelerator Driver\gmatray.exe

# Files in the system folders; the kernel drivers only when the device goes.
+  file    | %SYS%\igfxtray.exe
+  file    | %SYS%\igdumdim32.dll
+  file    | %WIN%\igfxress.dll
+d file    | %DRIVERS%\igdkmd64.sys
+d file    | %DRIVERS%\iwdbus.sys
=  file    | %SYS%\igfxtray.exe.bak
=  file    | %DRIVERS%\nvlddmkm.sys
# The co-installers in the system folder, read-only ones too, and anything
# else whose name starts with "igfxcoin"; names that only resemble it stay.
+  file    | %SYS%\igfxCoIn_v4125.dll | x | attr:readonly
+  file    | %SYS%\igfxcoinst.log
+  file    | %SYS%\igfxcoin_cache\state.dat
+  dir     | %SYS%\igfxcoin_cache
=  file    | %SYS%\igfxco.dll
=  file    | %SYS%\igfxcoi.dll
=  file    | %SYS%\xigfxcoin.dll
