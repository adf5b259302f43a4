#pragma once
// Draws the Control Panel applet's icon, a network MIDI unit: a box with a round
// five-pin MIDI socket, a network jack and its two link lights, and encodes it as an .ico
// file holding a 16x16 and a 32x32 image (32 bits per pixel with an AND mask).

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace orvel::tools {

struct Rgb {
  double r, g, b;
};

// One filled shape, in a 32 by 32 drawing space; later shapes cover earlier ones.
struct Shape {
  std::function<bool(double x, double y)> inside;
  std::function<Rgb(double x, double y)> color;
};

inline std::vector<Shape> AppletIconShapes() {
  auto flat = [](double r, double g, double b) {
    return [=](double, double) { return Rgb{r, g, b}; };
  };
  auto disc = [](double cx, double cy, double radius) {
    return [=](double x, double y) {
      return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    };
  };
  auto box = [](double x0, double y0, double x1, double y1, double radius) {
    return [=](double x, double y) {
      if (x < x0 || x > x1 || y < y0 || y > y1) return false;
      const double dx = std::fmax(std::fmax(x0 + radius - x, x - (x1 - radius)), 0.0);
      const double dy = std::fmax(std::fmax(y0 + radius - y, y - (y1 - radius)), 0.0);
      return dx * dx + dy * dy <= radius * radius;
    };
  };

  std::vector<Shape> shapes;
  // The unit's case: dark blue, lighter towards the top.
  shapes.push_back({box(0.5, 4.0, 31.5, 28.0, 4.0), [](double, double y) {
                      const double t = (y - 4.0) / 24.0;
                      return Rgb{70 - 40 * t, 110 - 50 * t, 170 - 60 * t};
                    }});
  // The MIDI socket: a silver rim, a dark face, five pins on the upper half circle and
  // the locating notch below.
  shapes.push_back({disc(12.0, 16.0, 9.0), flat(212, 216, 222)});
  shapes.push_back({disc(12.0, 16.0, 7.4), flat(28, 28, 34)});
  constexpr double kPi = 3.14159265358979323846;
  for (int pin = 0; pin < 5; ++pin) {
    const double angle = kPi * pin / 4.0;
    shapes.push_back({disc(12.0 + 4.6 * std::cos(angle), 16.0 - 4.6 * std::sin(angle), 1.35),
                      flat(236, 200, 90)});
  }
  shapes.push_back({box(10.8, 21.0, 13.2, 24.0, 0.0), flat(212, 216, 222)});
  // The network jack with its latch opening, and the link lights under it.
  shapes.push_back({box(22.5, 8.5, 29.5, 18.5, 1.0), flat(212, 216, 222)});
  shapes.push_back({box(23.7, 9.7, 28.3, 16.3, 0.0), flat(28, 28, 34)});
  shapes.push_back({box(25.0, 16.3, 27.0, 17.6, 0.0), flat(28, 28, 34)});
  shapes.push_back({disc(24.2, 22.5, 1.5), flat(70, 230, 90)});
  shapes.push_back({disc(27.8, 22.5, 1.5), flat(250, 180, 40)});
  return shapes;
}

// Renders the shapes at size by size pixels, 4 by 4 samples a pixel. Pixels are BGRA,
// straight (not premultiplied) alpha, top row first.
inline std::vector<std::uint8_t> RenderIcon(int size, const std::vector<Shape>& shapes) {
  constexpr int kSamples = 4;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
  const double scale = 32.0 / size;
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, covered = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = (px + (sx + 0.5) / kSamples) * scale;
          const double y = (py + (sy + 0.5) / kSamples) * scale;
          const Shape* top = nullptr;
          for (const Shape& shape : shapes) {
            if (shape.inside(x, y)) top = &shape;
          }
          if (top == nullptr) continue;
          const Rgb c = top->color(x, y);
          r += c.r;
          g += c.g;
          b += c.b;
          covered += 1;
        }
      }
      std::uint8_t* out = &pixels[(static_cast<std::size_t>(py) * size + px) * 4];
      if (covered > 0) {
        out[0] = static_cast<std::uint8_t>(std::lround(b / covered));
        out[1] = static_cast<std::uint8_t>(std::lround(g / covered));
        out[2] = static_cast<std::uint8_t>(std::lround(r / covered));
        out[3] = static_cast<std::uint8_t>(std::lround(255.0 * covered / (kSamples * kSamples)));
      }
    }
  }
  return pixels;
}

namespace detail {
inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
}  // namespace detail

// One image of an .ico file: a BITMAPINFOHEADER of twice the height, the BGRA rows bottom
// up, then the AND mask (1 = transparent), its rows padded to 32 bits.
inline std::vector<std::uint8_t> EncodeIconImage(int size, const std::vector<std::uint8_t>& bgra) {
  using detail::Put16;
  using detail::Put32;
  const std::uint32_t maskStride = ((static_cast<std::uint32_t>(size) + 31) / 32) * 4;
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(size) * size * 4;
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size) * 2);
  Put16(out, 1);   // planes
  Put16(out, 32);  // bits per pixel
  Put32(out, 0);   // BI_RGB
  Put32(out, pixelBytes + maskStride * size);
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int row = size - 1; row >= 0; --row) {
    const auto begin = bgra.begin() + static_cast<std::ptrdiff_t>(row) * size * 4;
    out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(size) * 4);
  }
  for (int row = size - 1; row >= 0; --row) {
    std::vector<std::uint8_t> mask(maskStride, 0);
    for (int x = 0; x < size; ++x) {
      if (bgra[(static_cast<std::size_t>(row) * size + x) * 4 + 3] == 0) {
        mask[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
    out.insert(out.end(), mask.begin(), mask.end());
  }
  return out;
}

// The whole .ico file: the directory, then the 16x16 and the 32x32 image.
inline std::vector<std::uint8_t> MakeAppletIcon() {
  using detail::Put16;
  using detail::Put32;
  constexpr std::array<int, 2> kSizes = {16, 32};
  const std::vector<Shape> shapes = AppletIconShapes();
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : kSizes) images.push_back(EncodeIconImage(size, RenderIcon(size, shapes)));

  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon
  Put16(out, static_cast<std::uint32_t>(kSizes.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(kSizes.size());
  for (std::size_t i = 0; i < kSizes.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(kSizes[i]));  // width
    out.push_back(static_cast<std::uint8_t>(kSizes[i]));  // height
    out.push_back(0);                                     // colour count
    out.push_back(0);                                     // reserved
    Put16(out, 1);                                        // planes
    Put16(out, 32);                                       // bits per pixel
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace orvel::tools
