# A docking station with a driver of the Windows 10 kind, on the removal road
# (no vendor cleaner, no companion package): the device, its base INF, the
# extension INF for its hardware IDs, the two software components they add
# (SWC\<component ID> devices and their component INFs).

# ---- the device and its packages
+  device  | USB\VID_1A2B&PID_3C4D&REV_0100 | {4D36E97D-E325-11CE-BFC1-08002BE10318}
+  inf     | * | USB\VID_1A2B&PID_3C4D | inf/fabrikam_base.inf
+  inf     | * | USB\VID_1A2B&PID_3C4D&REV_0100 | inf/fabrikam_ext.inf
+  inf     | * | SWC\VID_1A2B&CID_0001 | inf/fabrikam_comp_service.inf
+  inf     | * | SWC\VID_1A2B&CID_0002 | inf/fabrikam_comp_firmware.inf
+  device  | SWC\VID_1A2B&CID_0001 | {5c4c3332-344d-483c-8739-259e934c9cc8}
+  device  | SWC\VID_1A2B&CID_0002 | {5c4c3332-344d-483c-8739-259e934c9cc8}

# ---- decoys
# A component whose ID only begins like one of ours.
=  inf     | * | SWC\VID_1A2B&CID_00010 | inf/fabrikam_comp_longer_id.inf
=  device  | SWC\VID_1A2B&CID_00010 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# Another Fabrikam device: its extension INF, component and software device.
=  inf     | * | USB\VID_1A2B&PID_9999 | inf/fabrikam_ext_other_device.inf
=  inf     | * | SWC\VID_1A2B&CID_0009 | inf/fabrikam_comp_other_device.inf
=  device  | SWC\VID_1A2B&CID_0009 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# Another vendor's extension, its component and its software device.
=  inf     | * | PCI\VEN_10DE&DEV_1C03&SUBSYS_00000000 | inf/contoso_ext.inf
=  inf     | * | SWC\VEN_C0DE&AID_0001 | inf/contoso_comp.inf
=  device  | SWC\VEN_C0DE&AID_0001 | {5c4c3332-344d-483c-8739-259e934c9cc8}
# A driver INF of another device of the same vendor.
=  inf     | * | USB\VID_1A2B&PID_3C4E
