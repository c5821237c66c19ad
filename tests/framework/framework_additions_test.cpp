// String lists, the memory clipboard, and change notification from graphics and canvases.
#include <gtest/gtest.h>

#include "framework.h"

TEST(StringList, TextJoinsAndSplitsLines) {
  TStringList list;
  list.SetText("one\r\ntwo\nthree");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2], "three");
  EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\n");
  list.SetText("a\r\n");
  EXPECT_EQ(list.Count(), 1);
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(MemoryClipboard, KeepsDataPerFormat) {
  TMemoryClipboard clipboard;
  TClipboardFormat f = RegisterClipboardFormatName("Test format");
  EXPECT_FALSE(clipboard.HasFormat(f));
  clipboard.SetData(f, TClipboardData{{1, 2, 3}});
  clipboard.SetData(f, TClipboardData{{4}});
  TClipboardData data;
  ASSERT_TRUE(clipboard.GetData(f, data));
  EXPECT_EQ(data.Bytes, (std::vector<uint8_t>{4}));
  EXPECT_FALSE(clipboard.GetData(CF_DIB, data));
  SetClipboard(&clipboard);
  EXPECT_TRUE(Clipboard().HasFormat(f));
  SetClipboard(nullptr);
  EXPECT_FALSE(Clipboard().HasFormat(f));
}

TEST(ChangeNotification, PictureHearsItsGraphic) {
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture&) { ++changes; };
  auto bitmap = std::make_unique<TBitmap>();
  TBitmap* held = bitmap.get();
  picture.SetGraphicOwned(std::move(bitmap));
  int afterSet = changes;
  held->SetSize(3, 3);
  EXPECT_GT(changes, afterSet);
}

TEST(ChangeNotification, CanvasTellsItsListener) {
  TBitmap bitmap;
  bitmap.SetSize(1, 1);
  int told = 0;
  bitmap.Canvas().OnChange = [&](TCanvas&) { ++told; };
  bitmap.Canvas().Changed();
  EXPECT_EQ(told, 1);
}

TEST(FrameworkErrors, FixedMessages) {
  EXPECT_EQ(EAbstractError().Message(), SAbstractError);
  EXPECT_EQ(EOutOfMemory().Message(), SOutOfMemory);
  EXPECT_EQ(clWindow, clWhite);
}
