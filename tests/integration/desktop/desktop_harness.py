"""What the desktop tests run the program in: a display of their own (Xvfb), a private session
bus with the tests' own status-notifier watcher and notification server, a recording default
handler for web addresses and folders, and the built program with a private data folder."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAM = os.environ.get("ZENNIC_PROGRAM", "")


def eventually(probe, timeout=10.0, what="the condition"):
    """The first truthy result of probe() within timeout seconds; fails the test otherwise."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Desktop:
    """A display and a session bus of the test's own, with the desktop's peers on it."""

    def __init__(self, folder, watcher=True):
        self.folder = folder
        self.watcher = watcher
        self.record_file = os.path.join(folder, "desktop-events.jsonl")
        self.launch_file = os.path.join(folder, "launched.txt")
        self.processes = []

    def start(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.processes.append(xvfb)
        with os.fdopen(read_end) as display_number:
            self.display = ":" + display_number.readline().strip()

        bus_config = os.path.join(self.folder, "bus.conf")
        with open(bus_config, "w", encoding="utf-8") as config:
            # No service folders: nothing outside the test is ever started on this bus.
            config.write(
                "<busconfig><type>session</type>"
                f"<listen>unix:path={self.folder}/bus</listen><auth>EXTERNAL</auth>"
                "<policy context='default'><allow send_destination='*' eavesdrop='true'/>"
                "<allow eavesdrop='true'/><allow own='*'/></policy></busconfig>")
        self.processes.append(subprocess.Popen(["dbus-daemon", "--nofork", "--config-file", bus_config],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        socket = os.path.join(self.folder, "bus")
        eventually(lambda: os.path.exists(socket), 10.0, "the session bus")
        self.bus_address = "unix:path=" + socket

        peers = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "desktop_peers.py"), self.bus_address, self.record_file,
             *([] if self.watcher else ["--no-watcher"])],
            stdout=subprocess.PIPE, text=True)
        self.processes.append(peers)
        ready = peers.stdout.readline().strip()
        peers.stdout.close()
        assert ready == "ready", "the desktop's peers did not start"
        self.bus = dbus.bus.BusConnection(self.bus_address)
        return self

    def stop(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def events(self, kind):
        if not os.path.exists(self.record_file):
            return []
        with open(self.record_file, encoding="utf-8") as record:
            return [event for event in map(json.loads, record) if event["event"] == kind]

    def notifications(self):
        return [(event["summary"], event["body"]) for event in self.events("notification")]

    def launched(self):
        if not os.path.exists(self.launch_file):
            return []
        with open(self.launch_file, encoding="utf-8") as launched:
            return launched.read().splitlines()

    def environment(self):
        return {"DISPLAY": self.display, "DBUS_SESSION_BUS_ADDRESS": self.bus_address}

    # The display, through xdotool and xclip.

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env={**os.environ, "DISPLAY": self.display},
                              capture_output=True, text=True, timeout=20).stdout.strip()

    def find_window(self, title, timeout=10.0, pid=None):
        """The first window with the title; with `pid`, the first shown one of that process."""
        owner = ["--onlyvisible", "--pid", str(pid)] if pid is not None else []
        return eventually(lambda: self.xdotool("search", *owner, "--name", "^" + re.escape(title) + "$").split(),
                          timeout, f"a window titled {title!r}")[0]

    def window_gone(self, title):
        return not self.xdotool("search", "--name", "^" + re.escape(title) + "$")

    def keys(self, window, *keys):
        """Focuses the window and types the keys into it."""
        self.xdotool("windowfocus", "--sync", window)
        for key in keys:
            self.xdotool("key", "--clearmodifiers", key)
            time.sleep(0.15)

    def type_text(self, window, text):
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("type", "--delay", "20", text)

    def clipboard(self):
        result = subprocess.run(["xclip", "-o", "-selection", "clipboard"],
                                env={**os.environ, "DISPLAY": self.display},
                                capture_output=True, text=True, timeout=10)
        return result.stdout

    # The status-notifier item and its menu, as a desktop's tray reads them.

    def tray_item(self, timeout=15.0):
        item = eventually(lambda: self.events("item"), timeout, "the tray item to register")[-1]
        return item["service"], item["path"]

    def _menu(self):
        service, path = self.tray_item()
        item = self.bus.get_object(service, path)
        menu_path = item.Get("org.kde.StatusNotifierItem", "Menu",
                             dbus_interface=dbus.PROPERTIES_IFACE)
        return self.bus.get_object(service, menu_path)

    def menu(self):
        """The menu's entries in order: (id, label), separators as (id, None)."""
        _, (_, _, children) = self._menu().GetLayout(0, -1, ["label", "type"],
                                                     dbus_interface="com.canonical.dbusmenu")
        entries = []
        for child in children:
            child_id, properties, _ = child
            separator = properties.get("type") == "separator"
            entries.append((int(child_id), None if separator else str(properties.get("label", ""))))
        return entries

    def labels(self):
        return [label.replace("_", "") for _, label in self.menu() if label is not None]

    def click(self, label):
        ids = [entry_id for entry_id, entry_label in self.menu()
               if entry_label is not None and entry_label.replace("_", "") == label]
        assert ids, f"no menu entry {label!r} in {self.labels()}"
        self._menu().Event(ids[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                           dbus_interface="com.canonical.dbusmenu")


class Program:
    """The built program with a private data folder, home and runtime folder under `folder`."""

    def __init__(self, folder, environment, lang="C.UTF-8"):
        self.folder = folder
        self.data = os.path.join(folder, "data", "Ruzerad")
        home = os.path.join(folder, "home")
        for needed in ("run", "home", "data"):
            os.makedirs(os.path.join(folder, needed), exist_ok=True)
        self.environment = {
            key: value for key, value in os.environ.items()
            if key not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "LANGUAGE")
            and not key.startswith("LC_")}
        self.environment.update({
            "XDG_DATA_HOME": os.path.join(folder, "data"),
            "XDG_RUNTIME_DIR": os.path.join(folder, "run"),
            "HOME": home,
            "LANG": lang,
            "NO_AT_BRIDGE": "1",
            "GSETTINGS_BACKEND": "memory",
            **environment,
        })
        self.process = None
        self.runs = 0

    def record_launches(self, launch_file):
        """Makes a recorder the default handler for web addresses and folders."""
        applications = os.path.join(self.folder, "data", "applications")
        os.makedirs(applications, exist_ok=True)
        recorder = os.path.join(self.folder, "record-launch")
        with open(recorder, "w", encoding="utf-8") as script:
            script.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{launch_file}"\n')
        os.chmod(recorder, 0o755)
        with open(os.path.join(applications, "zennic-recorder.desktop"), "w", encoding="utf-8") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Recorder\n"
                        f"Exec={recorder} %u\nMimeType=x-scheme-handler/http;inode/directory;\n")
        config = os.path.join(self.environment["HOME"], ".config")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "mimeapps.list"), "w", encoding="utf-8") as defaults:
            defaults.write("[Default Applications]\nx-scheme-handler/http=zennic-recorder.desktop\n"
                           "inode/directory=zennic-recorder.desktop\n")

    def write_settings(self, settings):
        os.makedirs(self.data, exist_ok=True)
        with open(os.path.join(self.data, "settings.json"), "w", encoding="utf-8") as file:
            json.dump({"version": 3, **settings}, file)

    def suppress_welcome(self):
        os.makedirs(self.data, exist_ok=True)
        with open(os.path.join(self.data, "first_run_welcome_suppressed.flag"), "w") as flag:
            flag.write("1")

    def start(self):
        self.runs += 1
        self.stderr_path = os.path.join(self.folder, f"stderr-{self.runs}.txt")
        self.stdout_path = os.path.join(self.folder, f"stdout-{self.runs}.txt")
        with open(self.stderr_path, "w") as err, open(self.stdout_path, "w") as out:
            self.process = subprocess.Popen([PROGRAM], env=self.environment, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err, cwd=self.folder)
        return self

    def log(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as err:
            return err.read()

    def wait_for_log(self, text, timeout=15.0):
        def seen():
            if text in self.log():
                return True
            if self.process.poll() is not None:
                raise AssertionError(f"the program ended ({self.process.returncode}) before "
                                     f"logging {text!r}:\n{self.log()}")
            return False
        eventually(seen, timeout, repr(text))

    def port(self):
        match = eventually(lambda: re.search(r"Web client listening at http://127\.0\.0\.1:(\d+)", self.log()),
                           15.0, "the web client's address")
        return int(match.group(1))

    def wait(self, timeout=15.0):
        return self.process.wait(timeout)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                return self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode if self.process else None

    # The web client's API, as the page calls it.

    def api(self, route, body=None, timeout=30.0):
        base = f"http://127.0.0.1:{self.port()}"
        with urllib.request.urlopen(base + "/", timeout=10) as page:
            cookie = page.headers["Set-Cookie"].split(";")[0]
        request = urllib.request.Request(base + "/api/mixer/" + route, method="POST",
                                         data=json.dumps(body or {}).encode(),
                                         headers={"Cookie": cookie, "Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as reply:
                return reply.status, json.loads(reply.read())
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read())


class AudioServer:
    """A private PulseAudio server with the virtual devices, as scripts/virtual-audio makes it."""

    def __init__(self, folder, watcher=True):
        self.folder = folder
        self.watcher = watcher
        self.script = os.environ["ZENNIC_VIRTUAL_AUDIO"]
        self.address = subprocess.run([self.script, "start", folder], capture_output=True, text=True,
                                      check=True).stdout.strip()

    def pactl(self, *arguments):
        return subprocess.run(["pactl", *arguments], env={**os.environ, "PULSE_SERVER": self.address},
                              capture_output=True, text=True, check=True).stdout.strip()

    def stop(self):
        subprocess.run([self.script, "stop", self.folder], check=False)


def temporary_folder(test):
    folder = tempfile.mkdtemp(prefix="zennic-desktop-")
    test.addCleanup(shutil.rmtree, folder, True)
    return folder
