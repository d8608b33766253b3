"""The desktop's side of a private session bus, for the tests: a status-notifier watcher that
items register with, and a notification server. Every registration and notification is
appended to a file as one JSON line.

usage: desktop_peers.py BUS_ADDRESS RECORD_FILE [--no-watcher]
Prints "ready" once the names are owned; runs until killed. With --no-watcher the bus has no
status-notifier watcher, as on a desktop without a tray.
"""

import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
NOTIFICATIONS = "org.freedesktop.Notifications"


class Recorder:
    def __init__(self, path):
        self.path = path

    def write(self, **event):
        with open(self.path, "a", encoding="utf-8") as record:
            record.write(json.dumps(event) + "\n")


class Watcher(dbus.service.Object):
    def __init__(self, bus, recorder):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.recorder = recorder
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # An item names either its bus name or only its object path on the sender's connection.
        path = service if service.startswith("/") else "/StatusNotifierItem"
        name = sender if service.startswith("/") else service
        self.items.append(name + path)
        self.recorder.write(event="item", service=name, path=path)
        self.StatusNotifierItemRegistered(name + path)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }


class NotificationServer(dbus.service.Object):
    def __init__(self, bus, recorder):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.recorder = recorder
        self.last_id = 0

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        self.recorder.write(event="notification", app_name=str(app_name), summary=str(summary),
                            body=str(body))
        return self.last_id

    @dbus.service.method(NOTIFICATIONS, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NOTIFICATIONS, out_signature="ssss")
    def GetServerInformation(self):
        return ("recording-notifications", "tests", "1", "1.2")

    @dbus.service.method(NOTIFICATIONS, in_signature="u")
    def CloseNotification(self, notification_id):
        pass


def main():
    address, record_file = sys.argv[1], sys.argv[2]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    recorder = Recorder(record_file)
    with_watcher = "--no-watcher" not in sys.argv[3:]
    peers = [NotificationServer(bus, recorder)] + ([Watcher(bus, recorder)] if with_watcher else [])
    names = [dbus.service.BusName(name, bus)
             for name in ([WATCHER] if with_watcher else []) + [NOTIFICATIONS]]
    print("ready", flush=True)
    GLib.MainLoop().run()
    del peers, names


if __name__ == "__main__":
    main()
