#!/usr/bin/env python3
"""The headless demo: runs ormix under Xvfb against the demo host and saves pictures.

usage: demo_screens.py --ormix BIN --demohost BIN --out DIR [--readme-shot PATH]
                       [--menu-shot PATH]
Saves the login dialog, the strip with the count, a notice mid-slide, the recent-items
list, the strip with a risen notice, an animated GIF of the notice sliding, and the strip's
menu with the pause's submenu open.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from e2e_harness import DemoHost, Failure, Image, Program, XSession, near, wait_until
from ormix_e2e import (BOX_LEFT, FRAME_LINE, count_shown, login_dialog, notice_window,
                       status_window, wait_gone)

# The strip sits just above the corner where notices rise, so one picture shows both.
STRIP_AT = (700, 560)
SCENE = (680, 540, 344, 228)  # x, y, width, height: the strip and the notice's corner
CORNER = (824, 648, 200, 120)  # where the notice slides
MENU_AREA = (440, 540, 584, 228)  # the strip, its menu and the submenu beside it


def crop(source, target, box, zoom=200):
    x, y, w, h = box
    subprocess.run(["convert", source, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                    "-scale", f"{zoom}%", target], check=True, timeout=60)


def grab_slide(x, raw):
    """Grabs the scene as fast as the machine allows until the notice has gone."""
    frames = []
    started = time.monotonic()
    last_seen = started
    # Asking the window system costs as much as a grab, so it is asked every fourth frame;
    # the window manager may briefly report the notice elsewhere, hence the grace time.
    while time.monotonic() - last_seen < 1.5 and time.monotonic() - started < 12:
        if len(frames) % 4 == 0 and notice_window(x):
            last_seen = time.monotonic()
        frame = os.path.join(raw, f"frame{len(frames):03d}.png")
        x.run(["import", "-window", "root", "-crop", "{2}x{3}+{0}+{1}".format(*SCENE),
               "+repage", frame])
        frames.append(frame)
    return frames, time.monotonic() - started


def notice_height(frame):
    data = subprocess.run(["convert", frame, "-depth", "8", "ppm:-"], capture_output=True,
                          check=True, timeout=60).stdout
    img = Image(data)
    column = 1024 - 150 - SCENE[0]  # the notice's left edge on the 1024 pixel wide screen
    height = 0
    while height < img.height and near(img.pixel(column, img.height - 1 - height), FRAME_LINE):
        height += 1
    return height


def write_settings(home, host):
    folder = os.path.join(home, "config", "Ormix")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Ormix.conf"), "w", encoding="utf-8") as ini:
        ini.write("[General]\n"
                  f"BlogURL={host.base}\nID={host.user}\nCHECK_SAVEID=1\nINTERVAL=10\n"
                  f"LeftPos={STRIP_AT[0]}\nTopPos={STRIP_AT[1]}\nWidth=150\nHeight=23\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ormix", required=True)
    parser.add_argument("--demohost", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--readme-shot")
    parser.add_argument("--menu-shot")
    args = parser.parse_args()

    out = args.out
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    raw = tempfile.mkdtemp(prefix="ormix-demo-raw-")
    home = tempfile.mkdtemp(prefix="ormix-demo-home-")
    x = host = prog = None
    try:
        x = XSession(raw)
        if shutil.which("xsetroot"):
            x.run(["xsetroot", "-solid", "#3b6e8f"])
        host = DemoHost(args.demohost, raw, ["--demo"])
        write_settings(home, host)
        prog = Program(args.ormix, x, home, raw)

        dialog = wait_until("the login dialog", lambda: login_dialog(x), 30)
        time.sleep(0.5)  # the dialog paints after it maps; nothing to poll for
        shot = os.path.join(raw, "login.png")
        x.screenshot(shot)
        geo = x.geometry(dialog)
        crop(shot, os.path.join(out, "1-login-dialog.png"),
             (geo.x - 30, geo.y - 50, geo.width + 60, geo.height + 80), 150)
        print(f"password: {host.password}")
        x.xdotool("windowactivate", "--sync", dialog)
        x.xdotool("type", "--delay", 40, host.password)
        x.xdotool("key", "Return")

        _, strip = wait_until("the status window", lambda: status_window(x), 30)
        shot = os.path.join(raw, "count.png")
        wait_until("the count", lambda: count_shown(x.screenshot(shot), strip), 30, 0.3)
        crop(shot, os.path.join(out, "2-status-window.png"),
             (strip.x - 12, strip.y - 8, strip.width + 24, strip.height + 16), 300)

        # A comment through the control channel makes the next poll announce it.
        host.post("items", kind="comment", text="데모 댓글: 오늘 글 정말 유익했어요!")
        wait_until("the notice", lambda: notice_window(x), 20, 0.05)
        frames, elapsed = grab_slide(x, raw)
        delay = max(2, round(100 * elapsed / len(frames)))  # hundredths of a second per frame
        # The notice's visible height in each frame, read from its left frame line.
        heights = [notice_height(frame) for frame in frames]
        shown = [i for i, h in enumerate(heights) if h > 0]
        if len(shown) < 5:
            raise Failure(f"only {len(shown)} frames show the notice")
        frames = frames[: shown[-1] + 2]
        tallest = max(shown, key=lambda i: heights[i])
        rising = [i for i in shown if i <= tallest]
        mid = min(rising, key=lambda i: abs(heights[i] - 45))
        whole_frame = (0, 0, SCENE[2], SCENE[3])
        crop(frames[mid], os.path.join(out, "3-notice-mid-slide.png"), whole_frame)
        risen = [i for i in shown if heights[i] >= 80]
        scene = os.path.join(out, "5-strip-and-notice.png")
        crop(frames[risen[len(risen) // 2] if risen else mid], scene, whole_frame)
        cropped = []
        corner_in_frame = (CORNER[0] - SCENE[0], CORNER[1] - SCENE[1], CORNER[2], CORNER[3])
        for i, frame in enumerate(frames):
            target = os.path.join(raw, f"corner{i:03d}.png")
            crop(frame, target, corner_in_frame)
            cropped.append(target)
        subprocess.run(["convert", "-delay", str(delay), "-loop", "0", *cropped,
                        "-layers", "Optimize", os.path.join(out, "6-notice-slide.gif")],
                       check=True, timeout=300)

        wait_gone("the notice to hide", lambda: notice_window(x), 10)
        x.xdotool("mousemove", strip.x + BOX_LEFT["T"] + 5, strip.y + 11)
        x.xdotool("click", 1)
        time.sleep(0.7)  # the list maps and paints; no state outside the picture to poll
        shot = os.path.join(raw, "list.png")
        x.screenshot(shot)
        crop(shot, os.path.join(out, "4-recent-items.png"), (strip.x - 20, strip.y - 20, 320, 200))

        x.xdotool("key", "Escape")
        # The menu, with the pause's submenu opened from the keyboard (its third row).
        x.xdotool("mousemove", strip.x + 40, strip.y + 11)
        x.xdotool("click", 3)
        time.sleep(0.7)  # the menu maps and paints
        x.xdotool("key", "Down", "Down", "Down", "Right")
        time.sleep(0.7)
        shot = os.path.join(raw, "menu.png")
        x.screenshot(shot)
        menu = os.path.join(out, "7-menu.png")
        crop(shot, menu, MENU_AREA, 100)
        x.xdotool("key", "Escape", "Escape")
        time.sleep(0.3)

        x.xdotool("mousemove", strip.x + BOX_LEFT["X"] + 5, strip.y + 11)
        x.xdotool("click", 1)
        prog.wait_exit(10)
        if args.readme_shot:
            shutil.copyfile(scene, args.readme_shot)
            print(f"updated {args.readme_shot}")
        if args.menu_shot:
            shutil.copyfile(menu, args.menu_shot)
            print(f"updated {args.menu_shot}")
    except Failure as failure:
        print(f"demo failed: {failure}; raw pictures and logs in {raw}", file=sys.stderr)
        return 1
    finally:
        for thing in (prog, host, x):
            if thing:
                thing.close()
        shutil.rmtree(home, ignore_errors=True)
    shutil.rmtree(raw, ignore_errors=True)
    print(f"pictures saved in {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
