// The page package's configuration against the native code tables and its
// own pages.
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { test } from "node:test";
import { listFileName, loadWizard, pagesDir } from "./wizard-context.mjs";

const header = fs.readFileSync(path.resolve(pagesDir, "../StubSDK/StubFramework/StubFramework.h"), "utf8");

// enum class NAME : type { A = 1, B = 2, } from the native header.
function nativeEnum(name) {
  const body = header.match(new RegExp(`enum class ${name}\\b[^{]*\\{([^}]*)\\}`));
  assert.ok(body, `enum ${name} in StubFramework.h`);
  const entries = {};
  for (const [, key, value] of body[1].matchAll(/(\w+)\s*=\s*(-?\d+)/g)) entries[key] = Number(value);
  return entries;
}

test("the pages' code tables are the native ones, name for name", () => {
  const wizard = loadWizard();
  const pairs = [["Config_ErrorHandle", "ErrorHandle"], ["Config_ResumeMode", "ResumeMode"],
                 ["Config_Status", "Config_Status"]];
  for (const [pages, native] of pairs) {
    assert.deepEqual(JSON.parse(JSON.stringify(wizard[pages])), nativeEnum(native), pages);
  }
});

function pageFolders() {
  return fs.readdirSync(path.join(pagesDir, "pages")).filter((name) =>
    fs.existsSync(path.join(pagesDir, "pages", name, "page.html")));
}

// Every text key the package looks up: `.lang` elements, literal keys given
// to Wizard.t, the result messages, and the installer lists' names.
function usedKeys(wizard) {
  const keys = new Map();
  const add = (key, where) => { if (!keys.has(key)) keys.set(key, where); };
  const documents = [["Load.html", path.join(pagesDir, "Load.html")],
                     ...pageFolders().map((name) => [name, path.join(pagesDir, "pages", name, "page.html")])];
  for (const [name, file] of documents) {
    const html = fs.readFileSync(file, "utf8");
    for (const [tag] of html.matchAll(/<[a-z]+\b[^>]*>/g)) {
      if (!/class="[^"]*\blang\b/.test(tag)) continue;
      const key = tag.match(/\btext="([^"]*)"/);
      assert.ok(key, `${name}: a .lang element without a text key: ${tag}`);
      add(key[1], name);
    }
  }
  const scripts = [path.join(pagesDir, "Load.html"), path.join(pagesDir, "common/js/common.js"),
                   ...pageFolders().map((name) => path.join(pagesDir, "pages", name, "page.js"))];
  for (const file of scripts) {
    const source = fs.readFileSync(file, "utf8");
    for (const [, argument] of source.matchAll(/\bW\.t\(([^()]*(?:\([^()]*\)[^()]*)*)\)/g)) {
      for (const [, key] of argument.matchAll(/"(\w+)"/g)) add(key, path.basename(path.dirname(file)));
    }
  }
  for (let code = 0; code <= 20; ++code) add(wizard.Wizard.errorKey(code), "result messages");
  const lists = loadWizard([`config/${listFileName(wizard)}`]);
  for (const c of [...lists.Components, ...wizard.Config_PrerequisteComponents]) {
    add(c.name, "installer list");
    add(c.group, "installer list");
  }
  add("MainContent", "single download");
  return keys;
}

test("every text the pages use exists in every language", () => {
  const wizard = loadWizard();
  const langs = wizard.Config_StubMultiLangs;
  const codes = Object.keys(langs).filter((code) => code !== "regions");
  assert.deepEqual(codes.sort(), ["de", "en", "es", "fr", "jp", "zh"]);
  assert.deepEqual(Object.keys(langs.regions).sort(), codes);
  const keys = usedKeys(wizard);
  for (const key of ["unknowError", "fileNotExist", "diskFull", "failure", "md5Error", "volumeReadOnly",
                     "noNetwork", "cancelled", "running", "haveInstalled", "otherInstallingText",
                     "newerInstalled", "osRequirements", "osBitRequirements", "error"]) {
    assert.ok(keys.has(key), `the pages look up ${key}`);
  }
  const english = Object.keys(langs.en).sort();
  for (const code of codes) {
    // The same keys everywhere, none of them empty.
    assert.deepEqual(Object.keys(langs[code]).sort(), english, code);
    for (const [key, where] of keys) {
      assert.equal(typeof langs[code][key], "string", `${code}.${key} (used by ${where})`);
      assert.notEqual(langs[code][key], "", `${code}.${key}`);
    }
    assert.match(langs[code].osRequirements, /%os%/, code);
    assert.match(langs[code].diskFull, /\$reqSpace/, code);
    assert.match(langs[code].percent, /%d%/, code);
  }
});

test("every page is titled by its name and loads its scripts in order", () => {
  const wizard = loadWizard();
  const expected = ["Initialization", "Welcome", "Prerequisite", "Agreement", "Analytics", "Download",
                    "Downloading", "Install", "Installing", "Finish", "Error", "EmbargoedWarning", "SelfUpdate"];
  const folders = pageFolders();
  for (const name of [...expected, ...wizard.Config_SequencePages]) assert.ok(folders.includes(name), name);
  for (const name of folders) {
    const html = fs.readFileSync(path.join(pagesDir, "pages", name, "page.html"), "utf8");
    assert.match(html, new RegExp(`<title>${name}</title>`));
    assert.match(html, /<meta http-equiv="X-UA-Compatible" content="IE=edge">/i);
    assert.match(html, /<!-- saved from url=\(0014\)about:internet -->/);
    const scripts = [...html.matchAll(/<script src="([^"]+)"/g)].map(([, src]) => path.basename(src));
    const at = (file) => scripts.indexOf(file);
    assert.ok(at("lang.js") >= 0 && at("lang.js") < at("config.js") && at("config.js") < at("page.js"), name);
    assert.equal(scripts.at(-1), "installparams.js", name);
    assert.ok(fs.existsSync(path.join(pagesDir, "pages", name, "page.js")), name);
    assert.ok(fs.existsSync(path.join(pagesDir, "pages", name, "page.css")), name);
  }
  const load = fs.readFileSync(path.join(pagesDir, "Load.html"), "utf8");
  assert.match(load, /<title>Load<\/title>/);
  assert.deepEqual([...load.matchAll(/<script src="([^"]+)"/g)].map(([, src]) => path.basename(src)),
                   ["external.js", "jquery-1.11.2.min.js", "lang.js", "config.js", "common.js", "installparams.js"]);
  for (const code of ["en", "de", "es", "fr", "zh", "jp"]) {
    assert.ok(fs.existsSync(path.join(pagesDir, "eula", `EULA_${code}.html`)), code);
  }
});

test("outside text never reaches the pages as markup", () => {
  const scripts = [path.join(pagesDir, "common/js/common.js"),
                   ...pageFolders().map((name) => path.join(pagesDir, "pages", name, "page.js"))];
  for (const file of scripts) {
    const source = fs.readFileSync(file, "utf8");
    assert.doesNotMatch(source, /\.html\(|innerHTML|\.append\(\s*["'<]|\$\.ajax|getScript|document\.write/,
                        file);
  }
});
