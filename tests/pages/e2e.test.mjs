// The packed installer against the demo release, end to end: each scenario
// on a scratch machine of its own, clicked through in headless Chromium.
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import {
  PRODUCT_X64, RUN_ONCE_KEY, STUB_KEY, TRACKER_COLLECT, UNINSTALL_KEY, buildRelease, createMachine,
  execArguments, makeTop, releaseRequests, runInstaller, startReleaseServer, userActions,
} from "./e2e-release.mjs";
import { launchBrowser } from "./stub.mjs";

const RUNTIME_KEY = "HKLM\\SOFTWARE\\Zelvo\\BrindlemarkRuntime";
const PRODUCT_KEY = "HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0";
const RESUME_KEY = `${STUB_KEY}\\ResumeRecord`;
const PRODUCT_FILES = ["Brindlemark.exe", "readme.txt", "sample.bmk"];

let top;
let server;
let browser;
const releases = {};
const machines = [];

before(async () => {
  top = makeTop();
  const root = path.join(top, "release");
  fs.mkdirSync(root);
  server = await startReleaseServer(root);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  for (const machine of machines) machine.stop();
  server?.stop();
  if (!process.env.E2E_KEEP) fs.rmSync(top, { recursive: true, force: true });
});

// One build per kind of release, made when a scenario first needs it.
function release(name, options) {
  releases[name] ??= buildRelease(server, name, options);
  return releases[name];
}

async function machine(name, from = release("main")) {
  const made = await createMachine(top, name, from);
  machines.push(made);
  return made;
}

// The value's data in whichever view the program wrote it.
function anyView(computer, key, value) {
  return computer.reg(key, value, "/reg:64") ?? computer.reg(key, value, "/reg:32");
}

function field(body, name) {
  return body.match(new RegExp(`<${name}>([^<]*)</${name}>`))?.[1];
}

async function reports(computer) {
  return (await computer.received("/v1/logAnalytics")).map((request) => ({
    status: field(request.body, "status"), token: field(request.body, "requestToken"),
    machineId: field(request.body, "machineId"),
  }));
}

async function trackerEvents(computer) {
  return (await computer.received(TRACKER_COLLECT)).map((request) => JSON.parse(request.body));
}

// `"program" arguments...` of a registry command line, as the desktop runs it.
function commandLine(text) {
  const match = text.trim().match(/^"([^"]+)"\s*(.*)$/);
  assert.ok(match, `not a quoted command line: ${text}`);
  return { program: match[1], args: match[2].split(/\s+/).filter(Boolean) };
}

function productInstalled(computer) {
  for (const file of PRODUCT_FILES) {
    assert.ok(fs.existsSync(path.join(computer.programFiles, file)),
              `${file} is not installed; the end of the log:\n${computer.keptLog().slice(-3000)}`);
  }
  assert.match(fs.readFileSync(path.join(computer.programFiles, "readme.txt"), "utf8"), /\(x64\)/);
  assert.equal(fs.existsSync(path.join(computer.dirs.root, "Program Files (x86)/Zelvo/Brindlemark")), false);
  assert.equal(computer.reg(PRODUCT_KEY, "InstallPath"), `${computer.programFiles}/`);
}

// TMPDIR keeps the installer's log folder and the tracker log its settings
// ask for; packages extracted there are gone.
function onlyLogsLeft(computer) {
  const left = fs.readdirSync(computer.dirs.tmp).filter((name) => !/^productanalytics_\d{8}\.log$/.test(name));
  assert.deepEqual(left, ["Brindlemark_log"]);
}

// The pages after the start pages, which only get the installer ready.
const shown = (run) => run.titles.filter((title) => title !== "Load" && title !== "Initialization");

function silentlyInstall(computer, args = ["/QN"]) {
  return runInstaller(browser, computer, { args, actions: {} });
}

test("a full install goes through every page and leaves the product, its entry and its reports", async () => {
  const computer = await machine("full");
  const run = await runInstaller(browser, computer);
  assert.equal(run.code, 0, run.output);
  assert.deepEqual(shown(run), ["Welcome", "Prerequisite", "Agreement", "Analytics", "Downloading", "Installing"]);
  assert.deepEqual(run.errors, []);

  productInstalled(computer);
  assert.equal(anyView(computer, RUNTIME_KEY, "Version"), "4.8");
  // The content pack's setup ran from its extraction folder, which is gone.
  assert.match(fs.readFileSync(computer.contentRecord, "utf8"), /^\/silent\n\/bits64=true$/m);
  assert.ok(fs.existsSync(path.join(computer.programFiles, "Content/Templates/letter.bmk")));
  const setup = computer.keptLog().match(/Install "([^"]+)\/setup\.exe"/);
  assert.ok(setup, "the log names the content pack's setup");
  assert.equal(fs.existsSync(setup[1]), false, `${setup[1]} is left`);
  onlyLogsLeft(computer);

  // Each package after its meta file, in ranges.
  const requests = releaseRequests(await server.stats(), releases.main);
  for (const file of ["prereq/BrindlemarkRuntimeSetup.exe", "24.0.0.0/x64/Brindlemark-x64.msi",
                      "content/BrindlemarkContent.zip"]) {
    const meta = requests.findIndex((request) => request.file === `${file}.meta`);
    const body = requests.findIndex((request) => request.file === file && /^bytes=\d+-\d*$/.test(request.range ?? ""));
    assert.ok(meta >= 0 && body > meta, `${file}: ${JSON.stringify(requests)}`);
  }
  assert.equal(requests.some((request) => request.file.includes("/x86/")), false);

  const sent = await reports(computer);
  assert.deepEqual(sent.map((report) => report.status), ["started", "completed"]);
  assert.equal(sent[0].token, sent[1].token);
  assert.match(sent[0].machineId, /^[0-9a-f]{64}$/);
  assert.equal(sent[1].machineId, sent[0].machineId);
  const activities = (await computer.received("/v1/logUserActivity")).map((request) => field(request.body, "activity"));
  assert.deepEqual(activities, ["Welcome_Next", "Prerequisite_Next", "Agreement_Next", "Analytics_Agree"]);

  const events = await trackerEvents(computer);
  assert.deepEqual(events.map((event) => event.eventName), ["install.start", "install.analytics", "install.completed"]);
  assert.equal(events[1].eventData["install.analytics"], "opt-in");
  assert.equal(events[2].eventData["install.completed"], "OK");
  assert.match(computer.keptLog(), /install\.completed=OK/);

  assert.equal(computer.reg(`${RESUME_KEY}\\BrindlemarkInstall.exe`, "GDPR_OPTIN"), "1");
  const entry = `${UNINSTALL_KEY}\\${PRODUCT_X64}`;
  const uninstall = commandLine(computer.reg(entry, "UninstallString"));
  assert.deepEqual(uninstall.args, ["/uninstall"]);
  assert.ok(fs.existsSync(uninstall.program), "the uninstall entry's program is there");
  assert.equal(computer.reg(entry, "DisplayName"), "Brindlemark");
  assert.match(run.output, /The browser would open http:\/\/127\.0\.0\.1:\d+\/main\/typ\/thankyou\.html\?lang=en/);
  // Installing's "start Brindlemark" was left on.
  assert.match(fs.readFileSync(computer.productRuns, "utf8"), /^started/m);
});

test("a prerequisite that asks for a restart resumes on Installing from the recorded command", async (t) => {
  const restart = release("restart", { options: ["--prereq-restart"] });
  const computer = await machine("restart", restart);
  const first = await runInstaller(browser, computer, { env: { STUB_DIALOG_ANSWERS: "ok" } });
  assert.equal(first.code, 0, first.output);
  assert.equal(first.titles.at(-1), "Installing");
  assert.equal(anyView(computer, RUNTIME_KEY, "Version"), "4.8");
  assert.match(fs.readFileSync(computer.restarts, "utf8"), /^restart asked$/m);

  const recorded = computer.reg(RUN_ONCE_KEY, "Brindlemark_24", "/reg:64");
  assert.ok(recorded, computer.regTree(RUN_ONCE_KEY));
  const command = commandLine(recorded);
  assert.equal(command.program, computer.installer);
  assert.deepEqual(command.args, ["RESUME=INSTALLING"]);
  const [entry] = computer.autostartEntries();
  assert.equal(entry, "Brindlemark_24.desktop");
  const exec = fs.readFileSync(path.join(computer.dirs.config, "autostart", entry), "utf8")
    .match(/^Exec=(.*)$/m)[1];
  const [shell, ...shellArgs] = execArguments(exec);
  // The entry removes itself, then runs the recorded command.
  assert.deepEqual(shellArgs.slice(-2), [command.program, ...command.args]);
  // The record is there; every component was installed before the restart,
  // so none is left in it.
  assert.equal(computer.reg(RESUME_KEY, "OS"), "64", computer.regTree(STUB_KEY));
  assert.equal(computer.reg(RESUME_KEY, "Components"), "", computer.regTree(STUB_KEY));

  // After the restart the desktop starts the entry.
  const resumed = await runInstaller(browser, computer, { program: shell, args: shellArgs });
  assert.equal(resumed.code, 0, resumed.output);
  assert.deepEqual(shown(resumed), ["Installing"]);
  assert.deepEqual([...first.errors, ...resumed.errors], []);
  productInstalled(computer);
  assert.ok(fs.existsSync(path.join(computer.programFiles, "Content/Fonts/brindle.fnt")));
  assert.deepEqual(computer.autostartEntries(), []);
  assert.equal(fs.readFileSync(computer.restarts, "utf8").trim().split("\n").length, 1);
  onlyLogsLeft(computer);
  const pending = computer.reg(RESUME_KEY, "Components") ?? "";
  const runOnce = computer.reg(RUN_ONCE_KEY, "Brindlemark_24", "/reg:64");
  await t.test("the finished resume leaves no record of work to resume", () => {
    assert.equal(pending, "");
    assert.equal(runOnce, null);
  });
});

test("a silent run installs with no click and no consent", async () => {
  const computer = await machine("silent");
  const run = await silentlyInstall(computer);
  assert.equal(run.code, 0, run.output);
  productInstalled(computer);
  assert.equal(computer.reg(`${RESUME_KEY}\\BrindlemarkInstall.exe`, "GDPR_OPTIN"), "0");
  assert.deepEqual(await computer.received("/v1/logUserActivity"), []);
  const events = await trackerEvents(computer);
  assert.equal(events.find((event) => event.eventName === "install.analytics")
    ?.eventData["install.analytics"], "opt-out");
  assert.deepEqual((await reports(computer)).map((report) => report.status), ["started", "completed"]);
  assert.doesNotMatch(run.output, /The browser would open/);
  onlyLogsLeft(computer);
});


test("the uninstall entry's command opens the Maintenance page to repair and remove", async (t) => {
  const computer = await machine("maintenance");
  assert.equal((await silentlyInstall(computer)).code, 0);
  const { program, args } = commandLine(computer.reg(`${UNINSTALL_KEY}\\${PRODUCT_X64}`, "UninstallString"));

  // Repair: the page opens on Remove; the user picks Repair.
  const readme = path.join(computer.programFiles, "readme.txt");
  fs.rmSync(readme);
  let preset = null;
  const repaired = await runInstaller(browser, computer, {
    program, args, actions: {
      ...userActions,
      Maintenance: async (page) => {
        preset = await page.$eval("input[name=option]:checked", (input) => input.value);
        await page.check("input[value=Repair]");
        await page.click("#next");
      },
    },
  });
  assert.equal(repaired.code, 0, repaired.output);
  assert.equal(preset, "Remove");
  assert.equal(shown(repaired)[0], "Maintenance");
  assert.deepEqual(repaired.errors, []);
  const repairReport = (await reports(computer)).at(-1).status;
  await t.test("the repair restores a deleted file", () => {
    assert.deepEqual(shown(repaired), ["Maintenance", "Finish"]);
    assert.ok(fs.existsSync(readme), "the repair restores readme.txt");
    assert.equal(repairReport, "repair completed");
  });

  // Remove, as the entry asks.
  const removed = await runInstaller(browser, computer, { program, args, actions: {
    ...userActions, Maintenance: (page) => page.click("#next"),
  } });
  assert.equal(removed.code, 0, removed.output);
  assert.equal(shown(removed)[0], "Maintenance");
  const removeReport = (await reports(computer)).at(-1).status;
  await t.test("the removal takes the product away", () => {
    assert.deepEqual(shown(removed), ["Maintenance", "Finish"]);
    for (const file of PRODUCT_FILES) {
      assert.equal(fs.existsSync(path.join(computer.programFiles, file)), false, `${file} is left`);
    }
    assert.equal(computer.reg(PRODUCT_KEY, "InstallPath"), null);
    assert.equal(computer.reg(`${UNINSTALL_KEY}\\${PRODUCT_X64}`, "UninstallString"), null);
    assert.equal(removeReport, "remove completed");
  });
});

test("a package the server does not have ends on the Error page with a download failure", async () => {
  const faulty = release("missing");
  // Only the content pack is missing from the list the installer fetches.
  const list = path.join(faulty.folder, "installer/BrindlemarkComponents.js");
  fs.writeFileSync(list, fs.readFileSync(list, "utf8")
    .replace(/"url": "(http:\/\/[^/]+)(\/missing\/content\/)/, '"url": "$1/f/status=404$2'));
  const computer = await machine("missing", faulty);
  const run = await runInstaller(browser, computer);
  assert.equal(run.titles.at(-1), "Error", run.titles.join(" "));
  assert.match(run.texts.Error, /The installation did not complete/);
  assert.deepEqual(run.errors, []);
  assert.match(computer.keptLog(), /install\.completed=NOK\|install\.fail-reason=DownloadFailure/);
  assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
  const events = await trackerEvents(computer);
  assert.equal(events.at(-1).eventName, "install.completed");
  assert.equal(events.at(-1).eventData["install.completed"], "NOK");
  assert.notEqual((await reports(computer)).at(-1).status, "completed");
});

// The names of the files in a ZIP, from its central directory.
function zipNames(bytes) {
  const names = [];
  const end = bytes.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  assert.ok(end >= 0, "not a ZIP");
  let at = bytes.readUInt32LE(end + 16);
  for (let i = bytes.readUInt16LE(end + 10); i > 0; --i) {
    const length = bytes.readUInt16LE(at + 28);
    names.push(bytes.subarray(at + 46, at + 46 + length).toString("latin1"));
    at += 46 + length + bytes.readUInt16LE(at + 30) + bytes.readUInt16LE(at + 32);
  }
  return names;
}

test("a product whose install fails ends on the Error page and reports both logs", async () => {
  const computer = await machine("msi-fails", release("msi-fails", { options: ["--msi-fail"] }));
  const run = await runInstaller(browser, computer);
  assert.equal(run.titles.at(-1), "Error", run.titles.join(" "));
  assert.deepEqual(run.errors, []);
  // The prerequisite before it stays installed; the product left nothing.
  assert.equal(anyView(computer, RUNTIME_KEY, "Version"), "4.8");
  assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
  assert.equal(computer.reg(PRODUCT_KEY, "InstallPath"), null);
  assert.equal(anyView(computer, `${UNINSTALL_KEY}\\${PRODUCT_X64}`, "DisplayName"), null);
  // A failed MSI (1603) is a Failure, which has no status of its own: ERROR.
  const events = await trackerEvents(computer);
  assert.equal(events.at(-1).eventData["install.fail-reason"], "UnknowError");
  assert.equal((await reports(computer)).at(-1).status, "error occurred");
  // The error report carries the installer's log and the product's own.
  const [report] = await computer.received("/v1/reportError");
  assert.ok(report, "no error report");
  const names = zipNames(Buffer.from(report.body, "latin1"));
  assert.ok(names.some((name) => /^installer_log_/.test(name)), names.join(" "));
  assert.ok(names.some((name) => /^log_\d{14}\.txt$/.test(name)), names.join(" "));
});

test("a product program still running is asked about, and Cancel ends the run before the product", async (t) => {
  // Any process of that name counts, as on Windows.
  const computer = await machine("running");
  const program = path.join(computer.root, "Brindlemark.exe");
  fs.copyFileSync("/bin/sleep", program);
  fs.chmodSync(program, 0o755);
  const running = spawn(program, ["600"], { stdio: "ignore" });
  t.after(() => running.kill("SIGKILL"));
  const run = await runInstaller(browser, computer, { env: { STUB_DIALOG_ANSWERS: "retry,cancel" } });
  assert.equal(run.code, 0, run.output);
  assert.equal(run.titles.at(-1), "Installing", run.titles.join(" "));
  assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
  const events = await trackerEvents(computer);
  assert.equal(events.at(-1).eventData["install.fail-reason"], "CanceledBKRunning");
  // The end report has no text for this status, as for every cancel on a page.
  assert.equal((await reports(computer)).at(-1).status, "");
});

test("a disk that fills up during a download ends on the Error page saying so", async (t) => {
  // The packages go to a 1 MiB volume of their own; the list understates the
  // product's size, so the space check before the downloads passes and the
  // volume runs full in the middle of the product's 2 MiB.
  const full = release("disk-full", { options: ["--payload-mib", "2", "--set", 'Feature_DownloadFolder="Temp"'] });
  const list = path.join(full.folder, "installer/BrindlemarkComponents.js");
  fs.writeFileSync(list, fs.readFileSync(list, "utf8")
    .replace(/("url": "[^"]*Brindlemark-x64\.msi",\s*"size": )\d+/, (all, head) => `${head}1000`));
  const computer = await machine("disk-full", full);
  const volume = path.join(computer.dirs.tmp, "Brindlemark");
  fs.mkdirSync(volume);
  if (spawnSync("mount", ["-t", "tmpfs", "-o", "size=1m,mode=0700", "tmpfs", volume]).status !== 0) {
    t.skip("no small volume can be mounted here");
    return;
  }
  t.after(() => spawnSync("umount", ["-l", volume]));
  const run = await runInstaller(browser, computer);
  assert.equal(run.titles.at(-1), "Error", run.titles.join(" "));
  // How much is still to come, in figures (by the list's own sizes).
  assert.match(run.texts.Error, /There is not enough disk space\. [\d.]+ \S+ are needed\./);
  assert.deepEqual(run.errors, []);
  assert.match(computer.keptLog(), /TransferDownloadError HRESULT: 80070070/);
  assert.match(computer.keptLog(), /install\.completed=NOK\|install\.fail-reason=DownloadFailure/);
  assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
});

test("Close on a page before the downloads ends the run with nothing fetched or installed", async (t) => {
  // The tracker's reason and the last activity for a Close on each page; the
  // Prerequisite page shares Welcome's status.
  const pages = [["Welcome", "CanceledWelcome"], ["Prerequisite", "CanceledWelcome"],
                 ["Agreement", "CanceledAgreement"], ["Analytics", "CanceledAnalytics"]];
  for (const [title, reason] of pages) {
    await t.test(`on ${title}`, async () => {
      const computer = await machine(`close-${title.toLowerCase()}`);
      const run = await runInstaller(browser, computer, { actions: { ...userActions,
        [title]: (page) => page.click("#close") } });
      assert.equal(run.code, 0, run.output);
      assert.equal(run.titles.at(-1), title);
      assert.deepEqual(fs.readdirSync(computer.downloads).filter((name) => name !== path.basename(computer.installer)), []);
      assert.equal(fs.existsSync(computer.programFiles), false);
      assert.equal(anyView(computer, RUNTIME_KEY, "Version"), null);
      const events = await trackerEvents(computer);
      assert.equal(events.at(-1).eventData["install.fail-reason"], reason);
      const activities = (await computer.received("/v1/logUserActivity")).map((request) => field(request.body, "activity"));
      assert.equal(activities.at(-1), `${title}_Close`);
      // The end report of a cancelled run carries no status text.
      assert.deepEqual((await reports(computer)).map((report) => report.status), ["started", ""]);
    });
  }
});

test("Close during a download or a package ends the run there, with nothing installed past it", async (t) => {
  const progressed = (page) => page.waitForFunction(() => /^[1-9]\d*%/.test(document.getElementById("percent").textContent),
                                                   null, { polling: 100, timeout: 0 });
  await t.test("on Downloading, a transfer under way stops at once", async () => {
    // The product's 1 MiB comes at 100 KB/s.
    const slow = release("close-downloading", { fault: "/f/slow=100000", options: ["--payload-mib", "1"] });
    const computer = await machine("close-downloading", slow);
    const run = await runInstaller(browser, computer, { actions: { ...userActions,
      Downloading: async (page) => {
        await progressed(page);
        await page.click("#close");
      } } });
    assert.equal(run.code, 0, run.output);
    assert.equal(run.titles.at(-1), "Downloading");
    assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
    assert.equal(anyView(computer, RUNTIME_KEY, "Version"), null);
    const events = await trackerEvents(computer);
    assert.equal(events.at(-1).eventData["install.fail-reason"], "CanceledDownloading");
    const activities = (await computer.received("/v1/logUserActivity")).map((request) => field(request.body, "activity"));
    assert.equal(activities.at(-1), "Downloading_Close");
  });
  await t.test("on Installing, the package under way ends first and nothing comes after it", async () => {
    const slow = release("close-installing", { options: ["--prereq-delay", "4"] });
    const computer = await machine("close-installing", slow);
    const run = await runInstaller(browser, computer, { env: { STUB_DIALOG_ANSWERS: "ok" }, actions: { ...userActions,
      Installing: async (page) => {
        await page.waitForFunction(() => document.getElementById("component").textContent !== "", null,
                                   { polling: 100, timeout: 0 });
        await page.click("#close");
      } } });
    assert.equal(run.code, 0, run.output);
    assert.equal(run.titles.at(-1), "Installing");
    // The prerequisite ran to its end; the product never started.
    assert.equal(anyView(computer, RUNTIME_KEY, "Version"), "4.8");
    assert.equal(fs.existsSync(path.join(computer.programFiles, "Brindlemark.exe")), false);
    const events = await trackerEvents(computer);
    assert.equal(events.at(-1).eventData["install.fail-reason"], "CanceledInstalling");
    const activities = (await computer.received("/v1/logUserActivity")).map((request) => field(request.body, "activity"));
    assert.equal(activities.at(-1), "Installing_Close");
  });
});

test("a connection dropped in the middle of a package is resumed to the same bytes", async () => {
  // The first answer for each path stops after 4 KiB: the MSI (11 KiB) is cut.
  const dropping = release("drop", { fault: "/f/drop=4096" });
  const computer = await machine("drop", dropping);
  const run = await silentlyInstall(computer);
  assert.equal(run.code, 0, run.output);
  productInstalled(computer);
  const msi = "24.0.0.0/x64/Brindlemark-x64.msi";
  assert.deepEqual(fs.readFileSync(path.join(computer.downloads, msi)),
                   fs.readFileSync(path.join(dropping.folder, msi)));
  const ranges = releaseRequests(await server.stats(), dropping)
    .filter((request) => request.file === msi).map((request) => request.range);
  assert.ok(ranges.some((range) => /^bytes=[1-9]\d*-/.test(range ?? "")), JSON.stringify(ranges));
});

test("an installer with a newer one on the server hands over to it", async () => {
  const updating = release("update", { options: ["--set", "Config_SupportSelfUpdate=true"] });
  const computer = await machine("update", updating);
  const marks = [];
  const run = await runInstaller(browser, computer, { actions: {
    ...userActions,
    // The release mark only the new installer's pages carry.
    Welcome: async (page) => {
      marks.push(await page.evaluate(() => fetch("../../release.txt").then((reply) => (reply.ok ? reply.text() : ""))));
      await page.click("#close");
    },
  } });
  assert.equal(run.code, 0, run.output);
  assert.deepEqual(shown(run), ["SelfUpdate", "Welcome"]);
  assert.deepEqual(marks.map((mark) => mark.trim()), ["Brindlemark installer v2"]);
  assert.deepEqual(run.errors, []);
  onlyLogsLeft(computer);
});
