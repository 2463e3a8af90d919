// The page package's scripts in a plain script context, as a page would run
// them but without a browser: lang.js, config.js, common.js and the
// packaged installer list.
import fs from "node:fs";
import path from "node:path";
import vm from "node:vm";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
export const pagesDir = path.resolve(here, "../../pages");

export function loadWizard(extra = []) {
  const context = vm.createContext({});
  const files = ["config/lang.js", "config/config.js", "common/js/common.js",
                 "config/installparams.js", ...extra];
  for (const file of files) {
    vm.runInContext(fs.readFileSync(path.join(pagesDir, file), "utf8"), context, { filename: file });
  }
  return context;
}

// The packaged installer list's file name: the last element of DOWNLOAD_URL.
export function listFileName(context) {
  return new URL(context.installParams.DOWNLOAD_URL).pathname.split("/").pop();
}
