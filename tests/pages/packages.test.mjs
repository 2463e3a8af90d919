// A page downloads a package from the release server and installs it, in a
// real browser against the real stub: progress calls, then one final call.
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { test } from "node:test";
import { binDir, launchBrowser, startStub } from "./stub.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const serverScript = path.resolve(here, "../../tools/release-server/release_server.py");

async function startReleaseServer(root) {
  const portFile = path.join(root, "port");
  const server = spawn("python3", [serverScript, root, "--port-file", portFile],
                       { stdio: "ignore" });
  while (!(fs.existsSync(portFile) && fs.readFileSync(portFile, "utf8").trim())) {
    if (server.exitCode !== null) throw new Error("the release server ended");
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return { port: Number(fs.readFileSync(portFile, "utf8")), stop: () => server.kill() };
}

test("a page downloads a package and installs it, each with one final call", async (t) => {
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const stub = await startStub();
  t.after(() => stub.stop());
  const served = path.join(stub.root, "served");
  fs.mkdirSync(served);
  // A program as a release carries it: the test program with bytes of its own.
  const program = path.join(served, "prereq.exe");
  fs.writeFileSync(program, Buffer.concat([fs.readFileSync(path.join(binDir, "stub-test-exit")),
                                           Buffer.alloc(3 << 20, 7)]));
  execFileSync(path.join(binDir, "stub-meta"), [program, `${program}.meta`]);
  const server = await startReleaseServer(served);
  t.after(() => server.stop());

  const page = await browser.newPage();
  await page.goto(stub.url);
  const target = path.join(stub.dirs.tmp, "prereq.exe");
  const run = (method, args) => page.evaluate(([method, args]) => new Promise((resolve) => {
    const calls = [];
    window.external[method](...args, (...values) => {
      calls.push(values);
      if (values[0] !== 10) resolve(calls);
    });
  }), [method, args]);

  const downloaded = await run("download",
                               [`http://127.0.0.1:${server.port}/prereq.exe`,
                                target.replaceAll("/", "\\"), "", false, true]);
  assert.deepEqual(downloaded.at(-1), [0, 1, 0]);
  assert.equal(downloaded.filter(([result]) => result !== 10).length, 1);
  assert.ok(downloaded.length >= 2, "no progress before the end");
  const size = fs.statSync(program).size;
  for (const [, total, current] of downloaded.slice(0, -1)) {
    assert.ok(total === 1 || total === size, `total ${total}`);
    assert.ok(current >= 0 && current <= total, `current ${current} of ${total}`);
  }
  assert.deepEqual(fs.readFileSync(target), fs.readFileSync(program));

  const installed = await run("install", [target, "0", 1]);
  assert.deepEqual(installed.at(-1), [0, 1, 0]);
  assert.equal(installed.filter(([result]) => result !== 10).length, 1);
  // A code the program ends with reaches the page as its result and stays readable.
  const failed = await run("install", [target, "1603", 0]);
  assert.deepEqual(failed.at(-1), [4, 1, 0]);
  assert.equal(await page.evaluate(() => window.external.getLastInstallError()), 1603);
});
