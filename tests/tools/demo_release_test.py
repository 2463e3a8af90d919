"""The demo release as its users meet it: served by the release server,
downloaded and verified, installed and removed by our msiexec in a sandbox,
its list and parameters read by a script engine, its packages run."""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
BUILDER = os.path.join(SOURCE, "tools", "demo-release", "build-release")
SERVER = os.path.join(SOURCE, "tools", "release-server", "release_server.py")
BIN = os.environ.get("STUB_BIN_DIR") or os.path.join(SOURCE, "build", "bin")
NODE = shutil.which("node")

PRODUCT_KEY = "HKLM\\SOFTWARE\\Zelvo\\Brindlemark\\24.0"
RUNTIME_KEY = "HKLM\\SOFTWARE\\Zelvo\\BrindlemarkRuntime"
CONTENT_KEY = "HKLM\\SOFTWARE\\Zelvo\\BrindlemarkContent"
PACKAGES = ["24.0.0.0/x86/Brindlemark-x86.msi", "24.0.0.0/x64/Brindlemark-x64.msi",
            "prereq/BrindlemarkRuntimeSetup.exe", "content/BrindlemarkContent.zip",
            "stub/BrindlemarkInstall.exe"]
# arch: (folder under drive C, registry view)
PRODUCTS = {"x86": ("Program Files (x86)", "/reg:32"), "x64": ("Program Files", "/reg:64")}


def file_version(data):
    """The fixed file version of the first well-formed version block in a
    file that is not a PE image, read the way the installer reads it."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    at = data.find(key[:-2])
    while at != -1:
        block = data[at - 6:]
        if at >= 6 and len(block) >= 92:
            length, value_length = struct.unpack_from("<HH", block)
            if (length >= 92 and value_length >= 52 and block[6:6 + len(key)] == key
                    and struct.unpack_from("<I", block, 40)[0] == 0xFEEF04BD):
                high, low = struct.unpack_from("<II", block, 48)
                return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
        at = data.find(key[:-2], at + 1)
    return None


def read(path):
    with open(path, "rb") as source:
        return source.read()


class DemoReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(os.path.join(BIN, "stub-pack"), os.X_OK):
            raise unittest.SkipTest("the tools are not built in " + BIN)
        if not shutil.which("wixl"):
            raise unittest.SkipTest("wixl is missing")
        cls.work = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.work.cleanup)
        cls.root = os.path.join(cls.work.name, "release")
        os.makedirs(cls.root)
        port_file = os.path.join(cls.work.name, "port")
        server = subprocess.Popen([sys.executable, SERVER, cls.root, "--port-file", port_file],
                                  stdout=subprocess.DEVNULL)
        cls.addClassCleanup(server.wait)
        cls.addClassCleanup(server.terminate)
        for _ in range(500):
            if os.path.exists(port_file) and os.path.getsize(port_file):
                break
            time.sleep(0.01)
        cls.base = "http://127.0.0.1:%d" % int(read(port_file))
        cls.build(cls.base)

    @classmethod
    def build(cls, base, *extra):
        return subprocess.run([sys.executable, BUILDER, cls.root, "--base-url", base,
                               "--tracker-url", "https://127.0.0.1:9", "--bin", BIN] + list(extra),
                              check=True, stdout=subprocess.PIPE, text=True).stdout

    def setUp(self):
        self.sandbox = tempfile.mkdtemp(dir=self.work.name)
        self.drive = os.path.join(self.sandbox, "c")
        self.env = dict(os.environ, STUB_INSTALL_ROOT=self.drive,
                        STUB_REGISTRY_DIR=os.path.join(self.sandbox, "registry"),
                        TMPDIR=self.sandbox, XDG_DATA_HOME=self.sandbox,
                        PATH=BIN + os.pathsep + os.environ.get("PATH", ""))
        os.makedirs(self.drive)

    def run_tool(self, arguments, code_pipe=False, **extra):
        """Runs a program in the sandbox; with code_pipe, as our installer
        runs a package, so the whole 32-bit exit code arrives."""
        if not code_pipe:
            return subprocess.run(arguments, env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, **extra)
        reader, writer = os.pipe()
        try:
            result = subprocess.run(arguments, env=dict(self.env, STUB_EXIT_CODE_FD=str(writer)),
                                    pass_fds=(writer,), stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True, **extra)
            os.close(writer)
            writer = -1
            whole = os.read(reader, 8)
            result.returncode = struct.unpack("<I", whole)[0] if len(whole) == 4 else None
            return result
        finally:
            os.close(reader)
            if writer != -1:
                os.close(writer)

    def registry_value(self, key, name, view="/reg:32"):
        result = self.run_tool([os.path.join(BIN, "stub-reg"), "query", key, "/v", name, view])
        for line in result.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[0] == name:
                return parts[2]
        return None

    def script_value(self, path, name):
        """A global of a page script, evaluated by a script engine."""
        program = ("const vm = require('vm'); const fs = require('fs');"
                   "const context = {}; vm.runInNewContext(fs.readFileSync(process.argv[1],"
                   " 'utf8'), context); process.stdout.write(JSON.stringify(context.%s));" % name)
        result = subprocess.run([NODE, "-e", program, path], stdout=subprocess.PIPE, text=True,
                                check=True)
        return json.loads(result.stdout)

    def components(self):
        return self.script_value(os.path.join(self.root, "installer",
                                              "BrindlemarkComponents.js"), "Components")

    def test_products_install_report_their_version_and_remove(self):
        msiinfo = shutil.which("msiinfo")
        for arch, (folder, view) in PRODUCTS.items():
            with self.subTest(arch=arch):
                package = os.path.join(self.root, "24.0.0.0", arch, "Brindlemark-%s.msi" % arch)
                self.assertEqual(self.run_tool(["msiexec", "/i", package, "/qn"]).returncode, 0)
                installed = os.path.join(self.drive, folder, "Zelvo", "Brindlemark")
                program = os.path.join(installed, "Brindlemark.exe")
                self.assertEqual(file_version(read(program)), "24.0.0.0")
                self.assertEqual(sorted(os.listdir(installed)),
                                 ["Brindlemark.exe", "readme.txt", "sample.bmk"])
                # The installer finds the product through this value.
                self.assertEqual(
                    os.path.normpath(self.registry_value(PRODUCT_KEY, "InstallPath", view)),
                    installed)
                ran = self.run_tool([program, "--stay=0"])
                self.assertEqual((ran.returncode, ran.stdout), (0, "Brindlemark 24.0.0.0\n"))

                code = None
                if msiinfo and NODE:
                    properties = subprocess.run([msiinfo, "export", package, "Property"],
                                                stdout=subprocess.PIPE, text=True).stdout
                    code = dict(line.split("\t", 1) for line in properties.splitlines()
                                if "\t" in line)["ProductCode"]
                    listed = [c for c in self.components() if c["name"] == "ProductName"
                              and package.endswith(c["files"][0]["name"])]
                    self.assertEqual(listed[0]["productCode"], code)
                removal = self.run_tool(["msiexec", "/x", code or package, "/qn"])
                self.assertEqual(removal.returncode, 0, removal.stdout)
                self.assertFalse(os.path.exists(installed))
                self.assertIsNone(self.registry_value(PRODUCT_KEY, "InstallPath", view))

    def test_packages_download_verified_against_their_meta(self):
        for relative in PACKAGES:
            with self.subTest(package=relative):
                target = os.path.join(self.sandbox, os.path.basename(relative))
                result = self.run_tool([os.path.join(BIN, "stub-download"),
                                        self.base + "/" + relative, target])
                self.assertEqual(result.returncode, 0, result.stdout)
                self.assertEqual(read(target), read(os.path.join(self.root, relative)))

    @unittest.skipUnless(NODE, "node is missing")
    def test_list_describes_the_served_files(self):
        components = self.components()
        self.assertEqual([(c["name"], c["type"], c["sku"]) for c in components],
                         [("DotNet", 35, "Pro"), ("ProductName", 9, "Pro"),
                          ("ProductName", 10, "Pro"), ("ContentPack", 11, "Pro")])
        self.assertEqual(components[1]["version"], "24_0_0")
        for component in components:
            for entry in component["files"]:
                with self.subTest(file=entry["name"]):
                    self.assertTrue(entry["url"].startswith(self.base + "/"), entry["url"])
                    served = read(os.path.join(self.root, entry["url"][len(self.base) + 1:]))
                    self.assertEqual(entry["size"], len(served))
                    self.assertEqual(entry["crc"], str(zlib.crc32(served)))
                    self.assertTrue(entry["isResumeDownload"])

    @unittest.skipUnless(NODE, "node is missing")
    def test_installers_carry_the_release_configuration(self):
        launcher = os.path.join(self.root, "launcher", "BrindlemarkInstall")
        served_list = read(os.path.join(self.root, "installer", "BrindlemarkComponents.js"))
        for path, marker in ((launcher, None),
                             (os.path.join(self.root, "stub", "BrindlemarkInstall.exe"),
                              b"Brindlemark installer v2\n")):
            with self.subTest(installer=os.path.basename(path)):
                self.assertTrue(os.access(path, os.X_OK))
                # Unpacked the way the installer unpacks its own pages.
                unpacked = os.path.join(self.sandbox, os.path.basename(path))
                self.assertEqual(self.run_tool([os.path.join(BIN, "stub-unzip"), path,
                                                unpacked]).returncode, 0)
                self.assertEqual(read(os.path.join(unpacked, "config",
                                                   "BrindlemarkComponents.js")), served_list)
                release = os.path.join(unpacked, "release.txt")
                self.assertEqual(read(release) if os.path.exists(release) else None, marker)
                params = self.script_value(os.path.join(unpacked, "config", "installparams.js"),
                                           "installParams")
                self.assertEqual(params["DOWNLOAD_URL"],
                                 self.base + "/installer/BrindlemarkComponents.js")
                self.assertEqual(params["UPDATE_STUB_URL"],
                                 self.base + "/stub/BrindlemarkInstall.exe")
                self.assertEqual((params["VERSION"], params["MAJORVERSION"], params["SKU"]),
                                 ("24.0.0.0", "24.0", "Pro"))
                self.assertEqual(params["REGISTRY"], {"key": PRODUCT_KEY, "value": "InstallPath"})
                self.assertIn("${lang}", params["TYP_URL"])
        ini = read(os.path.join(self.root, "launcher", "productanalytics.ini")).decode()
        self.assertIn("ONLINE_CONTAINER=https://127.0.0.1:9/static/ipm/product-analytics/"
                      "index.html\n", ini)

    def test_prerequisite_writes_its_value_and_reports_whole_codes(self):
        setup = os.path.join(self.root, "prereq", "BrindlemarkRuntimeSetup.exe")
        failed = self.run_tool([setup, "/quiet", "/exit=1603"], code_pipe=True)
        self.assertEqual(failed.returncode, 1603, failed.stdout)
        self.assertIsNone(self.registry_value(RUNTIME_KEY, "Version"))
        restart = self.run_tool([setup, "/quiet", "/norestart", "/exit=3010"], code_pipe=True)
        self.assertEqual(restart.returncode, 3010, restart.stdout)
        self.assertEqual(self.registry_value(RUNTIME_KEY, "Version"), "4.8")

    def test_content_setup_adds_to_the_installed_product(self):
        unpacked = os.path.join(self.sandbox, "content")
        self.assertEqual(self.run_tool([os.path.join(BIN, "stub-unzip"), os.path.join(
            self.root, "content", "BrindlemarkContent.zip"), unpacked]).returncode, 0)
        setup = os.path.join(unpacked, "setup.exe")
        os.chmod(setup, 0o755)  # as the installer does after extracting
        # No product yet: nothing to add to.
        self.assertEqual(self.run_tool([setup, "/silent"], code_pipe=True).returncode, 1603)
        package = os.path.join(self.root, "24.0.0.0", "x64", "Brindlemark-x64.msi")
        self.assertEqual(self.run_tool(["msiexec", "/i", package, "/qn"]).returncode, 0)
        ran = self.run_tool([setup, "/silent", "/bits64=true"], code_pipe=True)
        self.assertEqual(ran.returncode, 0, ran.stdout)
        product = os.path.join(self.drive, "Program Files", "Zelvo", "Brindlemark")
        self.assertTrue(os.path.isfile(os.path.join(product, "Content", "Templates",
                                                    "letter.bmk")))
        recorded = read(os.path.join(self.drive, "ProgramData", "Zelvo", "BrindlemarkContent",
                                     "setup-args.txt")).decode().splitlines()
        self.assertEqual(recorded[-2:], ["/silent", "/bits64=true"])
        self.assertEqual(self.registry_value(CONTENT_KEY, "Version"), "24.0.0")

    def test_rebuild_keeps_packages_and_moves_urls(self):
        # The v2 installer carries the URLs; the packages do not change.
        before = {relative: read(os.path.join(self.root, relative + ".meta"))
                  for relative in PACKAGES[:4]}
        moved = "http://127.0.0.1:1"
        try:
            self.build(moved)
            for relative in before:
                self.assertEqual(read(os.path.join(self.root, relative + ".meta")),
                                 before[relative], relative)
            listed = read(os.path.join(self.root, "installer", "BrindlemarkComponents.js"))
            self.assertIn(moved.encode() + b"/content/", listed)
            self.assertNotIn(self.base.encode(), listed)
        finally:
            self.build(self.base)


if __name__ == "__main__":
    unittest.main()
