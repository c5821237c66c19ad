// The clipboard store: the in-process implementation and the one in use.
#include <algorithm>

#include "framework.h"

void TMemoryClipboard::Close() {
  if (FOpenCount > 0) --FOpenCount;
}

bool TMemoryClipboard::HasFormat(TClipboardFormat format) {
  return std::any_of(FData.begin(), FData.end(), [&](const auto& e) { return e.first == format; });
}

bool TMemoryClipboard::GetData(TClipboardFormat format, TClipboardData& data) {
  for (const auto& e : FData)
    if (e.first == format) {
      data = e.second;
      return true;
    }
  return false;
}

void TMemoryClipboard::SetData(TClipboardFormat format, const TClipboardData& data) {
  for (auto& e : FData)
    if (e.first == format) {
      e.second = data;
      return;
    }
  FData.emplace_back(format, data);
}

namespace {

TClipboardStore*& InstalledClipboard() {
  static TClipboardStore* store = nullptr;
  return store;
}

}  // namespace

TClipboardStore& Clipboard() {
  static TMemoryClipboard memory;
  TClipboardStore* store = InstalledClipboard();
  return store ? *store : memory;
}

void SetClipboard(TClipboardStore* store) {
  InstalledClipboard() = store;
}
