// The wizard's configuration. The three code tables mirror the native side's
// numbers and must never be renumbered.
var Config_SequencePages = ["Initialization", "Welcome", "Prerequisite", "Agreement", "Analytics",
                            "Downloading", "Installing", "Finish"];
var Config_MultiDownload = true;
// Where the packages go unless the user picks a folder: "Current" (the
// installer's folder), "Desktop" or "Temp".
var Feature_DownloadFolder = "Current";
var Config_OSArchitectureSelection = "Disable";
var Config_Essential = true;
var Config_SupportSelfUpdate = false;
var Config_PatchOption = "Disable";
var Config_ExtractInDownload = false;
var Config_CheckPrerequiste = true;
var Config_MinSupportOS = "Windows 7 SP1";
var Config_MinOSBit = "x86";
var Config_SkipRegistryPage = false;
var Config_ModifyRepairRemove = false;

var Config_Steps = { NotStart: 0, Download: 1, Extract: 2, Install: 3, Current: 0 };

var Config_ErrorHandle = {
    NoError: 0,
    UnknowError: 1,
    FileNotExist: 2,
    DiskFull: 3,
    Failure: 4,
    Abort: 5,
    Md5Error: 6,
    VolumeReadOnly: 7,
    NoNetwork: 8,
    Cancelled: 9,
    Running: 10,
    Reboot: 11,
    HaveInstalled: 12,
    OtherInstalling: 13,
    NewerInstalled: 14
};

var Config_ResumeMode = { NONE: 0, DOWNLOADING: 1, INSTALLING: 2 };

// CANCEL_WELCOME and CANCEL_PREREQ share 9, and nothing is 8.
var Config_Status = {
    NOTSTART: 0,
    COMPLETED: 1,
    ERROR: 2,
    CANCEL: 3,
    ENVIRONMENT_NOT_MEET: 4,
    DOWNLOADED: 5,
    STUB_FAILED: 6,
    REPAIR: 7,
    CANCEL_WELCOME: 9,
    CANCEL_PREREQ: 9,
    CANCEL_AGREEMENT: 10,
    CANCEL_ANALYTICS: 11,
    CANCEL_DOWNLOAD: 12,
    CANCEL_DOWNLOADING: 13,
    CANCEL_INSTALLING: 14,
    CANCEL_BKRUNNING: 15,
    CANCEL_EMBARGO: 16,
    ERROR_DOTNET: 17,
    ERROR_WEBVIEW2: 18,
    ERROR_VSREDIST: 19,
    ERROR_PRODUCT: 20,
    ERROR_DOWNLOAD: 21,
    ERROR_NEWERINSTALLED: 22,
    ERROR_ALREADYINSTALLING: 23
};

// The first entry is the edition when the source id is unknown.
var Config_SourceIDMapping = { "123456": "Pro", "123789": "Std" };

var Config_RegRecorder = {
    Key: "ResumeRecord",
    OS: "OS",
    IsISO: "IsISO",
    Lang: "Lang",
    Directory: "Directory",
    IsDownloadOnly: "IsDownloadOnly",
    DownloadUrl: "DownloadUrl",
    DownloadSize: "DownloadSize",
    Program: "Program",
    Components: "Components",
    SkipAcceptedEula: "skipAcceptedEula",
    GdprOptIn: "GDPR_OPTIN"
};

var Config_ProgressItem = { LastProcess: 0, CurrentProcess: 0, TotalProcess: 1 };

var ComponentType = {
    Inherit: 0,
    X86: 1,
    X64: 2,
    Selectable: 4,
    MustSelect: 8,
    Patch: 16,
    Prerequiste: 32
};

var Config_PostInstallActionType = { APP: 0, URL: 1, CMD: 2 };
var Config_PostInstallActions = [
    { type: Config_PostInstallActionType.APP,
      reg: { key: "HKLM\\SOFTWARE\\Zelvo\\Setup", value: "RunAPP" }, data: "" },
    { type: Config_PostInstallActionType.URL,
      reg: { key: "HKLM\\SOFTWARE\\Zelvo\\Setup", value: "OpenURL" }, data: "" },
    { type: Config_PostInstallActionType.CMD,
      reg: { key: "HKLM\\SOFTWARE\\Zelvo\\Setup", value: "ExecuteCMD" }, data: "" }
];

// Used only when the download URL names one package instead of a list.
var Config_PrerequisteComponents = [
    {
        group: "DotNet",
        sku: "Pro",
        type: ComponentType.X86 | ComponentType.X64 | ComponentType.Prerequiste,
        name: "DotNet",
        minValue: "528040",
        registry: { check: true, key: "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
                    value: "Release" },
        estimatedTime: 120,
        files: [{ name: "DotNet/ndp48-web.exe",
                  url: "https://download.zelvo.com/redist/ndp48-web.exe",
                  param: "/q /norestart", size: 1479400 }]
    }
];

var Track_Properties = {
    STUB_CHANNEL: 0,
    STUB_LANGUAGE: 1,
    PROD_BUILD_NUMBER: 2,
    INSTALL_ANALYTICS: 3,
    INSTALL_LICENSE: 4,
    OFFICE_BIT: 5,
    OFFICE_VERSION: 6,
    MAJOR_VERSION: 7,
    DOWNLOAD_DURATION: 8,
    INSTALL_DURATION: 9,
    DOTNET_UPDATED: 10,
    WEBVIEW_UPDATED: 11
};
