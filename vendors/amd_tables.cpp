#include "vendors/amd_tables.h"

namespace kyd::amd {

const wchar_t* const kFileTable[226] = {
    L"amd_opencl32.dll", L"amd_opencl64.dll", L"amdave32.dll", L"amdave64.dll", L"amdcalcl.dll",
    L"amdcalcl64.dll", L"amdcaldd.dll", L"amdcaldd64.dll", L"amdcalrt.dll", L"amdcalrt64.dll",
    L"amde31a.dat", L"amdgfxinfo32.dll", L"amdgfxinfo64.dll", L"amdh232enc32.dll",
    L"AMDh264Enc32.dll", L"AMDh264Enc64.dll", L"amdhcp32.dll", L"amdhcp64.dll", L"amdhdl32.dll",
    L"amdhdl64.dll", L"AMDhwDecoder_32.dll", L"AMDhwDecoder_64.dll", L"amdicdxx.dat", L"amdkmafd",
    L"amdkmdap", L"amdkmpfd.cbz", L"amdkmpfd.ibz", L"amdkmpfd.sbz", L"amdkmpfd.csz",
    L"amdkmpfd.isz", L"amdkmpfd.ssz", L"amdmantle32.dll", L"amdmantle64.dll",
    L"amdmftdecoder_32.dll", L"amdmftdecoder_64.dll", L"amdmftvideodecoder_32.dll",
    L"amdmftvideodecoder_64.dll", L"amdmiracast.dll", L"amdmmcl.dll", L"amdmmcl6.dll",
    L"amdocl.dll", L"amdocl_as.exe", L"amdocl_as32.exe", L"amdocl_as64.exe", L"amdocl_ld.exe",
    L"amdocl_ld32.exe", L"amdocl_ld64.exe", L"amdocl12cl.dll", L"amdocl12cl64.dll", L"amdocl32.dll",
    L"amdocl64.dll", L"amdpcom32.dll", L"amdpcom64.dll", L"amdxc32.dll", L"amdxc64.dll",
    L"amf-mft-mjpeg-decoder32.dll", L"amf-mft-mjpeg-decoder64.dll", L"amf-wic-jpeg-decoder32.dll",
    L"amf-wic-jpeg-decoder64.dll", L"ati2cqag.dll", L"ati2dvag.dll", L"ati2edxx.dll",
    L"ati2edxx.dll", L"ati2erec.dll", L"ati2evxx.dll", L"ati2evxx.exe", L"ati2mtag.sys",
    L"ati2sgag.exe", L"ati3duag.dll", L"atiadlxx.dll", L"atiadlxy.dll", L"atiapfxx.blb",
    L"atiapfxx.exe", L"atiapfxx.log", L"atibrtmon.exe", L"atibtmon.exe", L"aticalcl.dll",
    L"aticalcl64.dll", L"aticaldd.dll", L"aticaldd64.dll", L"aticalrt.dll", L"aticalrt64.dll",
    L"aticfx32.dll", L"aticfx32A.dll", L"aticfx64.dll", L"aticfx64A.dll", L"atiddc.dll",
    L"atidemgx.dll", L"atidemgy.dll", L"atidxx32.dll", L"atidxx32A.dll", L"atidxx64.dll",
    L"atidxx64A.dll", L"atieah32.exe", L"atieah64.exe", L"atieclxx.exe", L"atiedu32.dll",
    L"atiedu64.dll", L"atieslxx.exe", L"atieslxx.exe", L"atiesrxx.exe", L"atifglpf.xml",
    L"atig6pxx.dll", L"atig6txx.dll", L"atigktxx.dll", L"atiglpxx.dll", L"atiicdxx.dat",
    L"atiilhag", L"atiiiexx.dll", L"atikvmag.dll", L"atilau.dll", L"atilauA.dll", L"atimpc32.dll",
    L"atimpc64.dll", L"atimuixx.dll", L"atio6axx.dll", L"atio6axxA.dll", L"atio6axxB.dll",
    L"atio6axxB.dll", L"atiodcli.exe", L"atiode.exe", L"atiok3x2.dll", L"atiodcli.exe",
    L"ATIODCLI.exe", L"atiode.exe", L"ATIODE.exe", L"atiogl.xml", L"atiogl.xml", L"atioglxx.dll",
    L"atioglxxA.dll", L"atioglxxB.dll", L"atipblag.dat", L"atipdl32.dll", L"atipdl64.dll",
    L"atipdlxx.dll", L"atipmdag.dll", L"atipmdag.sys", L"atisamu32.dll", L"atisamu64.dll",
    L"atitmm32.dll", L"atitmm64.dll", L"atitmmxx.dll", L"atitmp32.dll", L"atitmp64.dll",
    L"atitvo32.dll", L"atiu9p32.dll", L"atiu9p64.dll", L"atiu9pag.dll", L"atiuldx6a.cap",
    L"atiuldx6a.dll", L"atiuldxva.cap", L"atiuldxva.dll", L"atiumd64.dll", L"atiumd64A.dll",
    L"atiumd64B.dll", L"atiumd6a.cap", L"atiumd6a.dat", L"atiumd6a.dll", L"atiumd6v.dll",
    L"atiumdag.dll", L"atiumdag.dll", L"atiumdagA.dll", L"atiumdagB.dll", L"atiumdmv.dll",
    L"atiumdva.cap", L"atiumdva.cap", L"atiumdva.dat", L"atiumdva.dll", L"atiuxp32.dll",
    L"atiuxp64.dll", L"atiuxpag.dll", L"atiuxpag.dll", L"ativcaxx.cpa", L"ativcaxx.vp",
    L"ativcoxx.dll", L"ativce02.dat", L"ativce03.dat", L"ativdkxx.vp", L"ativokxx.vp",
    L"ativpkxx.vp", L"ativpsrm.bin", L"ativpsrm.dll", L"ativva5x.dat", L"ativva6x.dat",
    L"ativvaxx.cap", L"ativvaxx.dll", L"ativvaxy_cik.dat", L"ativvaxy_cik_nd.dat",
    L"ativvaxy_cz_nd.dat", L"ativvaxy_FJ.dat", L"ativvaxy_FJ_nd.dat", L"ativvaxy_vi.dat",
    L"ativvaxy_vi_nd.dat", L"ativvkxx.vp", L"ativvpxx.vp", L"ativvsva.dat", L"ativvsvl.dat",
    L"ccc.exe", L"ccc2_install.exe", L"CCCInstall", L"clinfo.exe", L"coinst_", L"delayapo.dll",
    L"kapp_ci.bin", L"kapp_ci.sbin", L"kapp_si.bin", L"kapp_si.sbin", L"kdbsdk32.dll",
    L"kdbsdk64.dll", L"mantle32.dll", L"mantle64.dll", L"mantleaxl32.dll", L"mantleaxl64.dll",
    L"mcl32.dll", L"mcl64.dll", L"oemdspif.dll", L"OpenVideo.dll", L"OpenVideo32.dll",
    L"OpenVideo64.dll", L"OVDecode.dll", L"OVDecode32.dll", L"OVDecode64.dll", L"samu_krnl_ci.sbin",
    L"samu_krnl_isv_ci.sbin", L"SlotMaximizerAg.dll", L"SlotMaximizerBe.dll",
};

const wchar_t* const kDriverTable[18] = {
    L"amdacpksd.sys", L"amdacpksl.sys", L"atihdmi.sys", L"atihdw73.sys", L"atihdw76.sys",
    L"atihdw83.sys", L"atihdw86.sys", L"atihdwb3.sys", L"atihdwb6.sys", L"atikmdag.sys",
    L"atikmdagA.sys", L"atikmdagB.sys", L"atikmpag.sys", L"atikmpagA.sys", L"amdkmafd.sys",
    L"amdkmdap.sys", L"atihdwt3.sys", L"atihdwt6.sys",
};

const wchar_t* const kServices[23] = {
    L"amdkmdag", L"amdkmdagA", L"amdkmdagB", L"amdkmdagC", L"amdkmdap", L"amdkmdapA", L"amdkmdapB",
    L"amdkmdapC", L"atikmdag", L"atikmpag", L"amdkmafd", L"AtiHDAudioService", L"AODService",
    L"amdacpksd", L"amdacpusrsvc", L"atierecord", L"atipmdag", L"AMD External Events Utility",
    L"ATI External Events Utility", L"AMD FUEL Service", L"Ati HotKey Poller", L"ATI Smart",
    L"ati2mtag",
};

const wchar_t* const kPrograms[15] = {
    L"MOM.exe", L"CLIStart.exe", L"CLI.exe", L"CCC.exe", L"HydraDM.exe", L"HydraDM64.exe",
    L"HydraGrd.exe", L"Grid64.exe", L"HydraMD64.exe", L"HydraMD.exe",
    L"ThumbnailExtractionHost.exe", L"jusched.exe", L"Fuel.Service.exe", L"AMDQuickStream.exe",
    L"rundll32.exe",
};

const wchar_t* const kProgIdFragments[4] = {
    L"aticomclonecontrol", L"c4.ccccom.", L"displaypage.displaycplext.", L"amdwdst",
};

const wchar_t* const kInterfaceFragments[10] = {
    L"iamdwdstmain", L"iamdwdstcontrol", L"displaycplext", L"steadyvideobho", L"ic4connectionpoint",
    L"ic4user", L"ic4dualconnectionpoint", L"ic4dispatchconnectionpoint", L"IDisplayCplExt",
    L"ISimpleShlExt",
};

const wchar_t* const kClassFragments[8] = {
    L"C4.CCCCom", L"amdwdst", L"ati transcoder", L"ati.ace", L"ati technologies\\multimedia",
    L"SteadyVideoBHO", L"delayapo.dll", L"atitmmxx.dll",
};

const wchar_t* const kInstanceFriendlyNames[7] = {
    L"ati mpeg", L"amd mjpeg", L"ati ticker", L"mmace softemu", L"mmace deinterlace", L"amd video",
    L"ati video",
};

const wchar_t* const kClassServerFragments[2] = {
    L"atiacm64.dll", L"atiacmxx.dll",
};

const wchar_t* const kApprovedShellExtensions[2] = {
    L"catalyst context menu extension", L"display cpl extension",
};

const wchar_t* const kInstallSubkeys[9] = {
    L"ati catalyst", L"ati mcat", L"avt", L"ccc", L"packages", L"wirelessdisplay", L"hydravision",
    L"avivo", L"steadyvideo",
};

const wchar_t* const kInstallSubkeys32[10] = {
    L"ati catalyst", L"ati mcat", L"avt", L"ccc", L"packages", L"wirelessdisplay", L"hydravision",
    L"dndtranscoding64", L"avivo", L"steadyvideo",
};

const wchar_t* const kProductNames[16] = {
    L"wucccapp", L"ccc help", L"amd accelerated", L"catalyst control center",
    L"amd catalyst install manager", L"ccc-utility", L"amd wireless display",
    L"amd media foundation", L"hydravision", L"amd drag and drop", L"amd app sdk", L"amd steady",
    L"amd fuel", L"application profiles", L"ati avivo", L"amd avivo",
};

const wchar_t* const kSharedDllFragments[12] = {
    L"ATI\\CIM\\", L"SteadyVideo", L"ATI.ACE", L"ATI Technologies\\Multimedia", L"OpenCL",
    L"OpenVideo", L"OVDecode", L"amdocl", L"kbdsdk64.dll", L"clinfo", L"SlotMaximizer", L"cccutil",
};

const wchar_t* const kInstallerFolderFragments[8] = {
    L"ATI\\CIM\\", L"AMD AVT", L"AMD APP\\", L"AMD\\SteadyVideo\\", L"ATI.ACE\\", L"HydraVision\\",
    L"ATI Technologies\\Application Profiles\\", L"ATI Technologies\\Multimedia\\",
};

const wchar_t* const kClassNames32[5] = {
    L"AMDWDST", L"ATI Transcoder DB Enum", L"ATI Transcoder", L"ATI Transcoder DB",
    L"SteadyVideoBHO",
};

}  // namespace kyd::amd
