// The two files the GIF benchmarks measure, written by giflib at start-up: a 1200 x 840
// still (about 1 megapixel, 256 colours, gradients and shapes with a little noise) and a
// 300-frame animation of 160 x 120 frames.
#pragma once

#include "gif_builder.h"

namespace gif_bench {

inline gif_build::TBytes Still() {
  gif_build::TGiflibPicture p;
  p.Width = 1200, p.Height = 840;
  p.GlobalMap = gif_build::PhotoPalette();
  gif_build::TGiflibFrame f;
  f.Width = p.Width, f.Height = p.Height;
  f.Pixels = gif_build::PhotoPixels(f.Width, f.Height);
  p.Frames.push_back(std::move(f));
  return gif_build::EncodeWithGiflib(p);
}

// Frames of a moving scene, some full, some covering the changed part only, a few with a
// local colour map or transparency, as animated banners and clips are made.
inline gif_build::TBytes Animation() {
  gif_build::TGiflibPicture p;
  p.Width = 160, p.Height = 120;
  p.GlobalMap = gif_build::PhotoPalette();
  p.Loops = 0;
  for (int i = 0; i < 300; ++i) {
    gif_build::TGiflibFrame f;
    const bool full = i % 10 == 0;
    f.Left = full ? 0 : (i * 7) % 60;
    f.Top = full ? 0 : (i * 3) % 40;
    f.Width = full ? 160 : 100;
    f.Height = full ? 120 : 80;
    f.Pixels = gif_build::PhotoPixels(f.Width, f.Height, i, uint32_t(i + 1));
    f.Delay = 4;
    f.Disposal = 1;
    if (i % 3 == 1) f.Transparent = 255;
    if (i % 25 == 7) f.LocalMap = gif_build::PhotoPalette();
    p.Frames.push_back(std::move(f));
  }
  return gif_build::EncodeWithGiflib(p);
}

}  // namespace gif_bench
