#include "vendors/intel_tables.h"

namespace kyd {

const wchar_t* const kIntelFileTable[] = {
    L"customModeApp.exe", L"difx64.exe", L"DPTopologyApp.exe", L"gfxSrvc.dll", L"GfxUIEx.exe",
    L"GfxUIHotKeyMenu.exe", L"hccutils.dll", L"hkcmd.exe", L"IccLibDll_x64.dll", L"ig7icd64.dll",
    L"igd10iumd64.dll", L"igdail64.dll", L"igdbcl64.dll", L"igdde64.dll", L"igdfcl64.dll",
    L"igdmd64.dll", L"igdrcl64.dll", L"igdumdim64.dll", L"igdusc64.dll", L"igfx11cmrt64.dll",
    L"igfxcmjit64.dll", L"igfxcmrt64.dll", L"igfxCoIn_v3412.dll", L"igfxcpl.cpl", L"igfxdev.dll",
    L"IGFXDEVLib.dll", L"igfxdo.dll", L"igfxexps.dll", L"igfxext.exe", L"igfxpers.exe",
    L"igfxpph.dll", L"igfxrara.lrc", L"igfxrchs.lrc", L"igfxrcht.lrc", L"igfxrcsy.lrc",
    L"igfxrdan.lrc", L"igfxrdeu.lrc", L"igfxrell.lrc", L"igfxrenu.lrc", L"igfxresn.lrc",
    L"igfxress.dll", L"igfxrfin.lrc", L"igfxrfra.lrc", L"igfxrheb.lrc", L"igfxrhrv.lrc",
    L"igfxrhun.lrc", L"igfxrita.lrc", L"igfxrjpn.lrc", L"igfxrkor.lrc", L"igfxrnld.lrc",
    L"igfxrnor.lrc", L"igfxrplk.lrc", L"igfxrptb.lrc", L"igfxrptg.lrc", L"igfxrrom.lrc",
    L"igfxrrus.lrc", L"igfxrsky.lrc", L"igfxrslv.lrc", L"igfxrsve.lrc", L"igfxrtha.lrc",
    L"igfxrtrk.lrc", L"igfxsrvc.dll", L"igfxsrvc.exe", L"igfxtray.exe", L"igfxstarter.exe",
    L"igfxTMM.dll", L"IntelOpenCL64.dll", L"IntelWiDiAAC64.dll", L"IntelWiDiAudioFilter64.dll",
    L"IntelWiDiDDEAgent64.dll", L"IntelWiDiLogServer64.dll", L"IntelWiDiMCUMD64.dll",
    L"IntelWiDiMux64.dll", L"IntelWiDiSecureSourceFilter64.dll", L"IntelWiDiSilenceFilter64.dll",
    L"IntelWiDiUMS64.exe", L"IntelWiDiUtils64.dll", L"IntelWiDiVAD64.exe",
    L"IntelWiDiWinNextAgent64.dll", L"Intel_OpenCL_ICD64.dll",
    L"MetroIntelGenericUIFramework.dll", L"ig7icd32.dll", L"igd10iumd32.dll", L"igdail32.dll",
    L"igdbcl32.dll", L"igdde32.dll", L"igdfcl32.dll", L"igdmd32.dll", L"igdrcl32.dll",
    L"igdumdim32.dll", L"igdusc32.dll", L"igfx11cmrt32.dll", L"igfxcmjit32.dll",
    L"igfxcmrt32.dll", L"igfxdv32.dll", L"igfxexps32.dll", L"iglhcp32.dll", L"iglhsip32.dll",
    L"Intel_OpenCL_ICD32.dll", L"IntelCpHeciSvc.exe", L"IntelOpenCL32.dll", L"iglhcp64.dll",
    L"iglhsip64.dll", L"iglhxa64.cpa", L"iglhxa64.vp", L"iglhxc64.vp", L"iglhxc64_dev.vp",
    L"iglhxg64.vp", L"iglhxg64_dev.vp", L"iglhxo64.vp", L"iglhxo64_dev.vp", L"iglhxs64.vp",
    L"igfxCoIn_v3574.dll", L"igfxCUIService.exe", L"igfxCUIServicePS.dll", L"igfxDH.dll",
    L"igfxDHLib.dll", L"igfxDHLibv2_0.dll", L"igfxDI.dll", L"igfxDILib.dll", L"igfxDILibv2_0.dll",
    L"igfxDTCM.dll", L"igfxEM.exe", L"igfxEMLib.dll", L"igfxEMLibv2_0.dll", L"igfxHK.exe",
    L"igfxLHM.dll", L"igfxLHMLib.dll", L"igfxLHMLibv2_0.dll", L"igfxOSP.dll", L"GfxRes.dll",
    L"GfxUIEx.exe", L"GfxUI.exe", L"GfxUI.exe.config", L"Gfxv2_0.exe", L"Gfxv2_0.exe.config",
    L"Gfxv4_0.exe", L"Gfxv4_0.exe.config", L"intel/opencl", L"intel/opencl", L"intel/media sdk",
    L"DPTopologyApp.exe.config", L"DPTopologyAppv2_0.exe", L"DPTopologyAppv2_0.exe.config",
    L"resARA.cui", L"resCHS.cui", L"resCHT.cui", L"resCSY.cui", L"resDAN.cui", L"resDEU.cui",
    L"resELL.cui", L"resENU.cui", L"resESN.cui", L"resFIN.cui", L"resFRA.cui", L"resHEB.cui",
    L"resHRV.cui", L"resHUN.cui", L"resITA.cui", L"resJPN.cui", L"resKOR.cui", L"resNLD.cui",
    L"resNOR.cui", L"resPLK.cui", L"resPTB.cui", L"resPTG.cui", L"resROM.cui", L"resRUS.cui",
    L"resSKY.cui", L"resSLV.cui", L"resSVE.cui", L"resTHA.cui", L"resTRK.cui",
    L"CustomModeApp.exe.config", L"CustomModeAppv2_0.exe", L"CustomModeAppv2_0.exe.config",
    L"igfxcoin_v2843.dll", L"igvpkrng700.bin", L"igdumd64.dll", L"igd10umd64.dll",
    L"igcodeckrng700.bin", L"gfxres.zh-cn.resources", L"gfxres.zh-tw.resources",
    L"gfxres.ar-sa.resources", L"gfxres.cs-cz.resources", L"gfxres.da-dk.resources",
    L"gfxres.de-de.resources", L"gfxres.el-gr.resources", L"gfxres.en-us.resources",
    L"gfxres.es-es.resources", L"gfxres.fi-fi.resources", L"gfxres.fr-fr.resources",
    L"gfxres.he-il.resources", L"gfxres.hr-hr.resources", L"gfxres.hu-hu.resources",
    L"gfxres.it-it.resources", L"gfxres.ko-kr.resources", L"gfxres.nb-no.resources",
    L"gfxres.nl-nl.resources", L"gfxres.pl-pl.resources", L"gfxres.pt-br.resources",
    L"gfxres.pt-pt.resources", L"gfxres.ro-ro.resources", L"gfxres.ru-ru.resources",
    L"gfxres.sk-sk.resources", L"gfxres.sl-si.resources", L"gfxres.sv-se.resources",
    L"gfxres.th-th.resources", L"gfxres.tr-tr.resources", L"ig4icd64.dll", L"ig4icd32.dll",
    L"igcompkrng575.bin", L"igd10umd32.dll", L"igdumd32.dll", L"igdumdx32.dll", L"igfcg575m.bin",
    L"igkrng575.bin", L"igfxCoIn_v3621.dll",
};

const wchar_t* const kIntelDriverTable[] = {
    L"igdkmd64.sys", L"iwdbus.sys",
};

const wchar_t* const kIntelServices[] = {
    L"igfx", L"intaud_WaveExtensible", L"iwdbus", L"igfxCUIService1.0.0.0", L"IntcDAud",
    L"intelkmd",
};

const wchar_t* const kIntelPrograms[] = {
    L"IGFXEM.exe", L"customModeApp.exe", L"difx64.exe", L"DPTopologyApp.exe", L"GfxUIEx.exe",
    L"GfxUIHotKeyMenu.exe", L"hkcmd.exe", L"igfxext.exe", L"igfxpers.exe", L"igfxsrvc.exe",
    L"igfxtray.exe", L"igfxstarter.exe", L"IntelWiDiUMS64.exe", L"IntelWiDiVAD64.exe",
    L"IntelCpHeciSvc.exe", L"igfxCUIService.exe", L"igfxEM.exe", L"igfxHK.exe", L"GfxUIEx.exe",
    L"GfxUI.exe", L"Gfxv2_0.exe", L"Gfxv4_0.exe", L"DPTopologyAppv2_0.exe",
    L"CustomModeAppv2_0.exe", L"rundll32.exe",
};

const wchar_t* const kIntelProgIds[] = {
    L"igfx.", L"igfxcfg.", L"igfxdev.", L"igfxdo.", L"igfxext.", L"igfxpph.", L"igfxsrvc.",
    L"igfxTMM.", L"IntelCpHeciSvc.", L"igfxosplib.theadvosproppage",
    L"intel.graphicscontrolpanel", L"igfxdv32.",
};

const wchar_t* const kIntelInterfaces[] = {
    L"icphssession", L"IAdvOSPropPage", L"itheintelsmartframe", L"ithedesktopcontextmenu",
    L"ithelaunchtimeenhancer", L"idriverinterface", L"itheeventmanager", L"icuistring",
    L"idatahandler", L"IGraphicsShellExt",
};

const wchar_t* const kIntelClassServers[] = {
    L"IntelWiDi", L"IGFXEXPS", L"igfxsrvc", L"intelcphecisvc", L"igfxcuiservice", L"igfxdi",
    L"igfxem", L"igfxdtcm", L"igfxlhm", L"igfxdh", L"igfxdv32.dll", L"igfxTMM.dll", L"igfxcui",
};

const wchar_t* const kIntelVendorSubKeys[] = {
    L"igfx", L"mediasdk", L"opencl", L"intel wireless display",
};

const wchar_t* const kIntelStartupValues[] = {
    L"IgfxTray", L"Persistence", L"HotKeysCmds",
};

const wchar_t* const kIntelContextMenuHandlers[] = {
    L"igfxcui", L"igfxosp", L"igfxdtcm",
};

const VendorTables kIntelVendorTables = {kIntelServices, kIntelFileTable, kIntelPrograms,
                                         kIntelDriverTable};

}  // namespace kyd
