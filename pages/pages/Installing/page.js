// Runs every file that has installer parameters, job after job; a restart
// any of them asks for waits until the end.
(function () {
    var W = Wizard, E = Config_ErrorHandle, S = Config_Status;
    var items = [], at = 0, started = 0;
    var rebootPending = false, repairOnly = true, installedAny = false;
    var finished = [];  // components this run installed, as their properties
    var closing = false, busy = false;

    function installFolder(c) {
        var place = c.registry && c.registry.key ? c.registry : installParams.REGISTRY;
        return W.readReg(place.key, place.value);
    }

    function extensionOf(name) {
        var dot = name.lastIndexOf(".");
        return dot >= 0 ? name.substring(dot) : "";
    }

    // "install", "repair" or "newer", from the installed program's version.
    function installedState(c) {
        if (!c.program || !c.version) return "install";
        var folder = installFolder(c);
        if (folder === "") return "install";
        var path = W.joinPath(folder, c.program);
        if (!appExternal.isFileExists(path)) return "install";
        return W.installAction(String(appExternal.getFileVersion(extensionOf(c.program), path) || ""), c.version);
    }

    function plan() {
        var jobs = W.jobs();
        for (var j = 0; j < jobs.length; ++j) {
            var comps = jobs[j].components;
            for (var c = 0; c < comps.length; ++c) {
                var files = comps[c].files, runnable = [];
                for (var f = 0; f < files.length; ++f) {
                    if (files[f].param !== undefined && files[f].param !== null) runnable.push(files[f]);
                }
                for (var r = 0; r < runnable.length; ++r) {
                    items.push({ component: comps[c], file: runnable[r], last: r === runnable.length - 1 });
                }
            }
        }
    }

    function parameters(item, state) {
        var param = W.installParameters(item.file, W.get("installPath"), installParams.EXE_PARAMETERS, state);
        return W.replacePlaceholders(param, W.get);
    }

    function show(current, total) {
        var share = total > 0 ? Math.min(1, current / total) : 0;
        // A late progress tick of a finished package must not pass the end.
        var percent = items.length ? Math.min(100, Math.floor((at + share) * 100 / items.length)) : 100;
        $("#progress").css("width", percent + "%");
        $("#percent").text(W.t("percent").replace(/%d%/g, percent));
    }

    function installNext() {
        if (closing) {
            W.closeApp();
            return;
        }
        if (at >= items.length) {
            done();
            return;
        }
        var item = items[at], c = item.component;
        if (!W.isSafeFileName(item.file.name)) {
            W.fail(S.ERROR, W.t("badFileName") + " " + String(item.file.name));
            return;
        }
        // A quote would end INSTALLDIR early and let the rest through as switches.
        if (W.get("installPath").indexOf("\"") >= 0) {
            W.fail(S.ERROR, W.t("badFolder"));
            return;
        }
        var state = installedState(c);
        if (state === "newer") {
            failed(E.NewerInstalled, item);
            return;
        }
        if (state === "install") repairOnly = false;
        item.state = state;
        if (c.program && appExternal.isRunning(c.program, W.t("runningTitle"), W.t("running"))) {
            W.setStatus(S.CANCEL_BKRUNNING);
            W.closeApp();
            return;
        }
        $("#component").text(W.t(c.name) || c.name);
        show(0, 1);
        busy = true;
        var seconds = Math.round(Number(c.estimatedTime || installParams.ESTIMATED_TIME) || 30);
        var ended = false;
        appExternal.install(W.joinPath(W.get("downloadPath"), item.file.name), parameters(item, state), seconds,
                            function (result, total, current) {
                                if (ended) return;
                                if (result === E.Running) {
                                    show(Number(current) || 0, Number(total) || 0);
                                    return;
                                }
                                ended = true;
                                busy = false;
                                onResult(item, result);
                            });
    }

    function onResult(item, result) {
        if (result === E.Reboot) {
            rebootPending = true;
            W.setStatus(S.COMPLETED);
        } else if (result !== E.NoError && Number(appExternal.getLastInstallError()) !== 1638) {
            failed(result, item);
            return;
        }
        if (item.last) componentDone(item);
        ++at;
        installNext();
    }

    function failed(result, item) {
        W.fail(W.installFailureStatus(result, item.component.name), W.t(W.errorKey(result)), function () {
            ++at;
            installNext();
        });
    }

    function componentDone(item) {
        var c = item.component, is64 = W.get("isDownload64") === "true";
        installedAny = true;
        finished.push(c.name + W.bitsOf(c, is64));
        W.dropFromResumeRecord(c.name + W.bitsOf(c, is64));
        if (c.name === "DotNet") installParams.DOTNET_UPDATED = "yes";
        if (c.name === "WebView2") installParams.WEBVIEW_UPDATED = "yes";
        if (c.program) {
            var folder = installFolder(c);
            if (folder !== "") W.set("startProgram", W.joinPath(folder, c.program));
        }
        if (c.name === "ProductName" && c.productCode && item.state === "install") {
            W.guard("setUninstallRegistryFromStub", function () {
                appExternal.setUninstallRegistryFromStub(String(c.productCode), is64);
            });
        }
    }

    function done() {
        show(1, 1);
        W.trackProperty(Track_Properties.INSTALL_DURATION,
                        String(Math.round((new Date().getTime() - started) / 1000)));
        W.trackProperty(Track_Properties.DOTNET_UPDATED, installParams.DOTNET_UPDATED);
        W.trackProperty(Track_Properties.WEBVIEW_UPDATED, installParams.WEBVIEW_UPDATED);
        if (rebootPending) {
            // What is left after the restart: the chosen components this run
            // has not installed.
            W.saveResumeRecord();
            for (var i = 0; i < finished.length; ++i) W.dropFromResumeRecord(finished[i]);
            appExternal.runAfterReboot("INSTALLING");
            W.setStatus(S.COMPLETED);
            W.trackEvent("install.completed", W.finalStatusText(W.get("Config_Status")));
            if (!W.isSilent()) appExternal.restartSystem(W.t("restartText"), W.t("restartTitle"));
            // closeWindow, not terminateWindow: the final report still goes out.
            W.closeWindow();
            return;
        }
        var repair = repairOnly && installedAny;
        W.setStatus(repair ? S.REPAIR : S.COMPLETED);
        // Nothing is left to resume: no component in the record, no entry that
        // would start the installer again (a resumed run's own entry included).
        W.writeReg(W.resumeKey(), Config_RegRecorder.Components, "");
        W.guard("undoRunAfterReboot", function () { appExternal.undoRunAfterReboot(); });
        W.runPostInstallActions();
        var program = W.get("startProgram");
        if (program !== "" && !W.isSilent() && $("#launch").prop("checked")) {
            appExternal.startProgram(program, "");
        }
        if (!repair && !W.isSilent() && installParams.TYP_URL) {
            var lang = W.lang();
            W.guard("openPage", function () {
                appExternal.openPage(W.replacePlaceholders(installParams.TYP_URL, function (name) {
                    return name === "lang" ? lang : W.get(name);
                }));
            });
        }
        W.closeApp();
    }

    W.page(function () {
        if (W.isResume() && !W.isSilent()) appExternal.showWindow();
        $("#launch").change(function () { W.activity("Installing_Launch"); });
        // A running package cannot be stopped: leave once it ends.
        $("#close").click(function () {
            W.activity("Installing_Close");
            if (!busy) {
                W.setStatus(S.CANCEL_INSTALLING);
                W.closeApp();
                return;
            }
            if (appExternal.confirmMessageBox(W.t("confirmCancelInstall"), W.t("cancel"))) {
                closing = true;
                W.setStatus(S.CANCEL_INSTALLING);
                $("#component").text(W.t("cancelling"));
            }
        });
        W.loadComponents(function () {
            started = new Date().getTime();
            plan();
            installNext();
        });
    });
})();
