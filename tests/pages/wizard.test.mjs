// The wizard's pages against the real installer in headless Chromium.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { binDir } from "./stub.mjs";
import { downloadToTemp, installedProduct, metaOf, onPage, openWizard, productList, rewrite, runtimes, startSite,
         walkToDownloading } from "./wizard-run.mjs";

test("the start page leads to Welcome, and the user can walk on and back", async (t) => {
  const { page } = await openWizard(t);
  await onPage(page, "Welcome");
  assert.equal(await page.textContent("h1"), "Welcome to Brindlemark 24");

  // Nothing installs the runtimes here: the Prerequisite page lists them.
  await page.click("#next");
  await onPage(page, "Prerequisite");
  // The list is filled once the installer list has loaded, all at once.
  await page.waitForSelector("#prerequisites li");
  assert.deepEqual(await page.$$eval("#prerequisites li", (items) => items.map((item) => item.textContent)),
                   ["C++ runtime (x64)", "C++ runtime (x86)"]);
  await page.click("#next");
  await onPage(page, "Agreement");
  assert.equal(await page.isDisabled("#next"), true);
  await page.click("#accept");
  await page.click("#next");
  await onPage(page, "Analytics");
  await page.click("#back");
  await onPage(page, "Agreement");
  await page.click("#back");
  await onPage(page, "Prerequisite");
  await page.click("#back");
  await onPage(page, "Welcome");
});

test("with every prerequisite installed, Welcome and Agreement are neighbours", async (t) => {
  const { page } = await openWizard(t, { registry: runtimes });
  await onPage(page, "Welcome");
  await page.click("#next");
  await onPage(page, "Agreement");
  // The licence is the packaged one in the chosen language.
  assert.match(await page.getAttribute("#eula", "src"), /eula\/EULA_en\.html$/);
  await page.click("#back");
  await onPage(page, "Welcome");
});

test("Close on Welcome reports the activity and a cancel on Welcome", async (t) => {
  const { mock, stub, page } = await openWizard(t, { registry: runtimes });
  await onPage(page, "Welcome");
  await page.click("#close");
  assert.equal(await stub.exited, 0);

  const activities = await mock.requests("/v1/logUserActivity", 1);
  assert.deepEqual(activities.map((request) => request.body.match(/<activity>(.*)<\/activity>/)[1]),
                   ["Welcome_Close"]);
  // Status 9 has no text of its own in the service's report: an empty
  // element, where an unrecorded status (0) would read "canceled".
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status><\/status>/);
});

test("choosing another language changes the texts at once and on later pages", async (t) => {
  const { page } = await openWizard(t, { registry: runtimes });
  await onPage(page, "Welcome");
  assert.deepEqual(await page.$$eval("#language option", (options) => options.map((o) => o.value)),
                   ["en", "de", "es", "fr", "zh", "jp"]);
  await page.selectOption("#language", "de");
  await page.waitForFunction(() => document.querySelector("h1").textContent === "Willkommen bei Brindlemark 24",
                             null, { polling: 50, timeout: 0 });
  assert.equal(await page.textContent("#next"), "Weiter");
  await page.click("#next");
  await onPage(page, "Agreement");
  assert.equal(await page.textContent("h1"), "Lizenzvertrag");
  assert.match(await page.getAttribute("#eula", "src"), /EULA_de\.html$/);
});

test("the chosen components are downloaded and the run ends completed", async (t) => {
  const data = Buffer.alloc(1536 * 1024);
  for (let i = 0; i < data.length; ++i) data[i] = (i * 31) & 0xFF;
  const meta = metaOf(t, data);
  const site = await startSite(t, (base) => ({
    "/files/data.bin": data,
    "/files/data.bin.meta": meta,
    "/list/BrindlemarkComponents.js": productList(base, "Brindlemark/x64/data.bin", data.length),
  }));
  const { mock, stub, page } = await openWizard(t, { registry: runtimes, site, edit: downloadToTemp });
  await walkToDownloading(page);
  // The Error page would wait for the user: say what it shows.
  const failure = page.waitForFunction(() => document.title === "Error" && document.readyState === "complete" &&
                                       document.getElementById("errorMessage").textContent,
                                       null, { polling: 100, timeout: 0 })
    .then((text) => text.jsonValue(), () => undefined);
  const end = await Promise.race([stub.exited.then((code) => ({ code })), failure.then((error) => ({ error }))]);
  assert.deepEqual(end, { code: 0 });

  const found = fs.readdirSync(stub.dirs.tmp, { recursive: true })
    .filter((name) => name.endsWith(path.join("Brindlemark", "x64", "data.bin")));
  assert.equal(found.length, 1);
  assert.ok(fs.readFileSync(path.join(stub.dirs.tmp, found[0])).equals(data));
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status>completed<\/status>/);
  const activities = (await mock.requests("/v1/logUserActivity", 3))
    .map((request) => request.body.match(/<activity>(.*)<\/activity>/)[1]);
  assert.deepEqual(activities, ["Welcome_Next", "Agreement_Next", "Analytics_Disagree"]);
});

test("one package from the release's address, with the folder and install pages shown", async (t) => {
  // The package records how it was run beside itself.
  const setup = Buffer.from('#!/bin/sh\necho "$@" > "$0.ran"\n');
  const site = await startSite(t, () => ({ "/files/setup64.exe": setup, "/files/setup64.exe.meta": metaOf(t, setup) }));
  const { mock, stub, page } = await openWizard(t, {
    registry: [...runtimes, ["HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", "Release", "533320"]],
    site,
    edit: (folder) => {
      downloadToTemp(folder);
      rewrite(folder, "config/config.js", (text) => text
        .replace("Config_MultiDownload = true", "Config_MultiDownload = false")
        .replace('"Analytics",\n                            "Downloading", "Installing"',
                 '"Analytics",\n                            "Download", "Downloading", "Install", "Installing"'));
      rewrite(folder, "config/installparams.js", (text) =>
        text.replace(/DOWNLOAD_URL: "[^"]*"/, `DOWNLOAD_URL: "${site.base}/files/setup\${osbits}.exe"`));
    },
  });
  await walkToDownloading(page);
  // The folder the settings name, until the user picks another.
  await onPage(page, "Download");
  const folder = await page.textContent("#folder");
  assert.ok(folder.startsWith(stub.dirs.tmp), folder);
  await page.click("#next");
  await onPage(page, "Install");
  await page.click("#install");
  assert.equal(await stub.exited, 0);
  const ran = fs.readdirSync(stub.dirs.tmp, { recursive: true }).filter((name) => name.endsWith("setup64.exe.ran"));
  assert.equal(ran.length, 1);
  assert.ok(path.join(stub.dirs.tmp, ran[0]).startsWith(folder));
  assert.match(fs.readFileSync(path.join(stub.dirs.tmp, ran[0]), "utf8"), /\/qn/);
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status>completed<\/status>/);
});

test("a list file that would leave the download folder stops the run on the Error page", async (t) => {
  const site = await startSite(t, (base) => ({
    "/list/BrindlemarkComponents.js": productList(base, "../escape.bin", 10),
  }));
  const { mock, stub, page } = await openWizard(t, { registry: runtimes, site, edit: downloadToTemp });
  await walkToDownloading(page);
  await onPage(page, "Error");
  // The name is shown as it stands, as text.
  assert.equal(await page.textContent("#errorMessage"),
               "The installer list names a file outside the download folder: ../escape.bin");
  await page.click("#exit");
  assert.equal(await stub.exited, 0);
  assert.deepEqual(fs.readdirSync(stub.dirs.tmp, { recursive: true }).filter((name) => name.includes("escape")), []);
  const activities = await mock.requests("/v1/logUserActivity", 4);
  assert.equal(activities[3].body.match(/<activity>(.*)<\/activity>/)[1], "Error_Exit");
});

test("with the product installed nothing is fetched and the run ends completed", async (t) => {
  const installed = ["HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0", "InstallPath", "/opt/zelvo/brindlemark"];
  const { mock, stub, page } = await openWizard(t, { registry: [...runtimes, installed], edit: downloadToTemp });
  await walkToDownloading(page);
  await onPage(page, "Finish");
  assert.equal(await page.textContent("#outcome"), "Brindlemark is already installed on this computer.");
  await page.click("#finish");
  assert.equal(await stub.exited, 0);
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status>completed<\/status>/);
});

test("an embargoed country sees the warning, its name as text, and leaves", async (t) => {
  const region = "<result><country>&lt;img src=x onerror=alert(1)&gt;Zembla</country><isEmbargo>true</isEmbargo></result>";
  const { mock, stub, page } = await openWizard(t, { region });
  await onPage(page, "EmbargoedWarning");
  const shown = await page.$eval("#country", (element) => ({ text: element.textContent,
                                                             elements: element.children.length }));
  assert.equal(shown.elements, 0);
  assert.match(shown.text, /img src=x.*Zembla$/);
  await page.click("#cancel");
  assert.equal(await stub.exited, 0);
  // 16 has no text in the service's report; an unrecorded status would be "canceled".
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status><\/status>/);
});

test("a silent run takes every page's default and ends by itself", async (t) => {
  const { mock, stub } = await openWizard(t, { registry: [...runtimes, installedProduct], edit: downloadToTemp,
                                               args: ["/QN"] });
  assert.equal(await stub.exited, 0);
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status>completed<\/status>/);
  // Nobody agreed to analytics.
  const optIn = spawnSync(path.join(binDir, "stub-reg"),
                          ["query", "HKCU\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24\\ResumeRecord\\BrindlemarkInstall.exe",
                           "/v", "GDPR_OPTIN"],
                          { env: { ...process.env, STUB_REGISTRY_DIR: stub.dirs.registry } });
  assert.match(String(optIn.stdout), /GDPR_OPTIN\s+REG_SZ\s+0/);
});

test("started to uninstall, the wizard offers Remove first", async (t) => {
  const { stub, page } = await openWizard(t, { registry: runtimes, args: ["/uninstall"] });
  await onPage(page, "Maintenance");
  assert.equal(await page.$eval("input[name=option]:checked", (input) => input.value), "Remove");
  await page.click("#close");
  assert.equal(await stub.exited, 0);
});
