// The system, file and registry methods from a page in a real browser,
// against an installer packed with a download tag.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { binDir, fixture, launchBrowser, startStub } from "./stub.mjs";

const TAG = "campaign=spring;ref=\u20ac42";

test("a page reaches each method family and reads the installer's tag", async (t) => {
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const installer = (root) => path.join(root, "TaggedInstall");
  // Retry, then Cancel for the running-program box; the last for a confirm box.
  const stub = await startStub(installer, { STUB_PAGES_DIR: "", STUB_NETWORK: "offline",
                                            STUB_DIALOG_ANSWERS: "retry,cancel,cancel" }, {
    prepare(root) {
      execFileSync(path.join(binDir, "stub-pack"), [path.join(binDir, "BrindlemarkInstall-bare"),
                                                    fixture, installer(root), "--tag", TAG]);
      fs.writeFileSync(path.join(root, "tmp", "file.txt"), "12345");
    },
  });
  t.after(() => stub.stop());
  const page = await browser.newPage();
  await page.goto(stub.url);

  const tmp = stub.dirs.tmp.replaceAll("/", "\\");
  const answers = await page.evaluate((tmp) => {
    const x = window.external;
    x.setDataToReg("HKCU\\Software\\PageTest\\16.0\\Word\\InstallRoot", "path", "C:\\Office", true);
    return {
      version: x.getOSVersion(),
      language: x.getLanguageByID(1050),
      online: x.isInternetConnected(),
      machine: x.getMachineId().length,
      size: x.getFileSize(tmp + "\\file.txt"),
      made: x.createDirectory(tmp + "\\made\\here"),
      exists: x.isFileExists(tmp + "\\made\\here"),
      tag: x.getEmbeddedDataFromCurrentExe(16),
      wholeTag: x.getEmbeddedDataFromCurrentExe(23),
      tooLong: x.getEmbeddedDataFromCurrentExe(24),
      stored: x.getDataFromReg("HKCU\\Software\\PageTest\\16.0\\Word\\InstallRoot", "path"),
      found: x.searchRegKey(true, "HKCU\\Software\\PageTest", "WORD\\InstallRoot", "path"),
      base: x.getBaseRegKey(),
      minimized: x.minimizedWindow(),
      notRunning: x.isRunning("no-such-program.exe", "Brindlemark", "Close it first."),
      running: x.isRunning("taggedinstall", "Brindlemark", "Close it first."),
      boxesLeft: x.confirmMessageBox("Leave?", "Brindlemark"),
    };
  }, tmp);
  assert.match(answers.version, /^\d+\.\d+$/);
  assert.equal(answers.language, 80);
  assert.equal(answers.online, false);
  assert.equal(answers.machine, 64);
  assert.equal(answers.size, "5");
  assert.equal(answers.made, true);
  assert.equal(answers.exists, true);
  assert.ok(fs.statSync(path.join(stub.dirs.tmp, "made", "here")).isDirectory());
  assert.equal(answers.tag, "campaign=spring;");
  assert.equal(answers.wholeTag, TAG);
  assert.equal(answers.tooLong, "");
  assert.equal(answers.stored, "C:\\Office");
  assert.equal(answers.found, true);
  assert.match(answers.base, /^HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\/);
  // The installer itself runs under that name: two boxes, then the user gave up.
  assert.equal(answers.minimized, undefined);
  assert.equal(answers.notRunning, false);
  assert.equal(answers.running, true);
  assert.equal(answers.boxesLeft, false);
});
