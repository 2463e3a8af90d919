// The wizard's pure helpers, run in node against the shipped configuration.
import assert from "node:assert/strict";
import { test } from "node:test";
import { listFileName, loadWizard } from "./wizard-context.mjs";

const wizard = loadWizard();
const W = wizard.Wizard;

test("versions compare part by part as numbers, the longer winning a tie", () => {
  assert.equal(W.compareVersion("1.10", "1.9"), 1);
  assert.equal(W.compareVersion("1.9", "1.10"), -1);
  assert.equal(W.compareVersion("24.0", "24.0.0"), -1);
  assert.equal(W.compareVersion("24.0.0", "24.0"), 1);
  assert.equal(W.compareVersion("24.0.0.0", "24.0.0.0"), 0);
  assert.equal(W.compareVersion("14.40.33810", "14.0.24215"), 1);
});

test("placeholders take property values, an unset one the empty text", () => {
  const properties = { installPath: "/opt/brindle mark", lang: "de" };
  const lookup = (name) => properties[name] ?? "";
  assert.equal(W.replacePlaceholders('/qn DIR="${installPath}" L=${lang}', lookup),
               '/qn DIR="/opt/brindle mark" L=de');
  assert.equal(W.replacePlaceholders("A=${NOT_SET}; B=${lang}", lookup), "A=; B=de");
  // Only names of letters, digits and underscores are placeholders.
  assert.equal(W.replacePlaceholders("${a-b} $lang {lang}", lookup), "${a-b} $lang {lang}");
  assert.equal(W.replacePlaceholders("${missing}", () => undefined), "");
});

test("sizes and remaining time read the way the progress shows them", () => {
  assert.equal(W.formatSize(0, "Byte"), "0 Byte");
  assert.equal(W.formatSize(1023, "Octet"), "1023 Octet");
  assert.equal(W.formatSize(1024), "1.00 KB");
  assert.equal(W.formatSize(1536 * 1024), "1.50 MB");
  assert.equal(W.formatSize(5 * 1024 ** 3), "5.00 GB");
  // Three divisions at most: terabytes stay in GB.
  assert.equal(W.formatSize(2 * 1024 ** 4), "2048.00 GB");
  assert.equal(W.formatTimeLeft(0), "00:00:00");
  assert.equal(W.formatTimeLeft(3725.9), "01:02:05");
  assert.equal(W.formatTimeLeft(1000 * 3600), "99:00:00");
  assert.equal(W.formatTimeLeft(NaN), "00:00:00");
});

test("an unknown source id gives the first edition", () => {
  assert.equal(W.editionFor("123789", wizard.Config_SourceIDMapping), "Std");
  assert.equal(W.editionFor("123456", wizard.Config_SourceIDMapping), "Pro");
  assert.equal(W.editionFor("", wizard.Config_SourceIDMapping), "Pro");
});

test("languages: the offered list, and the system's language within it", () => {
  const langs = wizard.Config_StubMultiLangs;
  assert.deepEqual([...W.offeredLanguages(wizard.installParams, langs)], ["en", "de", "es", "fr", "zh", "jp"]);
  // An empty or missing list offers every language of the table.
  for (const params of [{ LANG: [] }, {}]) {
    assert.deepEqual([...W.offeredLanguages(params, langs)].sort(), ["de", "en", "es", "fr", "jp", "zh"]);
  }
  const numbers = { en: 1, fr: 2, de: 3, jp: 5, es: 6, zh: 12 };
  const numberOf = (code) => numbers[code];
  assert.equal(W.chooseLanguage(3, ["en", "de"], numberOf), "de");
  assert.equal(W.chooseLanguage(0, ["de", "en"], numberOf), "en");
  // Italian is not offered: the first offered language.
  assert.equal(W.chooseLanguage(4, ["fr", "de"], numberOf), "fr");
});

test("the final report's text by status, the first match winning", () => {
  const S = wizard.Config_Status;
  assert.equal(W.finalStatusText(S.COMPLETED), "install.completed=OK");
  assert.equal(W.finalStatusText("7"), "install.completed=Repair");
  // 9 is both a cancel on Welcome and on Prerequisite: Welcome is tested first.
  assert.equal(W.finalStatusText(9), "install.completed=CNX|install.fail-reason=CanceledWelcome");
  assert.equal(W.finalStatusText(S.CANCEL_PREREQ), "install.completed=CNX|install.fail-reason=CanceledWelcome");
  assert.equal(W.finalStatusText(S.CANCEL_EMBARGO), "install.completed=CNX|install.fail-reason=CanceledEmbargo");
  assert.equal(W.finalStatusText(S.ERROR_PRODUCT), "install.completed=NOK|install.fail-reason=MSIFailure");
  assert.equal(W.finalStatusText(S.ENVIRONMENT_NOT_MEET),
               "install.completed=NOK|install.fail-reason=EnviromentNotMeet");
  for (const other of [S.NOTSTART, S.ERROR, S.DOWNLOADED, 8, 70, "", "x"]) {
    assert.equal(W.finalStatusText(other), "install.completed=NOK|install.fail-reason=UnknowError");
  }
});

test("install results map to statuses, unknown errors by component", () => {
  const E = wizard.Config_ErrorHandle, S = wizard.Config_Status;
  assert.equal(W.installFailureStatus(E.Cancelled, "ProductName"), S.CANCEL_INSTALLING);
  assert.equal(W.installFailureStatus(E.OtherInstalling, "DotNet"), S.ERROR_ALREADYINSTALLING);
  assert.equal(W.installFailureStatus(E.NewerInstalled, "ProductName"), S.ERROR_NEWERINSTALLED);
  assert.equal(W.installFailureStatus(E.UnknowError, "VS2015RedistX64"), S.ERROR_VSREDIST);
  assert.equal(W.installFailureStatus(E.UnknowError, "ProductName"), S.ERROR_PRODUCT);
  assert.equal(W.installFailureStatus(E.UnknowError, "toString"), S.ERROR);
  assert.equal(W.installFailureStatus(E.Failure, "ProductName"), S.ERROR);
  assert.equal(W.errorReason(E.DiskFull), "DiskFull");
  assert.equal(W.errorReason(E.Abort), "UnknowError");
});

test("an installed program's version decides install, repair or refusal", () => {
  // The component's version has underscores and one part fewer than the file's.
  assert.equal(W.installAction("", "24_0_0"), "install");
  assert.equal(W.installAction("23.9.1.0", "24_0_0"), "install");
  assert.equal(W.installAction("24.0.0.0", "24_0_0"), "repair");
  assert.equal(W.installAction("24.0.0", "24_0_0"), "install");
  assert.equal(W.installAction("24.0.10.0", "24_0_9"), "newer");
  assert.equal(W.installAction("24.1.0.0", undefined), "install");
});

test("an MSI's parameters get the install folder quoted and the extra switches", () => {
  const msi = { name: "Brindlemark/x64/Brindlemark.msi", param: "/qn REBOOT=ReallySuppress" };
  assert.equal(W.installParameters(msi, "/opt/zelvo b", "ADDLOCAL=ALL", "install"),
               '/qn REBOOT=ReallySuppress INSTALLDIR="/opt/zelvo b" ADDLOCAL=ALL');
  assert.equal(W.installParameters(msi, "", "", "repair"), "/qn REBOOT=ReallySuppress _IsMaintenance=Repair");
  // Other installers run with their parameters as listed.
  const exe = { name: "Redist/vc_redist.x64.exe", param: "/install /quiet" };
  assert.equal(W.installParameters(exe, "/opt/x", "ADDLOCAL=ALL", "install"), "/install /quiet");
});

test("the window is scaled in whole pixels to fit the screen", () => {
  assert.deepEqual({ ...W.scaleToFit(655, 513, 1920, 1080) }, { rate: 0.9999, width: 655, height: 513 });
  // One step: 513 * 0.8 is 410.4, which setWindowSize would refuse.
  const small = W.scaleToFit(655, 513, 800, 600);
  assert.equal(small.width, 524);
  assert.equal(small.height, 410);
  assert.ok(Math.abs(small.rate - 0.8) < 1e-9);
  const tiny = W.scaleToFit(655, 513, 500, 400);
  assert.ok(Number.isInteger(tiny.width) && Number.isInteger(tiny.height));
  assert.ok(tiny.width <= 400 && tiny.height <= 300);
});

test("file names that leave the download folder are refused", () => {
  for (const name of ["Brindlemark/x64/Brindlemark.msi", "setup.exe", "a\\b\\c.cab", "..data/x"]) {
    assert.equal(W.isSafeFileName(name), true, name);
  }
  for (const name of ["../evil.exe", "a/../../b", "a\\..\\b", "/etc/passwd", "\\\\server\\share\\x",
                      "C:\\Windows\\x.exe", "c:x", "", "a//b", undefined, 7]) {
    assert.equal(W.isSafeFileName(name), false, String(name));
  }
});

test("paths join with the folder's own separator", () => {
  assert.equal(W.joinPath("/tmp/pages/", "config/list.js"), "/tmp/pages/config/list.js");
  assert.equal(W.joinPath("/home/u/Downloads", "Brindlemark\\x64\\a.msi"), "/home/u/Downloads/Brindlemark/x64/a.msi");
  assert.equal(W.joinPath("C:\\Users\\u\\Desktop", "Brindlemark/x64/a.msi"),
               "C:\\Users\\u\\Desktop\\Brindlemark\\x64\\a.msi");
  assert.equal(W.folderOf("/a/b/c.msi"), "/a/b");
  assert.equal(W.lastPathElement("https://h/x/List.js?v=2"), "List.js");
});

// The job builder over a list, with properties and registry values given.
function jobsFor(components, { is64 = true, properties = {}, registry = {}, isResume = false,
                               skipInstalled = true } = {}) {
  const props = { ...properties };
  const jobs = W.buildJobs(components, {
    sku: "Pro", is64, skipInstalled, checkPrerequisite: true, isResume,
    getProperty: (name) => props[name] ?? "",
    setProperty: (name, value) => { props[name] = value; },
    registryValue: (key, value) => registry[`${key}|${value}`] ?? "",
  });
  // Arrays of the script context: copied into this realm to compare.
  const names = JSON.parse(JSON.stringify(jobs.map((job) => [job.group, job.components.map((c) => c.name)])));
  return { jobs, props, names };
}

const T = wizard.ComponentType;
const file = (name, size) => ({ name, url: `https://h/${name}`, param: "/q", size });
const list = [
  { group: "Pre", sku: "Pro", type: T.X64 | T.Prerequiste, name: "RuntimeX64", files: [file("r64.exe", 10)] },
  { group: "Main", sku: "Pro", type: T.X64, name: "ProductName",
    registry: { key: "HKLM\\SOFTWARE\\Zelvo\\B", value: "InstallPath" }, files: [file("p64.msi", 100), file("p64.cab", 50)] },
  { group: "Main", sku: "Pro", type: T.X86, name: "ProductName", files: [file("p32.msi", 90)] },
  { group: "Pre", sku: "Pro", type: T.X86 | T.Prerequiste, name: "RuntimeX86", files: [file("r86.exe", 8)] },
  { group: "Extra", sku: "Std", type: T.X64, name: "StdOnly", files: [file("std.msi", 1)] },
  { group: "Extra", sku: "Pro", type: T.X64, name: "NoFiles" },
  { group: "Extra", sku: "Pro", type: T.X64, name: "EmptyFiles", files: [] },
];

test("jobs keep this edition and architecture, grouped by first appearance", () => {
  assert.deepEqual(jobsFor(list).names, [["Pre", ["RuntimeX64", "RuntimeX86"]], ["Main", ["ProductName"]]]);
  const x86 = jobsFor(list, { is64: false });
  assert.deepEqual(x86.names, [["Pre", ["RuntimeX64", "RuntimeX86"]], ["Main", ["ProductName"]]]);
  assert.equal(x86.jobs[1].components[0].files[0].name, "p32.msi");
});

test("jobs leave out what is not chosen, installed, or has nothing to fetch", () => {
  // A prerequisite found installed is "false"; the product's registry value
  // shows it installed and it is dropped and marked.
  const { names, props } = jobsFor(list, {
    properties: { RuntimeX6464: "false", RuntimeX8632: "false" },
    registry: { "HKLM\\SOFTWARE\\Zelvo\\B|InstallPath": "/opt/b" },
  });
  assert.deepEqual(names, []);
  assert.equal(props.ProductName64, "false");
  // Without skipping, the installed product is kept.
  assert.deepEqual(jobsFor(list, { skipInstalled: false,
                                   registry: { "HKLM\\SOFTWARE\\Zelvo\\B|InstallPath": "/opt/b" } })
    .names.map(([group]) => group), ["Pre", "Main"]);
  // A resume takes only what was recorded as chosen.
  assert.deepEqual(jobsFor(list, { isResume: true, properties: { ProductName64: "true" } }).names,
                   [["Main", ["ProductName"]]]);
});

test("each file's offset is the size of the job's files before it", () => {
  const { jobs } = jobsFor(list);
  const main = W.jobFiles(jobs[1]);
  assert.equal(main.total, 150);
  assert.deepEqual(main.files.map((f) => `${f.file.name}@${f.offset}`).join(), "p64.msi@0,p64.cab@100");
  const pre = W.jobFiles(jobs[0]);
  assert.equal(pre.files.map((f) => f.offset).join(), "0,10");
});

test("the shipped installer list is safe and complete", () => {
  const context = loadWizard([`config/${listFileName(wizard)}`]);
  const components = context.Components;
  assert.ok(components.some((c) => c.name === "ProductName"));
  assert.ok(components.some((c) => c.type & T.Prerequiste));
  for (const c of components) {
    for (const f of c.files ?? []) assert.ok(context.Wizard.isSafeFileName(f.name), f.name);
    if (c.version) assert.match(c.version, /^\d+(_\d+)*$/);
  }
});
