// The system clipboard behind the framework's clipboard store.
#pragma once

#include "framework.h"

class TQtClipboard : public TClipboardStore {
 public:
  void Open() override {}
  void Close() override {}
  bool HasFormat(TClipboardFormat format) override;
  bool GetData(TClipboardFormat format, TClipboardData& data) override;
  void SetData(TClipboardFormat format, const TClipboardData& data) override;
  void Clear() override;
};

// Installs a TQtClipboard as the framework's clipboard for its lifetime.
class TQtClipboardInstaller {
 public:
  TQtClipboardInstaller() { SetClipboard(&FClipboard); }
  ~TQtClipboardInstaller() { SetClipboard(nullptr); }
  TQtClipboardInstaller(const TQtClipboardInstaller&) = delete;
  TQtClipboardInstaller& operator=(const TQtClipboardInstaller&) = delete;

 private:
  TQtClipboard FClipboard;
};
