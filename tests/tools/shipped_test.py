"""The shipped programs: their size, what they import, and the manifest.

    shipped_test.py OBJDUMP EXE BUDGET_BYTES MANIFEST SERVICE_EXE SERVICE_BUDGET_BYTES
"""
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

WINDOWS_DLLS = {"advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
                "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll",
                "user32.dll", "ws2_32.dll"}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


# The time service waits on events: nothing of a window's messages.
WINDOW_CALLS = {"SetTimer", "KillTimer", "PostMessageA", "WSAAsyncSelect"}


def imported_names(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True,
                          check=True).stdout
    names = set()
    for line in dump.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1].isdigit():
            names.add(parts[2])
    return names


class Shipped(unittest.TestCase):
    objdump = exe = manifest = service = None
    budget = service_budget = 0

    def test_each_stays_within_its_size_budget(self):
        for exe, budget in ((self.exe, self.budget), (self.service, self.service_budget)):
            with open(exe, "rb") as program:
                size = len(program.read())
            self.assertLessEqual(size, budget, "%s: %d bytes" % (exe, size))

    def test_each_carries_no_symbols_and_imports_only_windows_dlls(self):
        for exe in (self.exe, self.service):
            dump = subprocess.run([self.objdump, "-p", exe], capture_output=True, text=True,
                                  check=True).stdout
            dlls = {line.split(":", 1)[1].strip().lower()
                    for line in dump.splitlines() if "DLL Name:" in line}
            self.assertTrue(dlls)
            self.assertLessEqual(dlls, WINDOWS_DLLS, exe)
            symbols = subprocess.run([self.objdump, "-t", exe], capture_output=True,
                                     text=True).stdout
            self.assertNotIn("WinMain", symbols)
            self.assertNotIn("mbedtls_ssl_handshake", symbols)

    def test_the_service_takes_no_window_messages(self):
        names = imported_names(self.objdump, self.service)
        self.assertIn("WSAEventSelect", names)
        self.assertEqual(names & WINDOW_CALLS, set())

    def test_the_manifest_parses_and_says_what_the_program_needs(self):
        root = ElementTree.parse(self.manifest).getroot()
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        controls = root.find(".//%sdependentAssembly/%sassemblyIdentity" % (ASM_V1, ASM_V1))
        self.assertEqual(controls.get("name"), "Microsoft.Windows.Common-Controls")
        self.assertEqual(controls.get("version"), "6.0.0.0")
        level = root.find(".//%srequestedExecutionLevel" % ASM_V3)
        self.assertEqual(level.get("level"), "asInvoker")
        systems = {os.get("Id") for os in root.iter(COMPATIBILITY + "supportedOS")}
        self.assertEqual(systems, SUPPORTED_OS)
        aware = [element.text for element in root.iter() if element.tag.endswith("dpiAware")]
        self.assertEqual(aware, ["true"])


if __name__ == "__main__":
    Shipped.objdump, Shipped.exe, budget, Shipped.manifest, Shipped.service = sys.argv[1:6]
    Shipped.budget = int(budget)
    Shipped.service_budget = int(sys.argv[6])
    unittest.main(argv=sys.argv[:1])
