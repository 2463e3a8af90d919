// The demo release served on loopback, scratch machines to install it on,
// and a driver that clicks through the packed installer's wizard in
// headless Chromium: what the end-to-end scenarios share.
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { binDir, startWebServiceMock, waitFor } from "./stub.mjs";
import { userActions } from "../../tools/demo-release/wizard-actions.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, "../..");

export const UNINSTALL_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
export const RUN_ONCE_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
export const STUB_KEY = "HKCU\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";
export const TRACKER_COLLECT = "/static/ipm/product-analytics/collect";
export const PRODUCT_X64 = "{B2D168C5-DE9D-4D59-A43E-8AEA88B74A0C}";

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function getText(url, options = {}) {
  const client = url.startsWith("https:") ? https : http;
  return new Promise((resolve, reject) => {
    client.get(url, options, (reply) => {
      let body = "";
      reply.setEncoding("latin1");
      reply.on("data", (chunk) => { body += chunk; });
      reply.on("end", () => resolve(body));
    }).on("error", reject);
  });
}

// tools/release-server on `root`. Releases are built into folders below it,
// so that one server carries a release per scenario, each with its own
// paths in /stats.
export async function startReleaseServer(root) {
  const portFile = path.join(root, "..", `${path.basename(root)}.port`);
  const child = spawn("python3", [path.join(source, "tools/release-server/release_server.py"), root,
                                  "--port-file", portFile], { stdio: "ignore" });
  const port = await waitFor(() => fs.existsSync(portFile) && fs.readFileSync(portFile, "utf8").trim(),
                             "the release server", child);
  const url = `http://127.0.0.1:${port}`;
  return {
    url, root,
    async stats() { return JSON.parse(await getText(`${url}/stats`)); },
    stop() { child.kill(); },
  };
}

// Builds a release into `<server root>/<name>` whose URLs go through
// `fault` (a path of the server's faults, "/f/drop=N") when given.
export function buildRelease(server, name, { fault = "", options = [] } = {}) {
  const folder = path.join(server.root, name);
  const done = spawnSync("python3", [path.join(source, "tools/demo-release/build-release"), folder,
                                     "--base-url", `${server.url}${fault}/${name}`,
                                     "--tracker-url", "https://127.0.0.1:9", "--bin", binDir,
                                     ...options], { encoding: "utf8" });
  if (done.status !== 0) throw new Error(`build-release failed:\n${done.stdout}${done.stderr}`);
  return { name, folder, launcher: path.join(folder, "launcher", "BrindlemarkInstall") };
}

// A machine of its own: drive C:, registry, temporary, runtime, home and
// XDG folders, and a web-service mock that is also its tracker. The user
// downloaded the installer into ~/Downloads, where its packages then go.
export async function createMachine(top, name, release) {
  const root = fs.mkdtempSync(path.join(top, `${name}-`));
  const dirs = {};
  for (const folder of ["root", "registry", "tmp", "runtime", "home", "config", "data"]) {
    dirs[folder] = path.join(root, folder);
    fs.mkdirSync(dirs[folder], { mode: 0o700 });
  }
  const mock = await startWebServiceMock();
  const ca = fs.readFileSync(mock.env.STUB_CA_BUNDLE);
  const settings = path.join(dirs.root, "ProgramData/Zelvo/ProductAnalytics");
  fs.mkdirSync(settings, { recursive: true });
  fs.writeFileSync(path.join(settings, "productanalytics.ini"),
                   fs.readFileSync(path.join(release.folder, "launcher/productanalytics.ini"), "utf8")
                     .replace(/^ONLINE_CONTAINER=.*$/m, `ONLINE_CONTAINER=${mock.env.STUB_WEBSERVICE_URL}` +
                              "/static/ipm/product-analytics/index.html"));
  // The machine's own msiexec, where Windows keeps it.
  const systemFolder = path.join(dirs.root, "Windows/System32");
  fs.mkdirSync(systemFolder, { recursive: true });
  fs.copyFileSync(path.join(binDir, "msiexec"), path.join(systemFolder, "msiexec"));
  fs.chmodSync(path.join(systemFolder, "msiexec"), 0o755);
  const downloads = path.join(dirs.home, "Downloads");
  fs.mkdirSync(downloads);
  const installer = path.join(downloads, "BrindlemarkInstall");
  fs.copyFileSync(release.launcher, installer);
  fs.chmodSync(installer, 0o755);
  const restarts = path.join(root, "restarts");
  const env = {
    ...process.env, ...mock.env,
    TMPDIR: dirs.tmp, STUB_REGISTRY_DIR: dirs.registry, STUB_INSTALL_ROOT: dirs.root,
    XDG_RUNTIME_DIR: dirs.runtime, HOME: dirs.home, XDG_CONFIG_HOME: dirs.config,
    XDG_DATA_HOME: dirs.data, STUB_NETWORK: "online", PATH: `${binDir}:${process.env.PATH}`,
    STUB_REBOOT_COMMAND: `echo restart asked >> '${restarts}'`,
    STUB_NO_BROWSER: "1", BROWSER: `echo The browser would open`,
    BRINDLEMARK_RUN_LOG: path.join(root, "product-runs"),
    LANG: "en_US.UTF-8", LC_ALL: "", LANGUAGE: "",
  };
  delete env.STUB_PAGES_DIR;
  delete env.STUB_DIALOG_ANSWERS;
  return {
    root, dirs, installer, downloads, restarts, env, mock, productRuns: path.join(root, "product-runs"),
    programFiles: path.join(dirs.root, "Program Files/Zelvo/Brindlemark"),
    contentRecord: path.join(dirs.root, "ProgramData/Zelvo/BrindlemarkContent/setup-args.txt"),
    // The requests the mock has had to `servicePath` so far.
    async received(servicePath) {
      return JSON.parse(await getText(`${mock.env.STUB_WEBSERVICE_URL}/__requests?path=` +
                                      encodeURIComponent(servicePath), { ca }));
    },
    // The value's data, or null when the value (or its key) is absent.
    reg(key, value, view = "/reg:64") {
      const done = spawnSync(path.join(binDir, "stub-reg"), ["query", key, "/v", value, view],
                             { env: { ...process.env, STUB_REGISTRY_DIR: dirs.registry }, encoding: "utf8" });
      if (done.status !== 0) return null;
      const line = done.stdout.split("\n").find((text) => text.trim().startsWith(`${value} `));
      const match = line?.match(/^\s*\S.*?\s{2,}(REG_\w+)\s{2,}(.*)$/) ??
                    line?.match(/^\s*.*?\s+(REG_\w+)\s*(.*)$/);
      return match ? match[2].trim() : null;
    },
    // Every key and value below `key`, as stub-reg prints them.
    regTree(key, view = "/reg:64") {
      const done = spawnSync(path.join(binDir, "stub-reg"), ["query", key, "/s", view],
                             { env: { ...process.env, STUB_REGISTRY_DIR: dirs.registry }, encoding: "utf8" });
      return done.status === 0 ? done.stdout : "";
    },
    keptLog() {
      const folder = path.join(dirs.tmp, "Brindlemark_log");
      if (!fs.existsSync(folder)) return "";
      return fs.readdirSync(folder).sort()
        .map((file) => fs.readFileSync(path.join(folder, file), "latin1")).join("\n");
    },
    autostartEntries() {
      const folder = path.join(dirs.config, "autostart");
      return fs.existsSync(folder) ? fs.readdirSync(folder).filter((file) => file.endsWith(".desktop")) : [];
    },
    stop() { mock.stop(); },
  };
}

// What a user does on each page; Installing starts the product at its end,
// as it is set to.
export { userActions };

// Runs the machine's installer (or `program`) with `args`, then --ui=external,
// follows its pages in a fresh browser context and does `actions[title]` on
// each page it shows. Resolves once the installer has ended: its exit code,
// the pages in the order shown, what it printed, and the page texts seen on
// Error and Finish pages.
export async function runInstaller(browser, machine, { args = [], actions = userActions, env = {},
                                                       program = machine.installer } = {}) {
  const urlFile = path.join(machine.root, "url");
  const trackerUrlFile = path.join(machine.root, "tracker-url");
  fs.rmSync(urlFile, { force: true });
  fs.rmSync(trackerUrlFile, { force: true });
  // Last, so that a program that passes its arguments on (a shell) does too.
  const child = spawn(program, [...args, "--ui=external"], {
    env: { ...machine.env, STUB_URL_FILE: urlFile, STUB_TRACKER_URL_FILE: trackerUrlFile, ...env },
    stdio: ["ignore", "pipe", "pipe"],
  });
  let output = "";
  child.stdout.on("data", (chunk) => { output += chunk; });
  child.stderr.on("data", (chunk) => { output += chunk; });
  let code = null;
  const exited = new Promise((resolve) => child.on("exit", (status, signal) => {
    code = status ?? signal;
    resolve();
  }));
  const titles = [];
  const texts = {};
  const errors = [];
  const context = await browser.newContext({ ignoreHTTPSErrors: true,
                                             viewport: { width: 655, height: 513 } });
  try {
    let page = null;
    let tracker = null;
    let last = "";
    let address = "";
    let trackerAddress = "";
    const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file, "utf8").trim() : "");
    while (code === null) {
      // A new address is a new installer (a self-update hands over to it).
      const now = read(urlFile);
      if (now && now !== address) {
        address = now;
        last = "";
        if (!page) {
          page = await context.newPage();
          page.on("pageerror", (error) => errors.push(error.message));
        }
        await page.goto(address).catch(() => {});
      }
      // The tracker's hidden page, opened as the window would open it.
      const trackerNow = read(trackerUrlFile);
      if (trackerNow && trackerNow !== trackerAddress) {
        trackerAddress = trackerNow;
        tracker ??= await context.newPage();
        await tracker.goto(trackerAddress).catch(() => {});
      }
      const title = page ? await page.evaluate(() => (document.readyState === "complete" ? document.title : ""))
        .catch(() => "") : "";
      if (title && title !== last) {
        last = title;
        titles.push(title);
        texts[title] = await page.evaluate(() => document.body.innerText).catch(() => "");
        await actions[title]?.(page).catch((error) => {
          // A page that moved on under the click is no failure.
          if (!/navigat|closed|detached|Execution context/i.test(error.message)) throw error;
        });
      }
      await Promise.race([exited, sleep(50)]);
    }
  } finally {
    let timer;
    await Promise.race([exited, new Promise((resolve) => { timer = setTimeout(resolve, 120000); })]);
    clearTimeout(timer);
    if (code === null) child.kill("SIGKILL");
    await context.close();
  }
  return { code, titles, texts, output, errors };
}

// The path requests of `stats` below a release, without the fault prefix.
export function releaseRequests(stats, release) {
  return stats.requests
    .map((request) => ({ ...request, file: request.path.replace(/^\/f\/[^/]*/, "").split("?")[0] }))
    .filter((request) => request.file.startsWith(`/${release.name}/`))
    .map((request) => ({ ...request, file: request.file.slice(release.name.length + 2) }));
}

// The program and arguments of a desktop entry's Exec value, as the
// desktop's autostart splits them.
export function execArguments(value) {
  const line = value.replace(/\\(.)/g, (escape, c) => ({ s: " ", n: "\n", t: "\t", r: "\r", "\\": "\\" })[c] ?? escape);
  const args = [];
  for (let at = 0; at < line.length;) {
    if (line[at] === " ") {
      at += 1;
      continue;
    }
    let arg = "";
    if (line[at] === '"') {
      for (at += 1; at < line.length && line[at] !== '"'; at += 1) {
        if (line[at] === "\\") at += 1;
        arg += line[at];
      }
      at += 1;
    } else {
      for (; at < line.length && line[at] !== " "; at += 1) arg += line[at];
    }
    args.push(arg.replace(/%%/g, "%"));
  }
  return args;
}

export function makeTop() {
  return fs.mkdtempSync(path.join(os.tmpdir(), "stub-e2e-"));
}
