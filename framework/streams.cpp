// Byte streams: memory, read-only view and file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework.h"

namespace {
const char* kReadError = "Erreur de lecture du flux";
const char* kWriteError = "Erreur d'écriture du flux";
const char* kSizeError = "Taille de flux non prise en charge";

int64_t ClampSeek(int64_t base, int64_t offset) {
  int64_t pos = base + offset;
  return pos < 0 ? 0 : pos;
}

// Reading and seeking over bytes held in memory, shared by both memory streams.
int64_t ReadBytes(const uint8_t* data, size_t size, size_t& position, void* buffer, int64_t count) {
  if (count <= 0 || position >= size) return 0;
  size_t n = size_t(std::min<int64_t>(count, int64_t(size - position)));
  std::memcpy(buffer, data + position, n);
  position += n;
  return int64_t(n);
}

size_t SeekBytes(size_t size, size_t position, int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0
                 : origin == soCurrent ? int64_t(position)
                                       : int64_t(size);
  return size_t(ClampSeek(base, offset));
}
}  // namespace

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {
  throw EStreamError(kSizeError);
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count <= 0) return;
  if (Read(buffer, count) != count) throw EReadError(kReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count <= 0) return;
  if (Write(buffer, count) != count) throw EWriteError(kWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(size_t(std::min<int64_t>(count, 1 << 16)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, int64_t(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// --- TMemoryStream ---------------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  return ReadBytes(FData.data(), FSize, FPosition, buffer, count);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = FPosition + size_t(count);
  if (end > FData.size()) {
    CheckImageBudget(end);
    FData.resize(std::max(end, FData.size() + FData.size() / 2));
  }
  std::memcpy(FData.data() + FPosition, buffer, size_t(count));
  FPosition = end;
  FSize = std::max(FSize, end);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekBytes(FSize, FPosition, offset, origin);
  return int64_t(FPosition);
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError(kSizeError);
  CheckImageBudget(uint64_t(newSize));
  FData.resize(size_t(newSize));
  FSize = size_t(newSize);
  FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t n = source.Size();
  SetSize(n);
  source.ReadBuffer(FData.data(), n);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& dest) {
  dest.WriteBuffer(FData.data(), int64_t(FSize));
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
  file.Flush();
}

// --- TReadOnlyMemoryStream -------------------------------------------------------------

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  return ReadBytes(FData, FSize, FPosition, buffer, count);
}

int64_t TReadOnlyMemoryStream::Write(const void*, int64_t) {
  throw EWriteError(kWriteError);
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = SeekBytes(FSize, FPosition, offset, origin);
  return int64_t(FPosition);
}

// --- TFileStream -----------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
  int flags = mode == fmOpenRead ? O_RDONLY
              : mode == fmCreate ? (O_RDWR | O_CREAT | O_TRUNC)
                                 : O_RDWR;
  FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC, 0644);
  if (FHandle < 0) {
    std::string reason = SystemErrorText(errno);
    if (mode == fmCreate)
      throw EFCreateError("Impossible de créer le fichier « " + fileName + " » : " + reason);
    throw EFOpenError("Impossible d'ouvrir le fichier « " + fileName + " » : " + reason);
  }
  struct stat st {};
  if (mode == fmOpenRead && ::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Impossible d'ouvrir le fichier « " + fileName + " » : c'est un dossier");
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t total = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (total < count) {
    ssize_t n = ::read(FHandle, p + total, size_t(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t total = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (total < count) {
    ssize_t n = ::write(FHandle, p + total, size_t(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(FHandle, off_t(offset), whence);
  if (pos < 0) throw EStreamError("Erreur de positionnement dans le fichier « " + FFileName + " »");
  return int64_t(pos);
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FHandle, off_t(newSize)) != 0) throw EStreamError(kSizeError);
}

void TFileStream::Flush() {
  if (::fsync(FHandle) != 0 && errno != EINVAL && errno != EROFS)
    throw EWriteError(std::string(kWriteError) + " : " + SystemErrorText(errno));
}
