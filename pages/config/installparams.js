var installParams = {
    LANG: ["en", "de", "es", "fr", "zh", "jp"],
    DOWNLOAD_URL: "https://download.zelvo.com/brindlemark/24.0/installer/BrindlemarkComponents.js",
    UPDATE_STUB_URL: "",
    CRC: "",
    ESTIMATED_TIME: 30,
    CHNL: "retail",
    SKU: "Pro",
    PRODUCT_FILE_NAME: "BrindlemarkInstall.exe",
    TYP_URL: "https://www.zelvo.com/brindlemark/thank-you?lang=${lang}",
    EXE_PARAMETERS: "",
    VERSION: "24.0.0.0",
    MAJORVERSION: "24.0",
    DOTNET_UPDATED: "no",
    WEBVIEW_UPDATED: "no",
    REGISTRY: {
        key: "HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0",
        value: "InstallPath"
    }
};
