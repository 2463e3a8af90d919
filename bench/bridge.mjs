// Latency of window.external: the median of 1,000 synchronous calls with a
// string result, beside the median of a bare request to the same server, in
// headless Chromium (the loopback bridge) and in the GTK window under Xvfb
// (the bridge inside the process), with the rate progress callbacks reach
// the GTK page at.
//   node bench/bridge.mjs        (after scripts/setup; uses build/bin)
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { binDir, launchBrowser, startDisplay, startStub } from "../tests/pages/stub.mjs";

// The same call without a browser: what the stub itself adds.
async function directCalls(pageUrl, rounds) {
  const url = new URL(pageUrl);
  const token = url.pathname.split("/")[1];
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const body = JSON.stringify({ op: "call", name: "getProperty", flags: 3, session: 1,
                                args: [{ t: "bstr", v: "bench" }] });
  const once = () => new Promise((resolve, reject) => {
    const request = http.request({ host: url.hostname, port: url.port, agent, method: "POST",
                                   path: `/${token}/bridge/invoke`,
                                   headers: { "Content-Type": "application/json" } },
                                 (response) => { response.resume(); response.on("end", resolve); });
    request.on("error", reject);
    request.end(body);
  });
  const times = [];
  for (let i = 0; i < rounds + 50; ++i) {
    const start = performance.now();
    await once();
    if (i >= 50) times.push(performance.now() - start);
  }
  agent.destroy();
  return times.sort((a, b) => a - b)[Math.floor(times.length / 2)];
}

const ROUNDS = 1000;
const PROGRESS_MS = 2000;
const RATE = 500;

// The measuring page for the GTK window: it reports through its title. The
// engine's clock ticks in whole milliseconds, so calls are timed in batches
// of 20 and the median taken over the batches.
const gtkPage = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>bench</title></head>
<body><script>
  window.addEventListener("load", function () {
    var external = window.external;
    external.setWindowSize(300, 200);
    external.setProperty("bench", "a string result");
    var bare = function () { var x = new XMLHttpRequest(); x.open("GET", "ping.txt", false); x.send(); };
    var call = function () { external.getProperty("bench"); };
    var perCall = function (what, rounds) {
      var batches = [];
      for (var b = 0; b < rounds / 20; ++b) {
        var start = performance.now();
        for (var i = 0; i < 20; ++i) what();
        batches.push((performance.now() - start) / 20);
      }
      batches.sort(function (a, b) { return a - b; });
      return batches[Math.floor(batches.length / 2)];
    };
    perCall(call, 100); perCall(bare, 100);
    var figures = { call: perCall(call, ${ROUNDS}), bare: perCall(bare, ${ROUNDS}) };
    // Progress callbacks at ${RATE} a second for ${PROGRESS_MS / 1000} s, with calls going on meanwhile.
    var received = 0, first = 0, last = 0, during = [];
    external.testCallbacks(${RATE * PROGRESS_MS / 1000}, ${RATE}, function (code) {
      var now = performance.now();
      if (code !== 10) {
        figures.received = received;
        figures.seconds = (last - first) / 1000;
        figures.during = during.sort(function (a, b) { return a - b; })[Math.floor(during.length / 2)];
        document.title = "BENCH " + JSON.stringify(figures);
        setTimeout(function () { external.closeWindow(); }, 200);
        return;
      }
      if (!first) first = now;
      last = now;
      ++received;
    });
    var busy = setInterval(function () {
      if (figures.received !== undefined) { clearInterval(busy); return; }
      during.push(perCall(call, 20));
    }, 20);
  });
</script></body></html>`;

function available(command) {
  try { execFileSync("sh", ["-c", `command -v ${command}`], { stdio: "ignore" }); return true; }
  catch { return false; }
}

async function gtkFigures() {
  const { display, stop } = await startDisplay();
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "stub-bench-"));
  try {
    for (const name of ["tmp", "registry", "runtime", "pages"]) fs.mkdirSync(path.join(root, name));
    fs.writeFileSync(path.join(root, "pages", "Load.html"), gtkPage);
    fs.writeFileSync(path.join(root, "pages", "ping.txt"), "pong");
    const env = { ...process.env, DISPLAY: display, TMPDIR: path.join(root, "tmp"),
                  STUB_REGISTRY_DIR: path.join(root, "registry"),
                  XDG_RUNTIME_DIR: path.join(root, "runtime"), STUB_PAGES_DIR: path.join(root, "pages") };
    const stub = spawn(path.join(binDir, "stub-test-installer"), ["run=1", "--ui=gtk"],
                       { env, stdio: "ignore" });
    const exited = new Promise((resolve) => stub.on("exit", resolve));
    let title = "";
    while (!title && stub.exitCode === null) {
      try {
        const window = execFileSync("xdotool", ["search", "--name", "^BENCH "], { env, encoding: "utf8" })
          .trim().split("\n")[0];
        title = execFileSync("xdotool", ["getwindowname", window], { env, encoding: "utf8" }).trim();
      } catch { await new Promise((resolve) => setTimeout(resolve, 100)); }
    }
    await exited;
    if (!title) throw new Error("the GTK window ended without figures");
    return JSON.parse(title.slice("BENCH ".length));
  } finally {
    stop();
    fs.rmSync(root, { recursive: true, force: true });
  }
}

const stub = await startStub();
const browser = await launchBrowser();
try {
  const page = await browser.newPage();
  await page.goto(stub.url);
  const result = await page.evaluate(async (rounds) => {
    const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
    const external = window.external;
    external.setProperty("bench", "a string result");
    const ping = new URL("ping.txt", location.href).href;
    // Warm both paths first.
    for (let i = 0; i < 50; ++i) { external.getProperty("bench"); await (await fetch(ping)).text(); }
    const calls = [];
    for (let i = 0; i < rounds; ++i) {
      const start = performance.now();
      external.getProperty("bench");
      calls.push(performance.now() - start);
    }
    const fetches = [];
    for (let i = 0; i < rounds; ++i) {
      const start = performance.now();
      await (await fetch(ping)).text();
      fetches.push(performance.now() - start);
    }
    return { call: median(calls), fetch: median(fetches) };
  }, ROUNDS);
  const direct = await directCalls(stub.url, ROUNDS);
  const ratio = result.call / result.fetch;
  console.log(`sync call with string result: median ${result.call.toFixed(3)} ms over ${ROUNDS}`);
  console.log(`bare fetch round trip:        median ${result.fetch.toFixed(3)} ms over ${ROUNDS}`);
  console.log(`the same call from a plain HTTP client (no browser): median ${direct.toFixed(3)} ms`);
  console.log(`ratio ${ratio.toFixed(2)} (target <= 1.5): ${ratio <= 1.5 ? "met" : "MISSED"}`);
  console.log(`call ${result.call.toFixed(3)} ms (target <= 3 ms): ${result.call <= 3 ? "met" : "MISSED"}`);
} finally {
  await browser.close();
  await stub.stop();
}

if (["Xvfb", "xdotool"].every(available)) {
  const gtk = await gtkFigures();
  const share = gtk.call - gtk.bare;
  const sent = (RATE * PROGRESS_MS) / 1000;
  const rate = gtk.received / Math.max(gtk.seconds, 0.001);
  console.log("GTK window (bridge inside the process):");
  console.log(`  sync call with string result: median ${gtk.call.toFixed(3)} ms over ${ROUNDS} ` +
              `(target < 1 ms): ${gtk.call < 1 ? "met" : "MISSED"}`);
  console.log(`  bare synchronous request:     median ${gtk.bare.toFixed(3)} ms over ${ROUNDS}`);
  console.log(`  the stub's share:             ${share.toFixed(3)} ms (target < 0.2 ms): ` +
              `${share < 0.2 ? "met" : "MISSED"}`);
  // A page busy when reports come gets the newest figures instead of each:
  // what matters is that calls stay quick meanwhile.
  const kept = gtk.during < 1;
  console.log(`  progress callbacks at ${RATE} a second: ${gtk.received} of ${sent} delivered ` +
              `(the rest replaced by newer figures), ${rate.toFixed(0)} a second; sync calls ` +
              `meanwhile ${gtk.during.toFixed(3)} ms (target < 1 ms): ${kept ? "met" : "MISSED"}`);
} else {
  console.log("GTK window: skipped (needs Xvfb and xdotool)");
}
