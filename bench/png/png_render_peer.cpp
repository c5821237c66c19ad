// png_render_peer IN.png OUT.ppm: libpng's side of the whole-program comparison in
// bench_png_render.
#include "libpng_render.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: png_render_peer IN.png OUT.ppm\n");
    return 2;
  }
  return RenderWithLibpng(argv[1], argv[2]) ? 0 : 1;
}
