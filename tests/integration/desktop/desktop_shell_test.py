"""The built program on a desktop of the test's own: its tray item and menu as a status-notifier
host reads them, its notifications, its dialogs found and answered through the display, and
the desktop's choosers for the web client."""

import json
import os
import signal
import socket
import threading
import time
import unittest

from desktop_harness import AudioServer, Desktop, Program, eventually, temporary_folder

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def catalogue(code):
    with open(os.path.join(REPOSITORY, "web", "i18n", code + ".json"), encoding="utf-8") as file:
        return json.load(file)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def snapshot(sink, sink_name, source, source_name):
    endpoints = [{"flow": flow, "role": role, "id": f"{kind}:{name}", "name": label, "present": True}
                 for flow, kind, name, label in (("render", "sink", sink, sink_name),
                                                 ("capture", "source", source, source_name))
                 for role in ("console", "multimedia", "communications")]
    return {"saved_at": "2026-01-02 03:04:05", "invalid_render_output": False, "endpoints": endpoints}


def session_left_active():
    """The audio_backup.json of a run that switched to the cable and never restored."""
    return {"version": 1, "session_active": True,
            "current_session": snapshot("speakers", "Speakers (Virtual)", "test_microphone",
                                        "Microphone (Virtual)"),
            "applied": snapshot("headphones", "Headphones (Virtual)", "cable_output", "CABLE Output")}


class DesktopTest(unittest.TestCase):
    watcher = True

    def setUp(self):
        self.folder = temporary_folder(self)
        self.desktop = Desktop(self.folder, self.watcher)
        self.addCleanup(self.desktop.stop)
        self.desktop.start()

    def program(self, lang="C.UTF-8", **environment):
        program = Program(self.folder, {**self.desktop.environment(), **environment}, lang)
        self.addCleanup(program.stop)
        return program

    def close_port_warning(self):
        """Closes the port box that comes first when something else holds the default port."""
        box = self.desktop.xdotool("search", "--name", "^Ruzerad Port Warning$").split()
        if box:
            self.desktop.keys(box[0], "Return")

    def past_port_warning(self, until):
        def reached():
            if until():
                return True
            self.close_port_warning()
            return False
        eventually(reached, 15.0, "start-up past the port warning")


class TrayMenu(DesktopTest):
    def setUp(self):
        super().setUp()
        self.audio = AudioServer(os.path.join(self.folder, "audio"))
        self.addCleanup(self.audio.stop)

    def start_with_session_left_active(self):
        """Defaults switched to the cable by a run that never restored them."""
        self.audio.pactl("set-default-sink", "headphones")
        self.audio.pactl("set-default-source", "cable_output")
        program = self.program(PULSE_SERVER=self.audio.address)
        program.write_settings({"server_port": free_port()})
        with open(os.path.join(program.data, "audio_backup.json"), "w", encoding="utf-8") as backup:
            json.dump(session_left_active(), backup)
        program.record_launches(self.desktop.launch_file)
        return program.start()

    def session_active(self, program):
        with open(os.path.join(program.data, "audio_backup.json"), encoding="utf-8") as backup:
            return json.load(backup).get("session_active")

    def test_refused_recovery_then_every_menu_command_and_exit_restores(self):
        program = self.start_with_session_left_active()
        question = self.desktop.find_window("Restore Windows Audio Settings")
        self.desktop.keys(question, "Escape")
        program.wait_for_log("Ruzerad started")
        self.assertTrue(self.session_active(program), "a refused recovery keeps the backup")
        self.assertEqual(self.audio.pactl("get-default-source"), "cable_output")

        english = catalogue("en")
        self.assertEqual(self.desktop.labels(), [english["native.tray." + key] for key in
                                                 ("open_ui", "copy_url", "setup_guide", "about", "exit")])
        self.assertEqual([label for _, label in self.desktop.menu()][4], None, "a separator before Exit")
        self.assertNotIn("No tray host answers", program.log())
        eventually(lambda: ("Ruzerad", english["native.tray.startup_balloon_message"])
                   in self.desktop.notifications(), what="the start-up notification")

        url = f"http://127.0.0.1:{program.port()}"
        self.desktop.click("Open UI")
        self.desktop.click("Setup Guide")
        eventually(lambda: self.desktop.launched() == [url, url + "/guide"], what="the browser launches")

        self.desktop.click("Copy URL")
        eventually(lambda: ("Ruzerad", f"Copied {url} to the clipboard.") in self.desktop.notifications(),
                   what="the copy notification")
        self.assertEqual(self.desktop.clipboard(), url)

        self.desktop.click("About")
        about = self.desktop.find_window(english["native.about.title"])
        self.desktop.keys(about, "Return")
        eventually(lambda: self.desktop.window_gone(english["native.about.title"]), what="About to close")

        self.desktop.click("Exit")
        self.assertEqual(program.wait(), 0)
        self.assertEqual(self.audio.pactl("get-default-source"), "test_microphone")
        self.assertEqual(self.audio.pactl("get-default-sink"), "speakers")
        self.assertFalse(self.session_active(program))

    def test_accepted_recovery_restores_the_defaults_at_once(self):
        program = self.start_with_session_left_active()
        question = self.desktop.find_window("Restore Windows Audio Settings")
        self.desktop.keys(question, "Return")
        eventually(lambda: not self.session_active(program), what="the recovery to restore")
        self.assertEqual(self.audio.pactl("get-default-source"), "test_microphone")
        self.assertEqual(self.audio.pactl("get-default-sink"), "speakers")
        self.assertEqual(program.stop(), 0)


class NativeTexts(DesktopTest):
    def labels_of(self, code):
        texts = catalogue(code)
        return [texts["native.tray." + key] for key in ("open_ui", "copy_url", "setup_guide", "about", "exit")]

    def test_the_menu_and_notifications_follow_the_language_without_a_restart(self):
        german = catalogue("de")
        program = self.program()
        program.write_settings({"server_port": free_port(), "ui_language": "de"})
        program.start().wait_for_log("Ruzerad started")
        eventually(lambda: self.desktop.labels() == self.labels_of("de"), what="the German labels")
        self.desktop.click(german["native.tray.copy_url"])
        url = f"http://127.0.0.1:{program.port()}"
        copied = german["native.tray.copy_url_balloon"].replace("{{url}}", url)
        eventually(lambda: (german["native.tray.startup_balloon_title"], copied) in self.desktop.notifications(),
                   what="the German copy notification")

        # A reset takes the language of the system, English here.
        self.assertEqual(program.api("settings/reset")[0], 200)
        eventually(lambda: self.desktop.labels() == self.labels_of("en"), what="the English labels")
        self.desktop.click("Copy URL")
        eventually(lambda: ("Ruzerad", f"Copied {url} to the clipboard.") in self.desktop.notifications(),
                   what="the English copy notification")

    def test_a_comma_decimal_locale_never_reaches_the_files_or_the_replies(self):
        program = self.program(lang="de_DE.UTF-8")
        program.write_settings({"server_port": free_port(), "mic_volume": 0.75})
        program.start().wait_for_log("Ruzerad started")
        # Any saved change writes the whole settings file anew.
        status, reply = program.api("sound-links/save", {"links": [{"name": "Sounds", "url": "https://example.com"}]})
        self.assertEqual(status, 200, reply)
        with open(os.path.join(program.data, "settings.json"), encoding="utf-8") as file:
            saved = file.read()
        self.assertIn('"mic_volume": 0.75', saved)
        self.assertEqual(program.stop(), 0)

        program.start().wait_for_log("Ruzerad started")
        answers = [program.api(route)[1] for route in ("settings/load", "sound-inbox/status")]
        self.assertEqual(answers[0]["settings"]["mic_volume"], 0.75)
        for answer in answers:
            self.assertNotRegex(json.dumps(answer), r"\d,\d", "a number written with a decimal comma")

    def test_a_taken_port_is_named_in_a_notification_and_a_box(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            requested = taken.getsockname()[1]
            program = self.program()
            program.write_settings({"server_port": requested})
            program.start()
            box = self.desktop.find_window("Ruzerad Port Warning")
            effective = program.port()
            self.assertIn(("Ruzerad Port Warning",
                           f"Configured port {requested} was unavailable. Running on 127.0.0.1:{effective}."),
                          self.desktop.notifications())
            self.desktop.keys(box, "Return")
            program.wait_for_log("Ruzerad started")


class Welcome(DesktopTest):
    def test_the_welcome_window_until_its_box_is_ticked(self):
        program = self.program()
        program.start()
        self.past_port_warning(lambda: not self.desktop.window_gone("Ruzerad is running"))
        welcome = self.desktop.find_window("Ruzerad is running")
        url = f"http://127.0.0.1:{program.port()}"
        # From OK: back to "Copy URL", press it; back to the box, tick it; close the window.
        self.desktop.keys(welcome, "shift+Tab", "space")
        eventually(lambda: self.desktop.clipboard() == url, what="the address on the clipboard")
        self.desktop.keys(welcome, "shift+Tab", "space", "Escape")
        eventually(lambda: self.desktop.window_gone("Ruzerad is running"), what="the welcome to close")
        with open(os.path.join(program.data, "first_run_welcome_suppressed.flag"), encoding="utf-8") as flag:
            self.assertEqual(flag.read(), "1")
        self.assertEqual(program.stop(), 0)

        # The notices follow the logged start at once: past a port box, no welcome comes.
        program.start().wait_for_log("Ruzerad started")
        settled = time.monotonic() + 2.0
        while time.monotonic() < settled:
            self.assertTrue(self.desktop.window_gone("Ruzerad is running"), "the welcome came again")
            self.close_port_warning()
            time.sleep(0.1)

    def test_a_second_instance_says_so_in_a_box_captioned_ruzerad(self):
        first = self.program()
        first.write_settings({"server_port": free_port()})
        first.suppress_welcome()
        first.start().wait_for_log("Ruzerad started")
        second = self.program()
        second.runs = first.runs
        second.start()
        # The first instance has hidden windows of that name too.
        box = self.desktop.find_window("Ruzerad", pid=second.process.pid)
        self.assertIsNone(second.process.poll(), "the box waits to be read")
        self.desktop.keys(box, "Return")
        self.assertEqual(second.wait(), 1)
        self.assertIn("Another Ruzerad instance is already running", second.log())

        # The box does not hold the program against the system's request to end.
        second.start()
        self.desktop.find_window("Ruzerad", pid=second.process.pid)
        second.process.send_signal(signal.SIGTERM)
        self.assertEqual(second.process.wait(1.0), 1)
        first.wait_for_log("Ruzerad started")
        self.assertEqual(first.stop(), 0, "the first instance runs on untouched")


class NoTrayHost(DesktopTest):
    watcher = False

    def test_without_a_tray_host_the_notices_name_the_address_and_the_start_is_logged_at_once(self):
        english = catalogue("en")
        program = self.program()
        program.start().wait_for_log("No tray host answers")
        self.past_port_warning(lambda: not self.desktop.window_gone("Ruzerad is running"))
        welcome = self.desktop.find_window("Ruzerad is running")
        self.assertIn("Ruzerad started", program.log(), "logged while the welcome waits")
        url = f"http://127.0.0.1:{program.port()}"
        started = ("Ruzerad", english["native.tray.startup_balloon_message_no_tray"].replace("{{url}}", url))
        eventually(lambda: started in self.desktop.notifications(), what="the start-up notification")
        self.desktop.keys(welcome, "Return")
        eventually(lambda: self.desktop.window_gone("Ruzerad is running"), what="the welcome to close")
        self.assertEqual(program.stop(), 0)


class Pickers(DesktopTest):
    def answer_of(self, program, route, body=None):
        """Calls the route on a thread of its own, as the page waits for the chooser."""
        answer = {}
        call = threading.Thread(target=lambda: answer.update(reply=program.api(route, body)))
        call.start()
        return call, answer

    def test_the_folder_chooser_answers_the_typed_folder_or_cancelled(self):
        chosen = os.path.join(self.folder, "Chosen folder")
        os.makedirs(chosen)
        program = self.program()
        program.write_settings({"server_port": free_port()})
        program.start().wait_for_log("Ruzerad started")

        call, answer = self.answer_of(program, "browse-folder", {"initial_path": self.folder})
        chooser = self.desktop.find_window("Select Folder")
        self.desktop.keys(chooser, "ctrl+l")
        self.desktop.type_text(chooser, chosen + "/")
        self.desktop.keys(chooser, "Return")
        call.join(20)
        self.assertEqual(answer["reply"], (200, {"ok": True, "cancelled": False, "selected_path": chosen}))
        eventually(lambda: self.desktop.window_gone("Select Folder"), what="the chooser to close")

        call, answer = self.answer_of(program, "browse-folder")
        self.desktop.keys(self.desktop.find_window("Select Folder"), "Escape")
        call.join(20)
        self.assertEqual(answer["reply"], (200, {"ok": True, "cancelled": True, "selected_path": ""}))
        eventually(lambda: self.desktop.window_gone("Select Folder"), what="the chooser to close")

        # Exit with a chooser open: the request is answered and the program ends.
        call, answer = self.answer_of(program, "browse-folder")
        self.desktop.find_window("Select Folder")
        self.assertEqual(program.stop(), 0)
        call.join(20)
        self.assertEqual(answer["reply"][1]["code"], "folder_picker_failed")


if __name__ == "__main__":
    unittest.main()
