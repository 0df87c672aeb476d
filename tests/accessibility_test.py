#!/usr/bin/python3
"""The built program read the way a screen reader (Orca) reads it: through the
AT-SPI accessibility bus, plus the attention request the desktop sees on X.

    accessibility_test.py <vesk>

Runs under Xvfb with no window manager, inside a session bus (accessibility_test.sh).
Exit 77 (skipped) when the accessibility bus cannot be reached.
"""
import os
import socket
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib
from Xlib import X
from Xlib import display as xdisplay

# What a screen reader finds in each window, in order: role, name, and for a
# group the controls inside it.
START_WINDOW = [
    ("label", "相手のIPアドレス："),
    ("text", "相手のIPアドレス 1番目の数"),
    ("text", "相手のIPアドレス 2番目の数"),
    ("text", "相手のIPアドレス 3番目の数"),
    ("text", "相手のIPアドレス 4番目の数"),
    ("panel", "Client / Server", [("radio button", "Server"), ("radio button", "Client")]),
    ("push button", "決定(S)"),
    ("push button", "終了(X)"),
]
CONVERSATION_WINDOW = [
    ("label", "送信メッセージ"),
    ("text", "送信するメッセージ"),
    ("push button", "送信(S)"),
    ("label", "送受信メッセージ"),
    ("text", "送受信メッセージ（会話、新しい行が先頭）"),
    ("push button", "終了(X)"),
    # Hidden; shown with each arriving line as its name, for the reader to say.
    ("notification", ""),
]
LABELS = {"相手のIPアドレス：": "相手のIPアドレス 1番目の数",
          "送信メッセージ": "送信するメッセージ",
          "送受信メッセージ": "送受信メッセージ（会話、新しい行が先頭）"}
ACCESS_KEYS = {"決定(S)": "Alt+S", "終了(X)": "Alt+X", "送信(S)": "Alt+S"}
TRANSCRIPT = "送受信メッセージ（会話、新しい行が先頭）"

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def pump(seconds, done, xdisplay_=None, on_x_event=None):
    """Serves the accessibility bus (and X events) until done() or the time is up."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while True:
        while context.pending():
            context.iteration(False)
        if xdisplay_ is not None:
            while xdisplay_.pending_events():
                on_x_event(xdisplay_.next_event())
        if done() or time.monotonic() > deadline:
            return done()
        time.sleep(0.02)


def frame_of(pid, title):
    """The frame a screen reader lists for process `pid` with name `title`."""
    found = []

    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.get_process_id() != pid:
                continue
            for window in app:
                if window is not None and window.name == title and window.getState().contains(pyatspi.STATE_SHOWING):
                    found.append(window)
                    return True
        return False

    pump(20, look)
    return found[0] if found else None


def read_controls(parent):
    controls = []
    for child in parent:
        entry = (child.getRoleName(), child.name)
        if child.getRoleName() == "panel":
            entry += ([(c.getRoleName(), c.name) for c in child],)
        controls.append(entry)
    return controls


def check_window(frame, title, expected):
    check(frame is not None, f"{title}: shown")
    if frame is None:
        return
    # A frame, not a bare panel: the reader announces it as a window with its title.
    check(frame.getRoleName() == "frame", f"{title}: role is frame (got {frame.getRoleName()!r})")
    check(bool(frame.description), f"{title}: has a description")
    got = read_controls(frame)
    check(got == expected, f"{title}: controls {got}")
    for control in frame:
        if control.name in LABELS:
            targets = [r.getTarget(i).name for r in control.getRelationSet()
                       if r.getRelationType() == pyatspi.RELATION_LABEL_FOR
                       for i in range(r.getNTargets())]
            check(targets == [LABELS[control.name]], f"{title}: label {control.name} names {targets}")
        if control.name in ACCESS_KEYS:
            action = control.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            key = action.getKeyBinding(names.index("Press")) if "Press" in names else None
            check(key == ACCESS_KEYS[control.name], f"{title}: {control.name} press key {key!r}")


def child_named(frame, name):
    return next(c for c in frame if c.name == name)


def main():
    vesk = sys.argv[1]
    # The AT-SPI library aborts the process when it finds no accessibility bus.
    probe = subprocess.run([sys.executable, "-c", "import pyatspi; pyatspi.Registry.getDesktop(0).childCount"])
    if probe.returncode != 0:
        print("SKIP: the accessibility bus cannot start here")
        return 77

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen([vesk], env=env)
    try:
        start = frame_of(program.pid, "Vesk -Main-")
        check_window(start, "start window", START_WINDOW)
        if start is None:
            return 1

        # As a screen reader user would: type the address, press Start (Server is preset).
        boxes = [c for c in start if c.getRoleName() == "text"]
        for box, octet in zip(boxes, ["127", "0", "0", "1"]):
            box.queryEditableText().setTextContents(octet)
        child_named(start, "決定(S)").queryAction().doAction(0)
        conversation = frame_of(program.pid, "Vesk - Server -")
        check_window(conversation, "conversation window", CONVERSATION_WINDOW)
        if conversation is None:
            return 1

        # Another X client takes the focus, so the conversation is surely in the
        # background (with no window manager nothing gives it the focus anyway).
        x = xdisplay.Display()
        root = x.screen().root
        root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        other = root.create_window(600, 600, 20, 20, 0, x.screen().root_depth)
        other.map()
        x.sync()
        other.set_input_focus(X.RevertToParent, X.CurrentTime)
        x.sync()
        check(pump(10, lambda: not conversation.getState().contains(pyatspi.STATE_ACTIVE)),
              "conversation window: in the background once another window has the focus")

        inserted = []

        def on_insert(event):
            if event.source is not None and event.source.name == TRANSCRIPT:
                inserted.append(str(event.any_data))

        net_wm_state = x.intern_atom("_NET_WM_STATE")
        demands_attention = x.intern_atom("_NET_WM_STATE_DEMANDS_ATTENTION")
        attention = []

        def on_x_event(event):
            # A mapped window asks the window manager to add the state with a
            # message to the root window; that is what Qt's xcb plugin sends.
            if event.type == X.ClientMessage and event.client_type == net_wm_state:
                _, data = event.data
                if data[0] == 1 and demands_attention in data[1:3]:  # 1: add
                    attention.append(event.window.get_wm_name())

        pyatspi.Registry.registerEventListener(on_insert, "object:text-changed:insert")
        # Qt sends text events only once it has heard of a listener for them,
        # which takes a moment (longer under the sanitizers): send again until
        # a line is announced.
        peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for _ in range(5):
            peer.sendto(b"hello", ("127.0.0.1", 1002))
            if pump(3, lambda: any("相手>> hello" in t for t in inserted) and attention, x, on_x_event):
                break
        pyatspi.Registry.deregisterEventListener(on_insert, "object:text-changed:insert")
        check(any("相手>> hello" in t for t in inserted),
              f"transcript: the new line is announced as inserted text (got {inserted})")
        check("Vesk - Server -" in attention,
              f"conversation window: asks for attention when a line arrives in the background (got {attention})")

        # A magnifier asks where a character of a long line is (one drawn lazily,
        # not laid out on arrival): where it is once the caret has opened the line.
        text = child_named(conversation, TRANSCRIPT).queryText()
        peer.sendto(b"x" * 3000, ("127.0.0.1", 1002))
        pump(3, lambda: text.characterCount > 3000)
        pump(1, lambda: False)  # painted
        shown = text.getCharacterExtents(20, pyatspi.DESKTOP_COORDS)
        text.setCaretOffset(20)
        pump(1, lambda: False)
        opened = text.getCharacterExtents(20, pyatspi.DESKTOP_COORDS)
        check(shown == opened and shown[2] > 0,
              f"transcript: a character of a long line is where Qt's layout has it (got {shown}, opened {opened})")
    finally:
        program.terminate()
        try:
            program.wait(10)
        except subprocess.TimeoutExpired:
            program.kill()
            program.wait()

    print("PASS" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
