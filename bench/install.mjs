// The whole install of the demo release with a large product payload, run
// silently by the packed installer, beside the same files fetched with curl,
// checked with sha1sum and the product installed with msiexec, in one run.
//   node bench/install.mjs [--payload-mib N] [--pairs N]   (default 1024 MiB, 2 pairs)
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { buildRelease, createMachine, makeTop, runInstaller, startReleaseServer } from "../tests/pages/e2e-release.mjs";
import { binDir, launchBrowser, startDisplay } from "../tests/pages/stub.mjs";

const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
};
const PAYLOAD_MIB = option("--payload-mib", 1024);
const PAIRS = option("--pairs", 2);
const PACKAGES = ["prereq/BrindlemarkRuntimeSetup.exe", "24.0.0.0/x64/Brindlemark-x64.msi",
                  "content/BrindlemarkContent.zip"];
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const top = makeTop();
process.on("exit", () => fs.rmSync(top, { recursive: true, force: true }));
const root = path.join(top, "release");
fs.mkdirSync(root);
const server = await startReleaseServer(root);
console.log(`building the release with a ${PAYLOAD_MIB} MiB payload...`);
const release = buildRelease(server, "bench", { options: ["--payload-mib", String(PAYLOAD_MIB)] });
const browser = await launchBrowser();
const { display, stop: stopDisplay } = await startDisplay();

function run(command, args, env) {
  const done = spawnSync(command, args, { env, encoding: "utf8", maxBuffer: 1 << 24 });
  if (done.status !== 0) throw new Error(`${command} ${args.join(" ")}: ${done.stderr}`);
  return done.stdout;
}

// Where the installer's time went, from the stamps of its log (local time,
// to the millisecond): seconds per phase, from `startMs` to `endMs`.
function phases(log, startMs, endMs) {
  const at = (pattern, last = false) => {
    const lines = log.split("\n").filter((line) => pattern.test(line));
    const line = last ? lines.at(-1) : lines[0];
    const m = line && line.match(/^\[(\d{4})(\d\d)(\d\d) (\d\d):(\d\d):(\d\d) +(\d+)/);
    return m ? new Date(m[1], m[2] - 1, m[3], m[4], m[5], m[6], m[7]).getTime() : NaN;
  };
  const marks = [
    ["start and pages", startMs],
    ["downloads", at(/EMDownload params/)],
    ["to the first package", at(/Hash success/, true)],
    ["prerequisite", at(/EMInstall params/)],
    ["MSI", at(/InstallMsi .*parameter/)],
    ["content and end", at(/InstallMsi .*return/)],
  ];
  return marks.map(([name, from], i) => [name, ((i + 1 < marks.length ? marks[i + 1][1] : endMs) - from) / 1000]);
}

async function ours(index) {
  const computer = await createMachine(top, `ours-${index}`, release);
  const startMs = Date.now();
  const start = performance.now();
  const result = await runInstaller(browser, computer, { args: ["/QN"], actions: {} });
  const seconds = (performance.now() - start) / 1000;
  if (result.code !== 0 || !fs.existsSync(path.join(computer.programFiles, "payload.bin"))) {
    throw new Error(`the install failed (${result.code}):\n${computer.keptLog().slice(-3000)}`);
  }
  console.log("    " + phases(computer.keptLog(), startMs, Date.now())
    .map(([name, s]) => `${name} ${s.toFixed(2)} s`).join(", "));
  computer.stop();
  fs.rmSync(computer.root, { recursive: true, force: true });
  return seconds;
}

// The same run in our own window under Xvfb, the road a desktop user takes.
async function oursInWindow(index) {
  const computer = await createMachine(top, `window-${index}`, release);
  const startMs = Date.now();
  const start = performance.now();
  const child = spawn(computer.installer, ["/QN", "--ui=gtk"],
                      { env: { ...computer.env, DISPLAY: display }, stdio: "ignore" });
  const code = await new Promise((resolve) => child.on("exit", (status, signal) => resolve(status ?? signal)));
  const seconds = (performance.now() - start) / 1000;
  if (code !== 0 || !fs.existsSync(path.join(computer.programFiles, "payload.bin"))) {
    throw new Error(`the install in the window failed (${code}):\n${computer.keptLog().slice(-3000)}`);
  }
  console.log("    " + phases(computer.keptLog(), startMs, Date.now())
    .map(([name, s]) => `${name} ${s.toFixed(2)} s`).join(", "));
  computer.stop();
  fs.rmSync(computer.root, { recursive: true, force: true });
  return seconds;
}

async function reference(index) {
  const computer = await createMachine(top, `reference-${index}`, release);
  const folder = path.join(computer.downloads, "reference");
  fs.mkdirSync(folder);
  const start = performance.now();
  const files = PACKAGES.map((name) => {
    const file = path.join(folder, path.basename(name));
    run("curl", ["-sf", "-o", file, `${server.url}/bench/${name}`], computer.env);
    return file;
  });
  run("sha1sum", files, computer.env);
  run(path.join(binDir, "msiexec"), ["/i", files[1], "/qn"], computer.env);
  const seconds = (performance.now() - start) / 1000;
  if (!fs.existsSync(path.join(computer.programFiles, "payload.bin"))) throw new Error("msiexec installed nothing");
  computer.stop();
  fs.rmSync(computer.root, { recursive: true, force: true });
  return seconds;
}

const mine = [];
const windowed = [];
const theirs = [];
try {
  for (let i = 0; i < PAIRS; ++i) {
    mine.push(await ours(i));
    windowed.push(await oursInWindow(i));
    theirs.push(await reference(i));
    console.log(`  round ${i + 1}: installer in Chromium ${mine.at(-1).toFixed(1)} s, in the window ` +
                `${windowed.at(-1).toFixed(1)} s, curl + sha1sum + msiexec ${theirs.at(-1).toFixed(1)} s`);
  }
} finally {
  await browser.close();
  stopDisplay();
  server.stop();
}
const referenceSeconds = median(theirs);
for (const [road, times] of [["in Chromium", mine], ["in the window", windowed]]) {
  const overhead = (median(times) / referenceSeconds - 1) * 100;
  console.log(`whole install with a ${PAYLOAD_MIB} MiB payload, ${PAIRS} rounds (medians): installer ${road} ` +
              `${median(times).toFixed(1)} s, reference ${referenceSeconds.toFixed(1)} s; the wizard's overhead ` +
              `${overhead.toFixed(0)} % (target at most 25 %): ${overhead <= 25 ? "met" : "MISSED"}`);
}
