(function () {
    var W = Wizard;

    function cancel(activity) {
        W.activity(activity);
        W.setStatus(Config_Status.CANCEL);
        W.closeApp();
    }

    W.page(function () {
        var folder = W.get("installPath") || W.readReg(installParams.REGISTRY.key, installParams.REGISTRY.value);
        $("#folder").text(folder);
        $("#browse").click(function () {
            W.activity("Install_Browse");
            var chosen = String(appExternal.selectFolder(folder) || "");
            if (chosen === "") return;
            // A quote in the folder would break the installer's command line.
            if (chosen.indexOf("\"") >= 0) {
                $("#refused").text(W.t("badFolder"));
                return;
            }
            $("#refused").text("");
            folder = chosen;
            W.set("installPath", chosen);
            $("#folder").text(chosen);
        });
        $("#install").click(function () {
            W.activity("Install_Install");
            W.next();
        });
        $("#cancel").click(function () { cancel("Install_Cancel"); });
        $("#close").click(function () { cancel("Install_Close"); });
        if (W.isSilent()) W.next();
    });
})();
