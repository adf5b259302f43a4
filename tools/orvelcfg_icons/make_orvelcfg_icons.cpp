// Draws the icons of Orvelcfg: make_orvelcfg_icons OUTPUT_FOLDER
//   orvelcfg.ico   the program: the network MIDI unit of the applet's icon
//   sort_none.ico  an unsorted column: a faint up and down mark
//   sort_up.ico    ascending: a triangle pointing up
//   sort_down.ico  descending: a triangle pointing down
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/cpl_icon/cpl_icon.h"

namespace {

using orvel::tools::Rgb;
using orvel::tools::Shape;

std::vector<std::uint8_t> MakeIcon(const std::vector<Shape>& shapes) {
  using orvel::tools::detail::Put16;
  using orvel::tools::detail::Put32;
  constexpr int kSizes[] = {16, 32};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : kSizes) {
    images.push_back(orvel::tools::EncodeIconImage(size, orvel::tools::RenderIcon(size, shapes)));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 2);
  std::uint32_t offset = 6 + 16 * 2;
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

// A triangle in the 32 by 32 drawing space, pointing up or down.
Shape Triangle(double cx, double top, double bottom, double halfWidth, bool up, Rgb color) {
  return {[=](double x, double y) {
            if (y < top || y > bottom) return false;
            const double t = up ? (y - top) / (bottom - top) : (bottom - y) / (bottom - top);
            return std::fabs(x - cx) <= halfWidth * t;
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
  const Rgb faint{150, 155, 165};
  bool ok = Write(folder + "orvelcfg.ico", MakeIcon(orvel::tools::AppletIconShapes()));
  ok = Write(folder + "sort_none.ico", MakeIcon({Triangle(16, 4, 14, 7, true, faint),
                                                 Triangle(16, 18, 28, 7, false, faint)})) &&
       ok;
  ok = Write(folder + "sort_up.ico", MakeIcon({Triangle(16, 6, 26, 12, true, mark)})) && ok;
  ok = Write(folder + "sort_down.ico", MakeIcon({Triangle(16, 6, 26, 12, false, mark)})) && ok;
  return ok ? 0 : 1;
}
