# The AMD (formerly ATI) Radeon display driver and the Catalyst suite, with
# the decoys that resemble them but belong to others.

# The device and its driver package.
+d device  | PCI\VEN_1002&DEV_6798&SUBSYS_30001002&REV_00 | {4D36E968-E325-11CE-BFC1-08002BE10318}
+  inf     | * | PCI\VEN_1002&DEV_6798&SUBSYS_30001002&REV_00
=  inf     | * | PCI\VEN_10DE&DEV_1C03&SUBSYS_00000000

+  key     | HKLM\Software\ATI\ACE
=  key     | HKU\kydfp\Software\Contoso Corporation
+  key     | HKU\kydfp\Software\ATI Technologies\CBT
+  value   | HKLM\Software\Khronos\OpenCL\Vendors | C:\Windows\System32\amdocl64.dll | dword:0
=  value   | HKLM\Software\Khronos\OpenCL\Vendors | C:\Windows\System32\nvopencl64.dll | dword:0
+  process | CCC.exe
=  process | MyCCC.exe
+  file    | %PF%\ATI Technologies\ATI.ACE\Core-Static\CLI.exe
