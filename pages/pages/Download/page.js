(function () {
    var W = Wizard;

    function showFolder() {
        var folder = W.downloadFolder();
        $("#folder").text(folder);
        $("#space").text(W.formatSize(appExternal.getDiskAvailableSpace(folder), W.t("byte")));
    }

    W.page(function () {
        showFolder();
        if (!Feature_OfferDownloadOnly) $("#downloadOnly").closest("label").addClass("hidden");
        $("#downloadOnly").prop("checked", W.get("isDownloadOnly") === "true");
        $("#browse").click(function () {
            W.activity("Download_Browse");
            var chosen = String(appExternal.selectFolder(W.get("downloadPath")) || "");
            if (chosen === "") return;
            if (chosen.indexOf("\"") >= 0) {
                W.message(W.t("badFolder"), W.t("error"));
                return;
            }
            W.set("downloadPath", chosen);
            showFolder();
        });
        $("#downloadOnly").change(function () {
            W.activity("Download_DownloadOnly");
            W.set("isDownloadOnly", this.checked ? "true" : "false");
        });
        $("#next").click(function () { W.next(); });
        $("#back").click(function () {
            W.activity("Download_Back");
            W.back();
        });
        $("#close").click(function () {
            W.activity("Download_Close");
            W.setStatus(Config_Status.CANCEL_DOWNLOAD);
            W.closeApp();
        });
        if (W.isSilent()) W.next();
    });
})();
