// Downloads every file of every job, one after the other, with one progress
// bar per job.
(function () {
    var W = Wizard, E = Config_ErrorHandle;
    var jobs = [], jobAt = 0, fileAt = 0, plan = null;
    var latest = 0, shownPosition = 0, jobStarted = 0, jobBytesAtStart = 0;
    var started = 0, timer = null, attempt = 0, paused = false;

    function chooseArchitecture() {
        if (W.isResume() && W.get("isDownload64") !== "") return;
        var system64 = W.get("osbits") === "64";
        var choice = W.get("select_type");
        var is64;
        if (Config_OSArchitectureSelection !== "Disable" && (choice === "32" || choice === "64")) {
            is64 = system64 && choice === "64";
        } else {
            is64 = system64 && W.get("officeBits") !== "32";
        }
        W.set("isDownload64", is64 ? "true" : "false");
    }

    function markSelected() {
        if (W.isResume()) return;
        var is64 = W.get("isDownload64") === "true";
        var bit = is64 ? ComponentType.X64 : ComponentType.X86;
        var list = W.components(), sku = W.edition();
        for (var i = 0; i < list.length; ++i) {
            var c = list[i];
            if (c.sku !== sku || (c.type & ComponentType.Prerequiste) || !(c.type & bit)) continue;
            if (W.get(c.name + W.bitsOf(c, is64)) === "") W.set(c.name + W.bitsOf(c, is64), "true");
        }
    }

    function target(file) { return W.joinPath(W.downloadFolder(), file.name); }

    // Sizes the server has to tell; then what is still to fetch.
    function measure() {
        var missing = 0;
        for (var j = 0; j < jobs.length; ++j) {
            var comps = jobs[j].components;
            for (var c = 0; c < comps.length; ++c) {
                var files = comps[c].files;
                for (var f = 0; f < files.length; ++f) {
                    var file = files[f], path = target(file);
                    if (!(Number(file.size) > 0)) {
                        appExternal.createDirectory(W.folderOf(path));
                        appExternal.initDownloadSize(W.expandUrl(file.url), path, Feature_Secure);
                        file.size = Number(W.get("downloadTotal")) || 0;
                    }
                    var have = appExternal.isFileExists(path) ? Number(appExternal.getFileSize(path)) || 0 : 0;
                    missing += Math.max(0, Number(file.size) - have);
                }
            }
        }
        return missing;
    }

    function unsafeName() {
        for (var j = 0; j < jobs.length; ++j) {
            for (var c = 0; c < jobs[j].components.length; ++c) {
                var files = jobs[j].components[c].files;
                for (var f = 0; f < files.length; ++f) {
                    if (!W.isSafeFileName(files[f].name)) return String(files[f].name);
                }
            }
        }
        return null;
    }

    // The job's bytes so far, by the list's sizes.
    function fetched() {
        if (fileAt >= plan.files.length) return plan.total;
        return Math.min(plan.total, plan.files[fileAt].offset + latest);
    }

    function show() {
        if (!plan) return;
        var position = fetched();
        var percent = plan.total > 0 ? Math.floor(position * 100 / plan.total) : 0;
        $("#progress").css("width", percent + "%");
        $("#percent").text(W.t("percent").replace(/%d%/g, percent));
        $("#size").text(W.formatSize(position, W.t("byte")) + " / " + W.formatSize(plan.total, W.t("byte")));
        var seconds = (new Date().getTime() - jobStarted) / 1000;
        var speed = seconds > 0 ? (position - jobBytesAtStart) / seconds : 0;
        if (speed > 0) {
            $("#speed").text(W.formatSize(speed, W.t("byte")) + "/s");
            $("#timeLeft").text(W.formatTimeLeft((plan.total - position) / speed));
        }
        shownPosition = position;
    }

    function startJob() {
        plan = W.jobFiles(jobs[jobAt]);
        fileAt = 0;
        latest = 0;
        jobStarted = new Date().getTime();
        jobBytesAtStart = 0;
        $("#job").text(W.t(jobs[jobAt].group) || jobs[jobAt].group);
        downloadFile();
    }

    function downloadFile() {
        if (fileAt >= plan.files.length) {
            ++jobAt;
            if (jobAt < jobs.length) startJob();
            else finished();
            return;
        }
        var entry = plan.files[fileAt];
        var path = target(entry.file);
        appExternal.createDirectory(W.folderOf(path));
        latest = 0;
        var mine = ++attempt;
        var crc = Feature_CheckCrc ? String(entry.file.crc || "") : "";
        var resume = Feature_Resume && entry.file.isResumeDownload !== false;
        appExternal.download(W.expandUrl(entry.file.url), path, crc, Feature_Secure, resume,
                             function (result, total, current) {
                                 if (mine === attempt) onResult(result, total, current);
                             });
    }

    // A full disk says how much is still to come.
    function failureText(result) {
        if (result !== E.DiskFull) return W.t(W.errorKey(result));
        return diskFullText(plan.total - fetched());
    }

    function diskFullText(bytes) {
        return W.t("diskFull").replace(/\$reqSpace/g, W.formatSize(bytes, W.t("byte")));
    }

    function onResult(result, total, current) {
        if (result === E.Running) {
            latest = Number(current) || 0;
            return;
        }
        ++attempt;  // the file's end: later reports are stale
        if (result === E.NoError) {
            ++fileAt;
            latest = 0;
            downloadFile();
        } else if (result === E.Abort) {
            W.setStatus(Config_Status.CANCEL_DOWNLOADING);
            paused = true;
            $("#pause").addClass("hidden");
            $("#start").removeClass("hidden");
            $("#state").text(W.t("paused"));
        } else if (result === E.HaveInstalled) {
            alreadyInstalled();
        } else {
            stopTimer();
            W.fail(Config_Status.ERROR_DOWNLOAD, failureText(result), function () {
                ++fileAt;
                startTimer();
                downloadFile();
            });
        }
    }

    function alreadyInstalled() {
        stopTimer();
        W.setStatus(Config_Status.COMPLETED);
        W.set("errorMessage", W.t("haveInstalled"));
        W.goTo("Finish");
    }

    function finished() {
        stopTimer();
        show();
        W.trackProperty(Track_Properties.DOWNLOAD_DURATION,
                        String(Math.round((new Date().getTime() - started) / 1000)));
        // The full bar stays a moment for whoever watches; nobody does in a silent run.
        setTimeout(function () {
            if (W.get("isDownloadOnly") === "true") {
                W.setStatus(Config_Status.COMPLETED);
                W.goTo("Finish");
            } else {
                W.next();  // Installing, or the Install page where the sequence has it
            }
        }, W.isSilent() ? 0 : 1000);
    }

    function startTimer() { if (!timer) timer = setInterval(show, 500); }
    function stopTimer() { if (timer) clearInterval(timer); timer = null; }

    function begin() {
        W.downloadFolder();
        chooseArchitecture();
        markSelected();
        jobs = W.jobs();
        if (jobs.length === 0) {
            alreadyInstalled();
            return;
        }
        var bad = unsafeName();
        if (bad !== null) {
            W.fail(Config_Status.ERROR_DOWNLOAD, W.t("badFileName") + " " + bad);
            return;
        }
        var missing = measure();
        var free = Number(appExternal.getDiskAvailableSpace(W.downloadFolder())) || 0;
        if (missing > free) {
            W.fail(Config_Status.ERROR_DOWNLOAD, diskFullText(missing));
            return;
        }
        W.saveResumeRecord();
        started = new Date().getTime();
        jobAt = 0;
        startTimer();
        startJob();
    }

    W.page(function () {
        if (W.isResume() && !W.isSilent()) appExternal.showWindow();
        $("#pause").click(function () {
            W.activity("Downloading_Pause");
            appExternal.stopDownload();
        });
        $("#start").click(function () {
            if (!paused) return;
            W.activity("Downloading_Start");
            paused = false;
            W.setStatus(Config_Status.NOTSTART);
            $("#start").addClass("hidden");
            $("#pause").removeClass("hidden");
            $("#state").text("");
            jobStarted = new Date().getTime();
            jobBytesAtStart = shownPosition;
            downloadFile();
        });
        $("#close").click(function () {
            W.activity("Downloading_Close");
            ++attempt;
            appExternal.stopDownload();
            W.setStatus(Config_Status.CANCEL_DOWNLOADING);
            W.closeApp();
        });
        W.loadComponents(begin);
    });
})();
