#include "vendors/nvidia_tables.h"

namespace kyd {

const wchar_t* const kNvFileTable[] = {
    L"nvapi.dll", L"nvapi64.dll", L"nvcompiler.dll", L"nvcompiler32.dll", L"nvcuda.dll",
    L"nvcuda32.dll", L"nvcuda64.dll", L"nvcuvenc.dll", L"nvcuvenc64.dll", L"nvcuvid.dll",
    L"nvcuvid32.dll", L"nvcuvid64.dll", L"nvd3d9wrap.dll", L"nvd3d9wrapx.dll", L"nvd3dum.dll",
    L"nvd3dumx.dll", L"nvDecMFTMjpeg.dll", L"nvdet.dll", L"nvdetx.dll", L"nvdispco64.dll",
    L"nvdispgenco64.dll", L"nvdrsdb.bin", L"nvdxgiwrap.dll", L"nvdxgiwrapx.dll",
    L"nvEncMFTH264.dll", L"nvEncMFThevc.dll", L"nvEncodeAPI.dll", L"nvEncodeAPI64.dll",
    L"nvFBC.dll", L"nvFBC64.dll", L"nvIFR.dll", L"nvIFR64.dll", L"nvinfo.pb", L"nvinit.dll",
    L"nvinitx.dll", L"nvml.dll", L"nvoglshim32.dll", L"nvoglshim64.dll", L"nvoglv32.dll",
    L"nvoglv64.dll", L"nvopencl.dll", L"nvopencl32.dll", L"nvopencl64.dll", L"nvumdshim.dll",
    L"nvumdshimx.dll", L"nvwgf2um.dll", L"nvwgf2umx.dll", L"opencl.dll", L"opencl32.dll",
    L"opencl64.dll", L"nvcpl.dll", L"nvmctray.dll", L"nvsvc64.dll", L"nvsvcr.dll", L"nvvsvc.exe",
    L"nvshext.dll", L"dbInstaller.exe", L"nvidia-smi.exe", L"nvidia-smi.1.pdf",
    L"nvdebugdump.exe", L"openCL.dll", L"openCL64.dll", L"nvStreaming.exe", L"nv_disp.inf",
    L"nv_dispi.inf", L"nvcplsetupeng.exe", L"nvcplsetupint.exe", L"nvclk.nvu", L"nvuclock64.exe",
    L"nvcoclk64.dll", L"nvspcaps64.dll", L"nvspcaps.dll", L"nvspcap64.dll", L"nvspcap.dll",
    L"nvifropengl.dll", L"nvdisp", L"nvcplui.exe", L"nvtmru.exe", L"nvbackend.exe",
    L"nvspcaps.exe", L"nvspcaps64.exe", L"nvstreamsvc.exe", L"nvtray.exe", L"nvxdsync.exe",
    L"nvdecodemft.dll", L"nvgenco64.dll", L"nvir3dgenco32.dll", L"nvir3dgenco64.dll",
    L"nvspbridge.dll", L"nvspbridge64.dll", L"nvmcvadgenco64.dll", L"nvmcvadgenco32.dll",
    L"nvaudcaparm.dll", L"OptimusUpdateExt.dll", L"OptimusExt.dll", L"EasyDaemonAPIU32.dll",
    L"EasyDaemonAPIU64.dll", L"nvupdt32.dll", L"nvupdt64.dll", L"nvupdtr32.dll", L"nvupdtr64.dll",
    L"nvupdtrXP32.dll", L"nvupdtrXP64.dll", L"nvupdtXP32.dll", L"nvupdtXP64.dll",
    L"UpdateExt.dll", L"DisplayUpdateExt.dll", L"nvStreamSrvExt.dll", L"nvcoproc.bin",
    L"nvmcumd.dll", L"gfexperience.exe", L"gfexperienceservice.exe", L"nv3dappshext.dll",
    L"nv3dappshextr.dll", L"nwiz.exe", L"NVSTINST.EXE", L"NVSTLINK.EXE", L"NVSCPAPISVR.EXE",
    L"NVNETWORKSERVICE.EXE", L"nvwmi64.exe", L"nvPerfProvider.man", L"nv4_disp.dll",
    L"nvcolor.exe", L"nvoglnt.dll", L"nvsvc32.exe", L"nvwddi.dll",
    L"ShieldWirelessController32.dll", L"ShieldWirelessController64.dll",
    L"NVDeviceUtility32.dll", L"NVDeviceUtility64.dll",
};

const wchar_t* const kNvDriverTable[] = {
    L"nvkflt.sys", L"nvlddmkm.sys", L"nvpciflt.sys", L"nvvad32v.sys", L"nvvad64v.sys",
    L"nvstusb32.sys", L"nvstusb64.sys", L"nvoclk64.sys", L"nvpciflt.sys", L"nvvadarm.sys",
    L"nv4_mini.sys", L"NVSWCFilter32.sys", L"NVSWCFilter64.sys",
};

const wchar_t* const kNvServices[] = {
    L"nvsvc", L"GfExperienceService", L"NVHDA", L"NvNetworkService", L"nvpciflt", L"NvStreamSvc",
    L"NvStreamKms", L"nvUpdatusService", L"nvvad_WaveExtensible", L"nvvadarm", L"nvwmi",
    L"Stereo Service", L"nvkflt", L"nvlddmkm", L"nv", L"NVSWCFilter",
};

const wchar_t* const kNvPrograms[] = {
    L"Lcore.exe", L"nvstreamsvc.exe", L"NvTmru.exe", L"nvxdsync.exe", L"nvtray.exe", L"dwm.exe",
    L"WWAHost.exe", L"nvspcaps64.exe", L"nvspcaps.exe", L"NvBackend.exe", L"dbInstaller.exe",
    L"nvidia-smi.exe", L"mcu.exe", L"nvdebugdump.exe", L"nvStreaming.exe", L"nvcplsetupeng.exe",
    L"nvcplsetupint.exe", L"nvuclock64.exe", L"nvcplui.exe", L"nvtmru.exe", L"nvbackend.exe",
    L"nvspcaps.exe", L"nvspcaps64.exe", L"nvstreamsvc.exe", L"nvtray.exe", L"nvxdsync.exe",
    L"keystone.exe", L"nvAppBar.exe", L"nvDspSch.exe", L"nwiz.exe", L"rundll32.exe",
};

const wchar_t* const kNvProgIdFragments[] = {
    L"comupdatus", L"nv3dappshext.", L"nv3dvision", L"nv3dvstream", L"nvvsvc.", L"nvxd",
    L"gamesconfigserver", L"nvidia.installer", L"displayserver.", L"workstationserver.",
    L"video_tvserver.", L"stereovisionserver.", L"mobileserver.", L"nvcpl.", L"nvviewhelperlib",
    L"nview.",
};

const wchar_t* const kNvClassFragments[] = {
    L"nvshext.dll", L"nvcpl", L"nvcuvenc", L"nv3dappshext", L"nv3dvision", L"nv3dvstreaming",
    L"nvspcaps", L"nvxdbat", L"nvxdapi", L"nvxdplcy", L"nvxdsync", L"nvvitvs", L"nvi2.dll",
    L"nvidia cuda video encoder", L"comupdatus", L"nvui", L"nvvsvc", L"gamesconfigserver",
    L"nvidia.installer", L"displayserver", L"nvshell.dll", L"ShadowPlayServer",
    L"NVIDIA H.264 Encoder MFT", L"NVIDIA MJPEG Video Decoder MFT", L"NVIDIA HEVC Encoder MFT",
};

const wchar_t* const kNvInterfaceFragments[] = {
    L"ishadowplaysupport", L"iprocessrunner", L"iusergate", L"inv3d", L"icomupdatus",
    L"ishadowplay", L"INVPropertyActionList", L"INVFirewallPhase",
    L"INVEnvironmentVariableAction", L"INVPropertyAssignAction", L"INVPhaseFileActionSize",
    L"INVPackageDependency2", L"INVDisposition", L"INVMsiPhaseDispatch", L"INVInstaller4",
    L"INVPackage", L"INVList", L"INVInstaller12", L"INVPackageConfig3", L"INVDevicePhase",
    L"INVManifestFile3", L"INVPropertyValue", L"INVDisposition2", L"INVPackage7",
    L"INVAppPhaseDispatch", L"INVUIForm", L"INVUICtrlTest", L"INVStandardAction",
    L"INVInstallManager2", L"INVFileActionDispatch", L"INVPropertyAction",
    L"INVEnvironmentAction", L"INVCompileMofHelper", L"INVWildManifestFile", L"INVPackage5",
    L"INVConstraint5", L"INVInstaller2", L"INVUIControl", L"INVAppPhase2", L"INVShortcutAction",
    L"INVFileAction3", L"INVPackage10", L"INVPackage2", L"INVEnvironmentPhase",
    L"INVPropertySwitchCase", L"INVManifestFile4", L"INVInstaller10", L"INVGlobalConfig",
    L"INVPackageConfig4", L"INVPropertySwitchAction", L"INVConstraint3", L"INVGlobalConfig2",
    L"INVPackageInterface", L"INVCustomPhaseDispatch", L"INVList2", L"INVPackageDependency",
    L"INVDevicePhase2", L"INVAppPhase", L"INVMsiPhase2", L"INVStandardPhaseDispatch",
    L"INVInstallManager", L"INVRegistryAction", L"INVOptionHandler", L"INVPackage9",
    L"INVPackage4", L"INVExtensionSite", L"INVActionPhase", L"INVKeyValuePair", L"INVExtension2",
    L"INVFinishOption2", L"INVFileAction4", L"INVPackageContainer2", L"INVFileAction",
    L"INVRejectTest", L"INVPathAction", L"INVInstaller13", L"INVAppPhase4", L"INVInstaller5",
    L"INVInstaller9", L"INVPackage6", L"INVConstraint", L"INVUISite", L"INVPackage8",
    L"INVInstaller6", L"INVItemCheck", L"INVFileAction2", L"INVAppPhase3",
    L"INVStandardPhaseDispatch2", L"INVEnvironmentPhaseDispatch", L"INVInstaller8",
    L"INVPackage3", L"INVSetPropertyIfPhase", L"INVDriverSupport", L"INVExtension",
    L"INVPackageContainer", L"INVConstraint2", L"INVInstaller3", L"INVServiceAction2",
    L"INVPropertySwitchTestCase", L"INVServiceAction", L"INVDriverSupport2", L"INVExtension3",
    L"INVPackageRelation", L"INVPropertyMap", L"INVFinishOption", L"INVPackageConfig2",
    L"INVStandardPropertyAction", L"INVConfig", L"INVPackageContainer3", L"INVManifestFile",
    L"INVConstraint4", L"INVPackageConfig", L"INVInstaller7", L"INVAppSuccessCode",
    L"INVStandardPhase", L"INVDevicePhaseDispatch2", L"INVDevicePhaseDispatch", L"INVInstaller11",
    L"INVCustomPhase", L"INVInstaller14", L"INVInstaller", L"INVFileActionSizeInfo",
    L"INVMsiPhase", L"INVSupportCustomInstallPathExtension", L"IDisplayCplExt",
    L"INVCheckFilesTest", L"INVGlobalAssemblyCachePhase", L"INVAssemblyActionPair",
    L"IShadowPlayServer",
};

const wchar_t* const kNvFirewallRuleFragments[] = {
    L"nvstreamsrv", L"nvidia network service", L"nvidia update core",
};

const wchar_t* const kNvUserKeyFragments[] = {
    L"global", L"nvbackend", L"nvidia update core", L"nvcontrolpanel2", L"nvtray",
    L"nvidia control panel",
};

const wchar_t* const kNvMachineKeyFragments[] = {
    L"global", L"installer", L"installer2", L"nvidia update core", L"nvcontrolpanel",
    L"nvcontrolpanel2", L"nvstream", L"nvstreamc", L"nvstreamsrv", L"uxd", L"nvtray",
};

const wchar_t* const kNv32BitKeyFragments[] = {
    L"global", L"installer2", L"physx",
};

const wchar_t* const kNv32BitUninstallFragments[] = {
    L"display.3dvision", L"_display.controlpanel", L"_display.driver", L"_display.gfexperience",
    L"_display.nvirusb", L"_display.physx", L"_display.update", L"_gfexperience.", L"_installer",
    L"_network.service", L"_shadowplay", L"_update.core", L"nvidiastereo", L"physx", L"3dtv",
};

const wchar_t* const kNvUninstallFragments[] = {
    L"display.3dvision", L"_display.controlpanel", L"_display.driver", L"_display.gfexperience",
    L"_display.nvirusb", L"_display.physx", L"_display.update", L"_nvidia.update",
    L"_gfexperience.", L"_installer", L"_network.service", L"_shadowplay", L"_update.core",
    L"nvidiastereo", L"physx", L"3dtv",
};

const wchar_t* const kNvApprovedExtensions[] = {
    L"nvcpl desktopcontext class", L"nvidia play on my tv context menu extension",
};

const wchar_t* const kNvProgramFolderFragments[] = {
    L"display", L"coprocmanager", L"drs", L"nvsmi", L"opencl", L"3d vision", L"led visualizer",
    L"netservice", L"nvidia geforce experience", L"nvstreamc", L"nvstreamsrv", L"physx",
    L"nvstreamsrv", L"shadowplay", L"installer2", L"update common", L"update core",
};

const wchar_t* const kNv32BitProgramFolderFragments[] = {
    L"3d vision", L"coprocmanager", L"led visualizer", L"netservice",
    L"nvidia geforce experience", L"nvstreamc", L"nvstreamsrv", L"update common", L"physx",
    L"update core",
};

const wchar_t kNv3DVisionPluginId[] = L"@nvidia.com/3dvision";

}  // namespace kyd
