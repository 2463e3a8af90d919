(function () {
    var W = Wizard;

    function choose(optIn) {
        var choice = optIn ? "opt-in" : "opt-out";
        W.trackEvent("install.analytics", "install.analytics=" + choice);
        W.trackProperty(Track_Properties.INSTALL_ANALYTICS, choice);
        W.writeReg(W.productKey(), Config_RegRecorder.GdprOptIn, optIn ? "1" : "0");
        W.next();
    }

    W.page(function () {
        $("#agree").click(function () {
            W.activity("Analytics_Agree");
            choose(true);
        });
        $("#disagree").click(function () {
            W.activity("Analytics_Disagree");
            choose(false);
        });
        $("#back").click(function () {
            W.activity("Analytics_Back");
            W.set("lastPage", "Analytics");
            W.back();
        });
        $("#close").click(function () {
            W.activity("Analytics_Close");
            W.setStatus(Config_Status.CANCEL_ANALYTICS);
            W.closeApp();
        });
        // Nobody gave consent in a silent run.
        if (W.isSilent()) choose(false);
    });
})();
