// The desktop window (GTK + WebKitGTK) under Xvfb: placement, sizing, title,
// suppressed alerts, and a screenshot of what a person would see.
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { binDir, fixture } from "./stub.mjs";

const gtkFixture = path.join(path.dirname(fixture), "gtk-fixture");

function available(command) {
  try { execFileSync("sh", ["-c", `command -v ${command}`], { stdio: "ignore" }); return true; }
  catch { return false; }
}

const haveTools = ["Xvfb", "xdotool", "import"].every(available) &&
  (() => { try { execFileSync("pkg-config", ["--exists", "webkit2gtk-4.1"]); return true; }
           catch { return false; } })();

async function until(condition, what, timeoutMs = 30000) {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    const value = condition();
    if (value) return value;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  throw new Error(`timed out waiting for ${what}`);
}

// GLib synchronises through futexes ThreadSanitizer cannot see into, so the
// toolkit is left out of the ThreadSanitizer run.
const skip = (!haveTools && "needs Xvfb, xdotool, ImageMagick and WebKitGTK") ||
  (process.env.STUB_TSAN && "GTK is not built for ThreadSanitizer");

test("the GTK window is placed, sized once, titled by the page and shows it", { skip },
     async (t) => {
  // Xvfb picks a free display itself and tells us which on descriptor 3.
  const xvfb = spawn("Xvfb", ["-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                     { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  t.after(() => xvfb.kill());
  let announced = "";
  xvfb.stdio[3].on("data", (chunk) => { announced += chunk.toString(); });
  const display = ":" + (await until(() => announced.includes("\n") && announced.trim(), "Xvfb"));

  const root = fs.mkdtempSync(path.join(os.tmpdir(), "stub-gtk-"));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  for (const name of ["tmp", "registry", "runtime"]) fs.mkdirSync(path.join(root, name));
  const env = { ...process.env, DISPLAY: display, TMPDIR: path.join(root, "tmp"),
                STUB_REGISTRY_DIR: path.join(root, "registry"),
                XDG_RUNTIME_DIR: path.join(root, "runtime"), STUB_PAGES_DIR: gtkFixture };
  // What the stub and WebKit print goes beside the screenshot, for a failed run.
  const artifacts = path.resolve(binDir, "..", "test-artifacts");
  fs.mkdirSync(artifacts, { recursive: true });
  const output = fs.openSync(path.join(artifacts, "gtk-stub.log"), "w");
  const stub = spawn(path.join(binDir, "BrindlemarkInstall"), ["run=1", "--ui=gtk"],
                     { env, stdio: ["ignore", output, output] });
  const exited = new Promise((resolve) => stub.on("exit", (code) => resolve(code)));
  t.after(() => { if (stub.exitCode === null) stub.kill("SIGKILL"); });

  const x = (...args) => execFileSync("xdotool", args, { env, encoding: "utf8" }).trim();
  const find = (title) => {
    try { return x("search", "--name", `^${title}$`).split("\n")[0]; } catch { return ""; }
  };
  const geometry = (window) => {
    const text = x("getwindowgeometry", window);
    const [, left, top] = text.match(/Position: (\d+),(\d+)/);
    const [, width, height] = text.match(/Geometry: (\d+)x(\d+)/);
    return [Number(left), Number(top), Number(width), Number(height)];
  };

  // Before the page sizes it: 400 x 200 at 96 DPI, centred on the screen.
  // The first WebKit start on a machine may build font caches: be patient.
  const first = await until(() => find("loading"), "the window", 120000);
  assert.deepEqual(geometry(first), [440, 412, 400, 200]);

  // The page sizes it once the document is complete (its alert blocked nothing).
  const sized = await until(() => find("sized"), "the page to size the window");
  assert.deepEqual(geometry(sized), [390, 362, 500, 300]);
  // What a person would see, kept beside the build for a look after the run.
  const shot = path.join(artifacts, "gtk-window.png");
  execFileSync("import", ["-window", "root", shot], { env });
  assert.ok(fs.statSync(shot).size > 1000);

  // The user moves and resizes it; the same size again leaves it there.
  x("windowmove", sized, "20", "30");
  x("windowsize", sized, "520", "310");
  const again = await until(() => find("sized again"), "the second setWindowSize");
  assert.deepEqual(geometry(again), [20, 30, 520, 310]);

  // The page closes its window; the process ends with the teardown.
  assert.equal(await exited, 0);
  assert.deepEqual(fs.readdirSync(path.join(root, "tmp")), ["Brindlemark_log"]);
});
