// Starts the real stub in --ui=external against a scratch folder and opens
// its page in headless Chromium.
import { spawn } from "node:child_process";
import fs from "node:fs";
import https from "node:https";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
export const binDir = process.env.STUB_BIN_DIR ?? path.resolve(here, "../../build/bin");
export const fixture = path.join(here, "fixture");

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}

// No time limit of its own: a stub that never answers ends the test at the
// runner's time-out, not at a guess of how long a loaded machine needs.
// Polls `condition` until it gives a value. When `process` ends first, the
// error says how, with the end of `log` (a file) when one is given.
export async function waitFor(condition, what, process = undefined, log = undefined) {
  for (;;) {
    const value = condition();
    if (value) return value;
    if (process && (process.exitCode !== null || process.signalCode !== null)) {
      const how = process.signalCode ?? `exit code ${process.exitCode}`;
      const tail = log && fs.existsSync(log) ? `\n${fs.readFileSync(log, "utf8").slice(-2000)}` : "";
      throw new Error(`the stub ended (${how}) before ${what}${tail}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

// `program` is a name in the build's bin folder or a function of the run's
// root folder that gives a path; `prepare(root)` runs before the stub starts;
// `urlFile(root)` is where it is to write its URL (in `root` unless given);
// `args` follow the stub's own on its command line.
export async function startStub(program = "stub-test-installer", extraEnv = {},
                                { prepare, urlFile: chosenUrlFile, args = [] } = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "stub-page-"));
  const dirs = {};
  for (const name of ["tmp", "registry", "runtime", "root"]) {
    dirs[name] = path.join(root, name);
    fs.mkdirSync(dirs[name], { mode: 0o700 });
  }
  const urlFile = chosenUrlFile ? chosenUrlFile(root) : path.join(root, "url");
  prepare?.(root);
  const executable = typeof program === "function" ? program(root) : path.join(binDir, program);
  const child = spawn(executable, ["run=1", "--ui=external", ...args], {
    env: { ...process.env, TMPDIR: dirs.tmp, STUB_REGISTRY_DIR: dirs.registry,
           XDG_RUNTIME_DIR: dirs.runtime, STUB_INSTALL_ROOT: dirs.root, STUB_PAGES_DIR: fixture,
           STUB_URL_FILE: urlFile,
           STUB_NO_BROWSER: "1", STUB_REBOOT_COMMAND: "true",
           STUB_WEBSERVICE_URL: "https://127.0.0.1:9", ...extraEnv },
    stdio: "ignore",
  });
  const exited = new Promise((resolve) => child.on("exit", (code) => resolve(code)));
  const url = await waitFor(() => fs.existsSync(urlFile) && fs.readFileSync(urlFile, "utf8"),
                            "the stub's URL", child);
  return {
    url, root, dirs, child, exited,
    async stop() {
      if (child.exitCode === null) child.kill("SIGKILL");
      await exited;
      fs.rmSync(root, { recursive: true, force: true });
    },
  };
}

// Xvfb on a display it picks itself: the display's name, and how to end it.
export async function startDisplay() {
  // No reset when the last client leaves: a test's probes come and go while
  // the stub connects, and a reset under it fails the stub's connection.
  const xvfb = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                              "-noreset"], { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  let announced = "";
  xvfb.stdio[3].on("data", (chunk) => { announced += chunk.toString(); });
  const number = await waitFor(() => announced.includes("\n") && announced.trim(), "Xvfb", xvfb);
  // The next display may take the same number only once this server is gone.
  const gone = new Promise((resolve) => xvfb.on("exit", resolve));
  return { display: `:${number}`, stop: () => { xvfb.kill(); return gone; } };
}

export function keptLog(stub) {
  const folder = path.join(stub.dirs.tmp, "Brindlemark_log");
  return fs.readdirSync(folder).map((name) => fs.readFileSync(path.join(folder, name), "utf8"))
    .join("\n");
}

// tools/webservice-mock on a scratch folder: the environment that points a
// stub at it, and the requests it received.
export async function startWebServiceMock() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "stub-mock-"));
  const certs = path.join(folder, "certs");
  const portFile = path.join(folder, "port");
  const child = spawn("python3", [path.resolve(here, "../../tools/webservice-mock/webservice_mock.py"),
                                  certs, "--port-file", portFile], { stdio: "ignore" });
  const port = await waitFor(() => fs.existsSync(portFile) && fs.readFileSync(portFile, "utf8"),
                             "the web-service mock", child);
  const url = `https://127.0.0.1:${port}`;
  const ca = fs.readFileSync(path.join(certs, "cert.pem"));
  const get = (control) => new Promise((resolve, reject) => {
    https.get(url + control, { ca }, (reply) => {
      let body = "";
      reply.setEncoding("latin1");
      reply.on("data", (chunk) => { body += chunk; });
      reply.on("end", () => resolve(JSON.parse(body)));
    }).on("error", reject);
  });
  return {
    env: { STUB_WEBSERVICE_URL: url, STUB_CA_BUNDLE: path.join(certs, "cert.pem") },
    // The requests to `servicePath` once there are `count`: a stub may send
    // without waiting for the reply.
    async requests(servicePath, count) {
      for (;;) {
        const found = await get(`/__wait?path=${encodeURIComponent(servicePath)}&count=${count}`);
        if (found.length >= count) return found;
      }
    },
    // Forgets the requests, replies and behaviours so far: one mock for runs
    // one after the other.
    reset: () => new Promise((resolve, reject) => {
      https.get(`${url}/__reset`, { ca }, (reply) => { reply.resume(); reply.on("end", resolve); })
        .on("error", reject);
    }),
    stop() {
      child.kill();
      fs.rmSync(folder, { recursive: true, force: true });
    },
  };
}
