#!/usr/bin/python3
"""A notification service (org.freedesktop.Notifications) on the session bus
that shows nothing and writes each call it gets to a log, one line each:

    Notify <TAB> replaces_id <TAB> summary <TAB> body <TAB> id given
    Close <TAB> id

    fake_notifications.py <log>
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node><interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
</interface></node>
"""

log = open(sys.argv[1], "a", buffering=1, encoding="utf-8")
last_id = 0


def on_call(connection, sender, path, interface, method, params, invocation):
    global last_id
    if method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body", "body-markup"],)))
    elif method == "Notify":
        _app, replaces, _icon, summary, body, _actions, _hints, _timeout = params.unpack()
        if replaces:
            given = replaces
        else:
            last_id += 1
            given = last_id
        log.write(f"Notify\t{replaces}\t{summary}\t{body}\t{given}\n")
        invocation.return_value(GLib.Variant("(u)", (given,)))
    elif method == "CloseNotification":
        log.write(f"Close\t{params.unpack()[0]}\n")
        invocation.return_value(None)
    else:
        invocation.return_value(GLib.Variant("(ssss)", ("fake", "vesk tests", "1", "1.2")))


def on_bus(connection, name):
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], on_call, None, None)


def on_name(connection, name):
    log.write("Ready\n")


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                 on_bus, on_name, lambda *_: sys.exit(1))
GLib.MainLoop().run()
