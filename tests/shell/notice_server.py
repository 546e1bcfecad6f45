# A notification server that offers a body and nothing else (no actions,
# no images, no markup) and writes down each call it gets, for the notice
# tests: notice_server.py LOG
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
log = open(sys.argv[1], "a", buffering=1)
IFACE = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    count = 0

    @dbus.service.method(IFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        Server.count += 1
        log.write("Notify %d|%s|%s|actions=%d|hints=%s\n" % (
            replaces, summary, body.replace("\n", "\\n"), len(actions),
            ",".join(sorted(str(k) for k in hints.keys()))))
        return replaces or Server.count

    @dbus.service.method(IFACE, in_signature="u")
    def CloseNotification(self, number):
        log.write("Close %d\n" % number)

    @dbus.service.method(IFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("plain", "tests", "1", "1.2")


bus = dbus.SessionBus()
name = dbus.service.BusName(IFACE, bus)
Server(bus, "/org/freedesktop/Notifications")
log.write("ready\n")
GLib.MainLoop().run()
