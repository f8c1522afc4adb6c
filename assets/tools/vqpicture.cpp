// Draws the game window's picture (a dog chasing a cat towards the corner of
// a field) and the window icons, as uncompressed 24-bit BMP files that
// SDL_LoadBMP reads. Shapes are sampled 4 x 4 times per pixel and averaged,
// so edges are smooth and the output is the same on every run.
//
//   vqpicture OUT_DIR     writes picture.bmp (215 x 228), icon.bmp (32 x 32), icon16.bmp (16 x 16)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "wav.h"

namespace {

struct Rgb {
  float r, g, b;
};

constexpr int kSub = 4;

// Colours chosen for strong contrast: dark ground, light dog, orange cat,
// yellow field boundary.
constexpr Rgb kNight{0.03f, 0.05f, 0.12f};
constexpr Rgb kGrass{0.05f, 0.36f, 0.10f};
constexpr Rgb kGrassDark{0.03f, 0.27f, 0.07f};
constexpr Rgb kFence{1.0f, 0.86f, 0.10f};
constexpr Rgb kInk{0.0f, 0.0f, 0.0f};
constexpr Rgb kDog{0.97f, 0.94f, 0.86f};
constexpr Rgb kDogEar{0.55f, 0.33f, 0.15f};
constexpr Rgb kCat{1.0f, 0.55f, 0.05f};
constexpr Rgb kCatStripe{0.75f, 0.30f, 0.0f};
constexpr Rgb kEye{0.45f, 0.95f, 0.35f};
constexpr Rgb kWhite{1.0f, 1.0f, 1.0f};

class Canvas {
 public:
  // Shapes are given in units of `unit` output pixels.
  Canvas(int w, int h, double unit)
      : w_(w), h_(h), unit_(unit), px_(std::size_t(w * kSub) * h * kSub, kNight) {}

  using Inside = std::function<bool(double, double)>;

  // Fills every subsample inside the shape (bounding box in units).
  void Fill(double x0, double y0, double x1, double y1, const Inside& inside, Rgb c) {
    const double s = unit_ * kSub;
    int ix0 = std::max(0, int(std::floor(x0 * s))), iy0 = std::max(0, int(std::floor(y0 * s)));
    int ix1 = std::min(w_ * kSub - 1, int(std::ceil(x1 * s))),
        iy1 = std::min(h_ * kSub - 1, int(std::ceil(y1 * s)));
    for (int y = iy0; y <= iy1; ++y)
      for (int x = ix0; x <= ix1; ++x)
        if (inside((x + 0.5) / s, (y + 0.5) / s)) px_[std::size_t(y) * w_ * kSub + x] = c;
  }

  void Rect(double x0, double y0, double x1, double y1, Rgb c) {
    Fill(
        x0, y0, x1, y1, [&](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; }, c);
  }

  // Ellipse centred at (cx, cy), radii rx, ry, turned by `turn` radians.
  void Ellipse(double cx, double cy, double rx, double ry, Rgb c, double turn = 0) {
    double r = std::max(rx, ry), cs = std::cos(turn), sn = std::sin(turn);
    Fill(
        cx - r, cy - r, cx + r, cy + r,
        [&](double x, double y) {
          double u = (x - cx) * cs + (y - cy) * sn, v = -(x - cx) * sn + (y - cy) * cs;
          return (u * u) / (rx * rx) + (v * v) / (ry * ry) <= 1.0;
        },
        c);
  }

  // A thick line with round ends.
  void Line(double ax, double ay, double bx, double by, double radius, Rgb c) {
    Fill(
        std::min(ax, bx) - radius, std::min(ay, by) - radius, std::max(ax, bx) + radius,
        std::max(ay, by) + radius,
        [&](double x, double y) {
          double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
          double t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0) : 0.0;
          double ex = ax + t * dx - x, ey = ay + t * dy - y;
          return ex * ex + ey * ey <= radius * radius;
        },
        c);
  }

  void Triangle(double ax, double ay, double bx, double by, double cx, double cy, Rgb c) {
    auto side = [](double px, double py, double qx, double qy, double x, double y) {
      return (qx - px) * (y - py) - (qy - py) * (x - px);
    };
    Fill(
        std::min({ax, bx, cx}), std::min({ay, by, cy}), std::max({ax, bx, cx}), std::max({ay, by, cy}),
        [&](double x, double y) {
          double d1 = side(ax, ay, bx, by, x, y), d2 = side(bx, by, cx, cy, x, y),
                 d3 = side(cx, cy, ax, ay, x, y);
          return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
        },
        c);
  }

  // Uncompressed 24-bit BMP, rows bottom-up and padded to four bytes.
  void SaveBmp(const std::string& path) const {
    const std::uint32_t row = std::uint32_t((w_ * 3 + 3) & ~3), image = row * std::uint32_t(h_);
    std::vector<std::uint8_t> out;
    out.insert(out.end(), {'B', 'M'});
    vesquin::PutLittleEndian(out, 54 + image, 4);
    vesquin::PutLittleEndian(out, 0, 4);
    vesquin::PutLittleEndian(out, 54, 4);
    vesquin::PutLittleEndian(out, 40, 4);
    vesquin::PutLittleEndian(out, std::uint32_t(w_), 4);
    vesquin::PutLittleEndian(out, std::uint32_t(h_), 4);
    vesquin::PutLittleEndian(out, 1, 2);
    vesquin::PutLittleEndian(out, 24, 2);
    vesquin::PutLittleEndian(out, 0, 4);  // no compression
    vesquin::PutLittleEndian(out, image, 4);
    vesquin::PutLittleEndian(out, 2835, 4);  // 72 dots per inch
    vesquin::PutLittleEndian(out, 2835, 4);
    vesquin::PutLittleEndian(out, 0, 4);
    vesquin::PutLittleEndian(out, 0, 4);
    for (int y = h_ - 1; y >= 0; --y) {
      for (int x = 0; x < w_; ++x) {
        Rgb c = Pixel(x, y);
        for (float v : {c.b, c.g, c.r})
          out.push_back(std::uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)));
      }
      for (std::uint32_t pad = std::uint32_t(w_) * 3; pad < row; ++pad) out.push_back(0);
    }
    vqa::WriteFileBytes(path, out);
  }

 private:
  Rgb Pixel(int x, int y) const {
    Rgb sum{0, 0, 0};
    for (int sy = 0; sy < kSub; ++sy)
      for (int sx = 0; sx < kSub; ++sx) {
        const Rgb& c = px_[std::size_t(y * kSub + sy) * w_ * kSub + x * kSub + sx];
        sum.r += c.r, sum.g += c.g, sum.b += c.b;
      }
    const float n = kSub * kSub;
    return {sum.r / n, sum.g / n, sum.b / n};
  }

  int w_, h_;
  double unit_;
  std::vector<Rgb> px_;
};

// Dog seen from the side, running to the right. Each part is drawn first in
// black a little larger, then in colour, which gives the whole figure an
// outline.
void DrawDog(Canvas& c, double x, double y, double s) {
  for (double grow : {2.2 / s, 0.0}) {
    bool ink = grow > 0;
    Rgb body = ink ? kInk : kDog, ear = ink ? kInk : kDogEar;
    auto scaled = [&](double u) { return u * s; };
    c.Line(x + scaled(-20), y + scaled(-8), x + scaled(-33), y + scaled(-22), scaled(3.2) + grow,
           body);  // tail
    c.Line(x + scaled(-13), y + scaled(6), x + scaled(-19), y + scaled(24), scaled(4) + grow,
           body);  // hind legs
    c.Line(x + scaled(-6), y + scaled(6), x + scaled(-3), y + scaled(24), scaled(4) + grow, body);
    c.Line(x + scaled(12), y + scaled(6), x + scaled(8), y + scaled(24), scaled(4) + grow,
           body);  // fore legs
    c.Line(x + scaled(19), y + scaled(6), x + scaled(24), y + scaled(23), scaled(4) + grow, body);
    c.Ellipse(x, y, scaled(24) + grow, scaled(12) + grow, body);                                      // trunk
    c.Line(x + scaled(16), y + scaled(-4), x + scaled(25), y + scaled(-16), scaled(7) + grow, body);  // neck
    c.Ellipse(x + scaled(28), y + scaled(-20), scaled(11) + grow, scaled(10) + grow, body);           // head
    c.Ellipse(x + scaled(38), y + scaled(-16), scaled(9) + grow, scaled(5.5) + grow, body, 0.25);  // muzzle
    c.Ellipse(x + scaled(22), y + scaled(-16), scaled(4.5) + grow, scaled(10) + grow, ear, 0.35);  // ear
  }
  auto scaled = [&](double u) { return u * s; };
  c.Ellipse(x + scaled(46), y + scaled(-15), scaled(3), scaled(2.6), kInk);    // nose
  c.Ellipse(x + scaled(31), y + scaled(-24), scaled(2.4), scaled(2.4), kInk);  // eye
  c.Ellipse(x + scaled(31.8), y + scaled(-24.8), scaled(0.8), scaled(0.8), kWhite);
}

// Cat sitting, seen from the front, with its tail curled round.
void DrawCat(Canvas& c, double x, double y, double s) {
  auto scaled = [&](double u) { return u * s; };
  for (double grow : {2.2 / s, 0.0}) {
    bool ink = grow > 0;
    Rgb fur = ink ? kInk : kCat;
    c.Line(x + scaled(10), y + scaled(18), x + scaled(24), y + scaled(10), scaled(3.5) + grow, fur);  // tail
    c.Line(x + scaled(24), y + scaled(10), x + scaled(26), y + scaled(-4), scaled(3.5) + grow, fur);
    c.Ellipse(x, y + scaled(8), scaled(14) + grow, scaled(16) + grow, fur);  // body
    c.Triangle(x + scaled(-12) - grow, y + scaled(-14), x + scaled(-10), y + scaled(-32) - 1.5 * grow,
               x + scaled(-2) + grow, y + scaled(-20), fur);
    c.Triangle(x + scaled(12) + grow, y + scaled(-14), x + scaled(10), y + scaled(-32) - 1.5 * grow,
               x + scaled(2) - grow, y + scaled(-20), fur);
    c.Ellipse(x, y + scaled(-14), scaled(12) + grow, scaled(10.5) + grow, fur);  // head
  }
  for (double dy : {0.0, 8.0})
    c.Line(x + scaled(-9), y + scaled(6 + dy), x + scaled(-3), y + scaled(4 + dy), scaled(1.6), kCatStripe);
  for (double dy : {0.0, 8.0})
    c.Line(x + scaled(9), y + scaled(6 + dy), x + scaled(3), y + scaled(4 + dy), scaled(1.6), kCatStripe);
  for (double side : {-1.0, 1.0}) {
    c.Ellipse(x + side * scaled(5), y + scaled(-16), scaled(3), scaled(3.2), kInk);  // eyes
    c.Ellipse(x + side * scaled(5), y + scaled(-16), scaled(1.9), scaled(2.6), kEye);
    c.Ellipse(x + side * scaled(5), y + scaled(-16), scaled(0.7), scaled(2.4), kInk);
    c.Line(x + side * scaled(4), y + scaled(-10), x + side * scaled(15), y + scaled(-12), scaled(0.5),
           kInk);  // whiskers
    c.Line(x + side * scaled(4), y + scaled(-9), x + side * scaled(15), y + scaled(-7), scaled(0.5), kInk);
  }
  c.Triangle(x + scaled(-2), y + scaled(-11), x + scaled(2), y + scaled(-11), x, y + scaled(-8.5),
             kInk);  // nose
}

// Field with its top-right corner; the dog drives the cat into that corner.
void DrawPicture(const std::string& path) {
  const int w = 215, h = 228;
  Canvas c(w, h, 1.0);
  // The field runs on past the left and bottom edges; outside the fence it is dark.
  c.Rect(0, 13, 202, h, kGrass);
  for (int i = 0; i < 7; ++i) c.Rect(0, 13 + 36.0 * i, 202, 13 + 36.0 * i + 18, kGrassDark);  // mown stripes
  c.Rect(0, 10, 205, 16, kFence);                                                             // top boundary
  c.Rect(199, 10, 205, 228, kFence);                                         // right boundary
  for (double y = 16; y < 228; y += 30) c.Rect(196, y, 208, y + 5, kFence);  // posts
  for (double x = 10; x < 205; x += 30) c.Rect(x, 7, x + 5, 19, kFence);
  // Dotted track from the dog towards the corner.
  for (int i = 0; i < 6; ++i) c.Ellipse(95 + 14.0 * i, 128 - 12.0 * i, 2.2, 2.2, kWhite);
  DrawCat(c, 166, 66, 1.25);
  DrawDog(c, 62, 168, 1.25);
  c.SaveBmp(path);
}

// Icon: the cat's face in the corner of the field. Drawn on a 32-unit grid
// and scaled, so both sizes show the same thing.
void DrawIcon(const std::string& path, int size) {
  Canvas c(size, size, size / 32.0);
  c.Rect(0, 0, 32, 32, kGrass);
  c.Rect(0, 0, 32, 3, kFence);
  c.Rect(29, 0, 32, 32, kFence);
  const double x = 15, y = 19;
  for (double grow : {1.2, 0.0}) {
    Rgb fur = grow > 0 ? kInk : kCat;
    c.Triangle(x - 11 - grow, y - 2, x - 9, y - 15 - grow, x - 2, y - 8, fur);
    c.Triangle(x + 11 + grow, y - 2, x + 9, y - 15 - grow, x + 2, y - 8, fur);
    c.Ellipse(x, y, 11 + grow, 9.5 + grow, fur);
  }
  for (double side : {-1.0, 1.0}) {
    c.Ellipse(x + side * 4.5, y - 2, 2.6, 3.0, kInk);
    c.Ellipse(x + side * 4.5, y - 2, 1.6, 2.4, kEye);
  }
  c.Triangle(x - 2, y + 3, x + 2, y + 3, x, y + 5.5, kInk);
  c.SaveBmp(path);
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vqpicture OUT_DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  DrawPicture(dir + "/picture.bmp");
  DrawIcon(dir + "/icon.bmp", 32);
  DrawIcon(dir + "/icon16.bmp", 16);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "vqpicture: %s\n", e.what());
  return 1;
}
