// Modify, Repair or Remove an installed product.
(function () {
    var W = Wizard, E = Config_ErrorHandle, S = Config_Status;

    function product() {
        var list = W.components(), sku = W.edition(), found = null;
        var bit = W.get("osbits") === "64" ? ComponentType.X64 : ComponentType.X86;
        for (var i = 0; i < list.length; ++i) {
            var c = list[i];
            if (c.sku !== sku || c.name !== "ProductName" || !c.productCode) continue;
            if (c.type & bit) return c;
            if (!found) found = c;
        }
        return found;
    }

    function ended(result, doneText) {
        if (result === E.NoError || result === E.Reboot) {
            W.setStatus(S.COMPLETED);
            W.set("errorMessage", doneText);
            W.goTo("Finish");
        } else {
            W.fail(S.ERROR, W.t(W.errorKey(result)));
        }
    }

    function run(option) {
        W.set("uninstallOption", option);
        if (option === "Modify") {
            W.goTo(Config_SequencePages[1]);
            return;
        }
        var c = product(), repairing = option === "Repair";
        if (!c) {
            W.fail(S.ERROR, W.t("unknowError"));
            return;
        }
        $("#options").addClass("hidden");
        $("#next").prop("disabled", true);
        $("#working").removeClass("hidden");
        $("#doing").text(W.t(repairing ? "repairing" : "removing"));
        var finished = false;
        var callback = function (result, total, current) {
            if (finished) return;
            if (result === E.Running) {
                var percent = total > 0 ? Math.min(100, Math.floor(current * 100 / total)) : 0;
                $("#progress").css("width", percent + "%");
                return;
            }
            finished = true;
            ended(result, W.t(repairing ? "repairDone" : "removeDone"));
        };
        // The product's own uninstall entry: the stub's copy would only start itself.
        if (repairing) appExternal.repairProgram(String(c.name), String(c.productCode), callback);
        else appExternal.removeProgram(String(c.name), true, String(c.productCode), callback);
    }

    W.page(function () {
        var preset = W.get("defaultOption").toLowerCase();
        var option = preset === "uninstall" ? "Remove" : preset === "repair" ? "Repair" : "Modify";
        $("input[name=option][value=" + option + "]").prop("checked", true);
        $("#next").click(function () {
            run($("input[name=option]:checked").val() || option);
        });
        $("#close").click(function () {
            W.setStatus(S.CANCEL);
            W.closeApp();
        });
        W.loadComponents(function () {
            if (W.isSilent()) run(option);
        });
    });
})();
