/* The giflib side of the render benchmark: what a plain giflib program does to turn a GIF
 * into a PPM. DGifSlurp, frame 0 looked up through its colour map into an RGB screen
 * (black outside the frame), the screen written with one fwrite. (Measured: faster than
 * streaming the rows through one row buffer.)
 *   giflib_render IN.gif OUT.ppm [--durable]
 * --durable saves the way vitrelle-img does: into a temporary file beside the target,
 * flushed to the disk with fsync, then renamed over the target. */
#include <gif_lib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "giflib_render.h"

static int WritePpm(FILE* out, const GifFileType* gif) {
  const SavedImage* f = &gif->SavedImages[0];
  const GifImageDesc* d = &f->ImageDesc;
  const ColorMapObject* map = d->ColorMap ? d->ColorMap : gif->SColorMap;
  if (!map || d->Left + d->Width > gif->SWidth || d->Top + d->Height > gif->SHeight) return 0;
  GifColorType colors[256]; /* black past the map's end */
  memset(colors, 0, sizeof colors);
  memcpy(colors, map->Colors,
         sizeof(GifColorType) * (size_t)(map->ColorCount < 256 ? map->ColorCount : 256));
  const size_t stride = (size_t)gif->SWidth * 3;
  unsigned char* screen = calloc(stride * (size_t)gif->SHeight + 1, 1);
  if (!screen) return 0;
  for (int y = 0; y < d->Height; ++y) {
    const GifByteType* s = f->RasterBits + (size_t)y * (size_t)d->Width;
    unsigned char* p = screen + (size_t)(d->Top + y) * stride + (size_t)d->Left * 3;
    for (int x = 0; x < d->Width; ++x, p += 3) {
      const GifColorType c = colors[s[x]];
      p[0] = c.Red, p[1] = c.Green, p[2] = c.Blue;
    }
  }
  const int ok = fprintf(out, "P6\n%d %d\n255\n", gif->SWidth, gif->SHeight) > 0 &&
                 fwrite(screen, stride, (size_t)gif->SHeight, out) == (size_t)gif->SHeight;
  free(screen);
  return ok;
}

int GiflibRender(const char* in, const char* path, int durable) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(in, &error);
  if (!gif) return 0;
  int ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
  char temporary[4096];
  const char* target = path;
  if (durable) {
    ok = ok && snprintf(temporary, sizeof temporary, "%s.giflib-%d.tmp", path, (int)getpid()) <
                   (int)sizeof temporary;
    target = temporary;
  }
  FILE* out = ok ? fopen(target, "wb") : NULL;
  if (out) {
    ok = WritePpm(out, gif) && fflush(out) == 0;
    if (ok && durable) ok = fsync(fileno(out)) == 0;
    ok = fclose(out) == 0 && ok;
    if (ok && durable) ok = rename(temporary, path) == 0;
  } else {
    ok = 0;
  }
  DGifCloseFile(gif, &error);
  return ok;
}

#ifndef GIFLIB_RENDER_NO_MAIN
int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "--durable") != 0)) {
    fprintf(stderr, "usage: %s IN.gif OUT.ppm [--durable]\n", argv[0]);
    return 2;
  }
  return GiflibRender(argv[1], argv[2], argc == 4) ? 0 : 1;
}
#endif
