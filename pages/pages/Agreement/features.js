// "Local": the agreement shipped in eula/; "Internet": Feature_EulaUrl.
var Feature_EulaMode = "Local";
var Feature_EulaUrl = "https://www.zelvo.com/legal/brindlemark/eula-${lang}.html";
// Skip the page when this machine accepted the agreement before.
var Feature_SkipAcceptedEula = false;
