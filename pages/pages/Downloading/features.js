// Where the packages go: "Current" (the installer's folder), "Desktop" or "Temp".
var Feature_DownloadFolder = "Current";
var Feature_Secure = false;
var Feature_CheckCrc = false;
var Feature_Resume = true;
