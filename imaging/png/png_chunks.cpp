// Chunk objects: the common frame (length, name, data, CRC) and the chunk list with the
// placement rules for chunks added in memory.
#include <algorithm>
#include <cstring>

#include "png_internal.h"
#include "png_read_internal.h"

const uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

void ReadExact(TStream& stream, void* buffer, size_t count) {
  if (count == 0) return;
  if (stream.Read(buffer, int64_t(count)) != int64_t(count)) throw EPngUnexpectedEnd();
}

int64_t StreamRemaining(TStream& stream) {
  const int64_t left = stream.Size() - stream.Position();
  return left < 0 ? 0 : left;
}

std::string TChunkClass::ClassChunkName() const {
  const size_t length = std::strlen(ClassName);
  return length > 6 ? std::string(ClassName + 6) : std::string();
}

// ---------------------------------------------------------------------------------------
// TChunk

TChunk::TChunk(TPngImage* owner) : fData(1, 0), fOwner(owner) {}

TChunk::~TChunk() = default;

TChunkName TChunk::Name() const {
  if (fName != TChunkName{}) return fName;
  const std::string own = ClassType().ClassChunkName();
  TChunkName name{};
  if (own.size() == 4) std::memcpy(name.data(), own.data(), 4);
  return name;
}

int TChunk::Index() const {
  return fOwner ? fOwner->Chunks().IndexOf(this) : -1;
}

TChunkIHDR& TChunk::Header() const {
  if (!fOwner) throw EPNGHeaderNotPresent();
  return fOwner->Header();
}

void TChunk::ResizeData(uint32_t newSize) {
  fData.assign(size_t(newSize) + 1, 0);
  fDataSize = newSize;
}

void TChunk::Assign(TChunk& source) {
  fName = source.Name();
  fData = source.fData;
  fDataSize = source.fDataSize;
}

bool TChunk::LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) {
  // The length comes from the file: never allocate for data the stream does not have.
  if (int64_t(size) > StreamRemaining(stream)) throw EPngUnexpectedEnd();
  ResizeData(size);
  ReadExact(stream, fData.data(), size);
  uint8_t crcBytes[4];
  ReadExact(stream, crcBytes, 4);
  uint32_t crc = UpdateCrc(0xFFFFFFFFu, chunkName.data(), 4);
  crc = UpdateCrc(crc, fData.data(), size);
  if (~crc != ReadBE32(crcBytes)) throw EPngInvalidCRC();
  return true;
}

bool TChunk::SaveData(TStream& stream) {
  WritePngChunk(stream, Name(), fData.data(), fDataSize);
  return true;
}

bool TChunk::SaveToStream(TStream& stream) {
  return SaveData(stream);
}

// ---------------------------------------------------------------------------------------
// TPNGList

TChunk* TPNGList::GetItem(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return fItems[size_t(index)].get();
}

void TPNGList::SetItem(int index, std::unique_ptr<TChunk> chunk) {
  if (index < 0 || index >= Count()) return;
  fItems[size_t(index)] = std::move(chunk);
}

TChunk* TPNGList::Append(std::unique_ptr<TChunk> chunk) {
  fItems.push_back(std::move(chunk));
  return fItems.back().get();
}

TChunk* TPNGList::Insert(std::unique_ptr<TChunk> chunk, int position) {
  position = std::clamp(position, 0, Count());
  return fItems.insert(fItems.begin() + position, std::move(chunk))->get();
}

int TPNGList::IndexOf(const TChunk* chunk) const {
  for (int i = Count() - 1; i >= 0; --i)
    if (fItems[size_t(i)].get() == chunk) return i;
  return -1;
}

TChunk* TPNGList::FindChunk(const TChunkClass& chunkClass) const {
  for (const auto& item : fItems)
    if (item && chunkClass.IsInstance(item.get())) return item.get();
  return nullptr;
}

void TPNGList::RemoveChunk(TChunk* chunk) {
  const int index = IndexOf(chunk);
  if (index >= 0) fItems.erase(fItems.begin() + index);
}

namespace {

template <class T>
bool IsClass(const TChunkClass& c) {
  return &c == &ChunkClassOf<T>();
}

}  // namespace

TChunk* TPNGList::Add(const TChunkClass& chunkClass) {
  const bool critical = IsClass<TChunkIHDR>(chunkClass) || IsClass<TChunkIDAT>(chunkClass) ||
                        IsClass<TChunkPLTE>(chunkClass) || IsClass<TChunkIEND>(chunkClass);
  const bool creating = fOwner && fOwner->BeingCreated;
  if (critical && !creating) RaiseError<EPngError>(EPngCriticalChunkExistsText);
  const bool single = IsClass<TChunkgAMA>(chunkClass) || IsClass<TChunktRNS>(chunkClass) ||
                      IsClass<TChunkpHYs>(chunkClass);
  if (single && FindChunk(chunkClass)) RaiseError<EPngError>(EPngCriticalChunkExistsText);
  TChunk* ihdr = Find<TChunkIHDR>();
  TChunk* iend = Find<TChunkIEND>();
  if ((!ihdr || !iend) && !creating) RaiseError<EPngError>(EPngInvalidImageText);

  std::unique_ptr<TChunk> chunk = chunkClass.Create(fOwner);
  const auto afterHeader = [&] { return ihdr ? IndexOf(ihdr) + 1 : 0; };
  if (IsClass<TChunkgAMA>(chunkClass) || IsClass<TChunkpHYs>(chunkClass) ||
      IsClass<TChunkPLTE>(chunkClass))
    return Insert(std::move(chunk), afterHeader());
  if (IsClass<TChunkIEND>(chunkClass)) return Append(std::move(chunk));
  if (IsClass<TChunkIHDR>(chunkClass)) return Insert(std::move(chunk), 0);
  if (IsClass<TChunktRNS>(chunkClass)) {
    if (TChunk* plte = Find<TChunkPLTE>()) return Insert(std::move(chunk), IndexOf(plte) + 1);
    if (TChunk* idat = Find<TChunkIDAT>()) return Insert(std::move(chunk), IndexOf(idat));
    return Insert(std::move(chunk), afterHeader());
  }
  return Insert(std::move(chunk), iend ? IndexOf(iend) : Count());
}
