// The wizard's pages against the real installer in headless Chromium.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import os from "node:os";
import path from "node:path";
import { test } from "node:test";
import { binDir, launchBrowser, startStub, startWebServiceMock } from "./stub.mjs";
import { pagesDir } from "./wizard-context.mjs";

const jquery = path.join(pagesDir, "node_modules/jquery/dist/jquery.min.js");

// The package as the build stages it, its installer list refreshed from
// `listUrl` instead of the download site, with `edit(folder)` applied.
function stagePages(t, listUrl, edit) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "wizard-pages-"));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  fs.cpSync(pagesDir, folder, {
    recursive: true,
    filter: (source) => !/node_modules|package(-lock)?\.json$/.test(path.relative(pagesDir, source)),
  });
  fs.copyFileSync(jquery, path.join(folder, "common/js/jquery-1.11.2.min.js"));
  rewrite(folder, "config/installparams.js", (text) =>
    text.replace(/DOWNLOAD_URL: "[^"]*"/, `DOWNLOAD_URL: "${listUrl}"`));
  edit?.(folder);
  return folder;
}

function rewrite(folder, file, change) {
  const where = path.join(folder, file);
  fs.writeFileSync(where, change(fs.readFileSync(where, "utf8")));
}

// The download site: `files(base)` maps paths to their bodies; the
// installer list is the packaged one unless given.
async function startSite(t, files = () => ({})) {
  const site = {};
  const server = http.createServer((request, reply) => {
    const body = site[new URL(request.url, "http://x").pathname];
    if (body === undefined) {
      reply.writeHead(404);
      reply.end();
      return;
    }
    reply.writeHead(200, { "Content-Type": "application/octet-stream", "Content-Length": body.length });
    reply.end(request.method === "HEAD" ? undefined : body);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  t.after(() => server.close());
  const base = `http://127.0.0.1:${server.address().port}`;
  Object.assign(site, { "/list/BrindlemarkComponents.js":
                          fs.readFileSync(path.join(pagesDir, "config/BrindlemarkComponents.js")) },
                files(base));
  return { base, listUrl: `${base}/list/BrindlemarkComponents.js` };
}

// Writes registry values for the run before it starts.
function seedRegistry(root, values) {
  for (const [key, name, data] of values) {
    const done = spawnSync(path.join(binDir, "stub-reg"), ["add", key, "/v", name, "/d", data, "/f"],
                           { env: { ...process.env, STUB_REGISTRY_DIR: path.join(root, "registry") } });
    assert.equal(done.status, 0, String(done.stderr));
  }
}

// Sets the mock's reply for a service path.
function putReply(mock, servicePath, body) {
  return new Promise((resolve, reject) => {
    const request = https.request(`${mock.env.STUB_WEBSERVICE_URL}/__reply${servicePath}`,
                                  { method: "PUT", ca: fs.readFileSync(mock.env.STUB_CA_BUNDLE) },
                                  (reply) => { reply.resume(); reply.on("end", resolve); });
    request.on("error", reject);
    request.end(body);
  });
}

async function openWizard(t, { registry = [], site, edit, region, args } = {}) {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  if (region) await putReply(mock, "/v1/isInEmbargoedCountry", region);
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const pages = stagePages(t, (site ?? await startSite(t)).listUrl, edit);
  const stub = await startStub("BrindlemarkInstall-bare",
                               { ...mock.env, STUB_PAGES_DIR: pages, STUB_NETWORK: "online",
                                 LANG: "en_US.UTF-8", LC_ALL: "", LANGUAGE: "" },
                               { prepare: (root) => seedRegistry(root, registry), args });
  t.after(() => stub.stop());
  const page = await browser.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  if (process.env.WIZARD_DEBUG) {
    page.on("console", (m) => console.log("console:", m.text()));
    page.on("pageerror", (e) => console.log("stack:", e.stack));
    page.on("framenavigated", (f) => console.log("nav:", f.url()));
  }
  t.after(() => assert.deepEqual(errors, []));
  await page.goto(stub.url);
  return { mock, stub, page };
}

const onPage = (page, name) => page.waitForFunction((title) => document.title === title &&
  document.readyState === "complete", name, { polling: 50, timeout: 0 });

const runtimes = [
  ["HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64", "Version", "14.40.33810"],
  ["HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86", "Version", "14.40.33810"],
];

test("the start page leads to Welcome, and the user can walk on and back", async (t) => {
  const { page } = await openWizard(t);
  await onPage(page, "Welcome");
  assert.equal(await page.textContent("h1"), "Welcome to Brindlemark 24");

  // Nothing installs the runtimes here: the Prerequisite page lists them.
  await page.click("#next");
  await onPage(page, "Prerequisite");
  assert.deepEqual(await page.$$eval("#prerequisites li", (items) => items.map((item) => item.textContent)),
                   ["Visual C++ Redistributable (x64)", "Visual C++ Redistributable (x86)"]);
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

// A list with one product file to fetch and nothing to run, downloaded into
// the run's temporary folder; no thank-you page opens on the desktop.
function productList(base, fileName, size) {
  return Buffer.from(`var Components = [
    { group: "Product", sku: "Pro", type: 2 | 1, name: "ProductName",
      registry: { check: false, key: "HKLM\\\\SOFTWARE\\\\Zelvo\\\\Brindlemark\\\\24.0", value: "InstallPath" },
      files: [{ name: ${JSON.stringify(fileName)}, url: "${base}/files/data.bin", size: ${size} }] }
  ];`);
}

function downloadToTemp(folder) {
  rewrite(folder, "pages/Downloading/features.js", (text) =>
    text.replace(/Feature_DownloadFolder = "Current"/, 'Feature_DownloadFolder = "Temp"'));
  rewrite(folder, "config/installparams.js", (text) => text.replace(/TYP_URL: "[^"]*"/, 'TYP_URL: ""'));
}

async function walkToDownloading(page) {
  await onPage(page, "Welcome");
  await page.click("#next");
  await onPage(page, "Agreement");
  await page.click("#accept");
  await page.click("#next");
  await onPage(page, "Analytics");
  await page.click("#disagree");
}

// A package and the meta file the download verifies it with.
function packageWithMeta(t, data) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "wizard-package-"));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const file = path.join(folder, "data.bin");
  fs.writeFileSync(file, data);
  const made = spawnSync(path.join(binDir, "stub-meta"), [file]);
  assert.equal(made.status, 0, String(made.stderr));
  return fs.readFileSync(`${file}.meta`);
}

test("the chosen components are downloaded and the run ends completed", async (t) => {
  const data = Buffer.alloc(1536 * 1024);
  for (let i = 0; i < data.length; ++i) data[i] = (i * 31) & 0xFF;
  const meta = packageWithMeta(t, data);
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

const installedProduct = ["HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0", "InstallPath", "/opt/zelvo/brindlemark"];

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
