// The loopback bridge against outsiders: other local users, pages of other
// origins, hostile page libraries, malformed and endless requests, floods.
// Every case drives the real stub over real sockets or a real browser.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import path from "node:path";
import { launchBrowser, startStub, waitFor } from "./stub.mjs";

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

const isRoot = process.getuid?.() === 0;

// No time limit of its own: the runner's time-out ends a test that hangs.
// The parts of a stub's page URL.
function parts(stub) {
  const url = new URL(stub.url);
  const token = url.pathname.split("/")[1];
  return { url, token, port: Number(url.port), base: `${url.origin}/${token}` };
}

// Sends `text` on a new connection; resolves with all that came back
// before the stub closed it (or `until` matched).
function raw(port, text, { until } = {}) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, "127.0.0.1");
    let received = "";
    socket.on("data", (chunk) => {
      received += chunk.toString("latin1");
      if (until && until.test(received)) socket.destroy();
    });
    socket.on("close", () => resolve(received));
    socket.on("error", (error) => (error.code === "ECONNRESET" ? resolve(received) : reject(error)));
    if (text) socket.write(text);
  });
}

function statusOf(answer) {
  const match = /^HTTP\/1\.1 (\d{3}) /.exec(answer);
  return match ? Number(match[1]) : 0;
}

// A request with exactly these headers (and Host and Content-Length).
function request(stub, method, target, headers = {}, body = "") {
  const { port } = parts(stub);
  let head = `${method} ${target} HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nConnection: close\r\n`;
  for (const [name, value] of Object.entries(headers)) head += `${name}: ${value}\r\n`;
  if (method === "POST") head += `Content-Length: ${Buffer.byteLength(body)}\r\n`;
  return raw(port, `${head}\r\n${body}`);
}

// The session the stub hands the page it serves now.
async function freshSession(stub) {
  const answer = await request(stub, "GET", `/${parts(stub).token}/pages/Load.html`);
  return Number(/"session":(\d+)/.exec(answer)[1]);
}

function setCall(session, value) {
  return JSON.stringify({ op: "call", name: "setProperty", flags: 1, session,
                          args: [{ t: "bstr", v: "k" }, { t: "bstr", v: value }] });
}

async function openStub(t, env = {}, options = {}) {
  const stub = await startStub("stub-test-installer", env, options);
  t.after(() => stub.stop());
  const page = await browser.newPage();
  t.after(() => page.close());
  await page.goto(stub.url);
  const property = () => page.evaluate(() => window.external.getProperty("k"));
  return { stub, page, property };
}

// A plain web server of another origin: what any site could serve.
async function otherSite(t) {
  const server = http.createServer((_, response) => {
    response.setHeader("Content-Type", "text/html");
    response.end("<!DOCTYPE html><title>elsewhere</title><body></body>");
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  t.after(() => server.close());
  return server.address().port;
}

describe("the loopback bridge against outsiders", () => {
  test("another user can neither read a way in nor connect", async (t) => {
    const bin = fs.mkdtempSync(path.join(fs.realpathSync("/tmp"), "stub-open-"));
    t.after(() => fs.rmSync(bin, { recursive: true, force: true }));
    const opened = path.join(bin, "opened");
    fs.writeFileSync(path.join(bin, "xdg-open"), `#!/bin/sh\nprintf '%s\\n' "$@" >> '${opened}'\n`,
                     { mode: 0o755 });
    const stub = await startStub("stub-test-installer",
                                 { STUB_NO_BROWSER: "0", PATH: `${bin}:${process.env.PATH}` });
    t.after(() => stub.stop());
    const { token } = parts(stub);
    // What went on the browser's command line: a private file, no token.
    const launch = (await waitFor(() => fs.existsSync(opened) && fs.readFileSync(opened, "utf8"),
                                  "the browser's launch", stub.child)).trim();
    assert.match(launch, /^file:\/\/\/.*\/installer-launch-\w{6}\.html$/);
    assert.ok(!launch.includes(token), "the token is on a command line");
    const file = new URL(launch).pathname;
    assert.equal(fs.statSync(file).mode & 0o777, 0o600);
    assert.ok(fs.readFileSync(file, "utf8").includes(token));
    // It leads the browser to the page, and is gone once a page has come.
    const page = await browser.newPage();
    t.after(() => page.close());
    await page.goto(launch);
    await page.waitForURL(/^http:\/\/127\.0\.0\.1:\d+\//);
    assert.equal(await page.evaluate(() => typeof window.external.getProperty), "function");
    assert.ok(!fs.existsSync(file), "the launch file outlived the first visit");

    if (!isRoot) return t.diagnostic("the other-user case needs root");
    // A process of another user, with the token: closed before it is read.
    const stranger = spawn(process.execPath, ["-e", `
      const net = require("node:net");
      const socket = net.connect(${parts(stub).port}, "127.0.0.1", () =>
        socket.write('POST /${token}/bridge/invoke HTTP/1.1\\r\\nHost: 127.0.0.1:${parts(stub).port}\\r\\n' +
                     'Content-Type: application/json\\r\\nContent-Length: ${setCall(1, "stranger").length}\\r\\n\\r\\n' +
                     ${JSON.stringify(setCall(1, "stranger"))}));
      let got = "";
      socket.on("data", (d) => { got += d; });
      socket.on("close", () => process.stdout.write(JSON.stringify(got)));
      socket.on("error", () => {});`], { uid: 4321, gid: 4321, stdio: ["ignore", "pipe", "inherit"] });
    let output = "";
    stranger.stdout.on("data", (chunk) => { output += chunk; });
    await new Promise((resolve) => stranger.on("exit", resolve));
    assert.equal(JSON.parse(output), "");
    assert.equal(await page.evaluate(() => window.external.getProperty("k")), "");
  });

  test("a leaked token is of no use to a page of another origin", async (t) => {
    const { stub, property } = await openStub(t);
    const { base } = parts(stub);
    const session = await freshSession(stub);
    // Forms and no-cors fetches can only send text/plain; other origins say so.
    const refused = [
      [{ "Content-Type": "text/plain" }, 415],
      [{ "Content-Type": "application/json", Origin: "http://attacker.example" }, 403],
      [{ "Content-Type": "application/json", Origin: "null" }, 403],
      [{ "Content-Type": "application/json", "Sec-Fetch-Site": "cross-site" }, 403],
      [{ "Content-Type": "application/json", "Sec-Fetch-Site": "same-site" }, 403],
    ];
    for (const [headers, status] of refused) {
      const answer = await request(stub, "POST", `/${parts(stub).token}/bridge/invoke`, headers,
                                   setCall(session, "outside"));
      assert.equal(statusOf(answer), status, JSON.stringify(headers));
    }
    assert.equal(await property(), "");

    // Real pages of another site and of the same site on another port.
    const other = await otherSite(t);
    for (const origin of [`http://localhost:${other}`, `http://127.0.0.1:${other}`]) {
      const outsider = await browser.newPage();
      t.after(() => outsider.close());
      await outsider.goto(`${origin}/`);
      await outsider.evaluate(async ({ target, body }) => {
        await fetch(target, { method: "POST", mode: "no-cors", body }).catch(() => {});
        await fetch(target, { method: "POST", mode: "no-cors", body,
                              headers: { "Content-Type": "text/plain" } }).catch(() => {});
        // The classic text/plain form, posted into a frame.
        const frame = document.createElement("iframe");
        frame.name = "sink";
        document.body.appendChild(frame);
        const form = document.createElement("form");
        form.method = "POST";
        form.action = target;
        form.enctype = "text/plain";
        form.target = "sink";
        const field = document.createElement("input");
        field.name = body.slice(0, -3);
        field.value = body.slice(-3);
        form.appendChild(field);
        document.body.appendChild(form);
        await new Promise((resolve) => { frame.onload = resolve; form.submit(); });
      }, { target: `${base}/bridge/invoke`, body: setCall(session, "outside") });
    }
    assert.equal(await property(), "");
  });

  test("malformed, deep, chunked and endless requests are refused and serving goes on",
       async (t) => {
    const { stub, page, property } = await openStub(t);
    const { token, port } = parts(stub);
    const json = { "Content-Type": "application/json" };
    const session = await freshSession(stub);
    const invoke = `/${token}/bridge/invoke`;
    // Nested 200,000 deep: refused unread, not a stack overflow.
    const deep = `{"op":"call","name":"getProperty","session":${session},"args":` +
      "[".repeat(200000) + "]".repeat(200000) + "}";
    assert.equal(statusOf(await request(stub, "POST", invoke, json, deep)), 400);
    for (const body of ["", "[]", "{", `{"op":"call","session":${session}}`,
                        `{"op":"call","name":"getProperty","session":${session},"args":[{"t":"i4","v":1e300}]}`,
                        `{"op":"set","name":"x","session":${session},"args":[{"t":"dispatch","id":"no"}]}`]) {
      assert.equal(statusOf(await request(stub, "POST", invoke, json, body)), 400, body);
    }
    // A chunked body that would never end: refused at its head, and the
    // connection closed while the client still sends.
    const chunked = await new Promise((resolve) => {
      const socket = net.connect(port, "127.0.0.1");
      let answer = "";
      const block = `10000\r\n${"x".repeat(0x10000)}\r\n`;
      const pump = () => { while (!socket.destroyed && socket.write(block)) { /* until full */ } };
      socket.on("connect", () => {
        socket.write(`POST ${invoke} HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n` +
                     "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
        for (let i = 0; i < 16; ++i) socket.write(block);
      });
      socket.on("data", (chunk) => {
        answer += chunk;
        if (!socket.listenerCount("drain") && answer.includes("\r\n\r\n")) {
          // Answered: now the body never ends.
          socket.on("drain", pump);
          pump();
        }
      });
      socket.on("error", () => {});
      socket.on("close", () => resolve(answer));
    });
    assert.equal(statusOf(chunked), 501);
    assert.match(chunked, /\r\nConnection: close\r\n/);
    const [status] = await page.evaluate(async (target) => {
      const response = await fetch(target, { method: "POST", body: "x".repeat(2 << 20),
                                             headers: { "Content-Type": "application/json" } });
      return [response.status];
    }, `${parts(stub).base}/bridge/invoke`);
    assert.equal(status, 413);
    await page.evaluate(() => window.external.setProperty("k", "still here"));
    assert.equal(await property(), "still here");
  });

  test("idle, slow and flooding connections stall neither calls nor the end", async (t) => {
    const { stub, page, property } = await openStub(t);
    const { port } = parts(stub);
    const held = [];
    t.after(() => held.forEach((socket) => socket.destroy()));
    for (let i = 0; i < 150; ++i) {
      const socket = net.connect(port, "127.0.0.1");
      socket.on("error", () => {});
      if (i % 3 === 0) socket.write("GET / HTTP/1.1\r\nHo");  // a head that never ends
      held.push(socket);
    }
    // Two tabs of another site flood the port meanwhile.
    const other = await otherSite(t);
    const flooding = [];
    for (let i = 0; i < 2; ++i) {
      const tab = await browser.newPage();
      t.after(() => tab.close());
      await tab.goto(`http://localhost:${other}/`);
      flooding.push(tab.evaluate(async (target) => {
        const requests = [];
        for (let n = 0; n < 150; ++n) {
          requests.push(fetch(target, { method: "POST", mode: "no-cors", body: "{}" }).catch(() => {}));
        }
        await Promise.all(requests);
      }, `http://127.0.0.1:${port}/${"0".repeat(32)}/bridge/invoke`));
    }
    for (let i = 0; i < 20; ++i) {
      await page.evaluate((n) => window.external.setProperty("k", `call ${n}`), i);
    }
    assert.equal(await property(), "call 19");
    await Promise.all(flooding);
    // The window closes and the process ends with every connection still open.
    await page.evaluate(() => window.external.closeWindow());
    assert.equal(await stub.exited, 0);
  });

  test("an event stream of a session never handed out is refused, and the page's goes on",
       async (t) => {
    const { stub, page } = await openStub(t);
    const { token } = parts(stub);
    for (const session of ["4294967295", "0", "99", "-1", "1e3", ""]) {
      const answer = await request(stub, "GET", `/${token}/bridge/events?session=${session}`);
      assert.equal(statusOf(answer), 403, session);
    }
    const result = await page.evaluate(() => new Promise((resolve) => {
      window.external.testProgress(200, (code) => { if (code !== 10) resolve(code); });
    }));
    assert.equal(result, 0);
  });

  test("a URL file's staging name prepared by someone else is not written through",
       async (t) => {
    let victim;
    const { stub } = await openStub(t, {}, {
      urlFile: (root) => path.join(root, "shared", "url"),
      prepare(root) {
        // The old fixed staging name, taken first in a folder all may write.
        victim = path.join(root, "victim");
        fs.writeFileSync(victim, "untouched");
        fs.mkdirSync(path.join(root, "shared"));
        fs.chmodSync(path.join(root, "shared"), 0o1777);
        fs.symlinkSync(victim, path.join(root, "shared", "url.partial"));
      },
    });
    assert.equal(fs.readFileSync(victim, "utf8"), "untouched");
    const urlFile = path.join(stub.root, "shared", "url");
    assert.equal(fs.lstatSync(urlFile).mode & 0o777, 0o600);
    assert.equal(fs.readFileSync(urlFile, "utf8"), stub.url);
    assert.deepEqual(fs.readdirSync(path.dirname(urlFile)).sort(), ["url", "url.partial"]);
  });

  test("pages and refusals go out with no referrer and no opener", async (t) => {
    const { stub } = await openStub(t);
    const { token } = parts(stub);
    for (const [target, status] of [[`/${token}/pages/Load.html`, 200],
                                    [`/${token}/pages/missing.html`, 404], ["/", 403]]) {
      const answer = await request(stub, "GET", target);
      assert.equal(statusOf(answer), status, target);
      const head = answer.slice(0, answer.indexOf("\r\n\r\n"));
      assert.match(head, /\r\nReferrer-Policy: no-referrer\r\n/, target);
      assert.match(head, /\r\nCross-Origin-Opener-Policy: same-origin\r\n/, target);
    }
  });

  test("a hostile page library can neither forge answers nor rewrite calls", async (t) => {
    const { page } = await openStub(t);
    await page.goto(page.url().replace("Load.html", "hostile.html"));
    await page.waitForFunction(() => window.outcome);
    const outcome = await page.evaluate(() => window.outcome);
    assert.deepEqual(outcome, { early: "function", read: "teal", typed: "ok", code: 0, hooked: [] });
  });
});
