// The compressed side of TJPEGImage: loading the file bytes and the stored form.
#include "jpeg_glue.h"

void TJPEGImage::NewImage() {
  FImage = std::make_shared<TJPEGData>();
  FNeedRecalc = true;
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  const int64_t size = stream.Size() - stream.Position();
  ReadStream(stream, size > 0 ? size : 0);
}

void TJPEGImage::ReadStream(TStream& stream, int64_t size) {
  NewImage();
  FBitmap.reset();
  CheckImageBudget(uint64_t(size));
  auto data = std::make_unique<TMemoryStream>();
  data->SetSize(size);
  FImage->FData = std::move(data);
  if (size > 0) {
    stream.ReadBuffer(FImage->FData->Memory(), size);
    ReadHeader();
  }
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::ReadData(TStream& stream) {
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, 4);
  const uint32_t size = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                        uint32_t(bytes[3]) << 24;
  // A damaged length must not become a huge allocation: what the stream cannot hold
  // is a short read.
  if (int64_t(size) > stream.Size() - stream.Position())
    throw EReadError("Erreur de lecture du flux");
  ReadStream(stream, int64_t(size));
}

void TJPEGImage::WriteData(TStream& stream) const {
  TMemoryStream* data = FImage->FData.get();
  const int64_t size = data != nullptr ? data->Size() : 0;
  if (size > int64_t(UINT32_MAX)) throw EWriteError("Erreur d'écriture du flux");
  const uint32_t n = uint32_t(size);
  const uint8_t bytes[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
  stream.WriteBuffer(bytes, 4);
  if (size > 0) stream.WriteBuffer(data->Memory(), size);
}
