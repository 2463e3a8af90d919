// Cold start: from starting the packed installer to its first page painted,
// beside a static page opened by the same engine in the same run.
//   node bench/coldstart.mjs      (after scripts/setup; uses build/bin and build/pages)
// Headless Chromium (the external browser road): the launcher starts, copies
// itself, extracts its pages and publishes the address; the page is opened
// the moment the address appears and timed to its first contentful paint.
// The GTK window under Xvfb: to the first frame of the first page that draws
// one (every page says so through window.external; the log keeps the time),
// beside the same window packed with one static page.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { binDir, launchBrowser, startDisplay } from "../tests/pages/stub.mjs";

const PAIRS = 5;
const source = path.resolve(path.dirname(new URL(import.meta.url).pathname), "..");
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const top = fs.mkdtempSync(path.join(os.tmpdir(), "stub-coldstart-"));
process.on("exit", () => fs.rmSync(top, { recursive: true, force: true }));

function pack(pages, name) {
  const out = path.join(top, name);
  execFileSync(path.join(binDir, "stub-pack"), [path.join(binDir, "BrindlemarkInstall-bare"), pages, out]);
  return out;
}
const staticHtml = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Static</title>
<style>body { font: 14px sans-serif; margin: 40px; }</style></head>
<body><h1>Brindlemark 24 Setup</h1><p>Welcome.</p></body></html>`;
const wizard = pack(path.join(source, "build/pages"), "BrindlemarkInstall");

// A window never shown draws no frames: the mark shows it, notes the first
// frame and ends the run (the log is whole once the run has ended).
const painted = `<script>window.external.showWindow();
requestAnimationFrame(function () {
  window.external.setProperty("bench_painted", "1");
  window.external.closeWindow();
});</script>`;
function marked(from, name) {
  const folder = path.join(top, name);
  fs.cpSync(from, folder, { recursive: true });
  for (const file of fs.readdirSync(folder, { recursive: true }).filter((f) => f.endsWith(".html"))) {
    const where = path.join(folder, file);
    fs.writeFileSync(where, fs.readFileSync(where, "utf8").replace("</body>", `${painted}</body>`));
  }
  return pack(folder, `${name}-packed`);
}
const gtkStaticPages = path.join(top, "static-pages");
fs.mkdirSync(gtkStaticPages);
fs.writeFileSync(path.join(gtkStaticPages, "Load.html"), staticHtml);
const gtkWizard = marked(path.join(source, "build/pages"), "gtk-wizard");
const gtkStatic = marked(gtkStaticPages, "gtk-static");

// A scratch machine per run: nothing left from the last run speeds this one.
function machine(extra = {}) {
  const root = fs.mkdtempSync(path.join(top, "run-"));
  const dirs = {};
  for (const name of ["tmp", "registry", "runtime", "root", "home"]) {
    dirs[name] = path.join(root, name);
    fs.mkdirSync(dirs[name], { mode: 0o700 });
  }
  const env = { ...process.env, TMPDIR: dirs.tmp, STUB_REGISTRY_DIR: dirs.registry, HOME: dirs.home,
                XDG_RUNTIME_DIR: dirs.runtime, STUB_INSTALL_ROOT: dirs.root, STUB_NO_BROWSER: "1",
                STUB_REBOOT_COMMAND: "true", STUB_WEBSERVICE_URL: "https://127.0.0.1:9",
                STUB_URL_FILE: path.join(root, "url"), ...extra };
  delete env.STUB_PAGES_DIR;
  return { root, dirs, env, urlFile: env.STUB_URL_FILE };
}

async function stop(child) {
  if (child.exitCode === null && child.signalCode === null) {
    const gone = new Promise((resolve) => child.on("exit", resolve));
    child.kill("SIGKILL");
    await gone;
  }
}

async function chromiumRun(browser, program) {
  const m = machine();
  const context = await browser.newContext();
  const page = await context.newPage();
  const start = performance.now();
  const child = spawn(program, ["--ui=external"], { env: m.env, stdio: "ignore" });
  let url = "";
  while (!url) {
    if (fs.existsSync(m.urlFile)) url = fs.readFileSync(m.urlFile, "utf8").trim();
    else await sleep(2);
  }
  const published = performance.now();
  await page.goto(url, { waitUntil: "commit" });
  await page.waitForFunction(() => performance.getEntriesByName("first-contentful-paint").length > 0,
                             null, { polling: "raf" });
  const painted = performance.now();
  await context.close();
  await stop(child);
  return { total: painted - start, address: published - start, page: painted - published };
}

async function staticRun(browser) {
  const file = path.join(top, "static.html");
  fs.writeFileSync(file, staticHtml);
  const context = await browser.newContext();
  const page = await context.newPage();
  const start = performance.now();
  await page.goto(`file://${file}`, { waitUntil: "commit" });
  await page.waitForFunction(() => performance.getEntriesByName("first-contentful-paint").length > 0,
                             null, { polling: "raf" });
  const painted = performance.now();
  await context.close();
  return painted - start;
}

// The log's time of the page's mark, as the installer wrote it.
function markTime(logFolder) {
  const files = fs.existsSync(logFolder) ? fs.readdirSync(logFolder) : [];
  for (const name of files) {
    const line = fs.readFileSync(path.join(logFolder, name), "latin1").split("\n")
      .find((text) => text.includes("EMSetProperty 1, bench_painted"));
    const at = line?.match(/^\[(\d{4})(\d\d)(\d\d) (\d\d):(\d\d):(\d\d) +(\d+) /);
    if (at) {
      const [, y, mo, d, h, mi, sec, ms] = at.map(Number);
      return new Date(y, mo - 1, d, h, mi, sec, ms).getTime();
    }
  }
  return 0;
}

async function gtkRun(display, program) {
  const m = machine({ DISPLAY: display });
  const start = Date.now();
  const child = spawn(program, ["--ui=gtk"], { env: m.env, stdio: "ignore" });
  const timer = setTimeout(() => child.kill("SIGKILL"), 60000);
  await new Promise((resolve) => child.on("exit", resolve));
  clearTimeout(timer);
  const mark = markTime(path.join(m.dirs.tmp, "Brindlemark_log"));
  if (!mark) throw new Error("no page painted");
  return mark - start;
}

const browser = await launchBrowser();
await staticRun(browser);  // the engine warm for both
const ours = [];
const bare = [];
for (let i = 0; i < PAIRS; ++i) {
  ours.push(await chromiumRun(browser, wizard));
  bare.push(await staticRun(browser));
}
await browser.close();
const total = median(ours.map((run) => run.total));
const reference = median(bare);
console.log(`Headless Chromium, ${PAIRS} pairs (medians):`);
console.log(`  start to the address published: ${median(ours.map((run) => run.address)).toFixed(0)} ms ` +
            "(launcher, working copy, page extraction, server)");
console.log(`  address to first paint:        ${median(ours.map((run) => run.page)).toFixed(0)} ms ` +
            "(the engine, the page's scripts and their first calls)");
console.log(`  start to first paint:          ${total.toFixed(0)} ms`);
console.log(`  static page in the same engine: ${reference.toFixed(0)} ms`);
console.log(`  ratio ${(total / reference).toFixed(1)}; first paint within 2 s of the start (target): ` +
            `${total < 2000 ? "met" : "MISSED"}`);

const { display, stop: stopDisplay } = await startDisplay();
const gtkOurs = [];
const gtkBare = [];
await gtkRun(display, gtkStatic);  // the libraries in the page cache for both
for (let i = 0; i < PAIRS; ++i) {
  gtkOurs.push(await gtkRun(display, gtkWizard));
  gtkBare.push(await gtkRun(display, gtkStatic));
}
await stopDisplay();
const gtk = median(gtkOurs);
const gtkReference = median(gtkBare);
console.log(`GTK window under Xvfb, ${PAIRS} pairs (medians, start to the first page's first frame):`);
console.log(`  the wizard ${gtk.toFixed(0)} ms; the same window with one static page ${gtkReference.toFixed(0)} ms; ` +
            `ratio ${(gtk / gtkReference).toFixed(2)} (target at most 1.5): ${gtk <= 1.5 * gtkReference ? "met" : "MISSED"}`);
