(function () {
    var W = Wizard;

    function fillLanguages() {
        var select = $("#language").empty();
        var codes = W.languages();
        for (var i = 0; i < codes.length; ++i) {
            var name = Config_StubMultiLangs.regions[codes[i]] || codes[i];
            select.append($("<option>").val(codes[i]).text(name));
        }
        select.val(W.lang());
    }

    function reportStart() {
        W.trackProperty(Track_Properties.STUB_LANGUAGE, W.lang());
        W.trackProperty(Track_Properties.STUB_CHANNEL, installParams.CHNL);
        W.trackProperty(Track_Properties.PROD_BUILD_NUMBER, installParams.VERSION);
        W.trackProperty(Track_Properties.MAJOR_VERSION, installParams.MAJORVERSION);
        W.trackEvent("install.start", "");
    }

    W.page(function () {
        fillLanguages();
        $("#language").change(function () {
            W.useLanguage($(this).val());
            W.trackProperty(Track_Properties.STUB_LANGUAGE, W.lang());
        });
        $("#next").click(function () {
            W.activity("Welcome_Next");
            W.next();
        });
        $("#close").click(function () {
            W.activity("Welcome_Close");
            W.setStatus(Config_Status.CANCEL_WELCOME);
            W.closeApp();
        });
        // Back from a later page does not start the run again.
        if (W.get("startReported") !== "true") {
            W.set("startReported", "true");
            reportStart();
        }
        if (W.isSilent()) W.next();
    });
})();
