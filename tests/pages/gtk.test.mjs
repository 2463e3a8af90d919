// The desktop window (GTK + WebKitGTK) under Xvfb: placement, sizing, title,
// the engine's own script dialogs swallowed, a hidden window that stays
// hidden, sizes on a scaled display, and a screenshot of what a person would see.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import http from "node:http";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { binDir, fixture, startDisplay, startWebServiceMock, waitFor } from "./stub.mjs";
import { downloadToTemp, metaOf, productList, runtimes, seedRegistry, stagePages, startSite } from "./wizard-run.mjs";

const pagesRoot = path.dirname(fixture);

function available(command) {
  try { execFileSync("sh", ["-c", `command -v ${command}`], { stdio: "ignore" }); return true; }
  catch { return false; }
}

const haveTools = ["Xvfb", "xdotool", "import"].every(available) &&
  (() => { try { execFileSync("pkg-config", ["--exists", "webkit2gtk-4.1"]); return true; }
           catch { return false; } })();

// GLib synchronises through futexes ThreadSanitizer cannot see into, so the
// toolkit is left out of the ThreadSanitizer run.
const skip = (!haveTools && "needs Xvfb, xdotool, ImageMagick and WebKitGTK") ||
  (process.env.STUB_TSAN && "GTK is not built for ThreadSanitizer");

// Xvfb on a display it picks itself, and the stub on it with `pages`.
// `prepare(root)` runs before the stub starts.
async function startWindow(t, pages, env = {}, prepare = undefined, args = []) {
  const { display, stop } = await startDisplay();
  t.after(stop);

  const root = fs.mkdtempSync(path.join(os.tmpdir(), "stub-gtk-"));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  for (const name of ["tmp", "registry", "runtime", "root"]) fs.mkdirSync(path.join(root, name));
  prepare?.(root);
  const fullEnv = { ...process.env, DISPLAY: display, TMPDIR: path.join(root, "tmp"),
                    STUB_REGISTRY_DIR: path.join(root, "registry"),
                    XDG_RUNTIME_DIR: path.join(root, "runtime"),
                    STUB_INSTALL_ROOT: path.join(root, "root"), STUB_PAGES_DIR: pages,
                    STUB_WEBSERVICE_URL: "https://127.0.0.1:9", STUB_REBOOT_COMMAND: "true",
                    ...env };
  // What the stub and WebKit print goes beside the screenshot, for a failed run.
  const artifacts = path.resolve(binDir, "..", "test-artifacts");
  fs.mkdirSync(artifacts, { recursive: true });
  const log = path.join(artifacts, `gtk-stub-${path.basename(pages)}.log`);
  const output = fs.openSync(log, "w");
  const stub = spawn(path.join(binDir, "BrindlemarkInstall"), ["run=1", "--ui=gtk", ...args],
                     { env: fullEnv, stdio: ["ignore", output, output] });
  const exited = new Promise((resolve) => stub.on("exit", (code) => resolve(code)));
  t.after(() => { if (stub.exitCode === null) stub.kill("SIGKILL"); });

  const x = (...args) => execFileSync("xdotool", args, { env: fullEnv, encoding: "utf8" }).trim();
  const find = (title, visible = true) => {
    const only = visible ? ["--onlyvisible"] : [];
    try { return x("search", ...only, "--name", `^${title}$`).split("\n")[0]; } catch { return ""; }
  };
  const geometry = (window) => {
    const text = x("getwindowgeometry", window);
    const [, left, top] = text.match(/Position: (\d+),(\d+)/);
    const [, width, height] = text.match(/Geometry: (\d+)x(\d+)/);
    return [Number(left), Number(top), Number(width), Number(height)];
  };
  // No time limit of its own: the test runner's time-out ends a test that hangs.
  const until = (condition, what) => waitFor(condition, what, stub, log);
  return { stub, exited, until, x, find, geometry, root, env: fullEnv, artifacts };
}

test("the GTK window is placed, sized once, titled by the page and shows it", { skip },
     async (t) => {
  const w = await startWindow(t, path.join(pagesRoot, "gtk-fixture"));

  // Before the page sizes it: 400 x 200 at 96 DPI, centred on the screen.
  const first = await w.until(() => w.find("loading"), "the window");
  assert.deepEqual(w.geometry(first), [440, 412, 400, 200]);

  // The page sizes it once the document is complete; its script dialogs were
  // swallowed by the window (a dialog left up would hold the page).
  const sized = await w.until(() => w.find("sized") || w.find("dialogs answered wrongly"),
                            "the page to size the window");
  assert.equal(w.find("dialogs answered wrongly"), "");
  assert.deepEqual(w.geometry(sized), [390, 362, 500, 300]);
  // What a person would see, kept beside the build for a look after the run.
  const shot = path.join(w.artifacts, "gtk-window.png");
  execFileSync("import", ["-window", "root", shot], { env: w.env });
  assert.ok(fs.statSync(shot).size > 1000);

  // The user moves and resizes it; the same size again leaves it there.
  w.x("windowmove", sized, "20", "30");
  w.x("windowsize", sized, "520", "310");
  const again = await w.until(() => w.find("sized again"), "the second setWindowSize");
  assert.deepEqual(w.geometry(again), [20, 30, 520, 310]);

  // The page closes its window; the process ends with the teardown.
  assert.equal(await w.exited, 0);
  assert.deepEqual(fs.readdirSync(path.join(w.root, "tmp")), ["Brindlemark_log"]);
});

// The run's own log, while it runs.
function runLog(root) {
  const tmp = path.join(root, "tmp");
  for (const folder of fs.readdirSync(tmp)) {
    const dir = path.join(tmp, folder);
    if (!fs.statSync(dir).isDirectory()) continue;
    for (const name of fs.readdirSync(dir)) {
      if (name.startsWith("installer_log_")) return fs.readFileSync(path.join(dir, name), "utf8");
    }
  }
  return "";
}

test("a hidden window stays hidden through placements until showWindow", { skip }, async (t) => {
  const w = await startWindow(t, path.join(pagesRoot, "gtk-hidden"));
  // Both placements have been made while the page keeps the window hidden.
  await w.until(() => runLog(w.root).includes("ZSWindowSize: 520"), "the second placement");
  for (const title of ["loading", "hidden", "still hidden"]) {
    assert.equal(w.find(title), "", `a placement showed the hidden window (${title})`);
  }
  const shown = await w.until(() => w.find("shown"), "showWindow");
  assert.deepEqual(w.geometry(shown).slice(2), [520, 310]);
  assert.equal(await w.exited, 0);
});

test("on a display scaled by two the window is the size the page asked for", { skip },
     async (t) => {
  const w = await startWindow(t, path.join(pagesRoot, "gtk-fixture"), { GDK_SCALE: "2" });
  // Logical pixels (a 640 x 512 screen) shown as device pixels, each twice.
  const first = await w.until(() => w.find("loading"), "the window");
  assert.deepEqual(w.geometry(first), [240, 312, 800, 400]);
  const sized = await w.until(() => w.find("sized"), "the page to size the window");
  assert.deepEqual(w.geometry(sized), [140, 212, 1000, 600]);
});

// Inodes of the TCP sockets listening on the machine.
function listeningInodes() {
  const inodes = new Set();
  for (const table of ["/proc/net/tcp", "/proc/net/tcp6"]) {
    for (const line of fs.readFileSync(table, "utf8").split("\n").slice(1)) {
      const fields = line.trim().split(/\s+/);
      if (fields[3] === "0A") inodes.add(fields[9]);
    }
  }
  return inodes;
}

test("the window serves its pages without a socket and keeps to them", { skip }, async (t) => {
  // A site outside, and a desktop browser that only notes what it is given.
  const outside = http.createServer((_, response) => {
    response.setHeader("Content-Type", "text/html");
    response.end("<!DOCTYPE html><title>Outside</title><p>outside</p>");
  });
  await new Promise((resolve) => outside.listen(0, "127.0.0.1", resolve));
  t.after(() => outside.close());
  const away = `http://127.0.0.1:${outside.address().port}/away`;
  // A port nobody listens on any more.
  const closed = http.createServer();
  await new Promise((resolve) => closed.listen(0, "127.0.0.1", resolve));
  const unreachable = `http://127.0.0.1:${closed.address().port}/nothing`;
  await new Promise((resolve) => closed.close(resolve));
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "stub-gtk-pages-"));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const pages = path.join(scratch, "pages");
  fs.mkdirSync(pages);
  // The page takes each step when the test puts a file in its folder.
  fs.writeFileSync(path.join(pages, "Load.html"), `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>loading</title></head><body><p>ours</p><script>
  function there(name) {
    var request = new XMLHttpRequest();
    request.open("GET", name, false);
    request.send();
    return request.status === 200;
  }
  var steps = [
    function () { location.href = ${JSON.stringify(unreachable)}; },
    function () { document.title = "still ours"; },
    function () { window.external.closeWindow(); }
  ];
  window.addEventListener("load", function () {
    window.external.setWindowSize(400, 300);
    document.title = "ours";
    location.href = ${JSON.stringify(away)};
    var next = 0;
    var poll = setInterval(function () {
      if (!there("step" + next + ".txt")) return;
      steps[next++]();
      if (next === steps.length) clearInterval(poll);
    }, 50);
  });
</script></body></html>`);
  const opened = path.join(scratch, "opened");
  fs.writeFileSync(path.join(scratch, "xdg-open"), `#!/bin/sh\nprintf '%s\\n' "$@" >> '${opened}'\n`,
                   { mode: 0o755 });
  const w = await startWindow(t, pages, { PATH: `${scratch}:${process.env.PATH}` });

  const window = await w.until(() => w.find("ours"), "the page");
  // Nothing of the process listens: no other process can reach the pages.
  const listening = listeningInodes();
  const ownSockets = fs.readdirSync(`/proc/${w.stub.pid}/fd`)
    .map((fd) => { try { return fs.readlinkSync(`/proc/${w.stub.pid}/fd/${fd}`); } catch { return ""; } })
    .map((target) => /^socket:\[(\d+)\]$/.exec(target)?.[1]).filter(Boolean);
  assert.deepEqual(ownSockets.filter((inode) => listening.has(inode)), []);

  // The page leaves for an outside address, then for one that does not
  // answer: the desktop's browser gets both, the installer's window keeps
  // the page (no outside page, no error page in its place).
  const handed = () => (fs.existsSync(opened) ? fs.readFileSync(opened, "utf8").trim().split("\n") : []);
  const replaced = () => { const name = w.x("getwindowname", window); return name !== "ours" && name; };
  await w.until(() => replaced() || handed().length === 1, "the first hand-off");
  fs.writeFileSync(path.join(pages, "step0.txt"), "");
  await w.until(() => replaced() || handed().length === 2, "the second hand-off");
  fs.writeFileSync(path.join(pages, "step1.txt"), "");
  assert.equal(await w.until(replaced, "the page's next step"), "still ours");
  assert.deepEqual(handed(), [away, unreachable]);
  fs.writeFileSync(path.join(pages, "step2.txt"), "");
  assert.equal(await w.exited, 0);
});

// The wizard's page for the tracker test: two events, then the window closes
// once the test says so (the file `marker` exists).
function trackerPages(folder, marker) {
  fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, "Load.html"), `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>tracking</title></head><body><script>
  window.addEventListener("load", function () {
    window.external.trackingByAnalyticsSDK("install.start", "step=1");
    window.external.setTrackingProperty(0, "web");
    window.external.trackingByAnalyticsSDK("page.shown", "name=Load");
    var poll = setInterval(function () {
      if (window.external.isFileExists(${JSON.stringify(marker)})) {
        clearInterval(poll);
        window.external.closeWindow();
      }
    }, 50);
  });
</script></body></html>
`);
  return folder;
}

// Writes the settings file where the installed product's tracker looks for
// it: logging on, the mock's tracker page with `query`.
function trackerSettings(mock, query) {
  return (root) => {
    const settings = path.join(root, "root", "ProgramData", "Zelvo", "ProductAnalytics");
    fs.mkdirSync(settings, { recursive: true });
    fs.writeFileSync(path.join(settings, "productanalytics.ini"),
                     `LOGGING_ENABLED=true\nONLINE_CONTAINER=${mock.env.STUB_WEBSERVICE_URL}` +
                     `/static/ipm/product-analytics/index.html${query}\n`);
  };
}

// The tracker log of a finished window run.
function trackerLog(w) {
  return fs.readdirSync(path.join(w.root, "tmp"))
    .filter((name) => name.startsWith("productanalytics_"))
    .map((name) => fs.readFileSync(path.join(w.root, "tmp", name), "utf8")).join("");
}

test("the tracker's hidden page receives every event in order, the run's final one too", { skip },
     async (t) => {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "stub-gtk-tracker-"));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const marker = path.join(scratch, "close");
  const w = await startWindow(t, trackerPages(path.join(scratch, "pages"), marker), mock.env,
                              trackerSettings(mock, "?debug=1"));
  await mock.requests("/static/ipm/product-analytics/collect", 2);
  fs.writeFileSync(marker, "");
  assert.equal(await w.exited, 0);

  const events = (await mock.requests("/static/ipm/product-analytics/collect", 3))
    .map((request) => JSON.parse(request.body));
  assert.deepEqual(events.map((event) => event.eventName),
                   ["install.start", "page.shown", "install.completed"]);
  assert.equal(events[0].eventData.step, "1");
  assert.equal(events[1].eventData["install.channel"], "web");
  assert.equal(events[2].eventData["install.completed"], "CNX");
  assert.equal(events[2].eventData["install.fail-reason"], "UserCanceled");
  assert.equal(events[0].coreData.appName, "Brindlemark Windows");
  assert.match(events[0].coreData.hwid, /^V2[0-9A-F]{32}$/);
  const log = trackerLog(w);
  assert.match(log, / TRACE\] JS DEBUG: install.completed\n/);
  assert.match(log, / TRACE\] vaArgsRet:\ntracked page.shown\n/);
  assert.match(log, / TRACE\] LaunchTrackTask end\n/);
});

test("a tracker page that never answers, or never loads, lets the GTK run end", { skip },
     async (t) => {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  for (const [query, loads] of [["?ack=none", true], ["?loadDelayMs=600000", false]]) {
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "stub-gtk-tracker-"));
    t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
    const marker = path.join(scratch, "close");
    const w = await startWindow(t, trackerPages(path.join(scratch, "pages"), marker), mock.env,
                                trackerSettings(mock, query));
    if (loads) await mock.requests("/static/ipm/product-analytics/collect", 2);
    fs.writeFileSync(marker, "");
    assert.equal(await w.exited, 0);
    const log = trackerLog(w);
    assert.equal(/OnDocumentComplete/.test(log), loads, query);
    assert.equal(/ TRACE\] vaArgsRet:\ntracked install.start\n/.test(log), loads, query);
    assert.match(log, / TRACE\] release end\n/, query);
  }
});

test("the whole wizard runs in the window: a silent run downloads the product and ends completed", { skip },
     async (t) => {
  const data = Buffer.alloc(1536 * 1024);
  for (let i = 0; i < data.length; ++i) data[i] = (i * 29) & 0xFF;
  const site = await startSite(t, (base) => ({
    "/files/data.bin": data,
    "/files/data.bin.meta": metaOf(t, data),
    "/list/BrindlemarkComponents.js": productList(base, "Brindlemark/x64/data.bin", data.length),
  }));
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const pages = stagePages(t, site.listUrl, downloadToTemp);
  const w = await startWindow(t, pages, { ...mock.env, STUB_NETWORK: "online", LANG: "en_US.UTF-8" },
                              (root) => seedRegistry(root, runtimes), ["/QN"]);
  assert.equal(await w.exited, 0);
  // Every page and callback went through our own view: the file is whole.
  const found = fs.readdirSync(path.join(w.root, "tmp"), { recursive: true })
    .filter((name) => name.endsWith(path.join("Brindlemark", "x64", "data.bin")));
  assert.equal(found.length, 1);
  assert.ok(fs.readFileSync(path.join(w.root, "tmp", found[0])).equals(data));
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(ended.body, /<status>completed<\/status>/);
});
