# The Realtek AC'97 and High Definition Audio drivers with their sound
# managers, effects service, HDMI audio and Dolby Home Theater, and the decoys
# that resemble them but belong to others (Realtek's own network and card
# reader products among them).

# The device and its driver package; another vendor's package stays.
+d device  | HDAUDIO\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_103C2A9E&REV_1001 | {4D36E96C-E325-11CE-BFC1-08002BE10318}
+  inf     | * | HDAUDIO\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_103C2A9E&REV_1001
=  inf     | * | HDAUDIO\FUNC_01&VEN_14F1&DEV_5069&SUBSYS_103C2A9E

# Services and programs, by whole names: the sound manager in the process
# list, the updater in the file list too.
+  service | AERTSr64
=  service | ContosoAudioSvc
+  process | RtkNGUI64.exe
+  process | RtkUpd64.exe
+  process | RAVCpl64.exe
=  process | RtkNGUI64x.exe
=  process | MyRAVCpl64.exe

# Machine keys of the packages; the vendor's other products stay.
+  key     | HKLM\SOFTWARE\Realtek\AC97 Audio
+  value   | HKLM\SOFTWARE\Realtek\InitAP | Lang | dword:9
+  key     | HKLM\SOFTWARE\Realtek\AECBF
=  key     | HKLM\SOFTWARE\Realtek\Ethernet Diagnostic Utility
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{FB08F381-6533-4108-B7DD-039E11FBC27E} | DisplayName | sz:Realtek AC'97 Audio
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{F132AF7F-7BCA-4EDE-8A7C-958108FE7DBC} | DisplayName | sz:Realtek High Definition Audio Driver
+  key     | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Applets\Volume Control\Realtek AC97 Audio
+  key     | HKLM\SOFTWARE\Realtek Semiconductor Corp.\Realtek AC'97 Audio
=  key     | HKLM\SOFTWARE\Realtek Semiconductor Corp.\Realtek USB 2.0 Card Reader

# The HD audio package under another uninstall key name (a version in the
# display name); another product's entries, Realtek's network driver among
# them, stay.
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{4B594446-0002-4000-8000-000000000001} | DisplayName | sz:Realtek High Definition Audio Driver R2.82
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{4B594446-0002-4000-8000-000000000002} | DisplayName | sz:Realtek Ethernet Controller Driver
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ContosoAudio | DisplayName | sz:Contoso Audio Suite

# Three control sets, each swept: the packages' media category names (any
# letter case), HD audio device keys whose names are listed whole, and the
# audio class's driver keys of the Realtek provider. A category not in the
# list, a device key with more than a listed name, another provider's audio
# driver key and Realtek's network adapter driver key stay.
+  value   | HKLM\SYSTEM\CurrentControlSet\Control\MediaCategories\{8FD300D2-FFE1-44f3-A9EB-6F4395D73C9F} | Name | sz:Realtek Digital Output
+  value   | HKLM\SYSTEM\ControlSet001\Control\MediaCategories\{9c8e490e-877d-48fe-9ef1-ad83c91cc057} | Name | sz:Realtek HDMI Output
+  value   | HKLM\SYSTEM\ControlSet002\Control\MediaCategories\{0A8C1A83-42B0-11D2-95D2-00C04FB925D3} | Name | sz:Line
=  value   | HKLM\SYSTEM\CurrentControlSet\Control\MediaCategories\{DFF21BE1-F70F-11D0-B917-00A0C9223196} | Name | sz:Microphone
=  value   | HKLM\SYSTEM\ControlSet001\Control\MediaCategories\{4B594446-0002-4000-8000-000000000003} | Name | sz:Contoso Output
+  key     | HKLM\SYSTEM\CurrentControlSet\Enum\HDAUDIO\FUNC_01&VEN_1002&DEV_AA01
+  key     | HKLM\SYSTEM\ControlSet001\Enum\HDAUDIO\func_01&ven_1002&dev_aa19
+  key     | HKLM\SYSTEM\ControlSet002\Enum\HDAUDIO\VEN_8086&DEV_24C5&SUBSYS_29431509
=  key     | HKLM\SYSTEM\ControlSet001\Enum\HDAUDIO\FUNC_01&VEN_1002&DEV_AA01&REV_1000
=  key     | HKLM\SYSTEM\ControlSet002\Enum\HDAUDIO\FUNC_01&VEN_10EC&DEV_0662&SUBSYS_103C2A9E&REV_1001
+  value   | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}\0901 | ProviderName | sz:Realtek Semiconductor Corp.
+  value   | HKLM\SYSTEM\ControlSet001\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}\0901 | ProviderName | sz:Realtek Semiconductor Corp.
+  value   | HKLM\SYSTEM\ControlSet002\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}\0901 | ProviderName | sz:Realtek Semiconductor Corp.
=  value   | HKLM\SYSTEM\ControlSet002\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}\0902 | ProviderName | sz:Conexant
=  value   | HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}\0901 | ProviderName | sz:Realtek Semiconductor Corp.

# The per-user keys, below the user's own key as they stand; the machine's
# class registration of the same control panel API stays.
+  key     | HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs\Realtek Sound Manager
+  key     | HKCU\Software\Microsoft\Windows\CurrentVersion\Applets\Volume Control\Realtek AC97 Audio
+  key     | HKCU\CLSID\{E9F1F599-7B14-4213-BF46-F992758CAB81}
=  key     | HKCU\Software\Microsoft\Windows\CurrentVersion\Applets\Volume Control\Contoso Audio
=  value   | HKLM\Software\Classes\CLSID\{CC0CA09A-5B84-43F2-BE5C-9169C192565F}\InProcServer32 | @ | sz:C:\Windows\System32\RTCOMDLL.dll

# The sound manager's startup value by its exact name; a value whose name
# only begins with it stays.
+  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run | SoundMan | sz:SOUNDMAN.EXE
=  value   | HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run | SoundManager | sz:C:\Program Files\Contoso\sm.exe

# Program folders: the sound manager's and the control panel's go whole, with
# the startup entries of the programs in them; the 32-bit twins only on
# 64-bit Windows; the vendor's other product folder stays.
+  file    | %PF%\AvRack\AvRack.ini
+  dir     | %PF%\AvRack
+  file    | %PF%\Realtek\Audio\HDA\RtHDVCpl.exe
+  dir     | %PF%\Realtek\Audio
+  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | RTHDVCPL | sz:"C:\Program Files\Realtek\Audio\HDA\RtHDVCpl.exe" -s
=  file    | %PF%\Realtek\Ethernet Diagnostic Utility\RtkDiag.exe
+64 file   | %PF86%\AvRack\AvRack.ini
+64 dir    | %PF86%\AvRack
+64 file   | %PF86%\Realtek\Audio\HDA\RtkNGUI.exe
+64 dir    | %PF86%\Realtek\Audio
+  file    | %ROOT%Dolby PCEE4\pcee4.exe
+  dir     | %ROOT%Dolby PCEE4

# Files in the system folders; the kernel drivers only when the device goes;
# names that only resemble them, and Realtek's network driver, stay.
+  file    | %SYS%\RTLCPAPI.dll
+  file    | %SYS%\RtkAPO.dll
+  file    | %WIN%\RTHDCPL.EXE
+  value   | HKCU\Software\Microsoft\Windows\CurrentVersion\Run | RtHDVBg | sz:C:\Windows\RTHDCPL.EXE -s
+d file    | %DRIVERS%\RTKVHDA.sys
+d file    | %DRIVERS%\RtkHDAud.sys
=  file    | %SYS%\RtkAPO2.dll
=  file    | %DRIVERS%\rt640x86.sys
