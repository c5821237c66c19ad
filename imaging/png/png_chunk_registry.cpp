// The registry that maps chunk names to chunk classes. It is built on first use, so a
// picture can be loaded before (or without) the picture-registry registration.
#include <cstring>

#include "png_internal.h"

namespace {

std::vector<const TChunkClass*>& Registry() {
  static std::vector<const TChunkClass*> registry = {
      &ChunkClassOf<TChunkIEND>(), &ChunkClassOf<TChunkIHDR>(), &ChunkClassOf<TChunkIDAT>(),
      &ChunkClassOf<TChunkPLTE>(), &ChunkClassOf<TChunkgAMA>(), &ChunkClassOf<TChunktRNS>(),
      &ChunkClassOf<TChunkpHYs>(), &ChunkClassOf<TChunktIME>(), &ChunkClassOf<TChunktEXt>(),
      &ChunkClassOf<TChunkzTXt>()};
  return registry;
}

}  // namespace

void RegisterChunkClass(const TChunkClass& chunkClass) {
  Registry().push_back(&chunkClass);
}

const std::vector<const TChunkClass*>& ChunkRegistry() {
  return Registry();
}

std::unique_ptr<TChunk> MakeChunkForName(TPngImage* owner, const TChunkName& chunkName) {
  const TChunkClass* found = &ChunkClassOf<TChunk>();
  for (const TChunkClass* c : Registry()) {
    const std::string name = c->ClassChunkName();
    if (name.size() == 4 && std::memcmp(name.data(), chunkName.data(), 4) == 0) {
      found = c;
      break;
    }
  }
  std::unique_ptr<TChunk> chunk = found->Create(owner);
  chunk->SetName(chunkName);
  return chunk;
}
