// What the web service hears from a run driven by its page.
import assert from "node:assert/strict";
import { test } from "node:test";
import { launchBrowser, startStub, startWebServiceMock } from "./stub.mjs";

test("a completed run reports its start, the user's steps and its end", async (t) => {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const stub = await startStub("stub-test-installer", mock.env);
  t.after(() => stub.stop());
  const page = await browser.newPage();
  await page.goto(stub.url);

  await page.evaluate(() => {
    window.external.trackUserActivity("Welcome: Next <1>");
    window.external.setInstallStatus(1);
    window.external.closeWindow();
  });
  await stub.exited;

  const [started, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(started.body, /<status>started<\/status>/);
  assert.match(ended.body, /<status>completed<\/status>/);
  const token = started.body.match(/<requestToken>(.*?)<\/requestToken>/)[1];
  assert.equal(ended.body.match(/<requestToken>(.*?)<\/requestToken>/)[1], token);
  const [activity] = await mock.requests("/v1/logUserActivity", 1);
  assert.match(activity.body,
               new RegExp(`^<UserActivity><token>${token}</token>.*<activity>Welcome: Next &lt;1&gt;</activity></UserActivity>$`));
});
