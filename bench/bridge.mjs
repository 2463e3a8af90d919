// Latency of window.external: the median of 1,000 synchronous calls with a
// string result, beside the median of a bare fetch round trip to the same
// server, in one headless Chromium run.
//   node bench/bridge.mjs        (after scripts/setup; uses build/bin)
import http from "node:http";
import { launchBrowser, startStub } from "../tests/pages/stub.mjs";

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
