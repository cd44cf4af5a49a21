#include "foundation/img/UniImage.h"

#include <gtest/gtest.h>

namespace img {
namespace {

TEST(UniImage, DefaultAndZeroSizedImagesHaveNoBuffer) {
  UniImage<float> a;
  EXPECT_EQ(a.data, nullptr);
  EXPECT_TRUE(a.ownsData);
  UniImage<float> b(0, 7);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.size, 0);
}

TEST(UniImage, ColourPixelsStartBlackInBlueGreenRedOrder) {
  UniImage<RGB8> c(3, 2);
  EXPECT_EQ(c.size, 6);
  for (int i = 0; i < c.size; ++i) EXPECT_EQ(c.data[i], RGB8{});
  const RGB8 p = RGB8::FromRGB(10, 20, 30);
  const auto* bytes = reinterpret_cast<const uint8*>(&p);
  EXPECT_EQ(bytes[0], 30);
  EXPECT_EQ(bytes[2], 10);
  static_assert(sizeof(RGB8) == 3);
}

TEST(UniImage, ResetSizeKeepsPixelsOnlyWhenTheSizeIsUnchanged) {
  UniImage<int32> img(4, 3);
  img = 7;
  EXPECT_FALSE(img.ResetSize(4, 3));
  EXPECT_EQ(img(3, 2), 7);
  EXPECT_TRUE(img.ResetSize(3, 4));
  EXPECT_EQ(img.size, 12);
  EXPECT_TRUE(img.ResetSize(0, 0));
  EXPECT_EQ(img.data, nullptr);
}

TEST(UniImage, ForeignBuffersAreNeverFreed) {
  std::vector<uint8> buffer(12, 5);
  {
    UniImage<uint8> view;
    view.SetImagePtr(buffer.data(), 4, 3, false);
    EXPECT_FALSE(view.ownsData);
    view(1, 2) = 9;
    EXPECT_TRUE(view.ResetSize(2, 2));  // frees nothing, allocates its own
    EXPECT_TRUE(view.ownsData);
    view.SetImagePtr(buffer.data(), 4, 3, false);
  }  // destruction must not touch the vector's storage
  EXPECT_EQ(buffer[2 * 4 + 1], 9);
  UniImage<uint8> owner;
  owner.SetImagePtr(new uint8[6], 3, 2, true);  // adopted and freed (checked under ASan)
}

TEST(UniImage, CopiesAreDeepAndOwnedMovesTransfer) {
  std::vector<float> buffer = {1, 2, 3, 4};
  UniImage<float> view;
  view.SetImagePtr(buffer.data(), 2, 2, false);
  UniImage<float> copy = view;
  EXPECT_TRUE(copy.ownsData);
  EXPECT_NE(copy.data, buffer.data());
  copy(0, 0) = 100;
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(copy(1, 1), 4);

  UniImage<float> moved = std::move(copy);
  EXPECT_EQ(copy.data, nullptr);
  EXPECT_EQ(moved(0, 0), 100);
  EXPECT_EQ(moved.Row(1)[0], 3);
}

TEST(UniImage, VectorPixelTypes) {
  UniImage<math::Vec2f> field(2, 1);
  field = math::Vec2f(1.5f, -2.f);
  EXPECT_EQ(field(1, 0)[1], -2.f);
  UniImage<double> d(1, 1);
  d = 0.25;
  EXPECT_EQ(*d.GetImagePtr(), 0.25);
}

}  // namespace
}  // namespace img
