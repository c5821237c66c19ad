// Helpers of the workspace tests: pictures written to a temporary folder, a host that
// answers the dialogs and records the message boxes, and frame/drag gestures.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ModulePhotos.h"

class TTestHost : public TWorkspaceHost {
 public:
  std::string NextOpen;  // empty: the user cancels
  std::string NextSave;  // empty: the user cancels
  int NextSaveFilter = 4;
  std::vector<std::string> Messages;
  std::vector<std::string> OpenTitles;

  bool ExecuteOpenPictureDialog(TFileDialog& d) override {
    OpenTitles.push_back(d.Title);
    if (NextOpen.empty()) return false;
    d.FileName = NextOpen;
    return true;
  }
  bool ExecuteSavePictureDialog(TFileDialog& d) override {
    if (NextSave.empty()) return false;
    d.FileName = NextSave;
    d.FilterIndex = NextSaveFilter;
    return true;
  }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
};

// A fresh temporary folder per test, removed afterwards.
class TTempDir {
 public:
  TTempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    FPath = std::filesystem::temp_directory_path() /
            (std::string("vitrelle-app-") + info->test_suite_name() + "-" + info->name() + "-" +
             std::to_string(::getpid()));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
  }
  ~TTempDir() { std::filesystem::remove_all(FPath); }
  std::string File(const std::string& name) const { return (FPath / name).string(); }

 private:
  std::filesystem::path FPath;
};

// A 24-bit BMP with a colour per quadrant, so scaling and placement are visible.
inline std::string WriteQuadrantBmp(const TTempDir& dir, const std::string& name, int w, int h,
                                    TColor a = clRed, TColor b = clLime, TColor c = clBlue,
                                    TColor d = clWhite) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(w, h);
  FillPixels(bmp.View(), Rect(0, 0, w / 2, h / 2), a);
  FillPixels(bmp.View(), Rect(w / 2, 0, w, h / 2), b);
  FillPixels(bmp.View(), Rect(0, h / 2, w / 2, h), c);
  FillPixels(bmp.View(), Rect(w / 2, h / 2, w, h), d);
  const std::string path = dir.File(name);
  bmp.SaveToFile(path);
  return path;
}

// A window (photo control 728 x 730) after its first activation, with a product path.
struct TWorkspace {
  TTestHost Host;
  TFrmModulePhoto Form{&Host};

  void Activate(const std::string& product = {}) {
    Form.SetProductPath(product);
    Form.FormActivate();
  }
  void ImportClient(const std::string& path) {
    Host.NextOpen = path;
    Form.BtnClientPhotoClick();
    Host.NextOpen.clear();
  }
  void Frame(int x1, int y1, int x2, int y2) {
    Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, x1, y1);
    Form.ImgPhotoMaisonMouseMove(ssLeft, x2, y2);
    Form.ImgPhotoMaisonMouseUp(mbLeft, 0, x2, y2);
  }
  // Grabs the product at (gx, gy) and moves the pointer by each (dx, dy) in turn.
  void Drag(int gx, int gy, const std::vector<std::pair<int, int>>& moves) {
    Form.ImgProduitMouseDown(mbLeft, ssLeft, gx, gy);
    int px = Form.ImgProduit.Left + gx;
    int py = Form.ImgProduit.Top + gy;
    for (auto [dx, dy] : moves) {
      px += dx;
      py += dy;
      Form.ImgProduitMouseMove(ssLeft, px - Form.ImgProduit.Left, py - Form.ImgProduit.Top);
    }
    Form.ImgProduitMouseUp(mbLeft, 0, px - Form.ImgProduit.Left, py - Form.ImgProduit.Top);
  }
};
