(function () {
    var W = Wizard;

    function listNeeded() {
        var list = W.components(), sku = W.edition(), shown = {};
        var ul = $("#prerequisites").empty();
        for (var i = 0; i < list.length; ++i) {
            var c = list[i];
            if (c.sku !== sku || !(c.type & ComponentType.Prerequiste)) continue;
            var bits = c.type & ComponentType.X64 ? "64" : "32";
            if (W.get(c.name + bits) !== "true" || shown[c.name + bits]) continue;
            shown[c.name + bits] = true;
            // The list comes from the download site: its names are text.
            ul.append($("<li>").text(W.t(c.name) || c.name));
        }
    }

    W.page(function () {
        $("#next").click(function () {
            W.activity("Prerequisite_Next");
            W.next();
        });
        $("#back").click(function () {
            W.activity("Prerequisite_Back");
            W.back();
        });
        $("#close").click(function () {
            W.activity("Prerequisite_Close");
            W.setStatus(Config_Status.CANCEL_PREREQ);
            W.closeApp();
        });
        W.loadComponents(function () {
            listNeeded();
            if (W.isSilent()) W.next();
        });
    });
})();
