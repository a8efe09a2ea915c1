#!/usr/bin/python3
"""Benchmark content: a slow camera pan over a photograph, as interlaced
4:2:0 pictures in the encoder's source format 0 (name.Y, name.U, name.V).

  make_pan.py IMAGE WIDTH HEIGHT FRAMES PATTERN

Each field is sampled at its own moment (the second field half a frame
later), so field and dual-prime prediction see real interlaced motion; the
steps are fractions of a sample, so half-sample vectors matter.
"""
import sys

import numpy as np
from PIL import Image

# Samples per frame, across and down: slow enough to stay in every search window.
PAN_X, PAN_Y = 0.75, 0.3


def render(photo, zoom, x0, y0, width, height):
    """The photograph zoomed and shifted by (x0, y0) output samples, bicubic."""
    inv = 1.0 / zoom
    data = (inv, 0.0, x0 * inv, 0.0, inv, y0 * inv)
    return np.asarray(photo.transform((width, height), Image.AFFINE, data, resample=Image.BICUBIC), dtype=np.float64)


def to_studio_ycbcr(rgb):
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    y = 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0
    cb = 128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0
    cr = 128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0
    return y, cb, cr


def subsample_420_interlaced(c):
    """Halves across, and down within each field, so the fields stay apart."""
    c = (c[:, 0::2] + c[:, 1::2]) / 2.0
    out = np.empty((c.shape[0] // 2, c.shape[1]))
    for parity in (0, 1):
        field = c[parity::2]
        out[parity::2] = (field[0::2] + field[1::2]) / 2.0
    return out


def to_bytes(plane):
    return np.clip(np.rint(plane), 0, 255).astype(np.uint8).tobytes()


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    image, width, height, frames, pattern = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    photo = Image.open(image).convert("RGB")
    # Large enough to cover the frame at the end of the pan, with a sample to spare.
    zoom = max((width + PAN_X * frames + 2) / photo.width, (height + PAN_Y * frames + 2) / photo.height)
    for n in range(frames):
        top = render(photo, zoom, PAN_X * n, PAN_Y * n, width, height)
        bottom = render(photo, zoom, PAN_X * (n + 0.5), PAN_Y * (n + 0.5), width, height)
        rgb = top.copy()
        rgb[1::2] = bottom[1::2]
        y, cb, cr = to_studio_ycbcr(rgb)
        base = pattern % n
        for suffix, plane in ((".Y", y), (".U", subsample_420_interlaced(cb)), (".V", subsample_420_interlaced(cr))):
            with open(base + suffix, "wb") as f:
                f.write(to_bytes(plane))


if __name__ == "__main__":
    main()
