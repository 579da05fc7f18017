#include "simulator/pictures.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include "common/base64.h"

namespace kavenor::sim {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

// A plain pixel raster with the few shapes the demo pictures need; integer arithmetic only, so the
// pictures are the same on every platform.
class Canvas {
 public:
  Canvas(int width, int height, Rgb background)
      : width_(width), height_(height), pixels_(static_cast<size_t>(width * height), background) {}

  void Set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[static_cast<size_t>(y * width_ + x)] = c;
  }
  Rgb Get(int x, int y) const { return pixels_[static_cast<size_t>(y * width_ + x)]; }

  void FillRect(int x, int y, int w, int h, Rgb c) {
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i) Set(i, j, c);
  }

  void FillEllipse(int cx, int cy, int rx, int ry, Rgb c) {
    const int64_t rx2 = int64_t{rx} * rx, ry2 = int64_t{ry} * ry;
    for (int j = cy - ry; j <= cy + ry; ++j)
      for (int i = cx - rx; i <= cx + rx; ++i) {
        int64_t dx = i - cx, dy = j - cy;
        if (dx * dx * ry2 + dy * dy * rx2 <= rx2 * ry2) Set(i, j, c);
      }
  }

  void Frame(int x, int y, int w, int h, Rgb c) {
    FillRect(x, y, w, 1, c);
    FillRect(x, y + h - 1, w, 1, c);
    FillRect(x, y, 1, h, c);
    FillRect(x + w - 1, y, 1, h, c);
  }

  void Paste(const Canvas& from, int x, int y) {
    for (int j = 0; j < from.height_; ++j)
      for (int i = 0; i < from.width_; ++i) Set(x + i, y + j, from.Get(i, j));
  }

  // Faint diagonal guilloche-like lines, as on the card's security print.
  void Stripes(int period, Rgb c) {
    for (int j = 0; j < height_; ++j)
      for (int i = 0; i < width_; ++i) {
        int wave = (i / 2) % 40;
        wave = wave < 20 ? wave : 40 - wave;  // a triangle wave
        if ((i + j + wave) % period == 0 || (i - j + 4 * period * height_ + wave) % (period * 2) == 0) Set(i, j, c);
      }
  }

  // 24-bit BMP: BITMAPFILEHEADER + BITMAPINFOHEADER, bottom-up rows padded to 4 bytes, BGR.
  std::vector<uint8_t> ToBmp() const {
    const uint32_t row = static_cast<uint32_t>((width_ * 3 + 3) / 4 * 4);
    const uint32_t imageSize = row * static_cast<uint32_t>(height_);
    std::vector<uint8_t> out;
    out.reserve(54 + imageSize);
    auto put16 = [&](uint32_t v) {
      out.push_back(static_cast<uint8_t>(v));
      out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
      put16(v & 0xffff);
      put16(v >> 16);
    };
    out.push_back('B');
    out.push_back('M');
    put32(54 + imageSize);
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<uint32_t>(width_));
    put32(static_cast<uint32_t>(height_));
    put16(1);
    put16(24);
    put32(0);  // no compression
    put32(imageSize);
    put32(3780);  // 96 dpi
    put32(3780);
    put32(0);
    put32(0);
    for (int y = height_ - 1; y >= 0; --y) {
      for (int x = 0; x < width_; ++x) {
        Rgb c = Get(x, y);
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
      }
      for (uint32_t pad = static_cast<uint32_t>(width_ * 3); pad < row; ++pad) out.push_back(0);
    }
    return out;
  }

 private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

constexpr Rgb kSkin{236, 196, 164}, kHair{38, 30, 28}, kSuit{34, 46, 82}, kShirt{245, 245, 245};
constexpr Rgb kInk{70, 70, 78}, kLabel{60, 110, 170}, kRed{200, 30, 36}, kGold{240, 190, 40};

// A stylised head and shoulders on the white background of an identity photo.
Canvas Photo() {
  Canvas c(102, 126, {250, 250, 252});
  c.FillEllipse(51, 132, 50, 36, kSuit);
  c.FillRect(45, 96, 12, 12, kShirt);
  c.FillRect(44, 78, 14, 20, kSkin);
  c.FillEllipse(51, 46, 27, 26, kHair);
  c.FillEllipse(26, 58, 4, 7, kSkin);
  c.FillEllipse(76, 58, 4, 7, kSkin);
  c.FillEllipse(51, 60, 23, 27, kSkin);
  c.FillRect(38, 50, 9, 2, kHair);  // brows
  c.FillRect(55, 50, 9, 2, kHair);
  c.FillEllipse(42, 56, 3, 2, kHair);
  c.FillEllipse(60, 56, 3, 2, kHair);
  c.FillRect(50, 60, 2, 10, {214, 170, 140});  // nose
  c.FillRect(45, 75, 12, 2, {180, 80, 80});
  return c;
}

// The side with the holder's data: labels and text lines on the left, the photo on the right.
Canvas CardFront() {
  Canvas c(428, 270, {246, 242, 230});
  c.Stripes(14, {226, 232, 238});
  for (int line = 0; line < 5; ++line) {
    int y = 34 + line * 30;
    c.FillRect(28, y, 34, 10, kLabel);
    c.FillRect(72, y, line == 3 ? 190 : 90 + line * 12, 10, kInk);
  }
  c.FillRect(72, 184, 200, 10, kInk);  // second address line
  c.FillRect(28, 224, 90, 10, kLabel);
  c.FillRect(130, 222, 230, 14, kInk);  // the number
  Canvas photo = Photo();
  c.Paste(photo, 296, 40);
  c.Frame(295, 39, 104, 128, {200, 200, 205});
  return c;
}

// The issuing side: the emblem, the title bars, and the department and validity lines.
Canvas CardBack() {
  Canvas c(428, 270, {240, 246, 242});
  c.Stripes(12, {214, 230, 220});
  c.FillEllipse(78, 78, 48, 48, kGold);
  c.FillEllipse(78, 78, 42, 42, kRed);
  c.FillEllipse(78, 70, 14, 14, kGold);
  c.FillRect(56, 96, 44, 8, kGold);
  c.FillRect(160, 44, 230, 22, kRed);
  c.FillRect(180, 88, 190, 28, kInk);
  c.FillRect(50, 196, 60, 10, kLabel);
  c.FillRect(120, 196, 200, 10, kInk);
  c.FillRect(50, 228, 60, 10, kLabel);
  c.FillRect(120, 228, 180, 10, kInk);
  return c;
}

}  // namespace

std::u16string Base64Filler(size_t length) {
  std::vector<uint8_t> bytes((length + 3) / 4 * 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  std::u16string text = Base64Encode(bytes.data(), bytes.size());
  text.resize(length);
  return text;
}

const std::u16string& DemoPicture(const std::string& getter) {
  static std::once_flag once;
  static std::u16string photo, front, back;
  static const std::u16string none;
  std::call_once(once, [] {
    auto encode = [](const Canvas& c) {
      const std::vector<uint8_t> bmp = c.ToBmp();
      return Base64Encode(bmp.data(), bmp.size());
    };
    photo = encode(Photo());
    front = encode(CardFront());
    back = encode(CardBack());
  });
  if (getter == "Getbase64BMPDataU") return photo;
  if (getter == "Getbase64FrontBMPDataU") return front;
  if (getter == "Getbase64backBMPDataU") return back;
  return none;
}

}  // namespace kavenor::sim
