// Cold start: from starting the packed installer to its first page painted,
// beside a static page opened by the same engine in the same run.
//   node bench/coldstart.mjs      (after scripts/setup; uses build/bin and build/pages)
// Headless Chromium (the external browser road): the launcher starts, copies
// itself, extracts its pages and publishes the address; the page is opened
// the moment the address appears and timed to its first contentful paint.
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { binDir, launchBrowser } from "../tests/pages/stub.mjs";

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
