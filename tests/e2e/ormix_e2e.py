#!/usr/bin/env python3
"""Whole-program tests: the real ormix under Xvfb and openbox, driven with real X input.

usage: ormix_e2e.py --ormix BIN --demohost BIN --artefacts DIR [--recorder BIN] SCENARIO...
Scenarios: cli, session, cancel, move, instance, keyring, notify, remember, second.
"""

import argparse
import os
import signal
import subprocess
import sys
import time
import traceback

from e2e_harness import (Artefacts, DemoHost, Failure, NotificationServer, PrivateKeyring,
                         Program, XSession, alive, check, dark, near, proc_status, stop,
                         wait_until)

LOGIN_CAPTION = "^Blog 로그인 Ver "  # then the version
ABOUT_CAPTION = "^Ormix 정보$"
INTERVAL = 10  # the shortest polling interval the login dialog accepts
STRIP = (150, 23)
EMBLEM_ORANGE = (242, 140, 30)
LIT_BOX = (171, 81, 91)
FRAME_LINE = (91, 116, 162)
# Left edges of the R, T, G and X boxes in a 150 pixel wide strip.
BOX_LEFT = {"R": 90, "T": 104, "G": 118, "X": 132}


class Context:
    def __init__(self, args, name, session=None):
        self.args = args
        self.name = name
        self.x = session
        self.artefacts = Artefacts(args.artefacts, name)
        self.host_obj = None
        self.programs = []
        self.keyring = None
        self.recorder = None

    def host(self, *extra):
        self.host_obj = DemoHost(self.args.demohost, self.artefacts.dir, extra)
        return self.host_obj

    def program(self, settings=None, home=None, extra_env=None, args=()):
        prog = Program(self.args.ormix, self.x, home or self.artefacts.home, self.artefacts.dir,
                       f"ormix-{len(self.programs) + 1}", settings, extra_env, args)
        self.programs.append(prog)
        return prog

    def shot(self, name):
        return self.x.screenshot(self.artefacts.path(name))

    def close(self):
        for prog in self.programs:
            prog.close()
        if self.host_obj:
            self.host_obj.close()
        if self.recorder:
            self.recorder.close()
        if self.keyring:
            self.keyring.close()


def check_found(found, message):
    check(found, message)
    return found


# --- finding the program's windows ---------------------------------------------------------

def login_dialog(x):
    found = x.search("--name", LOGIN_CAPTION)
    return found[0] if found else None


def window_type(x, window):
    return x.prop(window, "_NET_WM_WINDOW_TYPE")


def status_window(x):
    """The strip: the program's viewable 150 x 23 window."""
    for window in x.search("--classname", "^ormix$"):
        geo = x.geometry(window)
        if geo and geo.viewable and (geo.width, geo.height) == STRIP:
            return window, geo
    return None


def work_area(x):
    values = x.root_prop("_NET_WORKAREA").split("=")[-1].split(",")
    left, top, width, height = (int(v) for v in values[:4])
    return left, top, width, height


def notice_window(x):
    """The notice while it is seen: a viewable window 150 wide at the work area's lower right.

    The window manager moves its frame and resizes the window in separate steps, so while
    the notice slides its bottom edge may be reported a few pixels off the work area's."""
    left, top, width, height = work_area(x)
    bottom = top + height
    for window in x.search("--classname", "^ormix$"):
        geo = x.geometry(window)
        if (geo and geo.viewable and geo.width == 150 and geo.x == left + width - 150
                and geo.y >= bottom - 90 and abs(geo.y + geo.height - bottom) <= 12):
            return window, geo
    return None


def wait_gone(what, find, timeout, settle=0.6):
    """Waits until find() has found nothing for settle seconds in a row."""
    state = {"since": None}

    def gone():
        if find():
            state["since"] = None
            return False
        if state["since"] is None:
            state["since"] = time.monotonic()
        return time.monotonic() - state["since"] >= settle
    wait_until(what, gone, timeout, 0.1)


def recent_list(x, strip):
    """The recent-items list: a viewable window of the program just under the strip."""
    for window in x.search("--classname", "^ormix$"):
        geo = x.geometry(window)
        if (geo and geo.viewable and geo.height > 60 and geo.width > 100
                and abs(geo.y - (strip.y + strip.height)) <= 6):
            return window, geo
    return None


def absolute(host, link):
    return link if "://" in link else host.base + link


def opacity(x, window):
    """The window's opacity from _NET_WM_WINDOW_OPACITY, 1.0 when it is not set."""
    value = x.prop(window, "_NET_WM_WINDOW_OPACITY").split("=")[-1].strip()
    return int(value) / 0xFFFFFFFF if value.isdigit() else 1.0


def opacity_is(x, window, wanted):
    return abs(opacity(x, window) - wanted) < 0.01


def error_boxes(x):
    return [w for w in x.search("--name", "^Ormix$")
            if "_NET_WM_WINDOW_TYPE_DIALOG" in window_type(x, w)]


def popup_menu(x, point):
    """A menu of the program opened at point: unmanaged, its corner at the pointer."""
    for window in x.search("--classname", "^ormix$"):
        geo = x.geometry(window)
        if (geo and geo.viewable and geo.override_redirect and abs(geo.x - point[0]) <= 4
                and abs(geo.y - point[1]) <= 4):
            return window
    return None


# --- reading the strip from a screenshot ---------------------------------------------------

def emblem_shown(img, geo):
    return near(img.pixel(geo.x + 15, geo.y + 11), EMBLEM_ORANGE, 30)


def box_lit(img, geo, letter):
    left = geo.x + BOX_LEFT[letter]
    # Corners of the fill, clear of the letter.
    return all(near(img.pixel(left + dx, geo.y + dy), LIT_BOX) for dx, dy in ((1, 4), (8, 17)))


def box_letter_drawn(img, geo, letter):
    left = geo.x + BOX_LEFT[letter]
    return img.count(left + 1, geo.y + 4, 8, 14, dark) > 3


def visible_notice(img, corner):
    """How much of the notice a screenshot shows: its left frame line, up from the bottom."""
    edge_x, bottom = corner
    visible = 0
    while visible < 100 and near(img.pixel(edge_x, bottom - 1 - visible), FRAME_LINE):
        visible += 1
    return visible


def count_shown(img, geo):
    """The counting state: emblem and the X box's letter, both drawn only once a count is known."""
    return emblem_shown(img, geo) and box_letter_drawn(img, geo, "X")


def count_pixels(img, geo):
    return img.region(geo.x + 23, geo.y + 3, 64, 17)


def wait_count_changed(ctx, geo, before, what, timeout):
    def changed():
        img = ctx.shot("count")
        if count_shown(img, geo) and count_pixels(img, geo) != before:
            return img
        return None
    return wait_until(what, changed, timeout, 0.5)


# --- user actions --------------------------------------------------------------------------

def fill_login(x, dialog, fields, interval=None):
    """Types into the dialog's fields in focus order, then presses Enter."""
    x.xdotool("windowactivate", "--sync", dialog)
    wait_until("the login dialog to have the keyboard focus",
               lambda: x.xdotool("getactivewindow").strip() == str(dialog), 10)
    for i, text in enumerate(fields):
        if i:
            x.xdotool("key", "Tab")
        x.xdotool("type", "--delay", 15, text)
    if interval is not None:
        x.xdotool("key", "Tab", "ctrl+a")
        x.xdotool("type", "--delay", 15, str(interval))
    x.xdotool("key", "Return")


def start_and_log_in(ctx, host, prog):
    dialog = wait_until("the login dialog", lambda: login_dialog(ctx.x), 20)
    ctx.shot("login-dialog")
    fill_login(ctx.x, dialog, [host.base, host.user, host.password], INTERVAL)
    return dialog


def drag(x, start, end, steps=12):
    x.xdotool("mousemove", *start)
    x.xdotool("mousedown", 1)
    for i in range(1, steps + 1):
        x.xdotool("mousemove", start[0] + (end[0] - start[0]) * i // steps,
                  start[1] + (end[1] - start[1]) * i // steps)
        time.sleep(0.03)  # lets the motion events reach the program one by one
    x.xdotool("mouseup", 1)


def click_at(x, pos, button=1):
    x.xdotool("mousemove", *pos)
    x.xdotool("click", button)


# --- scenarios -----------------------------------------------------------------------------

def scenario_cli(ctx):
    """Each exit status the manual documents, one row a case, with no X server to run on.
    A normal end, a cancelled login and a second start beside a running copy exit with 0
    under X as well (session, cancel, instance)."""
    version = ctx.args.version_text
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    home = os.path.join(ctx.artefacts.home, "cli")
    os.makedirs(os.path.join(home, "runtime"), mode=0o700)
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_RUNTIME_DIR=os.path.join(home, "runtime"))
    nowhere = {"DISPLAY": ":9999"}  # names an X display nobody serves
    wayland_only = {"WAYLAND_DISPLAY": "wayland-0", "QT_QPA_PLATFORM": "",
                    "XDG_SESSION_TYPE": "wayland"}
    # Arguments, what the environment adds, the status, and what the output says: the first
    # line of it where the text ends with a line break.
    cases = [
        (["--version"], {}, 0, f"Ormix {version}\n"),
        (["-v"], nowhere, 0, f"Ormix {version}\n"),
        (["-platform", "offscreen", "--version"], {}, 0, f"Ormix {version}\n"),
        (["--help"], {}, 0, "Usage: ormix [options]\n"),
        (["--no-such-option"], {}, 2, "ormix: Unknown option 'no-such-option'.\n"),
        (["--no-such-option"], nowhere, 2, "ormix: Unknown option 'no-such-option'.\n"),
        (["foo"], nowhere, 2, "ormix: Unexpected argument 'foo'.\n"),
        (["--help", "foo"], {}, 2, "ormix: Unexpected argument 'foo'.\n"),
        (["--version", "--bogus"], {}, 2, "ormix: Unknown option 'bogus'.\n"),
        (["-platform"], nowhere, 2, "ormix: Missing value after '-platform'.\n"),
        (["--display"], {}, 2, "ormix: Missing value after '--display'.\n"),
        # Wayland alone, QT_QPA_PLATFORM set but empty (Qt takes it for unset): one line.
        ([], wayland_only, 1,
         "ormix: Ormix needs X11 or XWayland, and DISPLAY names no X display.\n"),
        ([], nowhere, 1, "could not connect to display :9999"),
        (["-platform", "nosuch"], {}, 1, 'platform plugin "nosuch"'),
    ]
    failed = []
    for args, extra, status, said in cases:
        done = subprocess.run([ctx.args.ormix, *args], env=dict(env, **extra),
                              capture_output=True, timeout=30)
        out = (done.stdout + done.stderr).decode(errors="replace")
        row = f"ormix {' '.join(args)} ({extra or 'no display'})"
        if done.returncode != status:
            failed.append(f"{row} exited with {done.returncode}, not {status}: {out!r}")
        elif said.endswith("\n") and out.splitlines(keepends=True)[:1] != [said]:
            failed.append(f"{row} printed {out!r}, not {said!r} first")
        elif said not in out:
            failed.append(f"{row} printed {out!r}, without {said!r}")
    check(not failed, "\n".join(failed))

    # -platform on the command line wins over the X server the program would pick for a
    # display, even one that cannot be reached; the log says the compositor decides. A
    # second start for the same settings hands over to it and ends with 0.
    for number, form in enumerate((["-platform", "offscreen"], ["-platform=offscreen"])):
        log = os.path.join(ctx.artefacts.dir, f"platform-{number}.log")
        run_env = dict(env, QT_LOGGING_RULES="ormix.instance.info=true", **nowhere)
        proc = subprocess.Popen([ctx.args.ormix, *form], env=run_env, stdout=open(log, "wb"),
                                stderr=subprocess.STDOUT)
        try:
            def started():
                text = open(log, encoding="utf-8", errors="replace").read()
                return "listening for later starts" in text or proc.poll() is not None
            wait_until(f"ormix {' '.join(form)} to start", started, 30)
            check(proc.poll() is None, f"ormix {' '.join(form)} ended with {proc.returncode}: "
                  + open(log, encoding="utf-8", errors="replace").read())
            text = open(log, encoding="utf-8", errors="replace").read()
            check("placement and stacking are up to the compositor" in text,
                  f"ormix {' '.join(form)} did not say who places it: {text}")
            if number == 0:
                done = subprocess.run([ctx.args.ormix, *form], env=run_env,
                                      capture_output=True, timeout=30)
                out = done.stdout.decode(errors="replace")
                check(done.returncode == 0 and out == "Ormix is already running.\n",
                      f"a second start exited with {done.returncode}: {out!r}")
        finally:
            stop(proc)


def scenario_session(ctx):
    """Login, count, notice and its click, silent re-login, an outage: one ormix process."""
    x = ctx.x
    host = ctx.host()
    # The first dashboard answer comes late, so the strip is seen connecting first; late enough
    # that a busy machine still takes the screenshot in time.
    host.post("faults", kind="delay", value=8000, count=1)
    # 30 % transparency set earlier in the settings dialog: alpha (100 - 30) * 255 / 100.
    prog = ctx.program({"Transparency": 30})
    configured = (70 * 255 // 100) / 255

    # 1. Login and the strip.
    start_and_log_in(ctx, host, prog)
    window, geo = wait_until("the status window", lambda: status_window(x), 15)
    check((geo.x, geo.y) == (100, 100), f"status window at {geo}, not at 100, 100")
    kind = window_type(x, window)
    check("_NET_WM_WINDOW_TYPE_UTILITY" in kind, f"status window is not a tool window: {kind}")
    state = wait_until("the window manager told to skip the taskbar",
                       lambda: (lambda s: s if "_NET_WM_STATE_SKIP_TASKBAR" in s else "")(
                           x.prop(window, "_NET_WM_STATE")), 5)
    check("_NET_WM_STATE_ABOVE" in state, f"status window not kept above: {state}")
    check(login_dialog(x) is None, "the login dialog is still shown")
    connecting = ctx.shot("connecting")
    check(not emblem_shown(connecting, geo), "the count was there before the dashboard came")
    check(connecting.count(geo.x + 8, geo.y + 4, 80, 15, dark) > 20,
          "the connecting text is not drawn")
    counted = wait_until("the count", lambda: (lambda img: img if count_shown(img, geo) else None)(
        ctx.shot("count")), 15, 0.3)
    check(count_pixels(counted, geo) != count_pixels(connecting, geo),
          "the count line looks like the connecting text")
    check(not any(box_lit(counted, geo, k) for k in "RTG"), "a box is lit after the first reading")
    # Nothing else of the program is on screen: no frame, no taskbar entry.
    for other in x.search("--classname", "^ormix$"):
        if other != window:
            other_state = x.prop(other, "_NET_WM_STATE") + window_type(x, other)
            check("SKIP_TASKBAR" in other_state or "UTILITY" in other_state,
                  f"another window of the program is on screen: {x.geometry(other)}")

    # Opaque while hovered, back to the configured level when the mouse leaves.
    check(opacity_is(x, window, configured), f"opacity {opacity(x, window):.3f} at the start")
    x.xdotool("mousemove", geo.x + 50, geo.y + 11)
    x.xdotool("mousemove", geo.x + 55, geo.y + 12)
    wait_until("the strip to turn opaque under the mouse", lambda: opacity_is(x, window, 1.0), 5)
    x.xdotool("mousemove", 500, 500)
    wait_until("the strip to return to 30 % transparency",
               lambda: opacity_is(x, window, configured), 5)

    # 2. A new comment: a notice slides up at the lower right within one interval.
    host.post("items", kind="comment", text="e2e 댓글: 새 글 잘 읽었습니다")
    started = time.monotonic()
    wait_until("the notice", lambda: notice_window(x), INTERVAL + 5, 0.05)
    seen_after = time.monotonic() - started
    check(seen_after <= INTERVAL + 3, f"the notice came {seen_after:.1f} s after the comment")
    left, top, width, height = work_area(x)
    corner = (left + width - 150, top + height)
    # Rising or falling, whichever a screenshot catches first on a busy machine.
    mid = wait_until("a screenshot of the notice sliding",
                     lambda: (lambda img: img if 0 < visible_notice(img, corner) < 80 else None)(
                         ctx.shot("notice-mid-slide")), 8, 0.05)
    check(box_lit(mid, geo, "R"), "R is not lit while the comment is announced")
    check(not box_lit(mid, geo, "T") and not box_lit(mid, geo, "G"), "T or G lit for a comment")
    check(opacity_is(x, window, 1.0), "the strip is not opaque while something is new")
    wait_gone("the notice to go down", lambda: notice_window(x), 10)

    # The next comment replaces the announcement; a click on it opens it and unlights R.
    added = host.post("items", kind="comment", text="e2e 두 번째 댓글")["item"]
    _, notice_geo = wait_until("the second notice to rise",
                               lambda: (lambda n: n if n and n[1].height >= 40 else None)(
                                   notice_window(x)), INTERVAL + 8, 0.05)
    risen = ctx.shot("notice-risen")
    check(risen.count(notice_geo.x + 12, notice_geo.y + 12, 126, 14, dark) > 20,
          "the notice has no heading")
    # Where it is now: it kept moving while the screenshot was taken.
    _, notice_geo = check_found(notice_window(x), "the notice went before it could be clicked")
    click_at(x, (notice_geo.x + 75, notice_geo.y + min(25, notice_geo.height // 2)))
    link = added["link"]
    expected = absolute(host, link)
    opened = wait_until("the browser to be started", prog.opened, 10)
    check(opened == [expected], f"the browser got {opened}, expected [{expected!r}]")
    wait_gone("the notice to hide", lambda: notice_window(x), 5)
    wait_until("R to go dark", lambda: not box_lit(ctx.shot("after-click"), geo, "R"), 5)

    # A poll that brings nothing new returns the strip to its configured level.
    wait_until("the strip to return to 30 % transparency after a quiet poll",
               lambda: opacity_is(x, window, configured), INTERVAL + 5, 0.5)

    # 5. The host forgets the session: the next poll logs in again without asking.
    before_login = ctx.shot("before-expiry")
    stats = host.stats()
    host.post("sessions/expire")
    host.post("count", today=4321)
    wait_count_changed(ctx, geo, count_pixels(before_login, geo),
                       "the count after the session expired", 2 * INTERVAL + 5)
    after = host.stats()
    check(after["loginPosts"] > stats["loginPosts"], "the program did not log in again")
    check(after["loginFailures"] == stats["loginFailures"], "the silent login failed")
    check(login_dialog(x) is None, "the login dialog came back after the session expired")

    # 6. The host answers 503 for three intervals: polling goes on under one error box, which
    # closes by itself once the host is back. Nobody presses a key or clicks from here on.
    before_outage = count_pixels(ctx.shot("before-outage"), geo)
    host.post("faults", kind="status", value=503, count="all")
    requests_before = host.stats()["dashboardRequests"]
    boxes_seen = set()
    most_at_once = 0

    def watch_boxes():
        nonlocal most_at_once
        boxes = error_boxes(x)
        boxes_seen.update(boxes)
        most_at_once = max(most_at_once, len(boxes))
        return boxes

    outage_end = time.monotonic() + 3 * INTERVAL + 3
    while time.monotonic() < outage_end:
        check(prog.running(), "ormix ended during the outage")
        watch_boxes()
        time.sleep(0.5)
    ctx.shot("outage")
    failed_polls = host.stats()["dashboardRequests"] - requests_before
    check(failed_polls >= 2, f"polling stopped during the outage: {failed_polls} poll(s)")
    check(len(boxes_seen) == 1 and most_at_once == 1,
          f"{len(boxes_seen)} error boxes ({most_at_once} at once) for {failed_polls} failed polls")
    host.post("faults/clear")
    host.post("count", today=5678)
    wait_gone("the error box to close by itself", watch_boxes, 2 * INTERVAL + 5)
    wait_count_changed(ctx, geo, before_outage, "the count after the outage", 2 * INTERVAL + 5)
    host.post("items", kind="comment", text="e2e 복구 뒤 댓글")
    wait_until("the notice after the outage",
               lambda: watch_boxes() is not None and notice_window(x), INTERVAL + 8, 0.1)
    wait_until("R lit after the outage", lambda: box_lit(ctx.shot("after-outage"), geo, "R"), 5)
    check(len(boxes_seen) == 1 and most_at_once == 1,
          f"{len(boxes_seen)} error boxes ({most_at_once} at once) after the outage")
    check(prog.running(), "ormix ended after the outage")

    # Pages were read by the page reader, a child without rights; the X box ends the run and
    # the reader with it.
    reader = wait_until("the page reader", prog.reader, 5)
    status = proc_status(reader)
    filtered = ctx.args.sanitized.upper() not in ("ON", "1", "TRUE", "YES")
    check(status.get("Seccomp") == ("2" if filtered else "0") and status.get("NoNewPrivs") == "1",
          f"the page reader is not sandboxed: Seccomp {status.get('Seccomp')}, "
          f"NoNewPrivs {status.get('NoNewPrivs')}")
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")
    wait_gone("the page reader after the quit", lambda: alive(reader), 5)
    print(f"session: notice after {seen_after:.1f} s, {failed_polls} polls in the outage, "
          f"{len(boxes_seen)} error box(es)")


def scenario_cancel(ctx):
    """A wrong password brings the dialog back; Cancel there ends the run with status 0."""
    x = ctx.x
    host = ctx.host()
    prog = ctx.program()
    first = wait_until("the login dialog", lambda: login_dialog(x), 20)
    fill_login(x, first, [host.base, host.user, host.password + "-wrong"], INTERVAL)
    wait_until("the refused login", lambda: host.stats()["loginFailures"] >= 1, 15)
    again = wait_until("the login dialog again",
                       lambda: (lambda d: d if d and d != first else None)(login_dialog(x)), 15)
    ctx.shot("login-again")
    check(prog.running(), "ormix ended after the refused login")
    x.xdotool("windowactivate", "--sync", again)
    x.xdotool("key", "Escape")
    code = prog.wait_exit(10)
    check(code == 0, f"ormix exited with {code} after Cancel")
    check(host.stats()["loginPosts"] == 1, "the credentials were posted again after Cancel")


def scenario_move(ctx):
    """Drag, list and double clicks; exit from the menu keeps the place for the restart."""
    x = ctx.x
    host = ctx.host()
    prog = ctx.program()
    start_and_log_in(ctx, host, prog)
    _, geo = wait_until("the status window", lambda: status_window(x), 15)
    wait_until("the count", lambda: count_shown(ctx.shot("count"), geo), 15, 0.3)

    grab = (geo.x + 60, geo.y + 11)
    drag(x, grab, (grab[0] + 300, grab[1] + 200))
    _, moved = wait_until("the strip at 400, 300",
                          lambda: (lambda s: s if s and (s[1].x, s[1].y) == (400, 300)
                                   else None)(status_window(x)), 5)
    wait_until("the position in the settings",
               lambda: prog.settings().get("LeftPos") == "400"
               and prog.settings().get("TopPos") == "300", 5)

    # An unlit T opens the trackback list under the strip; a double click on a row opens it.
    click_at(x, (moved.x + BOX_LEFT["T"] + 5, moved.y + 11))
    _, listed = wait_until("the recent-items list", lambda: recent_list(x, moved), 5)
    ctx.shot("recent-items")
    newest = max(host.control("items")["trackback"], key=lambda item: item["id"])
    expected = absolute(host, newest["link"])
    x.xdotool("mousemove", listed.x + 60, listed.y + 30)
    x.xdotool("click", "--repeat", 2, "--delay", 80, 1)
    wait_until("the trackback to be opened", lambda: prog.opened(), 5)
    check(prog.opened() == [expected], f"the browser got {prog.opened()}, expected {expected}")
    # A double click on the strip opens the blog.
    x.xdotool("mousemove", moved.x + 60, moved.y + 11)
    x.xdotool("click", "--repeat", 2, "--delay", 80, 1)
    wait_until("the blog to be opened", lambda: len(prog.opened()) == 2, 5)
    check(prog.opened()[1].rstrip("/") == host.base, f"the blog opened as {prog.opened()[1]}")
    check(status_window(x)[1].x == 400, "the double click moved the strip")

    menu_at = (moved.x + 60, moved.y + 11)
    if not ctx.args.update_url:
        # Without an update page the last row, the update check, shows the about box.
        click_at(x, menu_at, 3)
        wait_until("the context menu", lambda: popup_menu(x, menu_at), 5)
        x.xdotool("key", "Up", "Return")
        about = wait_until("the about box",
                           lambda: (x.search("--name", ABOUT_CAPTION) or [None])[0], 10)
        ctx.shot("about-box")
        x.xdotool("windowactivate", "--sync", about)
        x.xdotool("key", "Return")
        wait_gone("the about box to close", lambda: x.search("--name", ABOUT_CAPTION), 10)
        check(len(prog.opened()) == 2, f"the update row opened a page: {prog.opened()}")

    click_at(x, menu_at, 3)
    wait_until("the context menu", lambda: popup_menu(x, menu_at), 5)
    ctx.shot("context-menu")
    # From the bottom: the update check, then exit.
    x.xdotool("key", "Up", "Up", "Return")
    code = prog.wait_exit(10)
    check(code == 0, f"ormix exited with {code} after the exit command")
    settings = prog.settings()
    placed = tuple(settings.get(k) for k in ("LeftPos", "TopPos", "Width", "Height"))
    check(placed == ("400", "300", "150", "23"), f"settings hold {placed}")
    check(len(prog.opened()) == 2, f"the browser was started again: {prog.opened()}")

    again = ctx.program()
    dialog = wait_until("the login dialog after the restart", lambda: login_dialog(x), 20)
    # Address and ID are remembered; the focus waits in the password field.
    fill_login(x, dialog, [host.password])
    _, geo = wait_until("the status window after the restart", lambda: status_window(x), 15)
    check((geo.x, geo.y) == (400, 300), f"the restarted strip is at {geo}")
    wait_until("the count after the restart", lambda: count_shown(ctx.shot("restart"), geo), 15)
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(again.wait_exit(10) == 0, "ormix did not exit with status 0 after X")


def scenario_keyring(ctx):
    """The password in the keyring: the next start logs in without the dialog."""
    x = ctx.x
    host = ctx.host()
    ctx.keyring = PrivateKeyring(ctx.artefacts.dir)
    env = ctx.keyring.env
    key = f"{host.user}@{host.base}"

    def run_until_counted(prog, what):
        _, geo = wait_until(f"the status window {what}", lambda: status_window(x), 20)
        wait_until(f"the count {what}", lambda: count_shown(ctx.shot("count"), geo), 20, 0.3)
        return geo

    def exit_with_x(prog, geo):
        click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
        check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")

    # 1. The option ticked earlier: the first start asks, and the accepted password is kept.
    prog = ctx.program({"KeyringPassword": 1}, extra_env=env)
    start_and_log_in(ctx, host, prog)
    geo = run_until_counted(prog, "after the first login")
    wait_until("the password in the keyring", lambda: ctx.keyring.lookup(key) == host.password,
               10)
    check(host.password not in open(prog.settings_file, encoding="utf-8").read(),
          "the password is in the settings file")
    exit_with_x(prog, geo)

    # 2. The next start logs in with no dialog at all.
    posts = host.stats()["loginPosts"]
    prog = ctx.program(extra_env=env)
    geo = run_until_counted(prog, "without a dialog")
    check(login_dialog(x) is None, "the login dialog was shown although the keyring has it")
    check(host.stats()["loginPosts"] == posts + 1, "the stored password was not posted once")
    exit_with_x(prog, geo)

    # 3. The password changed on the host: the dialog returns; the new one replaces the old.
    new_password = host.password + "-new"
    host.post("password", password=new_password)
    prog = ctx.program(extra_env=env)
    dialog = wait_until("the login dialog after the refused stored password",
                        lambda: login_dialog(x), 20)
    ctx.shot("login-after-refusal")
    # Address and ID are filled in: the focus waits in the empty password field.
    fill_login(x, dialog, [new_password])
    geo = run_until_counted(prog, "after the new password")
    wait_until("the new password in the keyring",
               lambda: ctx.keyring.lookup(key) == new_password, 10)
    exit_with_x(prog, geo)

    # 4. The host is down for maintenance at the start: its login answers 503 twice. The
    # stored login is an outage, not a refusal. No dialog; the strip says it is connecting,
    # one box says why, and the login goes out again at every interval until it works.
    host.post("faults", kind="loginstatus", value=503, count=2)
    prog = ctx.program(extra_env=env)
    _, geo = wait_until("the status window during the outage", lambda: status_window(x), 20)
    wait_until("one error box", lambda: len(error_boxes(x)) == 1, 15)
    ctx.shot("keyring-outage")
    check(login_dialog(x) is None, "the login dialog was shown for an outage")
    check(not count_shown(ctx.shot("connecting"), geo), "a count was shown before any reading")
    check(len(error_boxes(x)) == 1, f"{len(error_boxes(x))} error boxes")
    wait_until("a second login post", lambda: host.stats()["activeFaults"] == 0, INTERVAL + 8)
    check(login_dialog(x) is None, "the login dialog was shown for an outage")
    geo = run_until_counted(prog, "after the outage")
    wait_gone("the error box after the recovery", lambda: error_boxes(x), 10)
    check(ctx.keyring.lookup(key) == new_password, "the outage touched the keyring entry")
    exit_with_x(prog, geo)

    # 5. A keyring that does not answer (locked behind a prompt nobody sees) holds the start
    # up for a few seconds at most: then the dialog asks, with the address and ID filled in.
    pid = ctx.keyring.service_pid()
    os.kill(pid, signal.SIGSTOP)
    try:
        started = time.monotonic()
        prog = ctx.program(extra_env=env)
        dialog = wait_until("the login dialog while the keyring does not answer",
                            lambda: login_dialog(x), 20)
        waited = time.monotonic() - started
        ctx.shot("login-keyring-silent")
    finally:
        os.kill(pid, signal.SIGCONT)
    check(waited < 15, f"the dialog came after {waited:.1f} s")
    fill_login(x, dialog, [new_password])
    geo = run_until_counted(prog, "after the silent keyring")
    exit_with_x(prog, geo)

    # 6. Without any session bus the option cannot work: the login is as it always was.
    no_bus = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/ormix-bus"}
    prog = ctx.program(extra_env=no_bus)
    dialog = wait_until("the login dialog without a keyring", lambda: login_dialog(x), 20)
    fill_login(x, dialog, [new_password])
    geo = run_until_counted(prog, "without a keyring")
    exit_with_x(prog, geo)


def scenario_notify(ctx):
    """Desktop notifications: the notice goes to the server; its action opens the item."""
    x = ctx.x
    host = ctx.host()
    # The private session bus of a desktop; its keyring is not used here.
    ctx.keyring = PrivateKeyring(ctx.artefacts.dir)
    ctx.recorder = NotificationServer(ctx.args.recorder, ctx.keyring.env, ctx.artefacts.dir,
                                      ["body", "body-markup", "actions"])
    prog = ctx.program({"DesktopNotify": 1}, extra_env=ctx.keyring.env)
    start_and_log_in(ctx, host, prog)
    _, geo = wait_until("the status window", lambda: status_window(x), 15)
    wait_until("the count", lambda: count_shown(ctx.shot("count"), geo), 15, 0.3)
    check(not ctx.recorder.received, f"notified before anything was new: {ctx.recorder.received}")

    added = host.post("items", kind="comment", text="e2e <b>알림</b> & 댓글")["item"]
    sent = wait_until("the desktop notification", lambda: ctx.recorder.received[:1],
                      INTERVAL + 8)[0]
    check(sent["summary"] == "[새로운 댓글 도착]", f"summary {sent['summary']!r}")
    # The server reads markup, so the item's text arrives escaped.
    check(sent["body"] == "e2e &lt;b&gt;알림&lt;/b&gt; &amp; 댓글", f"body {sent['body']!r}")
    check((sent["app"], sent["icon"]) == ("Ormix", "ormix"), f"sent as {sent}")
    check(sent["actions"][:1] == ["default"], f"actions {sent['actions']}")
    wait_until("R lit for the comment", lambda: box_lit(ctx.shot("lit"), geo, "R"), 5)

    ctx.recorder.invoke(sent["id"])
    expected = absolute(host, added["link"])
    opened = wait_until("the browser to be started", prog.opened, 10)
    check(opened == [expected], f"the browser got {opened}, expected [{expected!r}]")
    wait_until("R to go dark", lambda: not box_lit(ctx.shot("after-action"), geo, "R"), 5)
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")


def scenario_remember(ctx):
    """What came while Ormix was off: with the option on, the next start announces it."""
    x = ctx.x
    host = ctx.host()
    # The notification server hears the notice's text, which a screenshot cannot tell.
    ctx.keyring = PrivateKeyring(ctx.artefacts.dir)
    ctx.recorder = NotificationServer(ctx.args.recorder, ctx.keyring.env, ctx.artefacts.dir,
                                      ["body", "actions"])
    options = {"RememberSeen": 1, "DesktopNotify": 1}

    def run_and_exit(fields):
        dialog = wait_until("the login dialog", lambda: login_dialog(x), 20)
        fill_login(x, dialog, fields)
        _, geo = wait_until("the status window", lambda: status_window(x), 15)
        wait_until("the count", lambda: count_shown(ctx.shot("count"), geo), 15, 0.3)
        return geo

    prog = ctx.program(options, extra_env=ctx.keyring.env)
    geo = run_and_exit([host.base, host.user, host.password])
    check(not box_lit(ctx.shot("first-run"), geo, "R"), "R lit in a first run")
    seen = os.path.join(prog.home, "state", "Ormix", "seen.json")
    wait_until("what was seen in the state folder", lambda: os.path.exists(seen), 10)
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")
    check(not ctx.recorder.received, f"notified in a first run: {ctx.recorder.received}")

    text = "꺼져 있는 동안 온 댓글"
    host.post("items", kind="comment", text=text)
    prog = ctx.program(extra_env=ctx.keyring.env)
    # Address and ID are remembered: the focus waits in the password field.
    geo = run_and_exit([host.password])
    wait_until("R lit for the comment that came while off",
               lambda: box_lit(ctx.shot("lit-after-restart"), geo, "R"), 10)
    sent = wait_until("the notice of that comment", lambda: ctx.recorder.received[:1], 10)[0]
    check(sent["summary"] == "[새로운 댓글 도착]", f"summary {sent['summary']!r}")
    check(sent["body"] == text, f"the notice named {sent['body']!r}")
    time.sleep(1)
    check(len(ctx.recorder.received) == 1, f"announced {len(ctx.recorder.received)} times")
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")


def scenario_second(ctx):
    """R lit and not clicked, a guestbook entry arrives: a second notice rises, though its text
    repeats the comment's."""
    x = ctx.x
    host = ctx.host()
    prog = ctx.program()
    start_and_log_in(ctx, host, prog)
    _, geo = wait_until("the status window", lambda: status_window(x), 15)
    wait_until("the count", lambda: count_shown(ctx.shot("count"), geo), 15, 0.3)

    def held_notice(name):
        """A screenshot of the notice while it holds still, fully risen, and its place."""
        def holding():
            found = notice_window(x)
            if not found or found[1].height != 80:
                return None
            img = ctx.shot(name)
            again = notice_window(x)
            return (img, found[1]) if again and again[1].height == 80 else None
        return wait_until(f"the notice held ({name})", holding, INTERVAL + 10, 0.05)

    def heading(img, notice):
        return img.region(notice.x + 12, notice.y + 12, 126, 14)

    text = "감사합니다!"
    host.post("items", kind="comment", text=text)
    first, first_geo = held_notice("comment-notice")
    check(box_lit(first, geo, "R"), "R is not lit for the comment")
    check(not box_lit(first, geo, "G"), "G lit before any guestbook entry")
    wait_gone("the comment's notice to go down", lambda: notice_window(x), 10)
    check(box_lit(ctx.shot("r-still-lit"), geo, "R"), "R went dark without a click")

    host.post("items", kind="guestbook", text=text)
    second, second_geo = held_notice("second-notice")
    check(box_lit(second, geo, "R") and box_lit(second, geo, "G"), "R and G are not both lit")
    check(second.count(second_geo.x + 12, second_geo.y + 12, 126, 14, dark) > 20,
          "the second notice has no heading")
    check(heading(second, second_geo) != heading(first, first_geo),
          "the second notice has the comment's heading")
    body = (lambda img, n: img.region(n.x + 12, n.y + 40, 126, 14))
    check(body(second, second_geo) == body(first, first_geo),
          "the second notice does not show the same text")
    wait_gone("the second notice to go down", lambda: notice_window(x), 10)
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    check(prog.wait_exit(10) == 0, "ormix did not exit with status 0 after X")


def scenario_instance(ctx):
    """One run per settings folder: a second start brings the first to the front and ends;
    a start right after a quit runs in its place; a run killed with SIGKILL does not block
    the next; another folder runs beside it."""
    x = ctx.x
    # Deeply nested, so that a reading takes a while and a quit may come in the middle of one.
    host = ctx.host("--nest", "6000")
    rules = {"QT_LOGGING_RULES": "ormix.instance.info=true"}
    first = ctx.program(extra_env=rules)
    start_and_log_in(ctx, host, first)
    _, geo = wait_until("the status window", lambda: status_window(x), 15)
    wait_until("the count", lambda: count_shown(ctx.shot("count"), geo), 15, 0.3)

    second = ctx.program(extra_env=rules)
    code = second.wait_exit(30)
    said = second.output()
    check(code == 0, f"the second start exited with {code}: {said}")
    check(said.count("Ormix is already running.") == 1, f"the second start said {said!r}")
    check(login_dialog(x) is None, "the second start asked for a login")
    wait_until("the first run to be asked to come to the front",
               lambda: "coming to the front" in first.output(), 10)
    strips = [w for w in x.search("--classname", "^ormix$")
              if (lambda g: g and g.viewable and (g.width, g.height) == STRIP)(x.geometry(w))]
    check(len(strips) == 1, f"{len(strips)} strips on screen")
    check(host.stats()["loginPosts"] == 1, "the second start logged in")
    check(first.running(), "the first run ended")

    # Quit right after a poll went out, and start again at once: the quitting run no longer
    # answers but keeps the lock until it is gone; the new start waits for it instead of
    # giving up, and exactly one Ormix runs afterwards.
    polls = host.stats()["dashboardRequests"]
    wait_until("a poll", lambda: host.stats()["dashboardRequests"] > polls, INTERVAL + 10, 0.02)
    click_at(x, (geo.x + BOX_LEFT["X"] + 5, geo.y + 11))
    again = ctx.program(extra_env=rules)
    check(first.wait_exit(10) == 0, "the quitting run did not exit with status 0")
    dialog = wait_until("the login dialog of the start after the quit", lambda: login_dialog(x),
                        20)
    said = again.output()
    check(again.running() and "Ormix is already running." not in said,
          f"the start after the quit gave up: {said!r}")
    fill_login(x, dialog, [host.password])
    _, geo = wait_until("the status window after the quit", lambda: status_window(x), 15)
    wait_until("the count after the quit", lambda: count_shown(ctx.shot("count-again"), geo), 15,
               0.3)
    strips = [w for w in x.search("--classname", "^ormix$")
              if (lambda g: g and g.viewable and (g.width, g.height) == STRIP)(x.geometry(w))]
    check(len(strips) == 1, f"{len(strips)} strips on screen after the quit and the start")
    first = again

    # Killed outright, the first run leaves its lock file behind, but not its page reader.
    reader = wait_until("the page reader", first.reader, 5)
    first.proc.kill()
    first.proc.wait(10)
    wait_gone("the killed run's page reader", lambda: alive(reader), 5)
    runtime = os.path.join(ctx.artefacts.home, "runtime")
    locks = [n for n in os.listdir(runtime) if n.endswith(".lock")]
    check(len(locks) == 1, f"lock files after the kill: {locks}")
    wait_gone("the killed run's strip", lambda: status_window(x), 10)
    third = ctx.program(extra_env=rules)
    wait_until("the login dialog after the kill", lambda: login_dialog(x), 20)
    check(third.running(), "the start after the kill ended")
    check("took over the lock left by process" in third.output(),
          f"the stale lock was not taken over: {third.output()}")

    # A second blog with its own settings folder runs beside it.
    other = ctx.program(home=os.path.join(ctx.artefacts.home, "other"), extra_env=rules)
    wait_until("two login dialogs", lambda: len(x.search("--name", LOGIN_CAPTION)) == 2, 20)
    check(other.running() and third.running(), "the runs for two settings folders did not both stay")


SCENARIOS = {
    "cli": (scenario_cli, False),
    "session": (scenario_session, True),
    "cancel": (scenario_cancel, True),
    "move": (scenario_move, True),
    "keyring": (scenario_keyring, True),
    "notify": (scenario_notify, True),
    "instance": (scenario_instance, True),
    "remember": (scenario_remember, True),
    "second": (scenario_second, True),
}


def report_failure(ctx, text):
    print(text, file=sys.stderr)
    if ctx:
        with open(os.path.join(ctx.artefacts.dir, "failure.txt"), "w", encoding="utf-8") as f:
            f.write(text + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ormix", required=True)
    parser.add_argument("--demohost", required=True)
    parser.add_argument("--artefacts", required=True)
    parser.add_argument("--recorder", help="the recording notification server program")
    parser.add_argument("--update-url", default="", help="the page the build's update row opens")
    parser.add_argument("--sanitized", default="OFF",
                        help="ON for a build with the sanitizers, whose page reader has no filter")
    parser.add_argument("--version-text", required=True, help="the version the build names")
    parser.add_argument("scenarios", nargs="+", choices=sorted(SCENARIOS))
    args = parser.parse_args()

    failed = 0
    for name in args.scenarios:
        function, needs_x = SCENARIOS[name]
        started = time.monotonic()
        session = None
        ctx = None
        passed = False
        try:
            ctx = Context(args, name)
            if needs_x:
                session = XSession(ctx.artefacts.dir)
                ctx.x = session
            function(ctx)
            passed = True
        except Failure as failure:
            report_failure(ctx, f"FAIL {name}: {failure}")
        except Exception:  # an error in the harness fails the scenario as well
            report_failure(ctx, traceback.format_exc() + f"FAIL {name}: harness error")
        finally:
            if ctx:
                if not passed and session:
                    try:
                        ctx.shot("at-failure")
                    except Exception:  # the screen may be gone with the failure
                        pass
                ctx.close()
            if session:
                session.close()
            if ctx:
                ctx.artefacts.finish(passed)
        elapsed = time.monotonic() - started
        if passed:
            print(f"PASS {name} ({elapsed:.0f} s)")
        else:
            failed += 1
            print(f"     screenshots and logs kept in {ctx.artefacts.dir if ctx else '?'}",
                  file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
