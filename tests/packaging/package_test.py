#!/usr/bin/env python3
"""Checks what `make package` built, by installing it.

Run as `package_test.py CASE`; tests/packaging/CMakeLists.txt registers every
case with CTest. The Windows installer is installed under Wine into prefixes of
its own under build/package-tests/prefixes (copies of one freshly booted
prefix), never into the prefix the other Windows tests share. Exit status 0 is
a pass, 1 a failure, 77 a case that cannot run here (skipped).
"""
import contextlib
import fcntl
import filecmp
import getpass
import gzip
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "package-tests")
PREFIXES = os.path.join(BUILD, "prefixes")
PACKAGES = os.path.join(ROOT, "build", "packages")
SKIP = 77

CLASS_KEYS = [
    r"Software\Classes\.vtxt",
    r"Software\Classes\.kzx",
    r"Software\Classes\Tarnwick.vtxt",
    r"Software\Classes\Tarnwick.kzx",
    r"Software\Classes\Applications\tarnwick.exe",
]
INSTALL_KEY = r"Software\Orlenda\Tarnwick\Install"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
SETTINGS_KEY = r"HKCU\Software\Orlenda\Tarnwick"
HIVES = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def read_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        match = re.search(r"project\(Tarnwick VERSION (\d+)\.(\d+)\.(\d+)", f.read())
    check(match is not None, "no version in the project() line of CMakeLists.txt")
    return tuple(int(part) for part in match.groups())


VERSION_NUMBERS = read_version()
VERSION = "%d.%d.%d" % VERSION_NUMBERS
MSI = os.path.join(PACKAGES, "Tarnwick-%s-x64.msi" % VERSION)
ZIP = os.path.join(PACKAGES, "Tarnwick-%s-win64-portable.zip" % VERSION)
DEB = os.path.join(PACKAGES, "vtxt_%s_amd64.deb" % VERSION)
STAGE = os.path.join(ROOT, "build", "package-stage", "Tarnwick-%s" % VERSION)
# What the installer and the zip put into the program's folder; the About box
# opens user-guide.html from beside tarnwick.exe.
WINDOWS_FILES = ("tarnwick.exe", "vtxt.exe", "user-guide.html", "README.md", "LICENSE.txt")


def artefact(path):
    check(os.path.isfile(path), "%s is missing: run `make package` first" % os.path.relpath(path, ROOT))
    return path


def run(command, timeout=120, **kwargs):
    """Runs a command and collects its output through files, not pipes: Wine's
    helper processes inherit the output handles and outlive the command."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout,
                                 **kwargs)
        out.seek(0)
        err.seek(0)
        process.stdout = out.read().decode("utf-8", "replace")
        process.stderr = err.read().decode("utf-8", "replace")
    return process


def windows_split(command_line):
    """Splits a command line the way CreateProcess and CommandLineToArgvW do."""
    args = []
    i, n = 0, len(command_line)
    while i < n and command_line[i] in " \t":
        i += 1
    # The program name: quotes group, backslashes are plain characters.
    name = []
    quoted = False
    while i < n and (quoted or command_line[i] not in " \t"):
        if command_line[i] == '"':
            quoted = not quoted
        else:
            name.append(command_line[i])
        i += 1
    args.append("".join(name))
    while True:
        while i < n and command_line[i] in " \t":
            i += 1
        if i >= n:
            return args
        arg = []
        quoted = False
        while i < n and (quoted or command_line[i] not in " \t"):
            slashes = 0
            while i < n and command_line[i] == "\\":
                slashes += 1
                i += 1
            if i < n and command_line[i] == '"':
                arg.append("\\" * (slashes // 2))
                if slashes % 2:
                    arg.append('"')
                elif quoted and i + 1 < n and command_line[i + 1] == '"':
                    arg.append('"')
                    i += 1
                else:
                    quoted = not quoted
                i += 1
            else:
                arg.append("\\" * slashes)
                if i < n and (quoted or command_line[i] not in " \t"):
                    arg.append(command_line[i])
                    i += 1
        args.append("".join(arg))


def z_path(unix_path):
    """The Wine path of a Linux file (drive Z: is the Linux root)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# ---------------------------------------------------------------- Wine


class WinePrefix:
    """A Wine prefix of one test scenario, copied from a freshly booted one."""

    def __init__(self, name):
        self.path = os.path.join(PREFIXES, name)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.path,
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            # No Mono or Gecko prompts and no menu entries on the Linux desktop.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })

    def create_fresh(self):
        template = os.path.join(PREFIXES, "template")
        os.makedirs(PREFIXES, exist_ok=True)
        with open(os.path.join(PREFIXES, ".template.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.isfile(os.path.join(template, "system.reg")):
                env = dict(self.env, WINEPREFIX=template)
                run(["wineboot", "-i"], timeout=300, env=env)
                run(["wineserver", "-w"], timeout=120, env=env)
                check(os.path.isfile(os.path.join(template, "system.reg")), "wineboot made no Wine prefix")
        self.remove()
        result = run(["cp", "-a", template, self.path])
        check(result.returncode == 0, "copying the Wine prefix failed: " + result.stderr)
        # One wineserver for the whole scenario, ended by its last case; should that case
        # never run, it ends itself five minutes after the last Wine process.
        subprocess.Popen(["wineserver", "-p300"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(timeout=60)

    def exists(self):
        return os.path.isfile(os.path.join(self.path, "system.reg"))

    def require(self):
        check(self.exists(), "the scenario's Wine prefix is missing: its install case did not run")

    def stop(self):
        if os.path.isdir(self.path):
            run(["wineserver", "-k"], timeout=60, env=self.env)

    def remove(self):
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)

    def wine(self, *args, timeout=180):
        return run(["wine", *args], timeout=timeout, env=self.env)

    def launch(self, *args):
        """Starts a program without waiting for it: `wine` stays until the program ends."""
        self.launched = getattr(self, "launched", [])
        self.launched.append(subprocess.Popen(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def msiexec(self, *args):
        log = os.path.join(BUILD, "logs", "%s-%d.log" % (os.path.basename(self.path), time.time_ns()))
        os.makedirs(os.path.dirname(log), exist_ok=True)
        result = self.wine("msiexec", *args, "/qn", "/l*v", z_path(log), timeout=300)
        result.log = log
        return result

    def unix(self, windows_path):
        """The Linux path of a C: or Z: path of this prefix."""
        drive, rest = windows_path[:2].upper(), windows_path[2:].replace("\\", "/")
        if drive == "Z:":
            return rest
        check(drive == "C:", "unexpected drive in " + windows_path)
        return os.path.join(self.path, "drive_c") + rest

    def user_folder(self, *parts):
        """A folder of the prefix's user, as Wine lays it out (C:\\users\\<Linux user name>)."""
        users = os.path.join(self.path, "drive_c", "users")
        check(os.path.isdir(os.path.join(users, getpass.getuser())), "the prefix has no folder for this user")
        return "\\".join(["C:\\users", getpass.getuser(), *parts])

    def reg_tree(self, *keys):
        """Every key below the given ones (included) with its values, {key: {name: (type, data)}};
        absent keys are left out. One cmd runs all the queries: each Wine start costs a second."""
        command = ["cmd", "/c"]
        for key in keys:
            command += ["reg", "query", key, "/s", "&"]
        result = self.wine(*command[:-1])
        tree, current = {}, None
        for line in result.stdout.splitlines():
            if line.startswith("HKEY_"):
                current = tree.setdefault(line.strip().lower(), {})
                continue
            match = re.match(r"^    (.*?)    (REG_\w+)(?:    (.*))?$", line)
            if match and current is not None:
                current[match.group(1)] = (match.group(2), match.group(3) or "")
        return tree

    @staticmethod
    def full_name(key):
        hive, path = key.split("\\", 1)
        return (HIVES[hive.upper()] + "\\" + path).lower()

    def reg_values(self, key, tree=None):
        """The values of one key, or None when the key does not exist."""
        if tree is None:
            tree = self.reg_tree(key)
        return tree.get(self.full_name(key))

    def default_value(self, key, tree=None):
        values = self.reg_values(key, tree)
        check(values is not None, "registry key %s is missing" % key)
        check("(Default)" in values, "registry key %s has no default value" % key)
        return values["(Default)"][1]

    def tarnwick_processes(self):
        """(pid, argv) of every tarnwick.exe running in this prefix."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environ = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv = [a.decode("utf-8", "replace") for a in f.read().split(b"\0")]
            except OSError:
                continue
            if ("WINEPREFIX=" + self.path).encode() not in environ:
                continue
            while argv and argv[-1] == "":
                argv.pop()
            if argv and argv[0].lower().endswith("tarnwick.exe"):
                found.append((int(entry), argv))
        return found

    def wait_for_tarnwick(self, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            processes = self.tarnwick_processes()
            if processes:
                return processes
            time.sleep(0.1)
        raise Failure("no tarnwick.exe started in the prefix within %d s" % timeout)

    def start_tarnwick(self, *args, attempts=3):
        """Runs `wine start` with args, as the shell does for a double-clicked document or a
        shortcut, and returns the tarnwick.exe processes it started. Wine's start now and then
        starts nothing while the prefix's server is busy (one CI run waited 60 s in vain, the same
        case passed on the next run), so a start that shows no program within 30 s is tried again."""
        for attempt in range(1, attempts + 1):
            result = self.wine("start", *args)
            try:
                return self.wait_for_tarnwick(timeout=30 if attempt < attempts else 60)
            except Failure:
                if attempt == attempts:
                    raise Failure("no tarnwick.exe started after %d tries of `wine start %s` (the last gave %d, %r)"
                                  % (attempts, " ".join(args), result.returncode, result.stderr[-500:]))

    def end_tarnwick(self):
        for pid, _ in self.tarnwick_processes():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        deadline = time.monotonic() + 30
        while self.tarnwick_processes() and time.monotonic() < deadline:
            time.sleep(0.1)
        for process in getattr(self, "launched", []):
            with contextlib.suppress(subprocess.TimeoutExpired):
                process.wait(timeout=30)
        self.launched = []


def require_display():
    if not os.environ.get("DISPLAY"):
        raise Failure("no DISPLAY: run through tests/packaging/run.sh (make test-package), which starts Xvfb")


def uninstall_entries(prefix):
    """{product key: values} of the installed Tarnwick products in the list of installed programs."""
    entries = {}
    tree = prefix.reg_tree("HKCU\\" + UNINSTALL_KEY, "HKLM\\" + UNINSTALL_KEY)
    for key, values in tree.items():
        if values.get("DisplayName", ("", ""))[1] == "Tarnwick":
            entries[key.rsplit("\\", 1)[1]] = values
    return entries


def only_uninstall_entry(prefix):
    entries = uninstall_entries(prefix)
    check(len(entries) == 1, "expected one Tarnwick among the installed programs, found %d" % len(entries))
    return next(iter(entries.values()))


def installed_versions(prefix):
    return {code: values.get("DisplayVersion", ("", ""))[1] for code, values in uninstall_entries(prefix).items()}


def uninstall(prefix):
    """Runs the uninstall command the list of installed programs holds, silently."""
    command = only_uninstall_entry(prefix).get("UninstallString", ("", ""))[1]
    check(re.match(r"(?i)^msiexec(\.exe)? /x\{[0-9A-F-]{36}\}$", command), "unexpected uninstall command %r" % command)
    result = prefix.msiexec(*windows_split(command)[1:])
    check(result.returncode == 0, "silent uninstall failed with %d (log %s)" % (result.returncode, result.log))


def make_documents(scenario):
    """A real container as a .vtxt and as a .kzx document, in a folder whose name has a blank,
    written by the vtxt that `make package` built. Each scenario has folders of its own: the
    scenarios run side by side, and a document rewritten while another program opens it would
    fail that open."""
    folder = os.path.join(BUILD, "documents", scenario, "My letters")
    os.makedirs(folder, exist_ok=True)
    text = os.path.join(BUILD, "documents", scenario, "letter.txt")
    password = os.path.join(BUILD, "documents", scenario, "password")
    with open(text, "w", encoding="utf-8") as f:
        f.write("Dear Ann,\nthe keys are under the mat.\n")
    with open(password, "w", encoding="utf-8") as f:
        f.write("correct horse\n")
    vtxt = os.path.join(ROOT, "build", "linux", "src", "cli", "vtxt")
    vtxt_document = os.path.join(folder, "Letter to Ann.vtxt")
    result = run([vtxt, "encrypt", text, "-o", vtxt_document, "--hint", "the usual one",
                  "--password-file", password, "--force"])
    check(result.returncode == 0, "vtxt encrypt failed with %d: %s" % (result.returncode, result.stderr))
    kzx_document = os.path.join(folder, "Old notes.kzx")
    shutil.copyfile(vtxt_document, kzx_document)
    return [vtxt_document, kzx_document]


def asks_for_password():
    """Whether the program has its Enter Password dialog yet: then opening a document shows it."""
    with open(os.path.join(ROOT, "src", "resources", "tarnwick.rc"), encoding="utf-8", errors="replace") as f:
        return re.search(r'^\s*CAPTION\s+"Enter Password"', f.read(), re.MULTILINE) is not None


def window_titles_of(pid):
    """Titles of the X windows of one process on the display."""
    tree = run(["xwininfo", "-root", "-tree"], timeout=30)
    titles = []
    for match in re.finditer(r'^\s*(0x[0-9a-f]+) "(.*)": \(', tree.stdout, re.MULTILINE):
        owner = run(["xprop", "-id", match.group(1), "_NET_WM_PID"], timeout=30).stdout
        if re.search(r"= %d$" % pid, owner.strip()):
            titles.append(match.group(2))
    return titles


def check_document_opened(pid, document):
    """The program opened the document: for a container it asks for the password."""
    if not asks_for_password():
        print("the program has no Enter Password dialog yet; checked only its command line")
        return
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        titles = window_titles_of(pid)
        if "Enter Password" in titles:
            return
        time.sleep(0.5)
    raise Failure("opening %s showed no Enter Password dialog (windows: %r)" % (os.path.basename(document), titles))


def check_installed_files(prefix, install_dir):
    folder = prefix.unix(install_dir)
    for name in WINDOWS_FILES:
        installed = os.path.join(folder, name)
        check(os.path.isfile(installed), "%s was not installed into %s" % (name, install_dir))
        check(filecmp.cmp(installed, os.path.join(STAGE, name), shallow=False),
              "the installed %s differs from the one packaged" % name)


def check_file_types(prefix, hive, install_dir):
    tree = prefix.reg_tree(*(hive + "\\" + key for key in CLASS_KEYS))
    classes = hive + r"\Software\Classes"
    exe = install_dir + "tarnwick.exe"
    command = '"%s" "%%1"' % exe
    for extension, type_name in ((".vtxt", "Vellic Text (.vtxt)"), (".kzx", "Vellic Text (.kzx)")):
        progid = "Tarnwick" + extension
        check(prefix.default_value(classes + "\\" + extension, tree) == progid,
              "%s is not of the type %s" % (extension, progid))
        openers = prefix.reg_values(classes + "\\" + extension + r"\OpenWithProgids", tree)
        check(openers is not None and progid in openers, "Tarnwick is not among the programs that open " + extension)
        check(prefix.default_value(classes + "\\" + progid, tree) == type_name,
              "the type name of %s is not %r" % (extension, type_name))
        icon = prefix.default_value(classes + "\\" + progid + r"\DefaultIcon", tree)
        check(icon.lower() == (exe + ",0").lower(), "the icon of %s is %r, not the program's" % (extension, icon))
        registered = prefix.default_value(classes + "\\" + progid + r"\shell\open\command", tree)
        check(registered.lower() == command.lower(),
              "the open command of %s is %r, expected %r" % (extension, registered, command))


def check_no_file_types(prefix, hive):
    tree = prefix.reg_tree(*(hive + "\\" + key for key in CLASS_KEYS + [INSTALL_KEY]))
    check(not tree, "still in the registry: %s" % ", ".join(sorted(tree)))


USER_ENVIRONMENT = r"HKCU\Environment"
MACHINE_ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"


def path_folders(prefix, key):
    """The folders of the PATH value under one environment key, lower-cased, without trailing "\\"."""
    result = prefix.wine("reg", "query", key, "/v", "PATH")
    match = re.search(r"^    PATH    REG_\w+    (.*)$", result.stdout, re.MULTILINE | re.IGNORECASE)
    if result.returncode != 0 or not match:
        return []
    return [folder.strip().rstrip("\\").lower() for folder in match.group(1).split(";") if folder.strip()]


def check_on_path(prefix, key, install_dir):
    check(install_dir.rstrip("\\").lower() in path_folders(prefix, key), "%s is not on the PATH of %s" % (install_dir, key))


def check_not_on_path(prefix, key, install_dir):
    check(install_dir.rstrip("\\").lower() not in path_folders(prefix, key), "%s is on the PATH of %s" % (install_dir, key))


# ---------------------------------------------------------------- per-user install


PER_USER = WinePrefix("per-user")


def per_user_install_dir(prefix):
    return prefix.user_folder("AppData", "Local", "Programs", "Tarnwick") + "\\"


def start_menu_shortcut(prefix):
    return prefix.user_folder("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Tarnwick.lnk")


def test_per_user_installs_silently():
    artefact(MSI)
    PER_USER.create_fresh()
    result = PER_USER.msiexec("/i", z_path(MSI))
    check(result.returncode == 0, "silent install failed with %d (log %s)" % (result.returncode, result.log))
    install_dir = per_user_install_dir(PER_USER)
    check_installed_files(PER_USER, install_dir)
    check(not os.path.exists(os.path.join(PER_USER.path, "drive_c", "Program Files", "Tarnwick")),
          "a per-user install wrote into Program Files")
    recorded = PER_USER.reg_values("HKCU\\" + INSTALL_KEY)
    check(recorded is not None and recorded.get("Folder", ("", ""))[1].lower() == install_dir.lower(),
          "the install folder is not recorded under HKCU\\" + INSTALL_KEY)
    check_on_path(PER_USER, USER_ENVIRONMENT, install_dir)
    check_not_on_path(PER_USER, MACHINE_ENVIRONMENT, install_dir)
    values = only_uninstall_entry(PER_USER)
    check(values.get("DisplayVersion", ("", ""))[1] == VERSION, "the installed version is not " + VERSION)
    check(values.get("Publisher", ("", ""))[1] == "Orlenda", "the publisher is not Orlenda")


def test_per_user_registers_file_types():
    PER_USER.require()
    check_file_types(PER_USER, "HKCU", per_user_install_dir(PER_USER))
    check_no_file_types(PER_USER, "HKLM")


def test_per_user_open_command_starts_installed_program():
    # Wine's shell reads file types from HKLM only, so this case plays the shell's part:
    # %1 replaced by the document's path, the command line split as CreateProcess does.
    require_display()
    PER_USER.require()
    expected_exe = (per_user_install_dir(PER_USER) + "tarnwick.exe").lower()
    for document in make_documents("per-user"):
        extension = os.path.splitext(document)[1]
        registered = PER_USER.default_value(r"HKCU\Software\Classes\Tarnwick%s\shell\open\command" % extension)
        argv = windows_split(registered.replace("%1", z_path(document)))
        check(len(argv) == 2, "the open command of %s gives %d arguments: %r" % (extension, len(argv), argv))
        check(argv[0].lower() == expected_exe,
              "the open command of %s runs %r, not the installed program" % (extension, argv[0]))
        check(argv[1] == z_path(document), "the document path reaches the program as %r" % argv[1])
        try:
            PER_USER.launch(*argv)
            processes = PER_USER.wait_for_tarnwick()
            opened = [pid for pid, running in processes
                      if running[0].lower() == expected_exe and running[1:2] == [argv[1]]]
            check(opened, "tarnwick.exe runs as %r" % [running for _, running in processes])
            check_document_opened(opened[0], document)
        finally:
            PER_USER.end_tarnwick()


def test_per_user_start_menu_shortcut_starts_program():
    require_display()
    PER_USER.require()
    shortcut = start_menu_shortcut(PER_USER)
    check(os.path.isfile(PER_USER.unix(shortcut)), "no Start menu shortcut " + shortcut)
    expected_exe = (per_user_install_dir(PER_USER) + "tarnwick.exe").lower()
    try:
        processes = PER_USER.start_tarnwick(shortcut)
        check(any(argv[0].lower() == expected_exe for _, argv in processes),
              "the shortcut started %r, not %s" % ([argv for _, argv in processes], expected_exe))
    finally:
        PER_USER.end_tarnwick()


def test_per_user_uninstall_removes_everything():
    PER_USER.require()
    try:
        # The user's own settings are not the installer's to remove.
        PER_USER.wine("reg", "add", SETTINGS_KEY, "/v", "Color", "/t", "REG_DWORD", "/d", "3", "/f")
        uninstall(PER_USER)
        check(not os.path.exists(PER_USER.unix(per_user_install_dir(PER_USER))), "the install folder is still there")
        check(not os.path.exists(PER_USER.unix(start_menu_shortcut(PER_USER))), "the Start menu shortcut is still there")
        check_no_file_types(PER_USER, "HKCU")
        check(not uninstall_entries(PER_USER), "Tarnwick is still among the installed programs")
        check_not_on_path(PER_USER, USER_ENVIRONMENT, per_user_install_dir(PER_USER))
        settings = PER_USER.reg_values(SETTINGS_KEY)
        check(settings is not None and settings.get("Color", ("", ""))[1] == "0x3",
              "the uninstaller removed the user's settings")
    finally:
        PER_USER.stop()


# ---------------------------------------------------------------- per-machine install


PER_MACHINE = WinePrefix("per-machine")
PER_MACHINE_DIR = "C:\\Program Files\\Tarnwick\\"


def per_machine_shortcuts(prefix):
    # Windows puts it in the Start menu of every user; Wine in the installing user's.
    return ["C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tarnwick.lnk", start_menu_shortcut(prefix)]


def test_per_machine_installs_silently():
    artefact(MSI)
    PER_MACHINE.create_fresh()
    result = PER_MACHINE.msiexec("/i", z_path(MSI), "ALLUSERS=1")
    check(result.returncode == 0, "silent install failed with %d (log %s)" % (result.returncode, result.log))
    check_installed_files(PER_MACHINE, PER_MACHINE_DIR)
    check_file_types(PER_MACHINE, "HKLM", PER_MACHINE_DIR)
    check_no_file_types(PER_MACHINE, "HKCU")
    check_on_path(PER_MACHINE, MACHINE_ENVIRONMENT, PER_MACHINE_DIR)
    check_not_on_path(PER_MACHINE, USER_ENVIRONMENT, PER_MACHINE_DIR)
    listed = PER_MACHINE.reg_tree("HKLM\\" + UNINSTALL_KEY)
    check(any(values.get("DisplayName", ("", ""))[1] == "Tarnwick" for values in listed.values()),
          "Tarnwick is not listed for every user")
    check(any(os.path.isfile(PER_MACHINE.unix(shortcut)) for shortcut in per_machine_shortcuts(PER_MACHINE)),
          "no Start menu shortcut")


def test_per_machine_double_clicked_document_opens_in_tarnwick():
    require_display()
    PER_MACHINE.require()
    expected_exe = (PER_MACHINE_DIR + "tarnwick.exe").lower()
    for document in make_documents("per-machine"):
        try:
            # `start` hands the document to the shell, as Explorer does on a double-click.
            processes = PER_MACHINE.start_tarnwick("/unix", document)
            opened = [pid for pid, argv in processes
                      if argv[0].lower() == expected_exe and argv[1:2] == [z_path(document)]]
            check(opened, "opening %s started %r" % (os.path.basename(document), [argv for _, argv in processes]))
            check_document_opened(opened[0], document)
        finally:
            PER_MACHINE.end_tarnwick()


def test_per_machine_uninstall_removes_everything():
    PER_MACHINE.require()
    try:
        uninstall(PER_MACHINE)
        check(not os.path.exists(PER_MACHINE.unix(PER_MACHINE_DIR)), "the install folder is still there")
        check(not any(os.path.exists(PER_MACHINE.unix(shortcut)) for shortcut in per_machine_shortcuts(PER_MACHINE)),
              "the Start menu shortcut is still there")
        check_no_file_types(PER_MACHINE, "HKLM")
        check(not uninstall_entries(PER_MACHINE), "Tarnwick is still among the installed programs")
        check_not_on_path(PER_MACHINE, MACHINE_ENVIRONMENT, PER_MACHINE_DIR)
        # Only the folder the installer added goes; the rest of the PATH stays.
        check({"%systemroot%\\system32", "c:\\windows\\system32"} & set(path_folders(PER_MACHINE, MACHINE_ENVIRONMENT)),
              "the uninstaller damaged the machine's PATH")
    finally:
        PER_MACHINE.stop()


# ---------------------------------------------------------------- upgrades


UPGRADE = WinePrefix("upgrade")
OLDER_VERSION = "%d.0.0" % (VERSION_NUMBERS[0] - 1)


def build_msi(version, name, readme_text=None):
    """An installer of another version from the same staged programs."""
    stage = os.path.join(BUILD, "msi-" + name, "Tarnwick")
    shutil.rmtree(os.path.dirname(stage), ignore_errors=True)
    shutil.copytree(STAGE, stage)
    if readme_text is not None:
        with open(os.path.join(stage, "README.md"), "w", encoding="utf-8") as f:
            f.write(readme_text)
    output = os.path.join(BUILD, "msi-" + name, "Tarnwick-%s.msi" % version)
    result = run(["bash", os.path.join(ROOT, "packaging", "windows", "build-msi.sh"), stage, version, output])
    check(result.returncode == 0, "building the %s installer failed: %s" % (version, result.stderr))
    return output


def test_upgrade_replaces_older_version():
    artefact(MSI)
    older_msi = build_msi(OLDER_VERSION, "older", readme_text="the older version\n")
    UPGRADE.create_fresh()
    result = UPGRADE.msiexec("/i", z_path(older_msi))
    check(result.returncode == 0, "installing %s failed with %d (log %s)"
          % (OLDER_VERSION, result.returncode, result.log))
    before = installed_versions(UPGRADE)
    check(list(before.values()) == [OLDER_VERSION], "after installing %s the programs list shows %r"
          % (OLDER_VERSION, before))

    result = UPGRADE.msiexec("/i", z_path(MSI))
    check(result.returncode == 0, "installing %s over %s failed with %d (log %s)"
          % (VERSION, OLDER_VERSION, result.returncode, result.log))
    after = installed_versions(UPGRADE)
    check(list(after.values()) == [VERSION], "after the upgrade the programs list shows %r" % after)
    install_dir = per_user_install_dir(UPGRADE)
    check_installed_files(UPGRADE, install_dir)
    check_file_types(UPGRADE, "HKCU", install_dir)
    entries = path_folders(UPGRADE, USER_ENVIRONMENT).count(install_dir.rstrip("\\").lower())
    check(entries == 1, "after the upgrade the install folder is %d times on the PATH" % entries)


def test_upgrade_rebuilt_same_version_replaces_installed():
    UPGRADE.require()
    before = installed_versions(UPGRADE)
    result = UPGRADE.msiexec("/i", z_path(build_msi(VERSION, "rebuilt")))
    check(result.returncode == 0, "installing a rebuilt %s failed with %d (log %s)"
          % (VERSION, result.returncode, result.log))
    after = installed_versions(UPGRADE)
    check(list(after.values()) == [VERSION], "after the reinstall the programs list shows %r" % after)
    check(set(after) != set(before), "the rebuilt package did not replace the installed one")


def test_upgrade_refuses_downgrade():
    UPGRADE.require()
    before = installed_versions(UPGRADE)
    result = UPGRADE.msiexec("/i", z_path(build_msi(OLDER_VERSION, "downgrade", readme_text="the older version\n")))
    check(result.returncode != 0, "installing %s over %s was accepted" % (OLDER_VERSION, VERSION))
    check(installed_versions(UPGRADE) == before, "a refused downgrade changed the installed programs")
    check_installed_files(UPGRADE, per_user_install_dir(UPGRADE))


def test_upgrade_then_uninstall_removes_everything():
    UPGRADE.require()
    try:
        uninstall(UPGRADE)
        check(not os.path.exists(UPGRADE.unix(per_user_install_dir(UPGRADE))), "the install folder is still there")
        check_no_file_types(UPGRADE, "HKCU")
        check(not uninstall_entries(UPGRADE), "Tarnwick is still among the installed programs")
    finally:
        UPGRADE.stop()


# ---------------------------------------------------------------- the programs themselves


def pe_info(path):
    """(machine, subsystem, ids of the group icons in resource order) of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:2] == b"MZ", "%s is not a Windows program" % path)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "%s has no PE header" % path)
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    check(struct.unpack_from("<H", data, optional)[0] == 0x20B, "%s is not a 64-bit program" % path)
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            _, virtual_size, address, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise Failure("%s: address 0x%x lies in no section" % (path, rva))

    icons = []
    if resource_rva:
        base = offset(resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
                yield name, target

        for type_id, target in entries(0):
            if type_id == 14 and target & 0x80000000:  # RT_GROUP_ICON
                icons = [name for name, _ in entries(target & 0x7FFFFFFF)]
    return machine, subsystem, icons


def test_windows_programs_file_type_icon_is_program_icon():
    artefact(MSI)
    machine, subsystem, icons = pe_info(os.path.join(STAGE, "tarnwick.exe"))
    check(machine == 0x8664, "tarnwick.exe is not an x64 program")
    check(subsystem == 2, "tarnwick.exe is not a windowed program (subsystem %d)" % subsystem)
    machine, subsystem, _ = pe_info(os.path.join(STAGE, "vtxt.exe"))
    check(machine == 0x8664 and subsystem == 3, "vtxt.exe is not an x64 console program")
    with open(os.path.join(ROOT, "src", "resources", "tarnwick.rc"), encoding="utf-8", errors="replace") as f:
        declares_icon = re.search(r"^\s*\w+\s+ICON\s", f.read(), re.MULTILINE) is not None
    if not declares_icon:
        raise Skip("the program has no icon resource yet")
    # ",0" in DefaultIcon names the first group icon of the program.
    check(icons[:1] == [102], "the first icon of tarnwick.exe is %r, not the program icon 102" % icons[:1])


# Every release carries this code: a package with another one would install beside the
# old version instead of replacing it.
UPGRADE_CODE = "{C7C7EB61-A851-42BB-B22C-B5EAB98B018F}"


def test_windows_installer_keeps_upgrade_code_and_needs_no_elevation():
    properties = run(["msiinfo", "export", artefact(MSI), "Property"])
    check(properties.returncode == 0, "msiinfo cannot read the installer: " + properties.stderr)
    values = dict(line.split("\t", 1) for line in properties.stdout.splitlines()[3:] if "\t" in line)
    check(values.get("UpgradeCode", "").upper() == UPGRADE_CODE, "the UpgradeCode is %r" % values.get("UpgradeCode"))
    check(values.get("ProductVersion") == VERSION, "the ProductVersion is %r" % values.get("ProductVersion"))
    check(values.get("ProductName") == "Tarnwick" and values.get("Manufacturer") == "Orlenda",
          "the product is %r by %r" % (values.get("ProductName"), values.get("Manufacturer")))
    check("ALLUSERS" not in values, "the installer sets ALLUSERS itself, so it cannot install per user")
    with tempfile.TemporaryDirectory() as dump:
        result = run(["msidump", "-t", "-d", dump, MSI], cwd=dump)
        check(result.returncode == 0, "msidump failed: " + result.stderr)
        with open(os.path.join(dump, "_SummaryInformation.idt"), encoding="utf-8", errors="replace") as f:
            summary = dict(line.split("\t", 1) for line in f.read().splitlines()[3:] if "\t" in line)
    word_count = int(summary.get("15", "0"))
    check(word_count & 2, "the installer's files are not compressed inside it")
    # Bit 8: installing needs no administrator rights, so a user can install for themselves.
    check(word_count & 8, "the installer asks for elevation (word count %d)" % word_count)
    check(summary.get("7", "").startswith("x64;"), "the installer is not for x64: %r" % summary.get("7"))


# ---------------------------------------------------------------- portable zip


def test_portable_zip_holds_programs_readme_and_licence():
    folder = "Tarnwick-%s/" % VERSION
    with zipfile.ZipFile(artefact(ZIP)) as archive:
        names = sorted(archive.namelist())
        expected = sorted([folder] + [folder + name for name in WINDOWS_FILES])
        check(names == expected, "the zip holds %r, expected %r" % (names, expected))
        check(archive.testzip() is None, "the zip is damaged")
        with open(os.path.join(ROOT, "README.md"), "rb") as f:
            check(archive.read(folder + "README.md") == f.read(), "the zip's README.md is not the project's")
        with open(os.path.join(ROOT, "LICENSE"), "rb") as f:
            check(archive.read(folder + "LICENSE.txt") == f.read(), "the zip's licence is not the project's")
        with open(os.path.join(ROOT, "docs", "user-guide.html"), "rb") as f:
            check(archive.read(folder + "user-guide.html") == f.read(), "the zip's user guide is not the project's")
        for name in ("tarnwick.exe", "vtxt.exe"):
            with open(os.path.join(STAGE, name), "rb") as f:
                check(archive.read(folder + name) == f.read(), "the zip's %s is not the packaged one" % name)


def test_portable_zip_runs_without_installing():
    require_display()
    prefix = WinePrefix("portable")
    prefix.create_fresh()
    try:
        target = os.path.join(prefix.path, "drive_c", "Portable")
        with zipfile.ZipFile(artefact(ZIP)) as archive:
            archive.extractall(target)
        folder = "C:\\Portable\\Tarnwick-%s\\" % VERSION
        result = prefix.wine(folder + "vtxt.exe", "--version")
        check(result.returncode == 0 and ("vtxt " + VERSION) in result.stdout,
              "the unpacked vtxt.exe --version gave %d, %r" % (result.returncode, result.stdout))
        try:
            prefix.launch(folder + "tarnwick.exe")
            processes = prefix.wait_for_tarnwick()
            check(any(argv[0].lower() == (folder + "tarnwick.exe").lower() for _, argv in processes),
                  "tarnwick.exe runs as %r" % [argv for _, argv in processes])
        finally:
            prefix.end_tarnwick()
    finally:
        prefix.remove()


# ---------------------------------------------------------------- Debian package


def deb_fields():
    result = run(["dpkg-deb", "-f", artefact(DEB)])
    check(result.returncode == 0, "dpkg-deb -f failed: " + result.stderr)
    fields, last = {}, None
    for line in result.stdout.splitlines():
        if line.startswith(" ") and last:
            fields[last] += "\n" + line
        elif ":" in line:
            last, value = line.split(":", 1)
            fields[last] = value.strip()
    return fields


def test_deb_package_describes_vtxt():
    fields = deb_fields()
    for name, value in (("Package", "vtxt"), ("Version", VERSION), ("Architecture", "amd64"), ("Section", "utils")):
        check(fields.get(name) == value, "%s is %r, expected %r" % (name, fields.get(name), value))
    check(fields.get("Maintainer"), "the package names no maintainer")
    check(re.search(r"(^|, )libc6( |,|$)", fields.get("Depends", "")), "the package does not depend on libc6")
    description = fields.get("Description", "").splitlines()
    check(len(description) >= 2 and description[0], "the description has no summary and long text")
    check(all(len(line) < 80 for line in description), "a description line is 80 characters or longer")
    info = run(["dpkg-deb", "-I", DEB])
    check(info.returncode == 0 and "control" in info.stdout, "dpkg-deb -I cannot read the package")


def test_deb_package_holds_binary_man_page_and_copyright():
    listing = run(["dpkg-deb", "-c", artefact(DEB)])
    check(listing.returncode == 0, "dpkg-deb -c failed: " + listing.stderr)
    entries = {}
    for line in listing.stdout.splitlines():
        parts = line.split()
        entries[parts[-1].rstrip("/")] = (parts[0], parts[1])
    check(all(path in (".", "./usr") or path.startswith("./usr/") for path in entries),
          "the package puts files outside /usr: %r" % sorted(entries))
    check(entries.get("./usr/bin/vtxt") == ("-rwxr-xr-x", "root/root"),
          "./usr/bin/vtxt is %r" % (entries.get("./usr/bin/vtxt"),))
    check("./usr/share/doc/vtxt/copyright" in entries, "the package has no copyright file")
    completion = "./usr/share/bash-completion/completions/vtxt"
    check(entries.get(completion) == ("-rw-r--r--", "root/root"), "%s is %r" % (completion, entries.get(completion)))
    man_source = os.path.join(ROOT, "docs", "vtxt.1")
    with tempfile.TemporaryDirectory() as unpacked:
        result = run(["dpkg-deb", "-x", DEB, unpacked])
        check(result.returncode == 0, "dpkg-deb -x failed: " + result.stderr)
        binary = os.path.join(unpacked, "usr", "bin", "vtxt")
        sections = run(["readelf", "-S", "-W", binary])
        check(sections.returncode == 0, "vtxt is not an ELF file")
        check(".symtab" not in sections.stdout and ".debug_" not in sections.stdout, "vtxt is not stripped")
        version = run([binary, "--version"])
        check(version.returncode == 0 and ("vtxt " + VERSION) in version.stdout,
              "the packaged vtxt --version gave %d, %r" % (version.returncode, version.stdout))
        with open(os.path.join(unpacked, "usr", "share", "bash-completion", "completions", "vtxt"), "rb") as packed, \
                open(os.path.join(ROOT, "packaging", "linux", "vtxt-completion.bash"), "rb") as source:
            check(packed.read() == source.read(), "the packaged completion is not packaging/linux/vtxt-completion.bash")
        if os.path.isfile(man_source):
            page = os.path.join(unpacked, "usr", "share", "man", "man1", "vtxt.1.gz")
            check(os.path.isfile(page), "docs/vtxt.1 exists but the package has no man page")
            with gzip.open(page, "rb") as packed, open(man_source, "rb") as source:
                check(packed.read() == source.read(), "the packaged man page is not docs/vtxt.1")
        else:
            print("docs/vtxt.1 is not written yet; no man page to look for")


def dpkg(*args):
    """dpkg, waiting while another package manager holds its lock."""
    deadline = time.monotonic() + 120
    while True:
        result = run(["dpkg", *args], timeout=180)
        if result.returncode == 0 or "lock" not in result.stderr or time.monotonic() > deadline:
            return result
        time.sleep(2)


def vtxt_package_installed():
    result = run(["dpkg-query", "-W", "-f=${Status}", "vtxt"])
    return result.returncode == 0 and "installed" in result.stdout.split()


def test_deb_package_installs_and_removes_with_dpkg():
    artefact(DEB)
    if os.geteuid() != 0:
        raise Skip("installing with dpkg needs root")
    if vtxt_package_installed():
        raise Skip("a vtxt package is already installed on this machine; leaving it alone")
    try:
        result = dpkg("-i", DEB)
        check(result.returncode == 0, "dpkg -i failed: " + result.stderr)
        check(vtxt_package_installed(), "dpkg does not list vtxt as installed")
        files = run(["dpkg", "-L", "vtxt"]).stdout.split()
        check("/usr/bin/vtxt" in files, "dpkg -L vtxt has no /usr/bin/vtxt")
        check("/usr/share/bash-completion/completions/vtxt" in files, "the bash completion was not installed")
        version = run(["/usr/bin/vtxt", "--version"])
        check(version.returncode == 0 and ("vtxt " + VERSION) in version.stdout,
              "the installed vtxt --version gave %r" % version.stdout)
        if os.path.isfile(os.path.join(ROOT, "docs", "vtxt.1")):
            check("/usr/share/man/man1/vtxt.1.gz" in files, "the man page was not installed")
            if shutil.which("man"):
                found = run(["man", "-w", "vtxt"])
                check(found.stdout.strip() == "/usr/share/man/man1/vtxt.1.gz",
                      "man -w vtxt gave %r" % found.stdout.strip())
    finally:
        removed = dpkg("--purge", "vtxt")
    check(removed.returncode == 0, "dpkg --purge vtxt failed: " + removed.stderr)
    check(not vtxt_package_installed(), "vtxt is still installed after dpkg --purge")
    check(not os.path.exists("/usr/bin/vtxt"), "/usr/bin/vtxt is still there after removal")


CASES = {
    "PerUserInstall.InstallsSilently": test_per_user_installs_silently,
    "PerUserInstall.RegistersFileTypes": test_per_user_registers_file_types,
    "PerUserInstall.OpenCommandStartsInstalledProgram": test_per_user_open_command_starts_installed_program,
    "PerUserInstall.StartMenuShortcutStartsProgram": test_per_user_start_menu_shortcut_starts_program,
    "PerUserInstall.UninstallRemovesEverything": test_per_user_uninstall_removes_everything,
    "PerMachineInstall.InstallsSilently": test_per_machine_installs_silently,
    "PerMachineInstall.DoubleClickedDocumentOpensInTarnwick": test_per_machine_double_clicked_document_opens_in_tarnwick,
    "PerMachineInstall.UninstallRemovesEverything": test_per_machine_uninstall_removes_everything,
    "InstallerUpgrade.ReplacesOlderVersion": test_upgrade_replaces_older_version,
    "InstallerUpgrade.RebuiltSameVersionReplacesInstalled": test_upgrade_rebuilt_same_version_replaces_installed,
    "InstallerUpgrade.RefusesDowngrade": test_upgrade_refuses_downgrade,
    "InstallerUpgrade.UninstallAfterUpgradeRemovesEverything": test_upgrade_then_uninstall_removes_everything,
    "WindowsPrograms.FileTypeIconIsProgramIcon": test_windows_programs_file_type_icon_is_program_icon,
    "WindowsInstaller.KeepsUpgradeCodeAndNeedsNoElevation": test_windows_installer_keeps_upgrade_code_and_needs_no_elevation,
    "PortableZip.HoldsProgramsReadmeAndLicence": test_portable_zip_holds_programs_readme_and_licence,
    "PortableZip.RunsWithoutInstalling": test_portable_zip_runs_without_installing,
    "DebPackage.DescribesVtxt": test_deb_package_describes_vtxt,
    "DebPackage.HoldsBinaryManPageAndCopyright": test_deb_package_holds_binary_man_page_and_copyright,
    "DebPackage.InstallsAndRemovesWithDpkg": test_deb_package_installs_and_removes_with_dpkg,
}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        print("usage: package_test.py CASE\ncases:\n  " + "\n  ".join(CASES), file=sys.stderr)
        return 2
    os.makedirs(BUILD, exist_ok=True)
    try:
        CASES[sys.argv[1]]()
    except Skip as skip:
        print("skipped: %s" % skip)
        return SKIP
    except (Failure, subprocess.TimeoutExpired) as failure:
        print("FAILED: %s" % failure)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
