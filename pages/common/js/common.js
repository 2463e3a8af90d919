// Shared wizard code: the pure helpers first (node loads them for tests),
// then navigation, languages, status and resume, which need the page and
// window.external.
var Wizard = (function () {
    "use strict";

    var W = {};

    // ---- Pure helpers ----------------------------------------------------

    // Dotted versions, part by part as integers; on a tie the longer wins.
    W.compareVersion = function (a, b) {
        var left = String(a).split("."), right = String(b).split(".");
        var shared = Math.min(left.length, right.length);
        for (var i = 0; i < shared; ++i) {
            var x = parseInt(left[i], 10) || 0, y = parseInt(right[i], 10) || 0;
            if (x !== y) return x < y ? -1 : 1;
        }
        if (left.length === right.length) return 0;
        return left.length < right.length ? -1 : 1;
    };

    // "${NAME}" becomes the value `lookup(NAME)` gives; an unset one is "".
    W.replacePlaceholders = function (text, lookup) {
        return String(text).replace(/\$\{([A-Za-z0-9_]+)\}/g, function (whole, name) {
            var value = lookup(name);
            return value === undefined || value === null ? "" : String(value);
        });
    };

    W.formatSize = function (bytes, byteText) {
        var value = Number(bytes) || 0;
        if (value < 1024) return Math.floor(value) + " " + (byteText || "Byte");
        var units = ["KB", "MB", "GB"];
        var unit = -1;
        while (value >= 1024 && unit < units.length - 1) {
            value /= 1024;
            ++unit;
        }
        return value.toFixed(2) + " " + units[unit];
    };

    W.formatTimeLeft = function (seconds) {
        var total = Math.max(0, Math.floor(Number(seconds) || 0));
        var hours = Math.min(99, Math.floor(total / 3600));
        var minutes = Math.floor(total % 3600 / 60);
        var rest = total % 60;
        function two(n) { return (n < 10 ? "0" : "") + n; }
        return two(hours) + ":" + two(minutes) + ":" + two(rest);
    };

    W.editionFor = function (sourceId, mapping) {
        var first;
        for (var id in mapping) {
            if (!Object.prototype.hasOwnProperty.call(mapping, id)) continue;
            if (first === undefined) first = mapping[id];
            if (id === String(sourceId)) return mapping[id];
        }
        return first;
    };

    // A list entry's file must stay inside the download folder: no absolute
    // path, no drive, no "..", nothing empty.
    W.isSafeFileName = function (name) {
        if (typeof name !== "string" || name === "") return false;
        if (/^[\\\/]/.test(name) || /^[A-Za-z]:/.test(name) || name.indexOf("\0") >= 0) return false;
        var parts = name.split(/[\\\/]/);
        for (var i = 0; i < parts.length; ++i) {
            if (parts[i] === ".." || parts[i] === "") return false;
        }
        return true;
    };

    // `base` is a native folder; its own separator joins the relative name.
    W.joinPath = function (base, relative) {
        base = String(base);
        var separator = base.indexOf("\\") >= 0 && base.indexOf("/") < 0 ? "\\" : "/";
        var tail = String(relative).replace(/[\\\/]/g, separator);
        if (base === "") return tail;
        var last = base.charAt(base.length - 1);
        return (last === "/" || last === "\\") ? base + tail : base + separator + tail;
    };

    W.folderOf = function (path) {
        var at = Math.max(path.lastIndexOf("/"), path.lastIndexOf("\\"));
        return at > 0 ? path.substring(0, at) : path;
    };

    W.lastPathElement = function (url) {
        var path = String(url).split(/[?#]/)[0];
        return path.substring(path.lastIndexOf("/") + 1);
    };

    W.bitsOf = function (component, is64) {
        var types = ComponentType;
        if (component.type & types.Prerequiste) {
            if (component.type & types.X64) return "64";
            if (component.type & types.X86) return "32";
        }
        return is64 ? "64" : "32";
    };

    // The jobs to download and install, grouped by `group` in order of first
    // appearance. `o` gives the run: sku, is64, skipInstalled, checkPrerequisite,
    // isResume, and the lookups getProperty, setProperty, registryValue.
    W.buildJobs = function (components, o) {
        var types = ComponentType;
        var jobs = [], byGroup = {};
        for (var i = 0; i < components.length; ++i) {
            var c = components[i];
            if (c.sku !== o.sku) continue;
            var prerequisite = (c.type & types.Prerequiste) !== 0;
            var archBit = o.is64 ? types.X64 : types.X86;
            if (!(c.type & archBit) && !prerequisite) continue;
            if (!c.files || c.files.length === 0) continue;
            var key = c.name + W.bitsOf(c, o.is64);
            var skipCheck = !(prerequisite && o.checkPrerequisite) || o.isResume;
            if (o.skipInstalled && skipCheck && c.registry && c.registry.key &&
                o.registryValue(c.registry.key, c.registry.value) !== "") {
                o.setProperty(key, "false");
                continue;
            }
            var chosen = o.getProperty(key);
            if (o.isResume ? chosen !== "true" : (chosen !== "" && chosen !== "true")) continue;
            var job = byGroup[c.group];
            if (!job) {
                job = byGroup[c.group] = { group: c.group, components: [] };
                jobs.push(job);
            }
            job.components.push(c);
        }
        return jobs;
    };

    // Every file of a job with its place in the job's progress: the sizes of
    // the files before it.
    W.jobFiles = function (job) {
        var files = [], offset = 0;
        for (var i = 0; i < job.components.length; ++i) {
            var c = job.components[i];
            for (var j = 0; j < c.files.length; ++j) {
                var size = Number(c.files[j].size) || 0;
                files.push({ component: c, file: c.files[j], offset: offset, size: size });
                offset += size;
            }
        }
        return { files: files, total: offset };
    };

    W.statusTexts = function () {
        var s = Config_Status, cnx = "install.completed=CNX|install.fail-reason=",
            nok = "install.completed=NOK|install.fail-reason=";
        return [
            [s.COMPLETED, "install.completed=OK"],
            [s.REPAIR, "install.completed=Repair"],
            [s.CANCEL, cnx + "UserCanceled"],
            [s.CANCEL_WELCOME, cnx + "CanceledWelcome"],
            [s.CANCEL_PREREQ, cnx + "CanceledPrereq"],
            [s.CANCEL_AGREEMENT, cnx + "CanceledAgreement"],
            [s.CANCEL_ANALYTICS, cnx + "CanceledAnalytics"],
            [s.CANCEL_DOWNLOAD, cnx + "CanceledDownload"],
            [s.CANCEL_DOWNLOADING, cnx + "CanceledDownloading"],
            [s.CANCEL_INSTALLING, cnx + "CanceledInstalling"],
            [s.CANCEL_BKRUNNING, cnx + "CanceledBKRunning"],
            [s.CANCEL_EMBARGO, cnx + "CanceledEmbargo"],
            [s.ERROR_DOTNET, nok + "DotNetFailure"],
            [s.ERROR_WEBVIEW2, nok + "WebView2Failure"],
            [s.ERROR_VSREDIST, nok + "VSRedistFailure"],
            [s.ERROR_PRODUCT, nok + "MSIFailure"],
            [s.ERROR_DOWNLOAD, nok + "DownloadFailure"],
            [s.ERROR_NEWERINSTALLED, nok + "NewerInstalled"],
            [s.ERROR_ALREADYINSTALLING, nok + "AlreadyInstalling"],
            [s.ENVIRONMENT_NOT_MEET, nok + "EnviromentNotMeet"]
        ];
    };

    // The final report's text for a status (a number or its decimal text).
    W.finalStatusText = function (status) {
        var value = parseInt(status, 10);
        var table = W.statusTexts();
        for (var i = 0; i < table.length; ++i) {
            if (table[i][0] === value) return table[i][1];
        }
        return "install.completed=NOK|install.fail-reason=UnknowError";
    };

    W.errorReason = function (code) {
        var e = Config_ErrorHandle;
        var names = [[e.FileNotExist, "FileNotExist"], [e.DiskFull, "DiskFull"],
                     [e.Failure, "Failure"], [e.Md5Error, "Md5Error"],
                     [e.VolumeReadOnly, "VolumeReadOnly"], [e.NoNetwork, "NoNetwork"],
                     [e.HaveInstalled, "HaveInstalled"], [e.OtherInstalling, "OtherInstalling"]];
        for (var i = 0; i < names.length; ++i) {
            if (names[i][0] === code) return names[i][1];
        }
        return "UnknowError";
    };

    // The lang.js key of a result's message.
    W.errorKey = function (code) {
        var e = Config_ErrorHandle;
        var keys = {};
        keys[e.FileNotExist] = "fileNotExist"; keys[e.DiskFull] = "diskFull";
        keys[e.Failure] = "failure"; keys[e.Md5Error] = "md5Error";
        keys[e.VolumeReadOnly] = "volumeReadOnly"; keys[e.NoNetwork] = "noNetwork";
        keys[e.Cancelled] = "cancelled"; keys[e.Abort] = "cancelled"; keys[e.Running] = "running";
        keys[e.HaveInstalled] = "haveInstalled"; keys[e.OtherInstalling] = "otherInstallingText";
        keys[e.NewerInstalled] = "newerInstalled";
        return keys[code] || "unknowError";
    };

    // The status an install result records, by component for unknown errors.
    W.installFailureStatus = function (code, componentName) {
        var e = Config_ErrorHandle, s = Config_Status;
        if (code === e.Cancelled) return s.CANCEL_INSTALLING;
        if (code === e.NewerInstalled) return s.ERROR_NEWERINSTALLED;
        if (code === e.OtherInstalling) return s.ERROR_ALREADYINSTALLING;
        if (code === e.UnknowError) {
            var byName = { DotNet: s.ERROR_DOTNET, WebView2: s.ERROR_WEBVIEW2,
                           VS2015RedistX64: s.ERROR_VSREDIST, ProductName: s.ERROR_PRODUCT };
            if (Object.prototype.hasOwnProperty.call(byName, componentName)) return byName[componentName];
        }
        return s.ERROR;
    };

    // What to do with a component given the installed program's version:
    // "install" (none or older), "repair" (the same) or "newer".
    W.installAction = function (installedVersion, componentVersion) {
        if (!installedVersion || !componentVersion) return "install";
        var order = W.compareVersion(installedVersion, String(componentVersion).replace(/_/g, ".") + ".0");
        return order < 0 ? "install" : order === 0 ? "repair" : "newer";
    };

    // A file's installer parameters before placeholders are replaced; an MSI
    // gets the install folder and the release's extra parameters.
    W.installParameters = function (file, installPath, extra, action) {
        var param = String(file.param);
        if (/\.msi$/i.test(String(file.name))) {
            if (installPath) param += " INSTALLDIR=\"" + installPath + "\"";
            if (extra) param += " " + extra;
        }
        if (action === "repair") param += " _IsMaintenance=Repair";
        return param;
    };

    // The window scale: shrink by 4/5 until the page fits the screen less
    // 100 pixels each way. The window takes whole pixels.
    W.scaleToFit = function (width, height, availWidth, availHeight) {
        var rate = 1.0, w = width, h = height;
        while ((w > availWidth - 100 || h > availHeight - 100) && rate > 0.01) {
            rate *= 0.8;
            w = w * 4 / 5;
            h = h * 4 / 5;
        }
        if (rate === 1.0) rate = 0.9999;
        return { rate: rate, width: Math.round(w), height: Math.round(h) };
    };

    // Languages offered: installParams.LANG, or every language of lang.js.
    W.offeredLanguages = function (params, langs) {
        if (params && params.LANG && params.LANG.length) return params.LANG.slice();
        var all = [];
        for (var code in langs) {
            if (Object.prototype.hasOwnProperty.call(langs, code) && code !== "regions") all.push(code);
        }
        return all;
    };

    // The system's language number as one of `supported`: 0 (unknown) is
    // English, one we do not offer is the first offered.
    W.chooseLanguage = function (osNumber, supported, numberOf) {
        if (osNumber === 0) return supported.indexOf("en") >= 0 ? "en" : supported[0];
        for (var i = 0; i < supported.length; ++i) {
            if (numberOf(supported[i]) === osNumber) return supported[i];
        }
        return supported[0];
    };

    W.text = function (lang, key) {
        var table = Config_StubMultiLangs[lang] || Config_StubMultiLangs.en;
        var value = table[key];
        if (value === undefined) value = Config_StubMultiLangs.en[key];
        return value === undefined ? "" : value;
    };

    // ---- In the page ------------------------------------------------------

    if (typeof window === "undefined" || typeof document === "undefined") return W;

    var ext = function () { return window.appExternal || window.external; };
    var REG64 = true;

    W.log = function (what) {
        if (window.console && console.log) console.log("[wizard] " + what);
    };

    W.get = function (name) {
        var value = ext().getProperty(name);
        return value === undefined || value === null ? "" : String(value);
    };
    W.set = function (name, value) { ext().setProperty(name, String(value)); };

    // The packages' folder: the user's pick, else where Feature_DownloadFolder says.
    W.downloadFolder = function () {
        var folder = W.get("downloadPath");
        if (folder !== "") return folder;
        if (Feature_DownloadFolder === "Desktop") folder = String(ext().getDesktopPath());
        else if (Feature_DownloadFolder === "Temp") folder = String(ext().getTempPath("Brindlemark"));
        else folder = String(ext().getCurrentPath());
        W.set("downloadPath", folder);
        return folder;
    };

    // Reporting never stops the wizard.
    W.guard = function (what, call) {
        try {
            call();
        } catch (e) {
            W.log(what + " failed: " + (e && e.message));
        }
    };
    W.activity = function (name) {
        W.guard("trackUserActivity " + name, function () { ext().trackUserActivity(name); });
    };
    W.trackEvent = function (event, properties) {
        W.guard("trackingByAnalyticsSDK " + event, function () {
            ext().trackingByAnalyticsSDK(event, properties);
        });
    };
    W.trackProperty = function (index, value) {
        W.guard("setTrackingProperty " + index, function () {
            ext().setTrackingProperty(index, String(value));
        });
    };

    var silent;
    W.isSilent = function () {
        if (silent === undefined) silent = ext().isSilentLaunchStub() === true;
        return silent;
    };

    W.isResume = function () { return ext().getResumeMode() !== Config_ResumeMode.NONE; };

    W.setStatus = function (status) {
        ext().setInstallStatus(status);
        W.set("Config_Status", status);
    };

    // The installer may be gone before the call returns: that is the close.
    W.closeWindow = function () {
        W.guard("closeWindow", function () { ext().closeWindow(); });
    };

    W.closeApp = function () {
        W.trackEvent("install.completed", W.finalStatusText(W.get("Config_Status")));
        W.closeWindow();
    };

    W.closeAppWithError = function (code) {
        W.trackEvent("install.completed",
                     "install.completed=NOK|install.fail-reason=" + W.errorReason(code));
        W.closeWindow();
    };

    // Informational boxes are only logged in a silent run.
    W.message = function (text, title) {
        if (W.isSilent()) {
            W.log("message: " + text);
            return;
        }
        ext().messageBox(text, title);
    };

    // ---- Languages ----

    W.languages = function () {
        return W.offeredLanguages(window.installParams, Config_StubMultiLangs);
    };

    // A page changes its language only through useLanguage; progress
    // ticks read texts often, so the page keeps what it read.
    var pageLang = null;
    W.lang = function () {
        if (pageLang === null) {
            var code = W.get("lang");
            pageLang = Config_StubMultiLangs[code] && code !== "regions" ? code : "en";
        }
        return pageLang;
    };

    W.t = function (key) { return W.text(W.lang(), key); };

    W.useLanguage = function (code) {
        pageLang = null;
        W.set("lang", code);
        W.set("selected_lang", code);
        ext().setLang(ext().getParsedInstallLanguage(code));
        W.fillTexts();
    };

    W.chooseDefaultLanguage = function () {
        var supported = W.languages();
        var code = W.chooseLanguage(ext().getOSLang(), supported, function (c) {
            return ext().getParsedInstallLanguage(c);
        });
        W.useLanguage(code);
        return code;
    };

    // Texts come from our own table; they may hold markup of our own.
    W.fillTexts = function () {
        $(".lang[text]").each(function () {
            var key = $(this).attr("text");
            var value = W.t(key);
            if (this.tagName === "INPUT" || this.tagName === "BUTTON") {
                $(this).text(value).val(value);
            } else {
                $(this).text(value);
            }
        });
    };

    // ---- Paths, registry and the resume record ----

    W.resourceLocation = function () { return String(ext().getResourceLocation()); };
    W.resourcePath = function (relative) { return W.joinPath(W.resourceLocation(), relative); };

    W.resumeKey = function () {
        return String(ext().getBaseRegKey()) + "\\" + Config_RegRecorder.Key;
    };
    W.productKey = function () {
        return W.resumeKey() + "\\" + installParams.PRODUCT_FILE_NAME;
    };
    W.readReg = function (key, value) {
        var data = ext().getDataFromReg(key, value);
        return data === undefined || data === null ? "" : String(data);
    };
    W.writeReg = function (key, value, data) {
        return ext().setDataToReg(key, value, String(data), REG64);
    };

    W.selectedComponentsText = function () {
        var text = "";
        var list = W.components();
        var is64 = W.get("isDownload64") === "true";
        for (var i = 0; i < list.length; ++i) {
            var key = list[i].name + W.bitsOf(list[i], is64);
            if (W.get(key) === "true" && text.indexOf(key + ";") < 0) text += key + ";";
        }
        return text;
    };

    W.saveResumeRecord = function () {
        var key = W.resumeKey(), r = Config_RegRecorder;
        W.writeReg(key, r.OS, W.get("isDownload64") === "true" ? "64" : "32");
        W.writeReg(key, r.IsISO, W.get("isISO") === "true" ? "true" : "false");
        W.writeReg(key, r.Lang, W.lang());
        W.writeReg(key, r.Directory, W.get("downloadPath"));
        W.writeReg(key, r.IsDownloadOnly, W.get("isDownloadOnly") === "true" ? "true" : "false");
        if (!Config_MultiDownload) {
            W.writeReg(key, r.DownloadUrl, W.get("downloadUrl"));
            W.writeReg(key, r.DownloadSize, W.get("downloadSize"));
        }
        W.writeReg(key, r.Program, W.get("startProgram"));
        W.writeReg(key, r.Components, W.selectedComponentsText());
    };

    // A resumed run takes its choices back from the record.
    W.loadResumeRecord = function () {
        var key = W.resumeKey(), r = Config_RegRecorder;
        var lang = W.readReg(key, r.Lang);
        if (Config_StubMultiLangs[lang] && lang !== "regions") W.useLanguage(lang);
        else W.chooseDefaultLanguage();
        W.set("isDownload64", W.readReg(key, r.OS) === "64" ? "true" : "false");
        W.set("isISO", W.readReg(key, r.IsISO) === "true" ? "true" : "false");
        W.set("downloadPath", W.readReg(key, r.Directory));
        W.set("isDownloadOnly", W.readReg(key, r.IsDownloadOnly) === "true" ? "true" : "false");
        W.set("startProgram", W.readReg(key, r.Program));
        if (!Config_MultiDownload) {
            W.set("downloadUrl", W.readReg(key, r.DownloadUrl));
            W.set("downloadSize", W.readReg(key, r.DownloadSize));
        }
        var selected = W.readReg(key, r.Components).split(";");
        for (var i = 0; i < selected.length; ++i) {
            if (selected[i] !== "") W.set(selected[i], "true");
        }
    };

    W.dropFromResumeRecord = function (propertyName) {
        var key = W.resumeKey();
        var list = W.readReg(key, Config_RegRecorder.Components).split(";");
        var kept = "";
        for (var i = 0; i < list.length; ++i) {
            if (list[i] !== "" && list[i] !== propertyName) kept += list[i] + ";";
        }
        W.writeReg(key, Config_RegRecorder.Components, kept);
    };

    // ---- The installer list ----

    W.listFileName = function () { return W.lastPathElement(installParams.DOWNLOAD_URL); };

    W.components = function () {
        if (!Config_MultiDownload) return W.singleDownloadComponents();
        return window.Components || [];
    };

    W.singleDownloadComponents = function () {
        var is64 = W.get("isDownload64") === "true";
        var url = String(installParams.DOWNLOAD_URL).replace(/\$\{osbits\}/g, is64 ? "64" : "32")
            .replace(/\$\{lang\}/g, W.lang());
        var main = {
            group: "MainContent", sku: W.edition(), type: ComponentType.X86 | ComponentType.X64,
            name: "MainContent", estimatedTime: installParams.ESTIMATED_TIME,
            files: [{ name: W.lastPathElement(url), url: url, param: "/qn",
                      size: Number(W.get("downloadSize")) || 0, crc: installParams.CRC }]
        };
        return Config_PrerequisteComponents.concat([main]);
    };

    // Loads (again) the installer list from the local config folder.
    W.loadComponents = function (done) {
        if (!Config_MultiDownload) {
            done(true);
            return;
        }
        var root = document.title === "Load" ? "" : "../../";
        var script = document.createElement("script");
        script.src = root + "config/" + encodeURIComponent(W.listFileName()) + "?t=" + new Date().getTime();
        script.onload = function () { done(true); };
        script.onerror = function () {
            W.log("the installer list did not load");
            done(false);
        };
        document.getElementsByTagName("head")[0].appendChild(script);
    };

    // Fetches the current list over the packaged one, then loads it.
    W.refreshComponents = function (done) {
        if (!Config_MultiDownload) {
            W.loadComponents(done);
            return;
        }
        var target = W.resourcePath("config/" + W.listFileName());
        var finished = false;
        ext().updateInstallerList(installParams.DOWNLOAD_URL, target, false, false, function (result) {
            if (finished || result === Config_ErrorHandle.Running) return;
            finished = true;
            if (result !== Config_ErrorHandle.NoError) W.log("installer list not refreshed: " + result);
            W.loadComponents(done);
        });
    };

    W.edition = function () {
        var id = "";
        W.guard("getSourceID", function () { id = String(ext().getSourceID("") || ""); });
        return W.editionFor(id, Config_SourceIDMapping) || installParams.SKU;
    };

    W.jobOptions = function () {
        var resume = W.isResume();
        return {
            sku: W.edition(),
            is64: W.get("isDownload64") === "true",
            skipInstalled: W.get("IsSkipInstalled") !== "false",
            checkPrerequisite: Config_CheckPrerequiste,
            isResume: resume,
            getProperty: W.get,
            setProperty: W.set,
            registryValue: W.readReg
        };
    };

    W.jobs = function () { return W.buildJobs(W.components(), W.jobOptions()); };

    W.expandUrl = function (url) {
        return String(url).replace(/\$BUILDNUMBER\$/g, installParams.VERSION);
    };

    // ---- Navigation ----

    W.pageName = function () { return document.title; };

    W.pageUrl = function (name) {
        return (W.pageName() === "Load" ? "pages/" : "../") + name + "/page.html";
    };

    W.goTo = function (name) { window.location.href = W.pageUrl(name); };

    W.step = function (direction) {
        var sequence = Config_SequencePages;
        var at = sequence.indexOf(W.pageName());
        if (at < 0) {
            W.closeApp();
            return;
        }
        var next = at + direction;
        while (next >= 0 && next < sequence.length && sequence[next] === "Prerequisite" &&
               W.get("skip_prerequisite_page") === "true") {
            next += direction;
        }
        if (next < 0 || next >= sequence.length) {
            W.closeApp();
            return;
        }
        W.goTo(sequence[next]);
    };
    W.next = function () { W.step(1); };
    W.back = function () { W.step(-1); };

    // Error page (or, when failures are not essential, a box and on).
    W.fail = function (status, message, goOn) {
        W.setStatus(status);
        W.set("errorMessage", message);
        if (!Config_Essential && goOn) {
            W.message(message, W.t("error"));
            goOn();
            return;
        }
        W.goTo("Error");
    };

    // The start sequence after the gates: size the window, then the first page
    // or the resumed one.
    W.sizeWindow = function () {
        var fit = W.scaleToFit(655, 513, screen.availWidth, screen.availHeight);
        ext().setWindowSize(fit.width, fit.height);
        return fit;
    };

    W.startSequence = function () {
        W.sizeWindow();
        var mode = ext().getResumeMode();
        if (mode === Config_ResumeMode.NONE) {
            W.goTo(Config_SequencePages[0]);
            return;
        }
        var page = mode === Config_ResumeMode.DOWNLOADING ? "Downloading" : "Installing";
        W.loadResumeRecord();
        if (Config_MultiDownload) {
            ext().hideWindow();
            W.refreshComponents(function () { W.goTo(page); });
        } else {
            W.goTo(page);
        }
    };

    // Post-install actions from the machine's setup key.
    W.runPostInstallActions = function () {
        var types = Config_PostInstallActionType;
        for (var i = 0; i < Config_PostInstallActions.length; ++i) {
            var action = Config_PostInstallActions[i];
            var data = W.readReg(action.reg.key, action.reg.value) || action.data;
            if (!data) continue;
            (function (type, what) {
                W.guard("post-install action", function () {
                    if (type === types.APP) ext().runApplication(what);
                    else if (type === types.URL) ext().openPage(what);
                    else if (type === types.CMD) ext().executeCommand(what);
                });
            })(action.type, data);
        }
    };

    // ---- Page set-up ----

    function applyScale() {
        var fit = W.scaleToFit(655, 513, screen.availWidth, screen.availHeight);
        var body = document.body;
        body.style.transformOrigin = "0 0";
        body.style.transform = "scale(" + fit.rate + ")";
    }

    function useHdpiImages() {
        if ((window.devicePixelRatio || 1) < 1.5) return;
        $("img[src$='.png']").each(function () {
            var src = $(this).attr("src");
            if (src.indexOf("_hdpi.png") < 0) $(this).attr("src", src.replace(/\.png$/, "_hdpi.png"));
        });
    }

    function swallowZoom() {
        var keys = [61, 107, 109, 173, 187, 189];
        document.addEventListener("keydown", function (event) {
            if (event.ctrlKey && keys.indexOf(event.keyCode) >= 0) event.preventDefault();
        }, false);
        // Only a listener that is not passive may refuse the wheel.
        document.addEventListener("wheel", function (event) {
            if (event.ctrlKey) event.preventDefault();
        }, { passive: false });
    }

    var pageSetup;
    W.page = function (setup) { pageSetup = setup; };

    // After load: the host has heard the document is complete before a page
    // can close the window.
    $(window).on("load", function () {
        swallowZoom();
        if (W.pageName() !== "Load") {
            applyScale();
            useHdpiImages();
            W.fillTexts();
        }
        if (pageSetup) pageSetup();
    });

    return W;
})();

if (typeof module !== "undefined" && module.exports) module.exports = Wizard;
