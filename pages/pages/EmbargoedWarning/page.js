(function () {
    var W = Wizard;

    function leave() {
        W.setStatus(Config_Status.CANCEL_EMBARGO);
        W.closeApp();
    }

    W.page(function () {
        // The country comes from the web service.
        $("#country").text(W.get("Country"));
        $("#cancel").click(leave);
        $("#close").click(leave);
        if (W.isSilent()) leave();
    });
})();
