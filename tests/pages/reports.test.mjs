// What the web service hears from a run driven by its page.
import assert from "node:assert/strict";
import { test } from "node:test";
import { launchBrowser, startStub, startWebServiceMock } from "./stub.mjs";

// A test installer reporting to a fresh mock, its page open in the browser.
async function openInstaller(t) {
  const mock = await startWebServiceMock();
  t.after(() => mock.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const stub = await startStub("stub-test-installer", mock.env);
  t.after(() => stub.stop());
  const page = await browser.newPage();
  await page.goto(stub.url);
  return { mock, stub, page };
}

test("a completed run reports its start, the user's steps and its end", async (t) => {
  const { mock, stub, page } = await openInstaller(t);

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

test("a run the user leaves reports canceled, escaped and with nothing unset", async (t) => {
  const { mock, stub, page } = await openInstaller(t);

  // The wizard starts the status at 0 and the user leaves; the channel comes
  // from the page with markup in it.
  await page.evaluate(() => {
    window.external.setInstallStatus(0);
    window.external.setChannel("web<beta>&more");
    window.external.closeWindow();
  });
  await stub.exited;

  const [started, ended] = await mock.requests("/v1/logAnalytics", 2);
  assert.match(started.body, /<status>started<\/status>/);
  assert.match(ended.body, /<status>canceled<\/status>/);
  assert.match(ended.body, /<channelId>web&lt;beta&gt;&amp;more<\/channelId>/);
  // This installer sets no external property: the element is left out.
  assert.doesNotMatch(ended.body, /externalProperties/);
  // Both documents are well-formed XML and read back as sent.
  const parsed = await page.evaluate((documents) => documents.map((text) => {
    const document = new DOMParser().parseFromString(text, "application/xml");
    return document.getElementsByTagName("parsererror").length === 0 &&
           document.getElementsByTagName("channelId")[0].textContent;
  }), [started.body, ended.body]);
  assert.equal(parsed[1], "web<beta>&more");
  assert.notEqual(parsed[0], false);
});
