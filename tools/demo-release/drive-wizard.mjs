// Runs the installer with its pages served on loopback and clicks through
// the wizard in headless Chromium as a user would: the default choices,
// analytics agreed, no program started at the end. Every page it meets is
// kept as a screenshot in the output folder. Exits with the installer's code.
//
//     node drive-wizard.mjs INSTALLER OUTPUT_FOLDER
import { spawn } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { launchBrowser } from "../../tests/pages/stub.mjs";
import { userActions } from "./wizard-actions.mjs";

const [installer, output] = process.argv.slice(2);
const urlFile = path.join(output, "url");
const trackerUrlFile = path.join(output, "tracker-url");
fs.rmSync(urlFile, { force: true });
fs.rmSync(trackerUrlFile, { force: true });

const actions = {
  ...userActions,
  // The product is not started at the end: this is a demo on a server.
  Installing: async (page) => {
    if (await page.isVisible("#launch")) await page.uncheck("#launch");
  },
};

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function until(condition, what, limitMs = 60000) {
  for (const end = Date.now() + limitMs; Date.now() < end; await sleep(100)) {
    const value = condition();
    if (value) return value;
  }
  throw new Error(`${what} did not come within ${limitMs / 1000} s`);
}

const child = spawn(installer, ["--ui=external"], {
  // The thank-you page goes to the desktop's browser; here it is only named.
  env: { ...process.env, STUB_URL_FILE: urlFile, STUB_NO_BROWSER: "1",
         STUB_TRACKER_URL_FILE: trackerUrlFile, BROWSER: "echo The browser would open" },
  stdio: "inherit",
});
let exitCode = null;
const exited = new Promise((resolve) => child.on("exit", (code) => {
  exitCode = code ?? 1;
  resolve();
}));

const browser = await launchBrowser();
try {
  // The window's own size on a screen where it fits unscaled.
  const context = await browser.newContext({ ignoreHTTPSErrors: true,
                                             viewport: { width: 655, height: 513 },
                                             screen: { width: 1280, height: 800 } });
  const url = await until(() => fs.existsSync(urlFile) && fs.readFileSync(urlFile, "utf8").trim(),
                          "The installer's address");
  const page = await context.newPage();
  await page.goto(url);
  // The tracker's hidden page, opened the way the window would.
  let tracker = null;
  let shown = 0;
  let last = "";
  const deadline = Date.now() + 10 * 60 * 1000;
  while (exitCode === null && Date.now() < deadline) {
    if (!tracker && fs.existsSync(trackerUrlFile)) {
      tracker = await context.newPage();
      await tracker.goto(fs.readFileSync(trackerUrlFile, "utf8").trim()).catch(() => {});
    }
    const title = await page.title().catch(() => "");
    if (title && title !== last) {
      last = title;
      await sleep(700);  // the page fills its texts and starts its work
      shown += 1;
      const file = path.join(output, `${String(shown).padStart(2, "0")}-${title}.png`);
      await page.screenshot({ path: file }).catch(() => {});
      console.log(`page ${shown}: ${title} (${path.basename(file)})`);
      await actions[title]?.(page).catch((error) => console.log(`  ${title}: ${error.message}`));
    }
    await sleep(200);
  }
  if (exitCode === null) {
    console.log("The wizard did not end within 10 minutes: stopping the installer");
    child.kill("SIGTERM");
  }
} finally {
  await Promise.race([exited, sleep(15000)]);
  await browser.close();
}
process.exit(exitCode ?? 1);
