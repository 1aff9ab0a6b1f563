// Build step: writes the window's snowflake icon as a PNG file, for the desktop's icon theme.
//
//   quom_icon_png SIZE OUT.png
//
// The pixels come from the same function the window takes its icons from, so the menu entry and
// the running window show the same figure. The file is written under a temporary name and renamed,
// so that an interrupted build leaves no half-written icon that looks up to date.
#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/Icon.h"

namespace {

// libpng reports a fault through a longjmp by default, and an exception would cross its C frames:
// the handler removes the partial file (its name is the error pointer) and ends the tool, which is
// all a build step needs.
[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  std::fprintf(stderr, "quom_icon_png: %s\n", message);
  std::remove(static_cast<const char*>(png_get_error_ptr(png)));
  std::exit(1);
}

bool WritePng(const char* path, int size, const std::vector<uint8_t>& rgba) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, const_cast<char*>(path), PngError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < size; ++row)
    png_write_row(png, &rgba[static_cast<size_t>(row) * size * 4]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quom_icon_png SIZE OUT.png\n");
    return 2;
  }
  char* end = nullptr;
  const long size = std::strtol(argv[1], &end, 10);
  if (*argv[1] == '\0' || *end != '\0' || size < 16 || size > 1024) {
    std::fprintf(stderr, "quom_icon_png: size '%s' is not a whole number from 16 to 1024\n",
                 argv[1]);
    return 2;
  }
  const std::string temp = std::string(argv[2]) + ".tmp";
  if (!WritePng(temp.c_str(), static_cast<int>(size),
                quom::SnowflakeIcon(static_cast<int>(size)))) {
    std::fprintf(stderr, "quom_icon_png: cannot write %s: %s\n", temp.c_str(),
                 std::strerror(errno));
    std::remove(temp.c_str());
    return 1;
  }
  if (std::rename(temp.c_str(), argv[2]) != 0) {
    std::fprintf(stderr, "quom_icon_png: cannot rename %s to %s: %s\n", temp.c_str(), argv[2],
                 std::strerror(errno));
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
