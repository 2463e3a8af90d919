// A newer installer replaces this one; when there is none, or fetching it
// fails, the wizard carries on as it is.
(function () {
    var W = Wizard, E = Config_ErrorHandle;

    function carryOn() { W.startSequence(); }

    W.page(function () {
        $("#close").click(function () {
            W.setStatus(Config_Status.CANCEL);
            W.closeApp();
        });
        var url = String(installParams.UPDATE_STUB_URL || "");
        if (url === "" || !appExternal.isNeedSelfUpdate(url)) {
            carryOn();
            return;
        }
        var timer = setInterval(function () {
            var total = Number(W.get("downloadTotal")) || 0, current = Number(W.get("downloadCurrent")) || 0;
            var percent = total > 0 ? Math.min(100, Math.floor(current * 100 / total)) : 0;
            $("#progress").css("width", percent + "%");
            $("#percent").text(W.t("percent").replace(/%d%/g, percent));
        }, 500);
        var ended = false;
        appExternal.selfUpdate(url, function (result) {
            if (ended || result === E.Running) return;
            ended = true;
            clearInterval(timer);
            if (result === E.NoError) W.closeWindow();
            else carryOn();
        });
    });
})();
