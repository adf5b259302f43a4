// Draws the icons of Orvelcfg: make_orvelcfg_icons OUTPUT_FOLDER
//   orvelcfg.ico   the program: the network MIDI unit of the applet's icon
//   sort_none.ico  an unsorted column: a grey up and down mark
//   sort_up.ico    ascending: a triangle pointing up
//   sort_down.ico  descending: a triangle pointing down
// The sort marks are dark with a white rim: the dark stands out from a light header,
// the rim from the black header of a high-contrast theme, each by 4.5:1 at least.
//   row_new.ico    a found unit, not chosen: an empty check box
//   row_checked.ico  a found unit chosen to be added: a ticked check box
//   row_listed.ico   a found unit already in the device list: a grey tick on a list card
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/cpl_icon/cpl_icon.h"

namespace {

using orvel::tools::Rgb;
using orvel::tools::Shape;

std::vector<std::uint8_t> MakeIcon(const std::vector<Shape>& shapes) {
  using orvel::tools::detail::Put16;
  using orvel::tools::detail::Put32;
  // Every size a list or a title bar asks for from 100 % to 200 % scaling, so none is
  // a stretched smaller image.
  constexpr int kSizes[] = {16, 20, 24, 32, 40, 48};
  constexpr std::uint16_t kCount = sizeof(kSizes) / sizeof(kSizes[0]);
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : kSizes) {
    images.push_back(orvel::tools::EncodeIconImage(size, orvel::tools::RenderIcon(size, shapes)));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, kCount);
  std::uint32_t offset = 6 + 16 * kCount;
  for (std::size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(kSizes[i]));
    out.push_back(static_cast<std::uint8_t>(kSizes[i]));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

// A triangle in the 32 by 32 drawing space, pointing up or down, with each side moved
// out by `grow`.
Shape Triangle(double cx, double top, double bottom, double halfWidth, bool up, double grow,
               Rgb color) {
  const double tipY = up ? top : bottom, baseY = up ? bottom : top;
  const double corners[3][2] = {{cx, tipY}, {cx - halfWidth, baseY}, {cx + halfWidth, baseY}};
  return {[=](double x, double y) {
            // Each side's distance, positive towards the corner opposite it.
            for (int i = 0; i < 3; ++i) {
              const double* a = corners[i];
              const double* b = corners[(i + 1) % 3];
              const double* c = corners[(i + 2) % 3];
              const double nx = b[1] - a[1], ny = a[0] - b[0];
              const double length = std::sqrt(nx * nx + ny * ny);
              const double side = ((c[0] - a[0]) * nx + (c[1] - a[1]) * ny) < 0 ? -1.0 : 1.0;
              if (side * ((x - a[0]) * nx + (y - a[1]) * ny) / length < -grow) return false;
            }
            return true;
          },
          [=](double, double) { return color; }};
}

// A triangle drawn in `color` inside a white rim.
std::vector<Shape> Mark(double cx, double top, double bottom, double halfWidth, bool up,
                        Rgb color) {
  constexpr double kRim = 2.0;
  return {Triangle(cx, top, bottom, halfWidth, up, kRim, {255, 255, 255}),
          Triangle(cx, top, bottom, halfWidth, up, 0, color)};
}

// A square outline with its inside filled.
std::vector<Shape> CheckBox(Rgb frame, Rgb face) {
  auto square = [](double x0, double y0, double x1, double y1) {
    return [=](double x, double y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
  };
  return {{square(3, 3, 29, 29), [=](double, double) { return frame; }},
          {square(6, 6, 26, 26), [=](double, double) { return face; }}};
}

// A tick: two thick strokes meeting low on the left.
Shape Tick(Rgb color) {
  auto nearSegment = [](double x, double y, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    double t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
    t = std::fmax(0.0, std::fmin(1.0, t));
    const double px = ax + t * dx - x, py = ay + t * dy - y;
    return px * px + py * py <= 2.6 * 2.6;
  };
  return {[=](double x, double y) {
            return nearSegment(x, y, 9, 16, 14, 22) || nearSegment(x, y, 14, 22, 24, 9);
          },
          [=](double, double) { return color; }};
}

bool Write(const std::string& path, const std::vector<std::uint8_t>& icon) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
  out.close();
  if (!out) std::fprintf(stderr, "make_orvelcfg_icons: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_orvelcfg_icons OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  const Rgb mark{40, 60, 110};
  const Rgb grey{105, 110, 120};
  bool ok = Write(folder + "orvelcfg.ico", MakeIcon(orvel::tools::AppletIconShapes()));
  // The rims go first, so that the two marks' dark parts stay whole where rims meet.
  std::vector<Shape> none = Mark(16, 2, 14, 9, true, grey);
  const std::vector<Shape> down = Mark(16, 18, 30, 9, false, grey);
  none.insert(none.begin() + 1, down.front());
  none.push_back(down.back());
  ok = Write(folder + "sort_none.ico", MakeIcon(none)) && ok;
  ok = Write(folder + "sort_up.ico", MakeIcon(Mark(16, 6, 26, 12, true, mark))) && ok;
  ok = Write(folder + "sort_down.ico", MakeIcon(Mark(16, 6, 26, 12, false, mark))) && ok;

  const Rgb frame{90, 100, 120};
  const Rgb white{255, 255, 255};
  ok = Write(folder + "row_new.ico", MakeIcon(CheckBox(frame, white))) && ok;
  std::vector<Shape> checked = CheckBox(frame, white);
  checked.push_back(Tick({30, 150, 60}));
  ok = Write(folder + "row_checked.ico", MakeIcon(checked)) && ok;
  std::vector<Shape> listed = CheckBox({150, 155, 165}, {225, 230, 238});
  listed.push_back(Tick({120, 125, 135}));
  ok = Write(folder + "row_listed.ico", MakeIcon(listed)) && ok;
  return ok ? 0 : 1;
}
