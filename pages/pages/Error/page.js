(function () {
    var W = Wizard;

    W.page(function () {
        if (W.get("Config_Status") === "" || parseInt(W.get("Config_Status"), 10) === Config_Status.NOTSTART) {
            W.setStatus(Config_Status.ERROR);
        }
        if (!W.isResume()) W.guard("undoRunAfterReboot", function () { appExternal.undoRunAfterReboot(); });
        // The message may carry a path or a server's text: never markup.
        $("#errorMessage").text(W.get("errorMessage") || W.t("unknowError"));
        $("#exit").click(function () {
            W.activity("Error_Exit");
            W.closeApp();
        });
        $("#close").click(function () {
            W.activity("Error_Close");
            W.closeApp();
        });
        if (W.isSilent()) W.closeApp();
    });
})();
