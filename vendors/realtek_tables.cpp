#include "vendors/realtek_tables.h"

namespace kyd {

const wchar_t* const kRealtekServices[] = {
    L"AERTSr64", L"AERTSrv", L"AERTFilters",
};

const wchar_t* const kRealtekProcesses[] = {
    L"RtkNGUI.exe", L"APOPCH.exe", L"CreateRtkToastLnk.exe", L"FMAPP.exe", L"RAVBg64.exe",
    L"RAVCpl64.exe", L"RtDCpl.exe", L"RtDCpl64.exe", L"RtHDVBg.exe", L"RtHDVCpl.exe",
    L"RtkNGUI.exe", L"RtkNGUI64.exe", L"RtkUpd.exe", L"RtkUpd64.exe", L"RtlUpd.exe",
    L"RtlUpd64.exe", L"SetupRAPCOM.msi", L"SkyTel.exe", L"vncutil.exe", L"vncutil64.exe",
    L"ALCMTR.EXE", L"RTLCPL.EXE", L"ALCMTR.EXE", L"Alcrmv.exe", L"Alcrmv64.exe", L"ALCWZRD.EXE",
    L"ALCXMNTR.EXE", L"CPLUtl64.exe", L"MicCal.exe", L"RtaUpd.exe", L"RTHDCPL.EXE",
    L"SOUNDMAN.EXE", L"ALCCHKID.EXE", L"ALCRMV9X.EXE", L"ALCUPD.EXE", L"ALCXDEV.EXE",
    L"rundll32.exe", L"pcee4.exe", L"pcee4d.exe", L"pcee4e.exe", L"pcee4l.exe",
};

const wchar_t* const kRealtekFiles[] = {
    L"RtkUpd.exe", L"RtkUpd64.exe", L"swwtac97.dat", L"alcx95.ini", L"AVRACK.INI", L"RTHDCPL.EXE",
    L"CPLUTL64.EXE", L"RTLCPL.EXE", L"RtHDVCpl.exe", L"ALCWZRD.EXE", L"ALCMTR.EXE",
    L"SOUNDMAN.EXE", L"ALCCHKID.EXE", L"ALCRMV9X.EXE", L"ALCRMV.EXE", L"Alcrmv64.exe",
    L"ALCUPD.EXE", L"ALCXDEV.EXE", L"SkyTel.exe", L"MicCal.exe", L"RtlUpd.exe", L"RtlUpd64.exe",
    L"RTSndMgr.CPL", L"ALSNDMGR.CPL", L"RTLCPAPI.dll", L"ALSNDMGR.CPL", L"RTSndMgr.CPL",
    L"RTSnMg64.cpl", L"a3d.dll", L"alswwt16.dll", L"Audio3D.dll", L"crlds3d.dll", L"RTLCPAPI.dll",
    L"RTCOMDLL.dll", L"RtkAPO.dll", L"RtkPgExt.dll", L"RtkAPO64.dll", L"RtPgEx64.dll",
    L"alcx95.drv", L"alswwt.drv", L"RTLCPL.EXE", L"swwtac97.ton", L"valcx95.vxd", L"alsndmgr.wav",
    L"RtkHDMI.dll", L"RHDMIExt.dll", L"RtkHDM64.dll", L"RHDMEx64.dll",
};

const wchar_t* const kRealtekDriverFiles[] = {
    L"RTKHDA64.SYS", L"RtkHDAud.sys", L"ALCXWDM.SYS", L"ALCWDM64.SYS", L"ALCXSENS.SYS",
    L"RTKVHDA.sys", L"RTKVHD64.sys",
};

const wchar_t* const kRealtekMachineKeys[] = {
    L"SOFTWARE\\Realtek\\AC97 Audio", L"SOFTWARE\\RealTek\\InitAP", L"SOFTWARE\\Realtek\\AECBF",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{FB08F381-6533-4108-B7DD-039E11FBC27E}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{F132AF7F-7BCA-4EDE-8A7C-958108FE7DBC}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Realtek AC97 Audio",
    L"SOFTWARE\\Realtek Semiconductor Corp.\\Realtek AC'97 Audio",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{F132AF7F-7BCA-4EDE-8A7C-958108FE7DBC}",
};

const wchar_t* const kRealtekUserKeys[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs\\Realtek Sound Manager",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Realtek AC97 Audio",
    L"Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control\\Realtek AC97 Audio",
    L"CLSID\\{D8F1EEE0-F634-11CF-8700-00A0245D918B}",
    L"CLSID\\{E9F1F599-7B14-4213-BF46-F992758CAB81}",
    L"CLSID\\{CC0CA09A-5B84-43F2-BE5C-9169C192565F}",
    L"CLSID\\{A9C2CEBF-36DC-40A3-92E6-ED59FDD9D20D}",
    L"Wow6432Node\\CLSID\\{E9F1F599-7B14-4213-BF46-F992758CAB81}",
};

const wchar_t* const kRealtekMediaCategories[] = {
    // Categories of earlier packages.
    L"{0A8C1A80-42B0-11D2-95D2-00C04FB925D3}", L"{0A8C1A83-42B0-11D2-95D2-00C04FB925D3}",
    L"{0A8C1A86-42B0-11D2-95D2-00C04FB925D3}", L"{0A8C1A89-42B0-11D2-95D2-00C04FB925D3}",
    // The node names of the HD audio INF (x64 package, DriverVer 5.10.0.6631,
    // its [Strings] GUID.x / Node.x pairs in their order): volume and jack
    // nodes, the colour-coded inputs of the "new framework", the generic
    // inputs, then the digital input and the FM radio.
    L"{8E1FC059-D41D-417f-8103-FC592A4B32C8}", L"{65D86BEA-A16C-4e40-9F01-50C559D721B9}",
    L"{E7CD3EA7-072F-4d9f-B94A-744108964E0E}", L"{93FCBD9E-08CD-4cbd-B018-5EE0B83E7AF0}",
    L"{7B1A60BA-4F2D-41f6-95B1-5589F90D1ECE}", L"{757AB5CF-F4D5-42e4-9609-BF78FC6C712B}",
    L"{8A74FFAE-8766-480f-AF6D-325FCF9AB324}", L"{B25A6526-9703-4117-9D7F-260A5DF5CC34}",
    L"{594AC582-B82A-4024-99E7-DC5B358E0F30}", L"{19532773-C332-4de7-BEDD-F888163C3094}",
    L"{A5B27DE2-40F3-469e-9A4D-2CD8D5D9284D}", L"{7CB80EC0-9C2D-4924-AA30-3DB3864F8CD6}",
    L"{4F30E318-2B36-4b46-AF17-36A336363A12}", L"{B001EDFD-CF09-402f-8652-2E32AE568508}",
    L"{2216D589-3C9F-4843-B4E9-933F2ABCA6D2}", L"{39E595A1-9F2B-4276-A416-8D7A1534F01C}",
    L"{38CB5F75-F95A-425c-8444-F1C18942DB14}", L"{D4649B85-6687-4ec4-8C65-5B7B6248C470}",
    L"{9ACC8A34-DBF9-416d-97E7-3B90FE28FBD1}", L"{093C0065-6B45-4582-87D7-5A6742F6E859}",
    L"{38D6C869-D317-4dd2-B1B0-A9CAD8DD9639}", L"{C6E24B42-19BF-4211-9021-C696E3284C4F}",
    L"{3BEFF10F-1EC8-448f-9654-73067CCE3C6A}", L"{AA23B58F-B6D2-4952-B318-A0304B7EDEB3}",
    L"{C57704A3-108F-4760-99BA-6369AD13345D}", L"{C61C32C2-2BE7-467e-A278-B49E6746921E}",
    L"{5B08FA7D-A8BC-42a6-A1A9-C52AB5FC47A7}", L"{6850DF22-3CA7-4e09-B5AE-0DE820BF8356}",
    L"{46474F89-723B-4cac-9FD7-679FB5EE8F69}", L"{7DF69A32-C356-4f5a-A3BB-757B8B5177D4}",
    L"{C1857CBB-5FEA-420c-89FD-0479D7D366FB}", L"{74B67688-4723-4ec7-A1A6-09F33FF91FDB}",
    L"{9B0DC1D3-EFC8-4364-8ACD-9172D388F487}", L"{BA697E2A-BC14-4c0d-9E16-3935F2F15E08}",
    L"{AC846E6F-5695-4cec-B694-956A2E689AF4}", L"{C2BEEC11-5DF2-4fd9-B2D1-B5E2A1E46CB7}",
    L"{783FFBEB-79D4-40b8-BBB4-B90479D17F1F}", L"{0D95D21C-2FF7-4a66-9526-CC39DA3E749E}",
    L"{930A479F-0487-4baa-9672-4C7C36C0EFB2}", L"{8FED8EA0-0485-408c-9963-D3AC59D34A1F}",
    L"{FB0CBA7B-73ED-4880-9A7F-338D67AB1E71}", L"{788F5056-8394-4bf5-8608-B8BC009F9B0D}",
    L"{16238C4C-5B07-4acf-9B1D-72056187853C}", L"{066ED7CF-26FC-4cd6-8DB0-BDA088FFC7B6}",
    L"{25C9B7B5-B490-4418-B8C9-AE6A9E597D10}", L"{D5841A06-2012-49bb-848A-4E3C9D8E83EC}",
    L"{EEB9FF66-875E-44d0-A7BC-94F8FF8A6B2E}", L"{656A2737-0A8D-4c24-B11B-2CF3568DF248}",
    L"{EA1B271B-D19A-41ea-9141-E0FE75259300}", L"{D907F836-CE83-4354-B62C-B9700CCC0366}",
    L"{CECB705D-C0D9-4c47-84F6-0A210E9DFD0B}", L"{98B9900B-618A-4bd3-9B62-B206E9AA5F6F}",
    L"{B8CE8B6A-A73E-494d-8218-F308670F6149}", L"{6D33D369-990F-444b-A4E6-57A29B8F0993}",
    L"{2AFE8623-D5B6-49d6-898D-A16A616E571B}", L"{8A965A50-6F78-424c-8EDD-DD904C4C7AAC}",
    L"{CD2AAD6D-761E-4b6d-A4C6-8F543A38C099}", L"{5153DE62-8983-4a02-8F87-2969BC2A279A}",
    L"{6735C4E4-C0DA-473f-8D1F-2FD185C83071}", L"{B89B4F6B-5820-46a0-999C-A9765221DA30}",
    L"{D7F95568-524C-4ef1-A58E-1E8BF3E4443E}", L"{A57DE92C-E432-4432-8166-E02D8C4ACDDC}",
    L"{C0F074E4-0F6A-4b6f-BC09-5DF75D24757F}", L"{72DA7D85-CCB7-4bce-BDD7-A8F0E56958B8}",
    L"{892B95E3-FEA5-48b2-93B8-49373E588E38}", L"{710CE1E3-334A-4771-A4B2-CFFF54B70DBF}",
    L"{B8B35FC5-6051-44e0-A3CE-B6E000564C64}", L"{1B5D1795-4D18-4057-81DA-06A5FC19F3AC}",
    L"{AD8341CB-C580-46e7-B593-44440EFB4DE8}", L"{38FAF4E0-3EEF-47d7-AD52-F20AB10340C3}",
    L"{E27EEDDE-A24D-4f87-8EDE-5A58E7FF8D70}", L"{08FDB237-3D34-4c59-9511-56E178AE3E10}",
    L"{D172D8CE-0235-4b09-92EB-BDE320CFB94C}", L"{8FD300D3-FFE1-44f3-A9EB-6F4395D73C9F}",
    L"{93ED2CB4-7D0D-4c1c-8A91-5AE457E066AD}",
    // The digital and HDMI outputs, as the HDMI audio INF (DriverVer
    // 5.10.0.5368) and the HD audio INF register them.
    L"{8FD300D2-FFE1-44f3-A9EB-6F4395D73C9F}", L"{DCF74E0A-8B16-40aa-8A51-A4B89EF9B7B6}",
    L"{9C8E490E-877D-48fe-9EF1-AD83C91CC057}", L"{3FF4EDB6-3FF3-4b5a-B164-10FFF0367547}",
    L"{94FCA009-B26E-4cdc-AC75-051613EF01BB}",
};

const wchar_t* const kRealtekAudioControllers[] = {
    // Intel ICH4 AC'97 controllers, by board subsystem.
    L"VEN_8086&DEV_24C5&SUBSYS_010217AA", L"VEN_8086&DEV_24C5&SUBSYS_29431509",
    L"VEN_8086&DEV_24C5&SUBSYS_1024147B",
    // ATI HDMI audio functions driven by the Realtek HDMI audio driver, from
    // that INF's model section (DriverVer 5.10.0.5368).
    L"FUNC_01&VEN_1002&DEV_791A", L"FUNC_01&VEN_1002&DEV_793C", L"FUNC_01&VEN_1002&DEV_AA01",
    L"FUNC_01&VEN_1002&DEV_AA09", L"FUNC_01&VEN_1002&DEV_AA11", L"FUNC_01&VEN_1002&DEV_AA19",
};

const wchar_t* const kRealtekProvider[] = {L"Realtek Semiconductor Corp"};
const wchar_t* const kRealtekProduct[] = {L"Realtek High Definition Audio Driver"};

const VendorTables kRealtekVendorTables = {kRealtekServices, kRealtekFiles, kRealtekProcesses,
                                           kRealtekDriverFiles};

}  // namespace kyd
