// Every way out of the wizard: a Close on each page and what the run then
// reports, a run resumed after a restart, and a picture of each page.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { binDir, keptLog, launchBrowser, startWebServiceMock, waitFor } from "./stub.mjs";
import {
  activities, downloadToTemp, endStatus, finalReports, installedProduct, metaOf, onPage, openWizard, productList,
  rewrite, runtimes, seedRegistry, stalled, startSite, walkToDownloading,
} from "./wizard-run.mjs";

// One browser window of the installer's size and one web service for all
// runs, one run after the other.
let browser, context, mock;
before(async () => {
  browser = await launchBrowser();
  context = await browser.newContext({ viewport: { width: 655, height: 513 },
                                       screen: { width: 1280, height: 1024 } });
  mock = await startWebServiceMock();
});
after(async () => {
  mock?.stop();
  await browser?.close();
});

// The pictures land beside the GTK test's, for a person to look at.
const shots = path.resolve(binDir, "..", "test-artifacts", "pages");
fs.mkdirSync(shots, { recursive: true });
const shoot = (page, name) => page.screenshot({ path: path.join(shots, `${name}.png`) });

const run = (t, options) => openWizard(t, { context, mock, ...options });

const cnx = (reason) => `install.completed=CNX|install.fail-reason=${reason}`;
const nok = (reason) => `install.completed=NOK|install.fail-reason=${reason}`;
const walked = ["Welcome_Next", "Agreement_Next", "Analytics_Disagree"];

// What the site sends for a download that never ends.
const payload = Buffer.alloc(8 << 20);
for (let i = 0; i < payload.length; ++i) payload[i] = (i * 131) >> 3 & 0xFF;

async function toAgreement(page) {
  await onPage(page, "Welcome");
  await page.click("#next");
  await onPage(page, "Agreement");
}

// A page the shipped sequence never shows, opened once Load has run.
async function jumpTo(page, stub, name) {
  await onPage(page, "Welcome");
  await page.goto(new URL(`pages/${name}/page.html`, stub.url).href);
  await onPage(page, name);
}

const waitText = (page, selector) => page.waitForFunction((s) => document.querySelector(s).textContent !== "",
                                                         selector, { polling: 50, timeout: 0 });

// Each road: how the run is set up and how it reaches the page; after Close,
// the tracker's final text, the activities the service hears and the end
// report's status.
const roads = [
  {
    // The user is to choose 32 or 64 bits before anything else happens.
    name: "Initialization",
    edit: (folder) => rewrite(folder, "config/config.js", (text) =>
      text.replace('Config_OSArchitectureSelection = "Disable"', 'Config_OSArchitectureSelection = "UserOption"')),
    reach: async (page) => {
      await onPage(page, "Initialization");
      await page.waitForSelector("#userOption", { state: "visible" });
    },
    text: cnx("UserCanceled"), activities: ["Initialization_Close"], status: "canceled",
  },
  {
    name: "Welcome", registry: runtimes,
    reach: (page) => onPage(page, "Welcome"),
    text: cnx("CanceledWelcome"), activities: ["Welcome_Close"], status: "",
  },
  {
    // Shares its status with Welcome: the report cannot tell them apart.
    name: "Prerequisite",
    reach: async (page) => {
      await onPage(page, "Welcome");
      await page.click("#next");
      await onPage(page, "Prerequisite");
      await page.waitForSelector("#prerequisites li");
    },
    text: cnx("CanceledWelcome"), activities: ["Welcome_Next", "Prerequisite_Close"], status: "",
  },
  {
    name: "Agreement", registry: runtimes,
    reach: async (page) => {
      await toAgreement(page);
      // The licence text, loaded, for the picture.
      const licence = await waitFor(() => page.frame({ url: /EULA_en\.html$/ }), "the licence's frame");
      await licence.waitForLoadState();
      await licence.waitForSelector("h1");
    },
    text: cnx("CanceledAgreement"), activities: ["Welcome_Next", "Agreement_Close"], status: "",
  },
  {
    name: "Analytics", registry: runtimes,
    reach: async (page) => {
      await toAgreement(page);
      await page.click("#accept");
      await page.click("#next");
      await onPage(page, "Analytics");
    },
    text: cnx("CanceledAnalytics"), activities: ["Welcome_Next", "Agreement_Next", "Analytics_Close"], status: "",
  },
  {
    // Closed while a file is half fetched.
    name: "Downloading", registry: runtimes, edit: downloadToTemp,
    site: (base, t) => ({
      "/list/BrindlemarkComponents.js": productList(base, "Brindlemark/x64/data.bin", payload.length),
      "/files/data.bin": stalled(payload, payload.length / 4),
      "/files/data.bin.meta": metaOf(t, payload),
    }),
    reach: async (page) => {
      await walkToDownloading(page);
      await onPage(page, "Downloading");
      await page.waitForFunction(() => /^[1-9]\d*%$/.test(document.getElementById("percent").textContent),
                                 null, { polling: 50, timeout: 0 });
    },
    text: cnx("CanceledDownloading"), activities: [...walked, "Downloading_Close"], status: "",
  },
  {
    name: "Download", registry: runtimes, edit: downloadToTemp,
    reach: async (page, stub) => {
      await jumpTo(page, stub, "Download");
      await waitText(page, "#space");
    },
    text: cnx("CanceledDownload"), activities: ["Download_Close"], status: "",
  },
  {
    name: "Install", registry: [...runtimes, installedProduct],
    reach: async (page, stub) => {
      await jumpTo(page, stub, "Install");
      await waitText(page, "#folder");
    },
    text: cnx("UserCanceled"), activities: ["Install_Close"], status: "canceled",
  },
  {
    // No disk holds the product.
    name: "Error", registry: runtimes, edit: downloadToTemp,
    site: (base) => ({ "/list/BrindlemarkComponents.js": productList(base, "Brindlemark/x64/data.bin", 2 ** 52) }),
    reach: async (page) => {
      await walkToDownloading(page);
      await onPage(page, "Error");
      await waitText(page, "#errorMessage");
    },
    text: nok("DownloadFailure"), activities: [...walked, "Error_Close"], status: "",
  },
  {
    name: "EmbargoedWarning",
    region: "<result><country>Zembla</country><isEmbargo>true</isEmbargo></result>",
    reach: async (page) => {
      await onPage(page, "EmbargoedWarning");
      await waitText(page, "#country");
    },
    text: cnx("CanceledEmbargo"), activities: [], status: "",
  },
  {
    // Nothing left to fetch: the run is complete before the page shows.
    name: "Finish", registry: [...runtimes, installedProduct], edit: downloadToTemp,
    reach: async (page) => {
      await walkToDownloading(page);
      await onPage(page, "Finish");
    },
    text: "install.completed=OK", activities: [...walked, "Finish_Close"], status: "completed",
  },
  {
    name: "Maintenance", registry: runtimes, args: ["/uninstall"],
    reach: (page) => onPage(page, "Maintenance"),
    text: cnx("UserCanceled"), activities: [], status: "canceled",
  },
  {
    // A newer installer is announced and never arrives.
    name: "SelfUpdate", registry: runtimes,
    site: (base, t) => ({
      "/update/BrindlemarkInstall.exe": stalled(payload, payload.length / 4),
      "/update/BrindlemarkInstall.exe.meta": metaOf(t, payload),
    }),
    edit: (folder, base) => {
      rewrite(folder, "config/config.js", (text) =>
        text.replace("Config_SupportSelfUpdate = false", "Config_SupportSelfUpdate = true"));
      rewrite(folder, "config/installparams.js", (text) =>
        text.replace('UPDATE_STUB_URL: ""', `UPDATE_STUB_URL: "${base}/update/BrindlemarkInstall.exe"`));
    },
    reach: async (page) => {
      await onPage(page, "SelfUpdate");
      await page.waitForFunction(() => /^[1-9]\d*%$/.test(document.getElementById("percent").textContent),
                                 null, { polling: 50, timeout: 0 });
    },
    text: cnx("UserCanceled"), activities: [], status: "canceled",
  },
];

for (const road of roads) {
  test(`Close on ${road.name} reports ${road.text.split("=").pop()}`, async (t) => {
    const site = await startSite(t, road.site && ((base) => road.site(base, t)));
    const edit = road.edit && ((folder) => road.edit(folder, site.base));
    const { stub, page, closeBy } = await run(t, { site, edit, registry: road.registry, region: road.region,
                                                        args: road.args });
    await road.reach(page, stub);
    await shoot(page, road.name);
    await closeBy("#close");
    // A stalled transfer would hold the run until its time-out.
    site.release();
    assert.equal(await stub.exited, 0);

    assert.deepEqual(finalReports(stub), [road.text]);
    assert.equal(await endStatus(mock), road.status);
    const heard = await activities(mock, road.activities.length);
    assert.deepEqual(heard, road.activities);
  });
}

// The record a run leaves when a restart interrupts it before the product's
// package ran, with the package already in its download folder.
const resumeKey = "HKCU\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24\\ResumeRecord";

function setupList(base) {
  return Buffer.from(`var Components = [
    { group: "Product", sku: "Pro", type: 2 | 1, name: "ProductName", estimatedTime: 30,
      registry: { check: false, key: "HKLM\\\\SOFTWARE\\\\Zelvo\\\\Brindlemark\\\\24.0", value: "InstallPath" },
      files: [{ name: "Brindlemark/x64/setup.exe", url: "${base}/files/setup.exe", param: "/quiet", size: 64 }] }
  ];`);
}

// A package that notes its arguments and takes a moment.
function placePackage(root) {
  const folder = path.join(root, "downloads", "Brindlemark", "x64");
  fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, "setup.exe"), `#!/bin/sh
echo "$@" > "${root}/package-arguments"
sleep 2
`, { mode: 0o755 });
  seedRegistry(root, [
    [resumeKey, "OS", "64"], [resumeKey, "IsISO", "false"], [resumeKey, "Lang", "en"],
    [resumeKey, "Directory", path.join(root, "downloads")], [resumeKey, "IsDownloadOnly", "false"],
    [resumeKey, "Program", ""], [resumeKey, "Components", "ProductName64;"],
  ]);
}

test("a run resumed after a restart goes straight to Installing, in view, and completes", async (t) => {
  const site = await startSite(t, (base) => ({ "/list/BrindlemarkComponents.js": setupList(base) }));
  const visited = [];
  const { stub, page } = await run(t, {
    site, registry: runtimes, args: ["RESUME=Installing"], edit: downloadToTemp, prepare: placePackage,
    observe: (page) => page.on("framenavigated", (frame) => {
      if (frame === page.mainFrame()) visited.push(new URL(frame.url()).pathname.split("/pages/").pop());
    }),
  });
  await onPage(page, "Installing");
  await shoot(page, "Installing");
  assert.equal(await stub.exited, 0);

  assert.deepEqual(visited.filter((where) => where !== "about:blank"), ["Load.html", "pages/Installing/page.html"]);
  assert.equal(fs.readFileSync(path.join(stub.root, "package-arguments"), "utf8").trim(), "/quiet");
  // Hidden while the list is refreshed, then shown with the page.
  const log = keptLog(stub);
  assert.ok(log.indexOf("EMHideWindow") >= 0 && log.indexOf("EMHideWindow") < log.indexOf("EMShowWindow"));
  assert.deepEqual(finalReports(stub), ["install.completed=OK"]);
  assert.equal(await endStatus(mock), "completed");
  // The package ran: a later resume has nothing left to run.
  const record = spawnSync(path.join(binDir, "stub-reg"), ["query", resumeKey, "/v", "Components"],
                           { env: { ...process.env, STUB_REGISTRY_DIR: stub.dirs.registry } });
  assert.match(String(record.stdout), /Components\s+REG_SZ\s*$/m);
});
