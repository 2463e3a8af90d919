// window.external as the pages use it, in a real browser against the real stub.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { keptLog, launchBrowser, startStub } from "./stub.mjs";

const DISP_E_TYPEMISMATCH = 0x80020005 | 0;
const DISP_E_UNKNOWNNAME = 0x80020006 | 0;

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

async function openStub(t, env = {}) {
  const stub = await startStub("stub-test-installer", env);
  t.after(() => stub.stop());
  const page = await browser.newPage();
  t.after(() => page.close());
  await page.goto(stub.url);
  return { stub, page };
}

describe("window.external", () => {
  test("exists before page scripts run and returns results", async (t) => {
    const { page } = await openStub(t);
    assert.equal(await page.evaluate(() => window.bridgeReadyEarly), true);
    const value = await page.evaluate(() => {
      window.external.setProperty("colour", "teal");
      return [window.external.getProperty("colour"), window.external.getProperty("never")];
    });
    assert.deepEqual(value, ["teal", ""]);
  });

  test("refuses a fractional number where an integer is expected", async (t) => {
    const { page } = await openStub(t);
    const outcome = await page.evaluate(() => {
      let failure = null;
      try { window.external.setWindowSize(646.5, 506); } catch (e) { failure = e.number; }
      window.external.setWindowSize(646, 506);
      return failure;
    });
    assert.equal(outcome, DISP_E_TYPEMISMATCH);
  });

  test("keeps dynamic members the page adds", async (t) => {
    const { page } = await openStub(t);
    const outcome = await page.evaluate(() => {
      const external = window.external;
      external.foo = 5;
      const read = external.foo;
      delete external.foo;
      let failure = null;
      try { external.foo; } catch (e) { failure = e.number; }
      external.foo = "back";
      return [read, failure, external.foo, "foo" in external];
    });
    assert.deepEqual(outcome, [5, DISP_E_UNKNOWNNAME, "back", true]);
  });

  test("delivers a worker's progress in order, its newest figures before its final call", async (t) => {
    const { page } = await openStub(t);
    const calls = await page.evaluate(() => new Promise((resolve) => {
      const seen = [];
      window.external.testProgress(3000, function (result, total, current) {
        seen.push([result, total, current]);
        if (result !== 10) resolve(seen);
      });
    }));
    const sent = Number(await page.evaluate(() => window.external.getProperty("testCalls")));
    // A page slower than the worker gets its newest figures, not a backlog:
    // never more calls than were made, and some before the last.
    assert.ok(calls.length <= sent, `${calls.length} calls of ${sent}`);
    assert.ok(calls.length >= 3, `only ${calls.length} calls`);
    t.diagnostic(`${calls.length} of ${sent} progress calls in 3 s`);
    const finals = calls.filter(([result]) => result !== 10);
    assert.deepEqual(finals, [[0, 1, 0]]);  // the record starts at (current 0, total 1)
    for (let i = 1; i < calls.length - 1; ++i) {
      assert.ok(calls[i][2] >= calls[i - 1][2], `call ${i} went backwards`);
    }
    assert.deepEqual(calls.at(-2), [10, 3000, 3000]);
  });

  test("a page slower than the worker has no backlog of progress when the worker ends", async (t) => {
    const { page } = await openStub(t);
    // Each call makes a round trip, as a page that reads a text per tick
    // does; "testCalls" is set once the worker has made its last report.
    const after = await page.evaluate(() => new Promise((resolve) => {
      let late = -1;
      window.external.testProgress(2000, function (result) {
        if (late >= 0 || window.external.getProperty("testCalls") !== "") ++late;
        if (result !== 10) resolve(late);
      });
    }));
    // The final call, and at most the newest figures queued before it.
    assert.ok(after >= 0 && after <= 2, `${after} calls after the worker ended`);
  });

  test("answers message boxes and the folder picker from the given answers", async (t) => {
    const { stub, page } = await openStub(t, { STUB_DIALOG_ANSWERS: "cancel,/srv/chosen" });
    const answers = await page.evaluate(() => [
      window.external.confirmMessageBox("Leave the installer?", "Brindlemark"),
      window.external.selectFolder("/opt/start"),
      window.external.selectFolder("/opt/again"),
      window.external.confirmMessageBox("Sure?", "Brindlemark"),
    ]);
    assert.deepEqual(answers, [false, "/srv/chosen", "/opt/again", true]);
    await page.evaluate(() => window.external.closeWindow());
    await stub.exited;
    const log = keptLog(stub);
    assert.match(log, /EMConfirmMessageBox Result : Cancel Close\r\n/);
    assert.match(log, /EMSelectFolder args \/opt\/start, Result \/srv\/chosen\r\n/);
  });

  test("a restart happens only after the user's OK", async (t) => {
    const { stub, page } = await openStub(t, {
      STUB_DIALOG_ANSWERS: "cancel,ok",
      STUB_REBOOT_COMMAND: `echo restarted >> "$TMPDIR/restarts"`,
    });
    await page.evaluate(() => window.external.restartSystem("Restart now?", "Brindlemark"));
    const restarts = path.join(stub.dirs.tmp, "restarts");
    assert.equal(fs.existsSync(restarts), false);
    await page.evaluate(() => window.external.restartSystem("Restart now?", "Brindlemark"));
    assert.equal(fs.readFileSync(restarts, "utf8"), "restarted\n");
  });

  test("script dialogs answer at once, as if cancelled, without a dialog", async (t) => {
    const { page } = await openStub(t);
    const raised = [];
    page.on("dialog", (dialog) => { raised.push(dialog.type()); dialog.accept("typed"); });
    const answers = await page.evaluate(() => [alert("a"), confirm("c"), prompt("p")]);
    assert.deepEqual(answers, [undefined, false, null]);
    assert.deepEqual(raised, []);
  });

  test("an inner frame does not take the page's callbacks", async (t) => {
    const { page } = await openStub(t);
    const result = await page.evaluate(() => new Promise((resolve) => {
      const frame = document.createElement("iframe");
      frame.src = "frame.html";
      frame.onload = () => {
        window.external.testProgress(200, (code) => { if (code !== 10) resolve(code); });
      };
      document.body.appendChild(frame);
    }));
    assert.equal(result, 0);
  });

  test("calls that come in while the window closes are refused, not hung", async (t) => {
    const { stub, page } = await openStub(t);
    const late = await page.evaluate(() => {
      window.external.closeWindow();
      try {
        for (let i = 0; i < 20; ++i) window.external.getProperty("late");
        return "answered";
      } catch (e) {
        return e.number;
      }
    });
    assert.ok(late === "answered" || typeof late === "number", `late call gave ${late}`);
    assert.equal(await stub.exited, 0);
  });

  test("closeWindow ends the process with the teardown", async (t) => {
    const { stub, page } = await openStub(t);
    await page.evaluate(() => window.external.closeWindow());
    assert.equal(await stub.exited, 0);
    assert.match(keptLog(stub), /DEBUG\] ZSClose\r\n/);
    assert.deepEqual(fs.readdirSync(stub.dirs.tmp), ["Brindlemark_log"]);
  });
});

describe("the loopback server", () => {
  function get(url, headers = {}) {
    return new Promise((resolve, reject) => {
      const target = new URL(url);
      http.get({ host: target.hostname, port: target.port, path: target.pathname, headers },
               (response) => { response.resume(); resolve(response.statusCode); })
        .on("error", reject);
    });
  }

  test("refuses requests without the token, from other hosts, or outside the folder",
       async (t) => {
    const stub = await startStub();
    t.after(() => stub.stop());
    const url = new URL(stub.url);
    const token = url.pathname.split("/")[1];
    assert.equal(await get(stub.url), 200);
    assert.equal(await get(`${url.origin}/pages/Load.html`), 403);
    assert.equal(await get(`${url.origin}/${"0".repeat(32)}/pages/Load.html`), 403);
    assert.equal(await get(stub.url, { Host: `localhost:${url.port}` }), 403);
    assert.equal(await get(stub.url, { Host: "attacker.example" }), 403);
    const refused = [403, 404];
    for (const escape of ["../../../etc/passwd", "%2e%2e/%2e%2e/etc/passwd", "..%2f..%2fetc/passwd",
                          "/etc/passwd", "..\\..\\etc\\passwd"]) {
      const status = await get(`${url.origin}/${token}/pages/${escape}`);
      assert.ok(refused.includes(status), `${escape} answered ${status}`);
    }
    assert.equal(await get(`${url.origin}/${token}/pages/missing.html`), 404);
    assert.equal(await get(`${url.origin}/launch/${"1".repeat(32)}`), 403);
  });
});
