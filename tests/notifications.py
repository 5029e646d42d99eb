#!/usr/bin/python3
"""A desktop's notification service on the session bus, for the tests: it
records each notification asked of it, one line "app|icon|urgency|summary|body"
in the file given, and writes that file's name with ".ready" once it owns
the service's name."""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.record = record
        self.count = 0

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.count += 1
        urgency = int(hints.get("urgency", 1))
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(f"{app}|{icon}|{urgency}|{summary}|{body}\n")
        return self.count

    @dbus.service.method(INTERFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("stub", "pelivor-tests", "1", "1.2")

    @dbus.service.method(INTERFACE, in_signature="u")
    def CloseNotification(self, number):
        pass


def main():
    record = sys.argv[1]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
    service = Notifications(bus, record)
    with open(record + ".ready", "w", encoding="utf-8") as ready:
        ready.write("ready\n")
    GLib.MainLoop().run()
    del name, service


if __name__ == "__main__":
    main()
