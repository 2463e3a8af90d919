// Language, the installer list and which prerequisites are missing; then on.
(function () {
    var W = Wizard;

    var OFFICE_KEY = "HKLM\\SOFTWARE\\Microsoft\\Office";
    var OFFICE_APPS = "Word\\InstallRoot;PowerPoint\\InstallRoot;Excel\\InstallRoot;Outlook\\InstallRoot;" +
        "MS Project\\InstallRoot;SharePoint Designer\\InstallRoot";

    function startBillboards() {
        var count = 0;
        while (appExternal.isFileExists(W.resourcePath("common/img/billboards/billboards" + (count + 1) + ".png"))) {
            ++count;
        }
        if (count < 2) return;
        var hdpi = (window.devicePixelRatio || 1) >= 1.5;
        var shown = 1;
        setInterval(function () {
            shown = shown % count + 1;
            $("#billboard").attr("src", "../../common/img/billboards/billboards" + shown + (hdpi ? "_hdpi" : "") + ".png");
        }, 2000);
    }

    function officeBits() {
        if (appExternal.searchRegKey(false, OFFICE_KEY, OFFICE_APPS, "path")) return "32";
        if (appExternal.searchRegKey(true, OFFICE_KEY, OFFICE_APPS, "path")) return "64";
        return "none";
    }

    function registryShowsInstalled(place, minValue) {
        if (!place || !place.key) return false;
        var data = W.readReg(place.key, place.value);
        if (data === "") return false;
        return !(place.check && minValue) || W.compareVersion(data, minValue) >= 0;
    }

    function fileShowsInstalled(check) {
        if (!check || !check.check || !check.filename) return false;
        var folder = check.path;
        if (folder === "System64Folder") folder = String(appExternal.getSystemFolderEx());
        else if (folder === "SystemFolder") folder = String(appExternal.getSystemFolder());
        var name = String(check.filename);
        var dot = name.lastIndexOf(".");
        var version = String(appExternal.getFileVersionEx(dot >= 0 ? name.substring(dot) : "",
                                                          W.joinPath(folder, name)) || "");
        return version !== "" && W.compareVersion(version, check.version) >= 0;
    }

    // Marks each prerequisite of the edition needed ("true") or not.
    function checkPrerequisites(office) {
        var system64 = W.get("osbits") === "64";
        var sku = W.edition();
        var list = W.components(), needed = 0;
        for (var i = 0; i < list.length; ++i) {
            var c = list[i];
            if (c.sku !== sku || !(c.type & ComponentType.Prerequiste)) continue;
            var bits = c.type & ComponentType.X64 ? "64" : "32";
            var need;
            if (bits === "64" && !system64) need = false;
            else if (bits === "64" && c.office32BitCheck && office !== "32") need = false;
            else need = !(registryShowsInstalled(c.registry, c.minValue) ||
                          registryShowsInstalled(c.registryWOW, c.minValue) ||
                          fileShowsInstalled(c.versionCheck));
            if (!c.files || c.files.length === 0) need = false;
            W.set(c.name + bits, need ? "true" : "false");
            if (need) ++needed;
        }
        W.set("skip_prerequisite_page", needed === 0 ? "true" : "false");
    }

    function productInstalled() {
        var list = W.components(), sku = W.edition();
        for (var i = 0; i < list.length; ++i) {
            var c = list[i];
            if (c.sku === sku && c.name === "ProductName" && c.registry && c.registry.key &&
                W.readReg(c.registry.key, c.registry.value) !== "") return true;
        }
        return false;
    }

    function goOn() {
        var office = officeBits();
        W.set("officeBits", office);
        W.trackProperty(Track_Properties.OFFICE_BIT, office);
        var version = "";
        W.guard("getOfficeVersion", function () {
            version = String(appExternal.getOfficeVersion(office === "64") || "");
        });
        W.trackProperty(Track_Properties.OFFICE_VERSION, version);
        if (Config_CheckPrerequiste) checkPrerequisites(office);
        else W.set("skip_prerequisite_page", "false");
        if (appExternal.isUninstallModeLaunch() || (Config_ModifyRepairRemove && productInstalled())) {
            W.goTo("Maintenance");
        } else {
            W.next();
        }
    }

    W.page(function () {
        W.chooseDefaultLanguage();
        startBillboards();
        W.set("isISO", "false");
        if (W.get("IsSkipInstalled") === "") W.set("IsSkipInstalled", "true");
        $("#close").click(function () {
            W.activity("Initialization_Close");
            W.setStatus(Config_Status.CANCEL);
            W.closeApp();
        });
        var proceed = function () { W.refreshComponents(goOn); };
        // The user picks 32 or 64 bits before anything else happens.
        if (Config_OSArchitectureSelection === "UserOption" && W.get("osbits") === "64" && !W.isSilent()) {
            $("#userOption").removeClass("hidden");
            $("input[name=arch]").change(function () {
                W.activity("Initialization_UserOption");
                W.set("select_type", $(this).val());
                $("input[name=arch]").prop("disabled", true);
                proceed();
            });
        } else {
            proceed();
        }
    });
})();
