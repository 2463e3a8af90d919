(function () {
    var W = Wizard;

    function finish() {
        var program = W.get("startProgram");
        if (program !== "" && !W.isSilent() && $("#launch").prop("checked")) {
            appExternal.startProgram(program, "");
        }
        W.closeApp();
    }

    W.page(function () {
        var status = parseInt(W.get("Config_Status"), 10);
        if (status !== Config_Status.COMPLETED && status !== Config_Status.REPAIR) {
            W.setStatus(Config_Status.COMPLETED);
        }
        // A leftover restart entry must not start the installer again later.
        if (!W.isResume()) W.guard("undoRunAfterReboot", function () { appExternal.undoRunAfterReboot(); });
        var downloadOnly = W.get("isDownloadOnly") === "true";
        var message = W.get("errorMessage");
        $("#outcome").text(message !== "" ? message : W.t(downloadOnly ? "finishDownloaded" : "finishText"));
        if (W.get("startProgram") === "" || downloadOnly) $("#launchOption").addClass("hidden");
        $("#launch").change(function () { W.activity("Finish_Launch"); });
        $("#finish").click(function () {
            W.activity("Finish_Finish");
            finish();
        });
        $("#close").click(function () {
            W.activity("Finish_Close");
            W.closeApp();
        });
        if (W.isSilent()) W.closeApp();
    });
})();
