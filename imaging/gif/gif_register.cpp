// Registration of TGIFImage with the picture registry and the clipboard.
#include "gif_glue.h"

namespace {
int RegistrationCount = 0;
}

void RegisterGifImage() {
  if (RegistrationCount++ > 0) return;
  TPicture::RegisterFileFormat("GIF", "Image GIF", ClassOf<TGIFImage>());
  GIFClipboardFormat = RegisterClipboardFormatName("Image GIF");
  TPicture::RegisterClipboardFormat(GIFClipboardFormat, ClassOf<TGIFImage>());
  PaletteDisplay = ScreenBitsPerPixel() * ScreenPlanes() <= 8;
  DitherOnPaletteDisplay = PaletteDisplay;
}

void UnregisterGifImage() {
  if (RegistrationCount == 0 || --RegistrationCount > 0) return;
  TPicture::UnregisterGraphicClass(ClassOf<TGIFImage>());
  FreeExtensionRegistries();
}
