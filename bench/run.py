#!/usr/bin/env python3
"""Runs the benchmarks side by side with their baselines and prints medians and ratios.

Called by bench/run.sh after the build. Each measurement is a process of its own;
the contenders alternate, so that load from other work on the machine falls on both.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
# The updater refuses a body over 16 MiB; the largest unit holds 1 MiB.
DOWNLOAD_SIZES = [("64 KiB", 64 * 1024), ("1 MiB", MIB), ("16 MiB", 16 * MIB)]
# name, virtual unit model, image the unit asks for
UPDATES = [("X21 (1 identification read)", "x21-canon", "x21", "SX2100b0.dfu"),
           ("X33 (3 identification reads)", "x33-fuji", "x33", "SX330196.dfu")]
# One unit of each model, with the typical timing of its microcontroller's data sheet.
FLOOR_UPDATES = [("X21", "x21-canon", "x21", "SX2100b0.dfu"), ("X58", "x58-canon", "x58", "SX580170.dfu"),
                 ("X33", "x33-canon", "x33", "SX330190.dfu"), ("X7", "x7", "x33", "SX0701a0.dfu")]
# What the verification costs: X58 units (1 MiB of flash), an image of one element
# from the flash's start, each size under the name of another X58 model.
VERIFY_UPDATES = [("64 KiB", 64 * 1024, "x58-nikon", "SX580171.dfu"),
                  ("256 KiB", 256 * 1024, "x58-olympus", "SX580172.dfu"),
                  ("1 MiB", MIB, "x58-pentax", "SX580173.dfu")]
VERIFY_GOAL = 0.15  # the share of everything after the -D in the whole update, at 1 MiB
SILENCE_LIMIT_MS = 30000  # DfuUtil::silenceTimeoutMs: the updater kills a tool silent this long
TOOL_SIZES = [("8 MiB", 8 * MIB), ("64 MiB", 64 * MIB)]
TOOL_WRITE = 64
DATASHEET = {"STROBIX_VU_TIMING": "datasheet"}  # the virtual unit as slow as its data sheet's typical timing


def fields(text):
    return {k: v for k, v in re.findall(r"(\w+)=(\S+)", text)}


def run(cmd, **kw):
    result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
    if result.returncode != 0:
        raise RuntimeError(f"{cmd} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result.stdout


def med(values):
    return statistics.median(values)


def verdict(ok):
    return "met" if ok else "NOT met"


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = args.build
        self.src = args.source
        self.work = tempfile.mkdtemp(prefix="strobix-bench-")
        self.port = args.port
        self.base_url = f"http://127.0.0.1:{self.port}/firmware/"
        self.docroot = os.path.join(self.work, "docroot")
        self.nginx_run = os.path.join(self.work, "nginx-run")
        self.nginx_started = False
        self.lines = []
        self.loads = []
        env = dict(os.environ)
        env.update(QT_QPA_PLATFORM="offscreen", QT_LOGGING_RULES="qt.qpa.*=false",
                   XDG_RUNTIME_DIR=os.path.join(self.work, "xdg-runtime"),
                   XDG_DATA_HOME=os.path.join(self.work, "xdg-data"))
        env.pop("STROBIX_DFU_UTIL", None)
        env.pop("LD_LIBRARY_PATH", None)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        self.env = env

    def exe(self, name):
        return os.path.join(self.build, name)

    def out(self, line=""):
        print(line, flush=True)
        self.lines.append(line)

    def note_load(self):
        with open("/proc/loadavg") as f:
            self.loads.append(f.read().split()[0])

    # --- set-up ---------------------------------------------------------------
    def setup(self):
        os.makedirs(self.docroot)
        for label, size in DOWNLOAD_SIZES:
            with open(os.path.join(self.docroot, f"img-{size}.bin"), "wb") as f:
                left = size
                while left:
                    n = min(left, 4 * MIB)
                    f.write(os.urandom(n))
                    left -= n
        images = os.path.join(self.work, "images")
        run(["bash", os.path.join(self.src, "tools/firmware/make-images.sh"), images])
        for name in os.listdir(images):
            shutil.copy(os.path.join(images, name), self.docroot)
        self.images = images
        # Row 6's images replace the catalogue's under their names.
        self.sized_images = os.path.join(self.work, "sized-images")
        os.makedirs(self.sized_images)
        for label, size, model, image in VERIFY_UPDATES:
            raw = os.path.join(self.work, f"sized-{size}.bin")
            with open(raw, "wb") as f:
                f.write(os.urandom(size))
            run(["dfuse-pack", "-b", f"0x08000000:{raw}", "-D", "0x0483:0xdf11",
                 os.path.join(self.sized_images, image)])
            shutil.copy(os.path.join(self.sized_images, image), self.docroot)
        env = dict(self.env, STROBIX_NGINX_RUN=self.nginx_run)
        run(["bash", os.path.join(self.src, "tools/firmware/nginx.sh"), "start", self.docroot, str(self.port)],
            env=env)
        self.nginx_started = True
        # The updater runs dfu-util/dfu-util.exe from its working folder.
        self.tooldir = os.path.join(self.work, "tool")
        os.makedirs(os.path.join(self.tooldir, "dfu-util"))
        os.symlink(os.path.join(self.src, "tools/dfu-util-launcher.sh"),
                   os.path.join(self.tooldir, "dfu-util", "dfu-util.exe"))
        # The same tool, noting each call's arguments (one a line, a blank line
        # after each call) in $STROBIX_BENCH_CALLS.
        self.noting_tooldir = os.path.join(self.work, "noting-tool")
        noting = os.path.join(self.noting_tooldir, "dfu-util", "dfu-util.exe")
        os.makedirs(os.path.dirname(noting))
        with open(noting, "w") as f:
            f.write('#!/bin/sh\nprintf \'%s\\n\' "$@" "" >> "$STROBIX_BENCH_CALLS"\n'
                    f'exec "{self.src}/tools/dfu-util-launcher.sh" "$@"\n')
        os.chmod(noting, 0o755)

    # The environment of a tool or updater that talks to a virtual unit.
    def unit_env(self, model, state, unit_env):
        return dict(self.env, STROBIX_VU_LIB=os.path.join(self.build, "virtualunit", "lib"),
                    STROBIX_VU_MODEL=model, STROBIX_VU_STATE=state, **unit_env)

    def teardown(self):
        if self.nginx_started:
            env = dict(self.env, STROBIX_NGINX_RUN=self.nginx_run)
            subprocess.run(["bash", os.path.join(self.src, "tools/firmware/nginx.sh"), "stop", self.docroot,
                            str(self.port)], env=env, stdout=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)

    # A section's title and paragraphs, each with a blank line after it, and the head of its table.
    def section(self, *paragraphs, head, align):
        for text in paragraphs:
            self.out(text)
            self.out()
        self.out(head)
        self.out(align)

    # --- 1: download ------------------------------------------------------------
    def download(self):
        # A tenth of a second a run, and Http and its floor differ by less than
        # the machine's noise: three times the runs.
        n = 3 * self.args.runs
        self.section(
            "### 1. Download: Strobix::Http (progress dialog shown) vs Qt under the same dialog, same nginx on loopback",
            "Floor: Qt's network manager under the same progress dialog, shown at once and fed from every "
            "`downloadProgress` as Qt sends it, with nothing of ours (`httpbench --qt-dialog`): what the user "
            "always sees, at the least. Qt alone: the same without the dialog (`httpbench --qt-alone`). "
            "curl: its own `%{time_total}` for `curl -o`.",
            head="| image | Http ms | floor: Qt + dialog ms | Qt alone ms | curl ms | ratio Http/floor | goal "
                 "| ratio Http/Qt alone | ratio Http/curl | Http peak RSS |",
            align="|---|---:|---:|---:|---:|---:|---|---:|---:|---:|")
        target = os.path.join(self.work, "download.bin")
        rss = {}
        results = []
        order = ("http", "dialog", "qt", "curl")
        modes = {"http": [], "dialog": ["--qt-dialog"], "qt": ["--qt-alone"]}
        for label, size in DOWNLOAD_SIZES:
            url = f"{self.base_url}img-{size}.bin"
            ms = {who: [] for who in order}
            rss_kib = []
            for i in range(n):
                for who in (order if i % 2 == 0 else order[::-1]):
                    if who == "curl":
                        t = run(["curl", "-s", "-f", "-o", target, "-w", "%{time_total}", url])
                        assert os.path.getsize(target) == size
                        ms[who].append(float(t) * 1000)
                    else:
                        f = fields(run([self.exe("httpbench"), *modes[who], url, target], env=self.env))
                        assert int(f["bytes"]) == size, f
                        ms[who].append(float(f["ms"]))
                        if who == "http":
                            rss_kib.append(int(f["rss_kib"]))
                    os.remove(target)
            self.note_load()
            http = med(ms["http"])
            ratio = http / med(ms["dialog"])
            rss[size] = med(rss_kib)
            goal = f"≤ 1.05: {verdict(ratio <= 1.05)}" if size >= 16 * MIB else "(none)"
            results.append(ratio <= 1.05 or size < 16 * MIB)
            self.out(f"| {label} | {http:.1f} | {med(ms['dialog']):.1f} | {med(ms['qt']):.1f} | {med(ms['curl']):.1f} | "
                     f"{ratio:.2f} | {goal} | {http / med(ms['qt']):.2f} | {http / med(ms['curl']):.2f} | "
                     f"{rss[size] / 1024:.1f} MiB |")
        growth = (rss[16 * MIB] - rss[MIB]) / 1024
        self.out()
        self.out(f"Peak RSS growth of the Http process from 1 MiB to 16 MiB: {growth:+.2f} MiB "
                 f"(goal ≤ 2 MiB: {verdict(growth <= 2)})")
        self.out()
        return all(results) and growth <= 2

    # --- 2: whole update ----------------------------------------------------------
    def update(self):
        self.section(
            "### 2. Whole update: the updater in process vs a script of the same dfu-util lines and curl",
            head="| unit | step | updater ms | script ms | updater overhead ms |",
            align="|---|---|---:|---:|---:|")
        ok = True
        ratios = []
        for label, model, family, image in UPDATES:
            t = self.measure_update(model, family, image, self.args.runs, {})
            upd, scr = t["updater"], t["script"]
            self.note_load()
            names = {"ident_ms": "identification", "download_ms": "download", "install_ms": "install",
                     "total_ms": "**whole update**"}
            for s in names:
                self.out(f"| {label} | {names[s]} | {med(upd[s]):.1f} | {med(scr[s]):.1f} | "
                         f"{med(upd[s]) - med(scr[s]):+.1f} |")
            ratio = med(upd["total_ms"]) / med(scr["total_ms"])
            ratios.append((label, ratio))
            ok = ok and ratio <= 1.05
        self.out()
        for label, ratio in ratios:
            self.out(f"Ratio updater/script, {label}: {ratio:.2f} (goal ≤ 1.05: {verdict(ratio <= 1.05)})")
        self.out()
        return ok

    # Runs the updater and the scripts of its command lines ("script": all of them,
    # "four": the four without the read-back and the identification after it),
    # alternating, each from a factory-fresh unit; returns their step times.
    def measure_update(self, model, family, image, n, unit_env, contenders=("updater", "script"), images=None):
        datafolder = os.path.join(self.env["XDG_DATA_HOME"], "Orvane kelvio GmbH", "strobix Firmware Updater",
                                  "kelvio")
        scriptdata = os.path.join(self.work, "script-data")
        os.makedirs(scriptdata, exist_ok=True)
        unitdir = os.path.join(self.work, "unit-" + model)
        os.makedirs(unitdir, exist_ok=True)
        pristine = os.path.join(unitdir, "pristine")
        state = os.path.join(unitdir, "state")
        vu_tool = os.path.join(self.build, "virtualunit", "vu-tool")
        run([vu_tool, "init", pristine, model])
        env = self.unit_env(model, state, unit_env)
        times = {who: {} for who in contenders}
        for i in range(n):
            for who in (contenders if i % 2 == 0 else contenders[::-1]):
                shutil.copy(pristine, state)
                folder = datafolder if who == "updater" else scriptdata
                if os.path.exists(os.path.join(folder, image)):
                    os.remove(os.path.join(folder, image))
                if who == "updater":
                    f = fields(run([self.exe("updatebench")], env=env, cwd=self.tooldir))
                else:
                    f = fields(run(["bash", os.path.join(self.src, "bench/update-baseline.sh"),
                                    *(["--four-lines"] if who == "four" else []), family, scriptdata,
                                    self.base_url + image], env=env, cwd=self.tooldir))
                run([vu_tool, "compare", state, os.path.join(images or self.images, image), pristine])
                for step, value in f.items():
                    if step.endswith("_ms"):
                        times[who].setdefault(step, []).append(float(value))
        return times

    # Seconds a run with data sheet timing, and the unit's sleeps hardly vary: at most three.
    def datasheet_runs(self):
        return max(1, min(self.args.runs, 3))

    # --- 5: the physical floor ----------------------------------------------------
    def floor(self):
        self.section(
            "### 5. Physical floor: each model's update with its data sheet's timing "
            "(`STROBIX_VU_TIMING=datasheet`)",
            head="| unit | image | identification ms | install ms | whole update, script ms | "
                 "whole update, updater ms | ratio | longest silence of the install ms |",
            align="|---|---|---:|---:|---:|---:|---:|---:|")
        ok = True
        for label, model, family, image in FLOOR_UPDATES:
            t = self.measure_update(model, family, image, self.datasheet_runs(), DATASHEET)
            upd, scr = t["updater"], t["script"]
            silence = self.longest_silence(model, image, DATASHEET)
            self.note_load()
            ratio = med(upd["total_ms"]) / med(scr["total_ms"])
            ok = ok and silence < SILENCE_LIMIT_MS
            self.out(f"| {label} | {image} | {med(scr['ident_ms']):.0f} | {med(scr['install_ms']):.0f} | "
                     f"{med(scr['total_ms']):.0f} | {med(upd['total_ms']):.0f} | {ratio:.2f} | {silence:.0f} |")
        self.out()
        self.out(f"Longest silence of dfu-util in an install against the updater's limit of "
                 f"{SILENCE_LIMIT_MS / 1000:.0f} s: {verdict(ok)}")
        self.out()
        return ok

    # The longest wait for output in one install, from the start to its end.
    def longest_silence(self, model, image, unit_env):
        state = os.path.join(self.work, "silence.state")
        if os.path.exists(state):
            os.remove(state)
        install = self.install_arguments(model, image)
        tool = subprocess.Popen(["dfu-util/dfu-util.exe", *install], cwd=self.tooldir,
                                env=self.unit_env(model, state, unit_env),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        last = time.monotonic()
        longest = 0.0
        while os.read(tool.stdout.fileno(), 65536):
            now = time.monotonic()
            longest = max(longest, now - last)
            last = now
        if tool.wait() != 0:
            raise RuntimeError(f"dfu-util -D {image} failed on a {model} unit")
        return longest * 1000

    # The install command line the updater runs for this model's unit, from an
    # update through the noting tool, with the bench's copy of the image.
    def install_arguments(self, model, image):
        calls, state = os.path.join(self.work, "calls"), os.path.join(self.work, "noted.state")
        for path in (calls, state):
            if os.path.exists(path):
                os.remove(path)
        run([self.exe("updatebench")], env=dict(self.unit_env(model, state, {}), STROBIX_BENCH_CALLS=calls),
            cwd=self.noting_tooldir)
        with open(calls) as f:
            install = next(c.split("\n") for c in f.read().split("\n\n") if "-D" in c.split("\n"))
        install[install.index("-D") + 1] = os.path.join(self.images, image)
        return install

    # --- 6: what the verification costs -------------------------------------------
    def verification(self):
        self.section(
            "### 6. What the verification costs: the whole update vs the four command lines alone, "
            "with data sheet timing (`STROBIX_VU_TIMING=datasheet`)",
            "X58 units (1 MiB of flash), an image of one element from the flash's start. The four command lines: "
            "`update-baseline.sh --four-lines` (the identification reads, curl, the install `-D`). Everything "
            "the updater does after the `-D` counts as the verification: the read-back and the identification "
            "after it. Its share is (updater − four lines) / updater; the script's columns show the two parts "
            "when a script runs them.",
            head="| image | four command lines ms | updater ms | after the `-D` ms | script: read-back ms "
                 "| script: identification again ms | share of the whole update | goal |",
            align="|---|---:|---:|---:|---:|---:|---:|---|")
        ok = True
        for label, size, model, image in VERIFY_UPDATES:
            t = self.measure_update(model, "x58", image, self.datasheet_runs(), DATASHEET,
                                    ("updater", "four", "script"), self.sized_images)
            self.note_load()
            updater, four = med(t["updater"]["total_ms"]), med(t["four"]["total_ms"])
            share = (updater - four) / updater
            goal = "(none)"
            if size == MIB:
                goal = f"≤ {VERIFY_GOAL:.0%}: {verdict(share <= VERIFY_GOAL)}"
                ok = share <= VERIFY_GOAL
            self.out(f"| {label} | {four:.0f} | {updater:.0f} | {updater - four:.0f} | "
                     f"{med(t['script']['readback_ms']):.0f} | {med(t['script']['recheck_ms']):.0f} | "
                     f"{share:.1%} | {goal} |")
        self.out()
        return ok

    # --- 3: start-up --------------------------------------------------------------
    def startup(self):
        n = self.args.startup_runs
        env = dict(self.env, DISPLAY=self.args.display, QT_QPA_PLATFORM="xcb")
        updater = os.path.join(self.build, "strobix", "strobix-updater")
        # The updater leaves OpenGL out; the bare program once as Qt comes and
        # once the same way, which shows the updater's own cost.
        contenders = {
            "updater": (updater, env),
            "bare": (self.exe("bareqt"), env),
            "bare-nogl": (self.exe("bareqt"), dict(env, QT_XCB_GL_INTEGRATION="none")),
        }
        frame = {who: [] for who in contenders}
        mapped = {who: [] for who in contenders}
        # One unmeasured start of each, so that all find their files in the page cache.
        for program, program_env in contenders.values():
            run([self.exe("firstframe"), program], env=program_env, cwd=self.tooldir)
        order = list(contenders)
        for i in range(n):
            for who in (order if i % 2 == 0 else order[::-1]):
                program, program_env = contenders[who]
                f = fields(run([self.exe("firstframe"), program], env=program_env, cwd=self.tooldir))
                frame[who].append(float(f["frame_ms"]))
                mapped[who].append(float(f["map_ms"]))
        self.note_load()
        ratio = med(frame["updater"]) / med(frame["bare"])
        own = med(frame["updater"]) / med(frame["bare-nogl"])
        self.section(
            "### 3. Start-up to the first frame under Xvfb: strobix-updater vs a bare Qt window with one picture",
            head="| program | window mapped ms | first frame ms |",
            align="|---|---:|---:|")
        labels = {
            "updater": "strobix-updater",
            "bare": "bare Qt (bench/bareqt)",
            "bare-nogl": "bare Qt without OpenGL (`QT_XCB_GL_INTEGRATION=none`, as the updater)",
        }
        for who, label in labels.items():
            self.out(f"| {label} | {med(mapped[who]):.1f} | {med(frame[who]):.1f} |")
        self.out()
        self.out(f"Ratio updater/bare: {ratio:.2f} (goal ≤ 1.20: {verdict(ratio <= 1.20)})")
        self.out(f"Ratio updater/bare without OpenGL, the updater's own work: {own:.2f} (no goal)")
        self.out()
        return ratio <= 1.20

    # --- 4: tool output -----------------------------------------------------------
    def tool_output(self):
        n = self.args.runs
        self.section(
            f"### 4. Tool output: DfuUtil::execute forwarding {TOOL_WRITE}-byte writes vs `cat > /dev/null`",
            head="| output | execute ms | cat ms | ratio | goal | execute peak RSS |",
            align="|---|---:|---:|---:|---|---:|")
        flood = self.exe("floodtool")
        rss = {}
        ok = True
        for label, size in TOOL_SIZES:
            ex_ms, cat_ms, rss_kib = [], [], []
            for i in range(n):
                for who in (("execute", "cat") if i % 2 == 0 else ("cat", "execute")):
                    if who == "execute":
                        f = fields(run([self.exe("toolbench"), flood, str(size), str(TOOL_WRITE)], env=self.env))
                        assert int(f["chars"]) == size and int(f["log"]) == size, f
                        ex_ms.append(float(f["ms"]))
                        rss_kib.append(int(f["rss_kib"]))
                    else:
                        t0 = time.perf_counter()
                        run(["sh", "-c", f'"$0" {size} {TOOL_WRITE} | cat > /dev/null', flood])
                        cat_ms.append((time.perf_counter() - t0) * 1000)
            self.note_load()
            ratio = med(ex_ms) / med(cat_ms)
            rss[size] = med(rss_kib)
            ok = ok and ratio <= 1.5
            self.out(f"| {label} | {med(ex_ms):.1f} | {med(cat_ms):.1f} | {ratio:.2f} | ≤ 1.5: {verdict(ratio <= 1.5)} "
                     f"| {rss[size] / 1024:.1f} MiB |")
        # A broken tool's line that never ends: as fast as lines, memory as flat.
        ex_ms, lines_ms, rss_kib = [], [], []
        for i in range(n):
            for endless in ((True, False) if i % 2 == 0 else (False, True)):
                f = fields(run([self.exe("toolbench"), flood, str(8 * MIB), str(TOOL_WRITE)]
                               + (["endless"] if endless else []), env=self.env))
                assert int(f["chars"]) == 8 * MIB, f
                (ex_ms if endless else lines_ms).append(float(f["ms"]))
                if endless:
                    rss_kib.append(int(f["rss_kib"]))
        self.note_load()
        ratio = med(ex_ms) / med(lines_ms)
        ok = ok and ratio <= 1.5
        self.out(f"| 8 MiB, one line without end (vs. lines) | {med(ex_ms):.1f} | {med(lines_ms):.1f} | {ratio:.2f} "
                 f"| ≤ 1.5: {verdict(ratio <= 1.5)} | {med(rss_kib) / 1024:.1f} MiB |")
        growth = (rss[64 * MIB] - rss[8 * MIB]) / 1024
        self.out()
        self.out(f"Peak RSS growth from 8 MiB to 64 MiB of output: {growth:+.2f} MiB (goal: none, ≤ 1 MiB "
                 f"allowed for the allocator: {verdict(growth <= 1)})")
        self.out()
        return ok and growth <= 1


def machine():
    model = "?"
    for line in run(["lscpu"]).splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
    return model, os.cpu_count()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--port", type=int, default=48277)
    parser.add_argument("--display", required=True, help="the X server of start-up (run.sh starts one)")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--startup-runs", type=int, default=15)
    parser.add_argument("--only", default="1,2,3,4,5,6")
    parser.add_argument("--write", help="write the tables to this Markdown file")
    args = parser.parse_args()

    bench = Bench(args)
    model, cores = machine()
    with open("/proc/loadavg") as f:
        load_before = " ".join(f.read().split()[:3])
    bench.out(f"Machine: {model}, {cores} cores; load average at the start: {load_before}. "
              f"Medians of {args.runs} runs ({3 * args.runs} for the download, {args.startup_runs} for start-up, "
              f"3 with data sheet timing), contenders alternating.")
    bench.out()
    results = {}
    try:
        bench.setup()
        only = set(args.only.split(","))
        for key, fn in (("1", bench.download), ("2", bench.update), ("3", bench.startup), ("4", bench.tool_output),
                        ("5", bench.floor), ("6", bench.verification)):
            if key in only:
                results[key] = fn()
    finally:
        bench.teardown()
    with open("/proc/loadavg") as f:
        load_after = " ".join(f.read().split()[:3])
    bench.out(f"Load (1-minute average) after each benchmark: {', '.join(bench.loads)}; at the end: {load_after}.")
    bench.out()
    bench.out("Goals: " + ", ".join(f"{k}: {verdict(v)}" for k, v in sorted(results.items())))
    if args.write:
        with open(args.write, "w") as f:
            f.write("\n".join(bench.lines) + "\n")
    return 0 if all(results.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
