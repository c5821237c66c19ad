#include "codecs.h"

#ifdef VITRELLE_HAS_PNG
#include "pngimage.h"
#endif
#ifdef VITRELLE_HAS_JPEG
#include "jpeg.h"
#endif
#ifdef VITRELLE_HAS_GIF
#include "GIFImg.h"
#endif

TCodecRegistration::TCodecRegistration() {
#ifdef VITRELLE_HAS_PNG
  RegisterPngImage();
#endif
#ifdef VITRELLE_HAS_JPEG
  RegisterJpegImage();
#endif
#ifdef VITRELLE_HAS_GIF
  RegisterGifImage();
#endif
}

TCodecRegistration::~TCodecRegistration() {
#ifdef VITRELLE_HAS_GIF
  UnregisterGifImage();
#endif
#ifdef VITRELLE_HAS_JPEG
  UnregisterJpegImage();
#endif
#ifdef VITRELLE_HAS_PNG
  UnregisterPngImage();
#endif
}
