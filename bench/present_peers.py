#!/usr/bin/env python3
"""Frames to the screen: the player against an SDL2 program.

Runs the player and an SDL2 program (software renderer, which reaches the
X server through MIT-SHM) on the same Xvfb with the same pictures; each
times its own frame loop with nothing pacing it. Both end the timed loop
with a round trip to the server (a 1x1 grab of the window's screen), so
every frame counted has been drawn, and report how long that last round
trip took: the frames still queued between the program and the screen.
Rounds alternate the two sides; the ratio printed (ours over SDL2, frames
per second) is the median of the per-round ratios, with the load average
at the time. Also counts the bytes the player writes to the X connection
per frame (strace of writev/write on the socket), which must follow the
changed area, not the window.

    bench/present_peers.py [--build build/release] [--frames 300] [--repeat 5] [--scene NAME]
                           [--against OTHER_BUILD]

With --against, each round also runs the player of another build (an
earlier commit built in its own tree) in the rotation, and the table adds
the median of the per-round ratios ours over that build's.

SDL2 comes from Debian's libsdl2-dev (sdl2-config); without it the script
says so and stops. Needs Xvfb, cc; strace for the byte counts (optional).
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SPRITE_SIZE = 64
# Layers moved over the still stack of the "stack" scenes.
MOVERS = 16


def png(path, width, height, rgba_rows, alpha):
    """Writes an 8-bit RGB or RGBA PNG from rows of bytes."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + row for row in rgba_rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def make_pictures(tmp):
    """Two backgrounds per size, one alpha sprite; PNG for the player and
    raw RGBA for the SDL2 program (the same pixels)."""
    pictures = {}
    for (w, h) in ((640, 480), (1280, 720), (1920, 1080)):
        for k in (0, 1):
            rows_rgb, rows_rgba = [], []
            for y in range(h):
                row = bytearray(w * 3)
                row[0::3] = bytes(((x * 255) // w + 97 * k) & 255 for x in range(w))
                row[1::3] = bytes([((y * 255) // h + 61 * k) & 255]) * w
                row[2::3] = bytes(((x ^ y) + 29 * k) & 255 for x in range(w))
                rows_rgb.append(bytes(row))
                rgba = bytearray(w * 4)
                rgba[0::4], rgba[1::4], rgba[2::4] = row[0::3], row[1::3], row[2::3]
                rgba[3::4] = b"\xff" * w
                rows_rgba.append(bytes(rgba))
            name = os.path.join(tmp, "bg%dx%d_%d" % (w, h, k))
            png(name + ".png", w, h, rows_rgb, False)
            with open(name + ".rgba", "wb") as f:
                f.write(b"".join(rows_rgba))
            pictures[(w, h, k)] = name
    s = SPRITE_SIZE
    rows_rgba = []
    for y in range(s):
        row = bytearray()
        for x in range(s):
            d = ((x - s / 2 + 0.5) ** 2 + (y - s / 2 + 0.5) ** 2) ** 0.5
            a = 0 if d > s / 2 else min(255, int((s / 2 - d) * 24))
            row += bytes((255 - 3 * y, 40 + 3 * x, 200, a))
        rows_rgba.append(bytes(row))
    name = os.path.join(tmp, "sprite")
    png(name + ".png", s, s, rows_rgba, True)
    with open(name + ".rgba", "wb") as f:
        f.write(b"".join(rows_rgba))
    pictures["sprite"] = name
    return pictures


SDL_SOURCE = r"""
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
/* Textures in the window's own format (the sprite in ARGB), so an opaque
   copy is a plain memcpy for SDL as for us. */
static SDL_Texture* load(SDL_Renderer* r, Uint32 windowFormat, const char* path, int w, int h, int blend) {
  FILE* f = fopen(path, "rb");
  if (!f) { perror(path); exit(2); }
  unsigned char* px = malloc((size_t)w * h * 4);
  unsigned char* conv = malloc((size_t)w * h * 4);
  if (fread(px, 4, (size_t)w * h, f) != (size_t)w * h) { fprintf(stderr, "short %s\n", path); exit(2); }
  fclose(f);
  Uint32 format = blend ? SDL_PIXELFORMAT_ARGB8888 : windowFormat;
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_ABGR8888, px, w * 4, format, conv, w * 4);
  SDL_Texture* t = SDL_CreateTexture(r, format, SDL_TEXTUREACCESS_STATIC, w, h);
  SDL_UpdateTexture(t, NULL, conv, w * 4);
  SDL_SetTextureBlendMode(t, blend ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
  free(px);
  free(conv);
  return t;
}
int main(int argc, char** argv) {
  /* scene w h frames bg0 bg1 sprite count */
  const char* scene = argv[1];
  int w = atoi(argv[2]), h = atoi(argv[3]), frames = atoi(argv[4]);
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "software");
  if (SDL_Init(SDL_INIT_VIDEO)) { fprintf(stderr, "%s\n", SDL_GetError()); return 2; }
  SDL_Window* win = SDL_CreateWindow("peer", 0, 0, w, h, SDL_WINDOW_SHOWN);
  SDL_Renderer* r = SDL_CreateRenderer(win, -1, SDL_RENDERER_SOFTWARE);
  if (!r) { fprintf(stderr, "%s\n", SDL_GetError()); return 2; }
  Uint32 wf = SDL_GetWindowPixelFormat(win);
  SDL_Texture* bg[2] = {load(r, wf, argv[5], w, h, 0), load(r, wf, argv[6], w, h, 0)};
  SDL_Texture* spr = load(r, wf, argv[7], 64, 64, 1);
  int whole = scene[0] == 'w';
  int count = argc > 8 ? atoi(argv[8]) : 200;
  /* "stack": count still sprites drawn once into a picture of the window's
     size, which each frame copies before drawing the movers over it. */
  int movers = argc > 9 ? atoi(argv[9]) : 0;
  SDL_Texture* still = NULL;
  if (scene[0] == 's' && scene[1] == 't') {
    still = SDL_CreateTexture(r, wf, SDL_TEXTUREACCESS_TARGET, w, h);
    SDL_SetRenderTarget(r, still);
    SDL_RenderCopy(r, bg[0], NULL, NULL);
    for (int i = 0; i < count; i++) {
      SDL_Rect d = {(i * 37) % (w - 64), (i * 23) % (h - 64), 64, 64};
      SDL_RenderCopy(r, spr, NULL, &d);
    }
    SDL_SetRenderTarget(r, NULL);
  }
  SDL_SysWMinfo wm;
  SDL_VERSION(&wm.version);
  if (!SDL_GetWindowWMInfo(win, &wm) || wm.subsystem != SDL_SYSWM_X11) { fprintf(stderr, "not on X11\n"); return 2; }
  SDL_Event e;
  for (int i = 0; i < 10; i++) { SDL_PollEvent(&e); SDL_RenderCopy(r, bg[0], NULL, NULL); SDL_RenderPresent(r); }
  Uint64 t0 = SDL_GetPerformanceCounter();
  for (int f = 0; f < frames; f++) {
    while (SDL_PollEvent(&e)) {}
    if (still) {
      SDL_RenderCopy(r, still, NULL, NULL);
      for (int i = 0; i < movers; i++) {
        SDL_Rect d = {(i * 37 + f * 5) % (w - 64), (i * 23 + f * 3) % (h - 64), 64, 64};
        SDL_RenderCopy(r, spr, NULL, &d);
      }
      SDL_RenderPresent(r);
      continue;
    }
    SDL_RenderCopy(r, bg[whole ? f & 1 : 0], NULL, NULL);
    if (!whole)
      for (int i = 0; i < count; i++) {
        SDL_Rect d = {(i * 37 + f * 5) % (w - 64), (i * 23 + f * 3) % (h - 64), 64, 64};
        SDL_RenderCopy(r, spr, NULL, &d);
      }
    SDL_RenderPresent(r);
  }
  Uint64 t1 = SDL_GetPerformanceCounter();
  /* The round trip: the server has drawn every frame once it answers. */
  XImage* one = XGetImage(wm.info.x11.display, wm.info.x11.window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  if (one) XDestroyImage(one);
  Uint64 t2 = SDL_GetPerformanceCounter();
  double f = 1000.0 / SDL_GetPerformanceFrequency();
  printf("%.3f\n%.3f\n", (double)(t1 - t0) * f, (double)(t2 - t0) * f);
  SDL_Quit();
  return 0;
}
"""


def build_sdl(tmp):
    if not shutil.which("sdl2-config"):
        return None
    src = os.path.join(tmp, "peer.c")
    exe = os.path.join(tmp, "peer")
    with open(src, "w") as f:
        f.write(SDL_SOURCE)
    flags = subprocess.run(["sdl2-config", "--cflags", "--libs"], capture_output=True, text=True).stdout.split()
    r = subprocess.run(["cc", "-O2", "-o", exe, src] + flags + ["-lX11"], capture_output=True, text=True)
    if r.returncode:
        sys.stderr.write(r.stderr)
        return None
    return exe


def loop_asm(body, frames, timer_line=10):
    """A timed frame loop: r1 is the frame number, body uses r4.. freely."""
    return "\n".join([
        ".line %d" % timer_line,
        ".call starttimer 1",
        "loadk 1 #0",
        "loadk 2 #%d" % (frames - 1),
        "loadk 3 #1",
        "frame:",
        ".line %d" % (timer_line + 1),
    ] + body + [
        "forloop 1 frame",
        ".line %d" % (timer_line + 5),
        ".call gettimer 1 -> t",
        ".call debugprint $t",
        # The round trip: a 1x1 grab answers once the server drew every frame.
        ".table 0 { x = 0, y = 0, width = 1, height = 1 }",
        ".call base=1 grabdesktop 9 r0",
        ".call gettimer 1 -> t",
        ".call debugprint $t",
    ])


def sprite_moves(command, w, h, count, first=1):
    """Moves object i (first..first+count-1) to its place of frame r1:
    command i x y."""
    return [
        "loadk 5 #%d" % first,
        "loadk 6 #%d" % (first + count - 1),
        "loadk 7 #1",
        "move:",
        ".line 12",
        # i - first gives 0-based positions like the peer's loop
        "sub 11 5 #%d" % first,
        "mul 8 11 #37",
        "mul 12 1 #5",
        "add 8 8 12",
        "mod 8 8 #%d" % (w - SPRITE_SIZE),
        "mul 9 11 #23",
        "mul 12 1 #3",
        "add 9 9 12",
        "mod 9 9 #%d" % (h - SPRITE_SIZE),
        "getglobal 13 \"%s\"" % command,
        "copy 14 5",
        "copy 15 8",
        "copy 16 9",
        "call 13 4 1",
        "forloop 5 move",
    ]


def scene_asm(scene, w, h, frames, pics, count):
    bg0, bg1 = pics[(w, h, 0)] + ".png", pics[(w, h, 1)] + ".png"
    spr = pics["sprite"] + ".png"
    pre = [
        ".line 1",
        '.call loadbrush 1 "%s"' % bg0,
        '.call loadbrush 2 "%s"' % bg1,
    ]
    if scene in ("whole", "flip"):
        if scene == "flip":
            pre.append(".call begindoublebuffer")
        body = [
            "mod 4 1 #2",
            "add 4 4 #1",
            "getglobal 5 \"displaybrush\"",
            "copy 6 4",
            "loadk 7 #0",
            "loadk 8 #0",
            "call 5 4 1",
        ]
        if scene == "flip":
            # Flip False: no wait for the screen's frame, nothing paces the loop.
            body += ["getglobal 5 \"flip\"", "loadk 6 #0", "call 5 2 1"]
        return "\n".join(pre) + "\n" + loop_asm(body, frames)
    pre += [
        ".table 0 { loadalpha = 1 }",
        '.call base=1 loadbrush 3 "%s" r0' % spr,
        ".call displaybrush 1 0 0",
    ]
    if scene == "sprites":
        pre += [
            ".call createsprite 1 3 3",
            "loadk 1 #2", "loadk 2 #%d" % count, "loadk 3 #1",
            "copy:",
            ".line 2",
            "getglobal 13 \"copysprite\"", "loadk 14 #1", "copy 15 1", "call 13 3 1",
            "forloop 1 copy",
        ]
        return "\n".join(pre) + "\n" + loop_asm(sprite_moves("displaysprite", w, h, count), frames)
    # layers: count brush layers over the picture, then moved one by one
    def place(label, n, line):
        """n brush layers at the places the peer's sprites take."""
        return [
            "loadk 1 #0", "loadk 2 #%d" % (n - 1), "loadk 3 #1",
            "%s:" % label,
            ".line %d" % line,
            "mul 8 1 #37", "mod 8 8 #%d" % (w - SPRITE_SIZE),
            "mul 9 1 #23", "mod 9 9 #%d" % (h - SPRITE_SIZE),
            "getglobal 13 \"displaybrush\"", "loadk 14 #3", "copy 15 8", "copy 16 9", "call 13 4 1",
            "forloop 1 %s" % label,
        ]
    pre.append(".call enablelayers")
    pre += place("place", count, 2)
    if scene == "stack":
        # MOVERS more layers on top of the still ones, moved as sprites are
        pre += place("movers", MOVERS, 3)
        return "\n".join(pre) + "\n" + loop_asm(sprite_moves("showlayer", w, h, MOVERS, count + 1), frames)
    body = sprite_moves("showlayer", w, h, count)
    if scene == "select":
        body = [".call base=4 selectbgpic nil"] + body + [".line 13", ".call base=4 endselect"]
    return "\n".join(pre) + "\n" + loop_asm(body, frames)


def run_player(build, tmp, scene, w, h, frames, pics, display, count, strace=False):
    """The loop's time in ms (ended by the round trip) and the round trip's
    own, or None; with strace also the bytes sent to the server."""
    name = os.path.join(tmp, "%s%d_%d" % (scene, h, count))
    with open(name + ".vlasm", "w") as f:
        f.write(scene_asm(scene, w, h, frames, pics, count) + "\nret\n")
    with open(name + ".desc", "w") as f:
        f.write("revision 6 1\nheader 1 Present\ndisplay 1 %d %d Present\n" % (w, h))
    tools = os.path.join(build, "tools")
    subprocess.run([os.path.join(tools, "chunkasm", "vlasm"), "-o", name + ".chunk", name + ".vlasm"], check=True)
    subprocess.run([os.path.join(tools, "mkapplet", "mkapplet"), "-d", name + ".desc", "-o", name + ".vla",
                    name + ".chunk"], check=True, capture_output=True)
    cmd = [os.path.join(build, "app", "vellamora-player"), "-quiet", name + ".vla"]
    trace = name + ".strace"
    if strace:
        cmd = ["strace", "-f", "-qq", "-e", "trace=writev,write,sendmsg", "-e", "signal=none", "-o", trace] + cmd
    env = dict(os.environ, DISPLAY=display)
    r = subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=900)
    nums = re.findall(r"^\s*(\d+(?:\.\d+)?)\s*$", r.stdout, re.M)
    if r.returncode or len(nums) < 2:
        sys.stderr.write("player failed (%d): %s %s\n" % (r.returncode, r.stdout[-400:], r.stderr[-400:]))
        return None, None
    loop, ended = float(nums[-2]), float(nums[-1])
    if strace:
        return (ended, ended - loop), x_bytes(trace)
    return (ended, ended - loop), None


def x_bytes(trace):
    """Bytes written to the X socket: writev/sendmsg calls (Xlib's only
    writes); the loop dominates, the set-up is measured apart."""
    total = 0
    for line in open(trace):
        # A call another thread interrupts shows its result on a line of
        # its own: "<... writev resumed>...) = N".
        m = re.search(r"(?:(?:writev|sendmsg)\(|<\.\.\. (?:writev|sendmsg) resumed>).*= (\d+)$", line.strip())
        if m:
            total += int(m.group(1))
    return total


def run_sdl(exe, scene, w, h, frames, pics, display, count):
    env = dict(os.environ, DISPLAY=display)
    args = [exe, scene, str(w), str(h), str(frames), pics[(w, h, 0)] + ".rgba", pics[(w, h, 1)] + ".rgba",
            pics["sprite"] + ".rgba", str(count), str(MOVERS)]
    r = subprocess.run(args, capture_output=True, text=True, env=env, timeout=900)
    nums = r.stdout.split()
    if r.returncode or len(nums) < 2:
        sys.stderr.write("SDL2 peer failed: %s\n" % r.stderr)
        return None
    loop, ended = float(nums[-2]), float(nums[-1])
    return ended, ended - loop


def start_xvfb(extra):
    rfd, wfd = os.pipe()
    p = subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-screen", "0", "2048x1200x24", "-nolisten", "tcp"] +
                         extra, pass_fds=(wfd,), stderr=subprocess.DEVNULL)
    os.close(wfd)
    num = b""
    while not num.endswith(b"\n"):
        c = os.read(rfd, 1)
        if not c:
            break
        num += c
    os.close(rfd)
    return p, ":" + num.decode().strip()


# kind, width, height, objects, label
SCENES = [
    ("whole", 1280, 720, 0, "whole window 720p"),
    ("whole", 1920, 1080, 0, "whole window 1080p"),
    ("flip", 1280, 720, 0, "720p, double buffer + Flip"),
    ("flip", 1920, 1080, 0, "1080p, double buffer + Flip"),
    ("sprites", 1280, 720, 50, "50 alpha sprites 64x64 over 720p"),
    ("sprites", 1280, 720, 200, "200 alpha sprites 64x64 over 720p"),
    ("sprites", 1280, 720, 800, "800 alpha sprites 64x64 over 720p"),
    ("layers", 1280, 720, 50, "50 layers moved by ShowLayer, 720p"),
    ("layers", 1280, 720, 200, "200 layers moved by ShowLayer, 720p"),
    ("layers", 1280, 720, 800, "800 layers moved by ShowLayer, 720p"),
    ("layers", 640, 480, 200, "200 layers moved by ShowLayer, 640x480"),
    ("layers", 1920, 1080, 200, "200 layers moved by ShowLayer, 1080p"),
    ("select", 1280, 720, 200, "200 layers inside SelectBGPic/EndSelect"),
    ("stack", 1280, 720, 200, "16 layers moved over 200 still ones, 720p"),
    ("stack", 1280, 720, 800, "16 layers moved over 800 still ones, 720p"),
    ("stack", 1920, 1080, 800, "16 layers moved over 800 still ones, 1080p"),
]


def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2.0


def load():
    return "%.1f" % os.getloadavg()[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    ap.add_argument("--frames", type=int, default=300)
    ap.add_argument("--scene", default="", help="a kind (whole, flip, sprites, layers, select, stack) or a label word")
    ap.add_argument("--no-strace", action="store_true")
    ap.add_argument("--keep", action="store_true", help="keep the applets and pictures (the path is printed)")
    ap.add_argument("--repeat", type=int, default=5, help="alternating rounds; the median ratio counts")
    ap.add_argument("--xvfb-args", default="", help="extra Xvfb arguments, e.g. '-extension MIT-SHM'")
    ap.add_argument("--against", default="", help="another build tree whose player joins every round")
    a = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix="present-bench-")
    exe = build_sdl(tmp)
    if not exe:
        print("SDL2 not found (install libsdl2-dev): skipping the present-path benchmark")
        return 0
    pics = make_pictures(tmp)
    server, display = start_xvfb(a.xvfb_args.split())
    use_strace = not a.no_strace and shutil.which("strace")
    print("cores %d, load at start %s (%s)" % (os.cpu_count(), load(),
                                                subprocess.run(["uptime"], capture_output=True,
                                                               text=True).stdout.strip()))
    results = {}
    try:
        # lag: the end-of-loop round trip in frame times (frames between
        # the program and the screen)
        print("%-42s %9s %9s %7s %7s %6s %6s %5s %11s" % ("scene", "ours fps", "SDL2 fps", "ratio", "range",
                                                        "lag", "SDL", "load", "X bytes/frm") +
              ("  %8s %7s %9s" % ("other fps", "vs it", "range") if a.against else ""))
        for scene, w, h, count, label in SCENES:
            if a.scene and a.scene != scene and a.scene not in label:
                continue
            peer = "whole" if scene in ("whole", "flip") else "stack" if scene == "stack" else "sprites"
            ratios, ours, sdl, lags, sdl_lags, loads = [], [], [], [], [], []
            others, other_ratios = [], []
            for k in range(max(1, a.repeat)):
                # Alternating which side goes first: a burst of other load
                # falls on both sides alike over the rounds. The other build
                # runs next to ours, first every other round, and SDL2 after
                # both, so neither player always follows the same program.
                o = p = q = None
                order = (0, 2, 1) if a.against else (0, 1)
                if k % 2:
                    order = (2, 0, 1) if a.against else (1, 0)
                for side in order:
                    if side == 0:
                        o, _ = run_player(a.build, tmp, scene, w, h, a.frames, pics, display, count)
                    elif side == 1:
                        p = run_sdl(exe, peer, w, h, a.frames, pics, display, count)
                    else:
                        q, _ = run_player(a.against, tmp, scene, w, h, a.frames, pics, display, count)
                loads.append(os.getloadavg()[0])
                if o is None or p is None:
                    continue
                if q is not None:
                    fq = a.frames * 1000.0 / max(q[0], 1e-3)
                    others.append(fq)
                    other_ratios.append(a.frames * 1000.0 / max(o[0], 1e-3) / fq)
                fo, fs = a.frames * 1000.0 / max(o[0], 1e-3), a.frames * 1000.0 / max(p[0], 1e-3)
                ours.append(fo)
                sdl.append(fs)
                ratios.append(fo / fs)
                lags.append(o[1] * fo / 1000.0)
                sdl_lags.append(p[1] * fs / 1000.0)
            per = ""
            if use_strace and ratios:
                # The loop's bytes: a run of twice the frames less a run of the frames.
                _, one = run_player(a.build, tmp, scene, w, h, a.frames, pics, display, count, True)
                _, two = run_player(a.build, tmp, scene, w, h, 2 * a.frames, pics, display, count, True)
                if one is not None and two is not None:
                    per = "%d" % ((two - one) / a.frames)
            if not ratios:
                print("%-42s failed" % label)
                continue
            results[(scene, w, count)] = median(ours)
            vs = ""
            if other_ratios:
                vs = "  %8.1f %6.2fx %4.2f-%4.2f" % (median(others), median(other_ratios), min(other_ratios),
                                                    max(other_ratios))
            print("%-42s %9.1f %9.1f %6.2fx %3.2f-%3.2f %6.2f %6.2f %5.1f %11s" % (
                label, median(ours), median(sdl), median(ratios), min(ratios), max(ratios), median(lags),
                median(sdl_lags), median(loads), per) + vs)
            if per and int(per) > w * h:
                print("  (the pixels went through the socket: shared memory was not used)")
            sys.stdout.flush()
        if ("layers", 1280, 200) in results and ("select", 1280, 200) in results:
            print("Select/End against one by one: %.2fx" % (results[("select", 1280, 200)] /
                                                            results[("layers", 1280, 200)]))
        print("load at end %s" % load())
    finally:
        server.terminate()
        server.wait()
        if a.keep:
            print("kept in", tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
