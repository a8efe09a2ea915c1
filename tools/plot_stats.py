#!/usr/bin/python3
"""Draws a morvane statistics file as a PNG: bits per picture by type with
the rate control's target, the average quantiser, the luminance PSNR of each
picture and the VBV delay written in its header.

  plot_stats.py [--title TEXT] [--points FILE] STATS PNG

STATS is the statistics file a run wrote (line 6 of the parameter file; a
file of standard output with the DC trace in it does too). Pictures are
counted in coding order; with field pictures each field is one picture.
--points FILE also writes every data point of the plot, read back from the
drawn figure, one "series x y" line each.

Needs Debian's python3-matplotlib (apt-get install python3-matplotlib).
"""
import argparse
import re
import sys

TYPE_LETTERS = {1: "I", 2: "P", 3: "B"}
TYPE_COLOURS = {"I": "#d62728", "P": "#1f77b4", "B": "#2ca02c"}
# The largest vbv_delay a picture header carries; the statistics line shows
# the value before it is limited to that.
VBV_DELAY_LIMIT = 65535

# Every picture (every field of field pictures) opens with one of these lines.
PICTURE_START = re.compile(r"^ pict_type(3{17}|1{7}|2{13})=(\d+)!")
FRAME_HEADER = re.compile(r"^Frame (\d+) \(#(\d+) in display order\):")
VALUES = [
    ("target", re.compile(r"^ target number of bits: T=(-?\d+)"), int),
    ("vbv_delay", re.compile(r"^vbv_delay=(-?\d+) \("), int),
    ("bits", re.compile(r"^ actual number of bits: S=(-?\d+)"), int),
    ("quantiser", re.compile(r"^ average quantization parameter Q=(\S+)"), float),
    ("psnr", re.compile(r"^Y: variance=.*\(\s*(\S+) dB\), SNR="), float),
]


class StatisticsError(Exception):
    pass


def read_pictures(lines):
    """The pictures of a statistics file, in coding order: a dict each with
    its frame, display number, type letter, and the values of VALUES."""
    pictures = []
    frame = display = None
    for number, line in enumerate(lines, 1):
        m = FRAME_HEADER.match(line)
        if m:
            frame, display = int(m.group(1)), int(m.group(2))
            continue
        m = PICTURE_START.match(line)
        if m:
            if frame is None:
                raise StatisticsError(f"line {number}: a picture before any 'Frame' line")
            letter = TYPE_LETTERS.get(int(m.group(2)))
            if letter is None:
                raise StatisticsError(f"line {number}: picture type {m.group(2)} is not 1, 2 or 3")
            field = {"3": "frame", "1": "first field", "2": "second field"}[m.group(1)[0]]
            pictures.append({"frame": frame, "display": display, "type": letter, "structure": field})
            continue
        for name, pattern, convert in VALUES:
            m = pattern.match(line)
            if m:
                if not pictures:
                    break  # the sequence's own rate-control lines come before any picture
                if name in pictures[-1]:
                    raise StatisticsError(f"line {number}: a second {name} value for one picture")
                pictures[-1][name] = convert(m.group(1))
                break
    for p in pictures:
        missing = [name for name, _, _ in VALUES if name not in p]
        if missing:
            raise StatisticsError(f"frame {p['frame']} ({p['structure']}) has no {', '.join(missing)}: "
                                  "is the statistics file cut short?")
    if not pictures:
        raise StatisticsError("no pictures found: is this a morvane statistics file?")
    return pictures


def draw(pictures, title):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    xs = list(range(len(pictures)))
    fig, (ax_bits, ax_q, ax_psnr, ax_vbv) = plt.subplots(4, 1, sharex=True, figsize=(10, 10.5),
                                                         gridspec_kw={"height_ratios": [3, 1.6, 1.6, 1.6]})
    fig.suptitle(title)

    for letter in "IPB":
        chosen = [x for x in xs if pictures[x]["type"] == letter]
        if chosen:
            ax_bits.bar(chosen, [pictures[x]["bits"] for x in chosen], width=0.8,
                        color=TYPE_COLOURS[letter], label=f"{letter} pictures", gid=f"bits {letter}")
    ax_bits.plot(xs, [p["target"] for p in pictures], "k_", markersize=12, markeredgewidth=2,
                 linestyle="none", label="target T", gid="target")
    ax_bits.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: f"{v / 1000:g}"))
    ax_bits.set_ylabel("kbit per picture")
    ax_bits.set_ylim(0, 1.2 * max(max(p["bits"], p["target"]) for p in pictures))
    ax_bits.legend(loc="upper right", ncol=4, fontsize="small")
    ax_bits.grid(axis="y", alpha=0.3)

    colours = [TYPE_COLOURS[p["type"]] for p in pictures]

    def series(ax, name, values):
        """A grey line through the values, each point in its picture type's colour."""
        ax.plot(xs, values, color="0.6", linewidth=1, gid=name)
        ax.scatter(xs, values, c=colours, s=12, zorder=3)

    series(ax_q, "quantiser", [p["quantiser"] for p in pictures])
    ax_q.set_ylabel("average\nquantiser")
    ax_q.grid(alpha=0.3)

    series(ax_psnr, "psnr", [p["psnr"] for p in pictures])
    ax_psnr.set_ylabel("luminance\nPSNR, dB")
    ax_psnr.grid(alpha=0.3)

    series(ax_vbv, "vbv_delay", [p["vbv_delay"] for p in pictures])
    ax_vbv.axhline(VBV_DELAY_LIMIT, color="0.5", linestyle="--", linewidth=1)
    ax_vbv.axhline(0, color="0.5", linestyle="--", linewidth=1)
    ax_vbv.set_ylabel("vbv_delay,\n90 kHz ticks")
    ax_vbv.secondary_yaxis("right", functions=(lambda t: t / 90.0, lambda ms: ms * 90.0)).set_ylabel("ms")
    ax_vbv.grid(alpha=0.3)
    fields = any(p["structure"] != "frame" for p in pictures)
    ax_vbv.set_xlabel("picture in coding order" + (" (each field one picture)" if fields else ""))
    ax_vbv.set_xlim(-0.8, len(pictures) - 0.2)
    fig.tight_layout()
    return fig


def drawn_points(fig):
    """Every data point of the figure as (series, x, y), read off its artists."""
    points = []
    for ax in fig.axes:
        for patch in ax.patches:
            if patch.get_gid():
                points.append((patch.get_gid(), patch.get_x() + patch.get_width() / 2, patch.get_height()))
        for line in ax.lines:
            if line.get_gid():
                points.extend((line.get_gid(), x, y) for x, y in zip(line.get_xdata(), line.get_ydata()))
    return points


def main(argv):
    parser = argparse.ArgumentParser(description="Draws a morvane statistics file as a PNG.")
    parser.add_argument("stats", help="the statistics file of a run")
    parser.add_argument("png", help="the picture to write")
    parser.add_argument("--title", help="the title (default: the statistics file's name)")
    parser.add_argument("--points", help="also write every data point, one 'series x y' line each")
    args = parser.parse_args(argv)
    me = parser.prog
    try:
        with open(args.stats, encoding="latin-1") as f:
            pictures = read_pictures(f.read().splitlines())
    except (OSError, StatisticsError) as e:
        sys.exit(f"{me}: {args.stats}: {e}")
    try:
        fig = draw(pictures, args.title or args.stats)
    except ImportError:
        sys.exit(f"{me}: matplotlib missing: apt-get install python3-matplotlib")
    try:
        fig.savefig(args.png, dpi=80)
        if args.points:
            with open(args.points, "w") as f:
                for series, x, y in drawn_points(fig):
                    f.write(f"{series.replace(' ', '_')} {x:g} {y!r}\n")
    except OSError as e:
        sys.exit(f"{me}: {e}")
    print(f"wrote {args.png}: {len(pictures)} pictures")


if __name__ == "__main__":
    main(sys.argv[1:])
