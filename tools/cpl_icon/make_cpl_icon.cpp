// Writes the Control Panel applet's icon: make_cpl_icon OUTPUT.ico
#include <cstdio>
#include <fstream>

#include "tools/cpl_icon/cpl_icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_cpl_icon OUTPUT.ico\n");
    return 2;
  }
  const std::vector<std::uint8_t> icon = orvel::tools::MakeAppletIcon();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_cpl_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
