// A wizard run for the browser tests: the page package as the build stages
// it, a local download site, registry values seeded before the start, the
// web-service mock and the stub, with the page open in Chromium.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import https from "node:https";
import os from "node:os";
import path from "node:path";
import { binDir, keptLog, launchBrowser, startStub, startWebServiceMock } from "./stub.mjs";
import { pagesDir } from "./wizard-context.mjs";

const jquery = path.join(pagesDir, "node_modules/jquery/dist/jquery.min.js");

// `cleanup` is a test context or anything else with `after(fn)`.
export function stagePages(cleanup, listUrl, edit) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "wizard-pages-"));
  cleanup.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  fs.cpSync(pagesDir, folder, {
    recursive: true,
    filter: (source) => !/node_modules|package(-lock)?\.json$/.test(path.relative(pagesDir, source)),
  });
  fs.copyFileSync(jquery, path.join(folder, "common/js/jquery-1.11.2.min.js"));
  rewrite(folder, "config/installparams.js", (text) =>
    text.replace(/DOWNLOAD_URL: "[^"]*"/, `DOWNLOAD_URL: "${listUrl}"`));
  edit?.(folder);
  return folder;
}

export function rewrite(folder, file, change) {
  const where = path.join(folder, file);
  const before = fs.readFileSync(where, "utf8");
  const after = change(before);
  // An edit that no longer matches would test the shipped settings instead.
  assert.notEqual(after, before, `the edit of ${file} changed nothing`);
  fs.writeFileSync(where, after);
}

// The download site: `files(base)` maps paths to bodies, or to a function
// `(request, reply)` that answers itself; the installer list is the packaged
// one unless given.
export async function startSite(cleanup, files = () => ({})) {
  const site = {};
  const server = http.createServer((request, reply) => {
    const body = site[new URL(request.url, "http://x").pathname];
    if (typeof body === "function") {
      body(request, reply);
      return;
    }
    if (body === undefined) {
      reply.writeHead(404);
      reply.end();
      return;
    }
    reply.writeHead(200, { "Content-Type": "application/octet-stream", "Content-Length": body.length });
    reply.end(request.method === "HEAD" ? undefined : body);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  cleanup.after(() => {
    server.closeAllConnections();
    server.close();
  });
  const base = `http://127.0.0.1:${server.address().port}`;
  Object.assign(site, { "/list/BrindlemarkComponents.js":
                          fs.readFileSync(path.join(pagesDir, "config/BrindlemarkComponents.js")) },
                files(base));
  return {
    base, listUrl: `${base}/list/BrindlemarkComponents.js`,
    // Ends every stalled transfer.
    release: () => { for (const body of Object.values(site)) body.release?.(); },
  };
}

// An answer that announces all of `body`, sends its first `sent` bytes and
// then never goes on: a transfer that stays under way until `release()`,
// which ends those under way and refuses later ones.
export function stalled(body, sent = 0) {
  const open = new Set();
  let released = false;
  const answer = (request, reply) => {
    if (released) {
      reply.writeHead(404);
      reply.end();
      return;
    }
    reply.writeHead(200, { "Content-Type": "application/octet-stream", "Content-Length": body.length });
    if (request.method === "HEAD") {
      reply.end();
      return;
    }
    open.add(reply);
    reply.on("close", () => open.delete(reply));
    if (sent > 0) reply.write(body.subarray(0, sent));
  };
  answer.release = () => {
    released = true;
    for (const reply of open) reply.destroy();
  };
  return answer;
}

// The meta file the download verifies `data` with.
export function metaOf(cleanup, data) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "wizard-package-"));
  cleanup.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const file = path.join(folder, "data.bin");
  fs.writeFileSync(file, data);
  const made = spawnSync(path.join(binDir, "stub-meta"), [file]);
  assert.equal(made.status, 0, String(made.stderr));
  return fs.readFileSync(`${file}.meta`);
}

// Writes registry values for the run before it starts.
export function seedRegistry(root, values) {
  for (const [key, name, data] of values) {
    const done = spawnSync(path.join(binDir, "stub-reg"), ["add", key, "/v", name, "/d", data, "/f"],
                           { env: { ...process.env, STUB_REGISTRY_DIR: path.join(root, "registry") } });
    assert.equal(done.status, 0, String(done.stderr));
  }
}

// Sets the mock's reply for a service path.
export function putReply(mock, servicePath, body) {
  return new Promise((resolve, reject) => {
    const request = https.request(`${mock.env.STUB_WEBSERVICE_URL}/__reply${servicePath}`,
                                  { method: "PUT", ca: fs.readFileSync(mock.env.STUB_CA_BUNDLE) },
                                  (reply) => { reply.resume(); reply.on("end", resolve); });
    request.on("error", reject);
    request.end(body);
  });
}

// Starts a run and opens its page. A `mock` and a browser `context` may be
// shared by runs one after the other; else the test gets its own.
// `prepare(root)` runs after the registry is seeded, `observe(page)` before
// the page opens.
export async function openWizard(t, { registry = [], site, edit, region, args, prepare, observe, env = {},
                                      mock, context } = {}) {
  if (mock) {
    await mock.reset();
  } else {
    mock = await startWebServiceMock();
    t.after(() => mock.stop());
  }
  if (region) await putReply(mock, "/v1/isInEmbargoedCountry", region);
  if (!context) {
    const browser = await launchBrowser();
    t.after(() => browser.close());
    context = await browser.newContext();
  }
  const pages = stagePages(t, (site ?? await startSite(t)).listUrl, edit);
  const stub = await startStub("BrindlemarkInstall-bare",
                               { ...mock.env, STUB_PAGES_DIR: pages, STUB_NETWORK: "online",
                                 LANG: "en_US.UTF-8", LC_ALL: "", LANGUAGE: "", ...env },
                               { prepare: (root) => { seedRegistry(root, registry); prepare?.(root); }, args });
  t.after(() => stub.stop());
  const page = await context.newPage();
  t.after(() => page.close());
  const errors = [];
  let closing = false;
  page.on("pageerror", (error) => {
    if (!(closing && /^window\.external/.test(error.message))) errors.push(error.message);
  });
  if (process.env.WIZARD_DEBUG) {
    page.on("console", (m) => console.log("console:", m.text()));
    page.on("pageerror", (e) => console.log("stack:", e.stack));
    page.on("framenavigated", (f) => console.log("nav:", f.url()));
  }
  t.after(() => assert.deepEqual(errors, []));
  observe?.(page);
  await page.goto(stub.url);
  // Clicks what closes the window. A real window takes the page and its
  // timers with it; here they live on to call an installer that has gone.
  const closeBy = async (selector) => {
    closing = true;
    await page.click(selector);
    await page.goto("about:blank");
  };
  return { mock, stub, page, pages, closeBy };
}

export const onPage = (page, name) => page.waitForFunction((title) => document.title === title &&
  document.readyState === "complete", name, { polling: 50, timeout: 0 });

export const runtimes = [
  ["HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64", "Version", "14.40.33810"],
  ["HKLM\\SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86", "Version", "14.40.33810"],
];

export const installedProduct = ["HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0", "InstallPath", "/opt/zelvo/brindlemark"];

// The activity names the mock received, once there are `count`.
export async function activities(mock, count) {
  return (await mock.requests("/v1/logUserActivity", count))
    .map((request) => request.body.match(/<activity>(.*)<\/activity>/)[1]);
}

// The `<status>` text of the run's end report (the second analytics report).
export async function endStatus(mock) {
  const [, ended] = await mock.requests("/v1/logAnalytics", 2);
  return ended.body.match(/<status>(.*)<\/status>/)[1];
}

// The page's text of every "install.completed" event in the kept log, without
// the tracking properties the installer adds after it.
export function finalReports(stub) {
  return [...keptLog(stub).matchAll(/event="install\.completed", properties="([^"]*)"/g)]
    .map((found) => found[1].split("|").filter((item) => /^install\.(completed|fail-reason)=/.test(item)).join("|"));
}

// A list with one product file to fetch and nothing to run, downloaded into
// the run's temporary folder; no thank-you page opens on the desktop.
export function productList(base, fileName, size) {
  return Buffer.from(`var Components = [
    { group: "Product", sku: "Pro", type: 2 | 1, name: "ProductName",
      registry: { check: false, key: "HKLM\\\\SOFTWARE\\\\Zelvo\\\\Brindlemark\\\\24.0", value: "InstallPath" },
      files: [{ name: ${JSON.stringify(fileName)}, url: "${base}/files/data.bin", size: ${size} }] }
  ];`);
}

export function downloadToTemp(folder) {
  rewrite(folder, "config/config.js", (text) =>
    text.replace(/Feature_DownloadFolder = "Current"/, 'Feature_DownloadFolder = "Temp"'));
  rewrite(folder, "config/installparams.js", (text) => text.replace(/TYP_URL: "[^"]*"/, 'TYP_URL: ""'));
}

export async function walkToDownloading(page) {
  await onPage(page, "Welcome");
  await page.click("#next");
  await onPage(page, "Agreement");
  await page.click("#accept");
  await page.click("#next");
  await onPage(page, "Analytics");
  await page.click("#disagree");
}
