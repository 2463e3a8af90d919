// The packed installer: its pages come out of the executable into a fresh
// folder under the temporary folder, and go with the teardown.
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { keptLog, launchBrowser, startStub } from "./stub.mjs";

test("the packed installer shows its own pages and removes them at the end", async (t) => {
  const browser = await launchBrowser();
  t.after(() => browser.close());
  // No STUB_PAGES_DIR: the pages packed into the executable are used.
  const stub = await startStub("BrindlemarkInstall", { STUB_PAGES_DIR: "" });
  t.after(() => stub.stop());
  const page = await browser.newPage();
  await page.goto(stub.url);
  // The wizard's start page hands over to its first page.
  await page.waitForURL(/\/pages\/Initialization\/page\.html/);
  assert.equal(await page.title(), "Initialization");
  const folder = await page.evaluate(() => window.external.getProperty("resourceLocation"));
  assert.equal(path.dirname(folder), stub.dirs.tmp);
  assert.match(path.basename(folder), /^[0-9A-Fa-f]+$/);
  assert.ok(fs.existsSync(path.join(folder, "Load.html")));

  await page.click("#close");
  assert.equal(await stub.exited, 0);
  assert.ok(!fs.existsSync(folder), "the page folder is still there");
  assert.match(keptLog(stub), /load resource success, temporary folder path : /);
});
