(function () {
    var W = Wizard;

    function accepted() {
        W.set("select_agreement", "true");
        W.writeReg(W.productKey(), Config_RegRecorder.SkipAcceptedEula, "true");
        W.trackProperty(Track_Properties.INSTALL_LICENSE, "accepted");
    }

    W.page(function () {
        if (Feature_SkipAcceptedEula &&
            W.readReg(W.productKey(), Config_RegRecorder.SkipAcceptedEula) === "true") {
            // Leave in the direction we came from.
            var from = W.get("lastPage");
            W.set("lastPage", "");
            if (from === "Analytics") W.back();
            else W.next();
            return;
        }
        var source = Feature_EulaMode === "Local" ? "../../eula/EULA_" + W.lang() + ".html"
            : W.replacePlaceholders(Feature_EulaUrl, function (name) { return name === "lang" ? W.lang() : ""; });
        $("#eula").attr("src", source);
        $("#accept").prop("checked", W.get("select_agreement") === "true");
        $("#next").prop("disabled", !$("#accept").prop("checked"));
        $("#accept").change(function () {
            $("#next").prop("disabled", !this.checked);
        });
        $("#next").click(function () {
            W.activity("Agreement_Next");
            accepted();
            W.next();
        });
        $("#back").click(function () {
            W.activity("Agreement_Back");
            W.back();
        });
        $("#close").click(function () {
            W.activity("Agreement_Close");
            W.setStatus(Config_Status.CANCEL_AGREEMENT);
            W.closeApp();
        });
        if (W.isSilent()) {
            accepted();
            W.next();
        }
    });
})();
