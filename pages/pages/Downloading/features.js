var Feature_Secure = false;
var Feature_CheckCrc = false;
var Feature_Resume = true;
