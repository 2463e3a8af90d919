// The packaged installer list; a newer copy from the download site replaces
// this file at start-up.
var Components = [
    {
        group: "Prerequisites",
        sku: "Pro",
        type: 2 | 32,
        name: "VS2015RedistX64",
        minValue: "14.0.24215",
        registry: { check: true, key: "HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64",
                    value: "Version" },
        registryWOW: { check: true,
                       key: "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64",
                       value: "Version" },
        versionCheck: { check: true, path: "System64Folder", filename: "vcruntime140.dll",
                        version: "14.0.24215.1" },
        estimatedTime: 60,
        files: [{ name: "Redist/vc_redist.x64.exe",
                  url: "https://download.zelvo.com/redist/vc_redist.x64.exe",
                  param: "/install /quiet /norestart", size: 14413048, installSize: 22000000,
                  crc: "", isResumeDownload: true }]
    },
    {
        group: "Prerequisites",
        sku: "Pro",
        type: 1 | 32,
        name: "VS2015RedistX86",
        minValue: "14.0.24215",
        registry: { check: true, key: "HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86",
                    value: "Version" },
        versionCheck: { check: true, path: "SystemFolder", filename: "vcruntime140.dll",
                        version: "14.0.24215.1" },
        estimatedTime: 60,
        files: [{ name: "Redist/vc_redist.x86.exe",
                  url: "https://download.zelvo.com/redist/vc_redist.x86.exe",
                  param: "/install /quiet /norestart", size: 13767776, installSize: 20000000,
                  crc: "", isResumeDownload: true }]
    },
    {
        group: "Product",
        sku: "Pro",
        type: 2 | 8,
        name: "ProductName",
        registry: { check: false, key: "HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0", value: "InstallPath" },
        estimatedTime: 30,
        program: "Brindlemark.exe",
        version: "24_0_0",
        productCode: "{6B1F3C2A-7D4E-4A59-9E21-3C8D5F0A1B24}",
        files: [
            { name: "Brindlemark/x64/Brindlemark.msi",
              url: "https://download.zelvo.com/brindlemark/24.0/$BUILDNUMBER$/x64/Brindlemark.msi",
              param: "/qn REBOOT=ReallySuppress", size: 0, installSize: 310000000, crc: "",
              isResumeDownload: true },
            { name: "Brindlemark/x64/Brindlemark.cab",
              url: "https://download.zelvo.com/brindlemark/24.0/$BUILDNUMBER$/x64/Brindlemark.cab",
              size: 0, crc: "", isResumeDownload: true }
        ]
    },
    {
        group: "Product",
        sku: "Pro",
        type: 1 | 8,
        name: "ProductName",
        registry: { check: false, key: "HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0", value: "InstallPath" },
        estimatedTime: 30,
        program: "Brindlemark.exe",
        version: "24_0_0",
        productCode: "{0E8A4D71-2B6C-4F3E-8A15-7D9C2E4B6F10}",
        files: [
            { name: "Brindlemark/x86/Brindlemark.msi",
              url: "https://download.zelvo.com/brindlemark/24.0/$BUILDNUMBER$/x86/Brindlemark.msi",
              param: "/qn REBOOT=ReallySuppress", size: 0, installSize: 280000000, crc: "",
              isResumeDownload: true },
            { name: "Brindlemark/x86/Brindlemark.cab",
              url: "https://download.zelvo.com/brindlemark/24.0/$BUILDNUMBER$/x86/Brindlemark.cab",
              size: 0, crc: "", isResumeDownload: true }
        ]
    }
];
