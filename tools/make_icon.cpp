// Build step for Windows: writes the snowflake icon (resources/Icon.cpp) as an .ico file, 32 x 32
// and 16 x 16, for the executable's resources.
//
//   quom_make_icon OUT.ico
//
// Each image is a 32-bit BGRA bitmap, bottom row first, followed by its 1-bit mask (set where the
// pixel is transparent), which systems without alpha blending use.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "resources/Icon.h"

namespace {

void Put16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, unsigned v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::string IconImage(int size) {
  const std::vector<uint8_t> rgba = quom::SnowflakeIcon(size);
  const unsigned maskRow = static_cast<unsigned>((size + 31) / 32 * 4);
  std::string out;
  Put32(out, 40);                               // BITMAPINFOHEADER size
  Put32(out, static_cast<unsigned>(size));      // width
  Put32(out, static_cast<unsigned>(2 * size));  // height: image and mask
  Put16(out, 1);                                // planes
  Put16(out, 32);                               // bits a pixel
  Put32(out, 0);                                // no compression
  Put32(out, static_cast<unsigned>(size * size * 4) + maskRow * static_cast<unsigned>(size));
  for (int i = 0; i < 4; ++i)
    Put32(out, 0);  // resolution and palette: none
  for (int row = size - 1; row >= 0; --row) {
    for (int col = 0; col < size; ++col) {
      const uint8_t* p = &rgba[(static_cast<size_t>(row) * size + col) * 4];
      out += static_cast<char>(p[2]);
      out += static_cast<char>(p[1]);
      out += static_cast<char>(p[0]);
      out += static_cast<char>(p[3]);
    }
  }
  for (int row = size - 1; row >= 0; --row) {
    std::string bits(maskRow, '\0');
    for (int col = 0; col < size; ++col) {
      if (rgba[(static_cast<size_t>(row) * size + col) * 4 + 3] == 0)
        bits[static_cast<size_t>(col / 8)] |= static_cast<char>(0x80 >> (col % 8));
    }
    out += bits;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quom_make_icon OUT.ico\n");
    return 2;
  }
  const int sizes[] = {32, 16};
  std::vector<std::string> images;
  for (int size : sizes)
    images.push_back(IconImage(size));
  std::string out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // an icon
  Put16(out, 2);  // images
  unsigned offset = 6 + 16 * 2;
  for (size_t i = 0; i < images.size(); ++i) {
    out += static_cast<char>(sizes[i]);
    out += static_cast<char>(sizes[i]);
    out += '\0';  // no palette
    out += '\0';
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits a pixel
    Put32(out, static_cast<unsigned>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<unsigned>(images[i].size());
  }
  for (const std::string& image : images)
    out += image;
  std::ofstream file(argv[1], std::ios::binary);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!file.flush()) {
    std::fprintf(stderr, "quom_make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
