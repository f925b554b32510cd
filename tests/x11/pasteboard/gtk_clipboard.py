#!/usr/bin/env python3
"""A GTK 3 clipboard client for the pasteboard tests: reads CLIPBOARD as GTK applications do, or owns it.

  gtk_clipboard.py read              one JSON line: targets, text, html, uris, image size
  gtk_clipboard.py own TARGET=FILE...  owns CLIPBOARD offering each file's bytes under its target
  gtk_clipboard.py stall TARGET...   owns CLIPBOARD offering the targets, then never answers for data
"""
import json
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def read():
    cb = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    ok, targets = cb.wait_for_targets()
    out = {"targets": sorted(t.name() for t in targets) if ok else None}
    out["text"] = cb.wait_for_text()
    html = cb.wait_for_contents(Gdk.Atom.intern("text/html", False))
    out["html"] = html.get_data().decode("utf-8", "replace") if html else None
    out["uris"] = cb.wait_for_uris()
    image = cb.wait_for_image()
    out["image"] = [image.get_width(), image.get_height()] if image else None
    print(json.dumps(out), flush=True)


def own(pairs, stall):
    offers = {}
    for pair in pairs:
        target, _, path = (pair, "", "") if stall else pair.rpartition("=")
        offers[target] = open(path, "rb").read() if path else b""
    names = list(offers)
    widget = Gtk.Invisible()
    selection = Gdk.SELECTION_CLIPBOARD
    for i, target in enumerate(names):
        Gtk.selection_add_target(widget, selection, Gdk.Atom.intern(target, False), i)

    def get(widget, data, info, time_):
        if stall:
            time.sleep(3600)
        data.set(Gdk.Atom.intern(names[info], False), 8, offers[names[info]])

    widget.connect("selection-get", get)
    widget.connect("selection-clear-event", lambda *args: Gtk.main_quit())
    if not Gtk.selection_owner_set(widget, selection, Gdk.CURRENT_TIME):
        sys.exit("cannot own CLIPBOARD")
    print("owning", flush=True)
    Gtk.main()


if __name__ == "__main__":
    mode = sys.argv[1] if len(sys.argv) > 1 else "read"
    if mode == "read":
        read()
    else:
        own(sys.argv[2:], mode == "stall")
