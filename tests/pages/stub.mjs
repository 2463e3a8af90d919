// Starts the real stub in --ui=external against a scratch folder and opens
// its page in headless Chromium.
import { spawn } from "node:child_process";
import fs from "node:fs";
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
async function waitFor(condition, what, process) {
  for (;;) {
    const value = condition();
    if (value) return value;
    if (process && process.exitCode !== null) throw new Error(`the stub ended before ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

export async function startStub(program = "stub-test-installer", extraEnv = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "stub-page-"));
  const dirs = {};
  for (const name of ["tmp", "registry", "runtime"]) {
    dirs[name] = path.join(root, name);
    fs.mkdirSync(dirs[name]);
  }
  const urlFile = path.join(root, "url");
  const child = spawn(path.join(binDir, program), ["run=1", "--ui=external"], {
    env: { ...process.env, TMPDIR: dirs.tmp, STUB_REGISTRY_DIR: dirs.registry,
           XDG_RUNTIME_DIR: dirs.runtime, STUB_PAGES_DIR: fixture, STUB_URL_FILE: urlFile,
           STUB_NO_BROWSER: "1", ...extraEnv },
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

export function keptLog(stub) {
  const folder = path.join(stub.dirs.tmp, "Brindlemark_log");
  return fs.readdirSync(folder).map((name) => fs.readFileSync(path.join(folder, name), "utf8"))
    .join("\n");
}
