// The product tracker's page without a window of the installer's own: served
// on the loopback for whatever opens it, here a second browser tab.
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { test } from "node:test";
import { launchBrowser, startStub, startWebServiceMock, waitFor } from "./stub.mjs";

// A packed installer whose tracker page is the mock's with `query`; the
// tracker's address goes to a file of the test's.
async function startTrackedStub(t, mock, query) {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "stub-tracker-"));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const trackerUrlFile = path.join(scratch, "tracker-url");
  const container = `${mock.env.STUB_WEBSERVICE_URL}/static/ipm/product-analytics/index.html`;
  const stub = await startStub("BrindlemarkInstall",
                               { ...mock.env, STUB_TRACKER_URL_FILE: trackerUrlFile }, {
    prepare(root) {
      const settings = path.join(root, "root", "ProgramData", "Zelvo", "ProductAnalytics");
      fs.mkdirSync(settings, { recursive: true });
      fs.writeFileSync(path.join(settings, "productanalytics.ini"),
                       `LOGGING_ENABLED=true\nONLINE_CONTAINER=${container}${query}\n`);
    },
  });
  t.after(() => stub.stop());
  const trackerUrl = () => waitFor(() => fs.existsSync(trackerUrlFile) &&
                                       fs.readFileSync(trackerUrlFile, "utf8"),
                                   "the tracker's address", stub.child);
  const log = () => fs.readdirSync(stub.dirs.tmp)
    .filter((name) => name.startsWith("productanalytics_"))
    .map((name) => fs.readFileSync(path.join(stub.dirs.tmp, name), "utf8")).join("");
  return { stub, trackerUrl, log };
}

test("the tracker's page receives every event in order, the run's final one too", async (t) => {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const { stub, trackerUrl, log: trackerLog } =
    await startTrackedStub(t, mock, "?debug=1&ack=double");
  const wizard = await browser.newPage();
  await wizard.goto(stub.url);
  await wizard.evaluate(() => {
    window.external.trackingByAnalyticsSDK("install.start", "step=1");
    window.external.setTrackingProperty(0, "web");
    window.external.trackingByAnalyticsSDK("page.shown", "name=Load");
  });

  // The tracker's page, opened where nobody sees it; it trusts the mock.
  const hidden = await browser.newContext({ ignoreHTTPSErrors: true });
  t.after(() => hidden.close());
  const tracker = await hidden.newPage();
  await tracker.goto(await trackerUrl());
  await mock.requests("/static/ipm/product-analytics/collect", 2);
  await wizard.evaluate(() => window.external.closeWindow());
  assert.equal(await stub.exited, 0);

  const events = (await mock.requests("/static/ipm/product-analytics/collect", 3))
    .map((request) => JSON.parse(request.body));
  assert.deepEqual(events.map((event) => event.eventName),
                   ["install.start", "page.shown", "install.completed"]);
  assert.equal(events[1].eventData["install.channel"], "web");
  assert.equal(events[2].eventData["install.completed"], "CNX");
  const log = trackerLog();
  assert.match(log, / TRACE\] JS DEBUG: page.shown\n/);
  assert.match(log, / TRACE\] vaArgsRet:\ntracked install.completed\n/);
  assert.match(log, / TRACE\] LaunchTrackTask end\n/);
  // Two answers per event never took the count below zero: nothing was left
  // to wait for when the run ended.
  assert.doesNotMatch(log, /Wait TrackThreadExited failed/);
});

test("a tracker page that never answers, or never loads, lets the run end", async (t) => {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  for (const opened of [true, false]) {
    const { stub, trackerUrl, log } = await startTrackedStub(t, mock, "?ack=none");
    const wizard = await browser.newPage();
    await wizard.goto(stub.url);
    await wizard.evaluate(() => window.external.trackingByAnalyticsSDK("install.start", ""));
    const address = await trackerUrl();
    if (opened) {
      const hidden = await browser.newContext({ ignoreHTTPSErrors: true });
      t.after(() => hidden.close());
      await (await hidden.newPage()).goto(address);
      await mock.requests("/static/ipm/product-analytics/collect", 1);
    }
    await wizard.evaluate(() => window.external.closeWindow());
    assert.equal(await stub.exited, 0);
    assert.match(log(), / TRACE\] release end\n/);
    assert.equal(/OnDocumentComplete/.test(log()), opened);
  }
});
