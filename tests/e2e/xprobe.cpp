// A small X client for the end-to-end tests: finds the program's window, measures its pixels,
// saves a screenshot and asks the window to close the way a window manager does.
//
//   xprobe find TITLE SECONDS     prints the id of the viewable top-level window TITLE
//   xprobe measure WIN [FILE.ppm] prints key=value lines about the window's class and its client
//                                 area (and saves it)
//   xprobe close WIN              sends WM_DELETE_WINDOW
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Rect {
  const char* name;
  int x, y, w, h;
};

// The window's controls in pixels.
const Rect kTitle = {"title", 88, 64, 297, 61};
const Rect kTime = {"time", 236, 32, 149, 17};
const Rect kPercent = {"percent", 176, 32, 53, 17};
const Rect kPrepare = {"prepare", 88, 32, 81, 17};
const Rect kBarRow = {"bar", 4, 8, 475, 17};

bool Inside(const Rect& r, int x, int y) {
  return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

std::string Title(Display* d, Window w) {
  char* name = nullptr;
  std::string title;
  if (XFetchName(d, w, &name) && name) title = name;
  if (name) XFree(name);
  return title;
}

Window Find(Display* d, const std::string& title) {
  Window root = DefaultRootWindow(d), parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
        Title(d, children[i]) == title)
      found = children[i];
  }
  if (children) XFree(children);
  return found;
}

int Measure(Display* d, Window w, const char* file) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a)) return 1;
  XImage* img = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return 1;
  std::vector<unsigned char> rgb(static_cast<size_t>(a.width) * a.height * 3);
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      const unsigned long p = XGetPixel(img, x, y);
      unsigned char* o = &rgb[(static_cast<size_t>(y) * a.width + x) * 3];
      o[0] = (p & img->red_mask) >> __builtin_ctzl(img->red_mask);
      o[1] = (p & img->green_mask) >> __builtin_ctzl(img->green_mask);
      o[2] = (p & img->blue_mask) >> __builtin_ctzl(img->blue_mask);
    }
  }
  XDestroyImage(img);
  if (file) {
    FILE* f = std::fopen(file, "wb");
    if (!f) return 1;
    std::fprintf(f, "P6\n%d %d\n255\n", a.width, a.height);
    std::fwrite(rgb.data(), 1, rgb.size(), f);
    std::fclose(f);
  }
  auto at = [&](int x, int y) { return &rgb[(static_cast<size_t>(y) * a.width + x) * 3]; };
  auto isBlack = [](const unsigned char* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0; };
  // Pure green text may be anti-aliased against black: green only, any level.
  auto isGreenish = [](const unsigned char* p) { return p[0] == 0 && p[2] == 0 && p[1] > 0; };

  int rootX = 0, rootY = 0;
  Window child;
  XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child);
  std::printf("width=%d\nheight=%d\nx=%d\ny=%d\n", a.width, a.height, rootX, rootY);
  // The class a desktop matches the window to its menu entry by.
  XClassHint hint{};
  if (XGetClassHint(d, w, &hint)) {
    std::printf("class=%s.%s\n", hint.res_name, hint.res_class);
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  // The bar: the run of full green from its left edge along its middle row.
  int bar = 0;
  while (4 + bar < a.width && at(4 + bar, 16)[0] == 0 && at(4 + bar, 16)[1] == 255 &&
         at(4 + bar, 16)[2] == 0)
    ++bar;
  std::printf("bar_width=%d\n", bar);
  int barTop = 0, barBottom = 0;
  for (int y = 0; y < a.height; ++y) {
    if (isBlack(at(4, y))) continue;
    if (!barTop) barTop = y;
    barBottom = y;
  }
  std::printf("bar_top=%d\nbar_bottom=%d\n", barTop, barBottom);

  // Text: count the greenish pixels in each label, and the brightest green in the title.
  for (const Rect* r : {&kPrepare, &kPercent, &kTime, &kTitle}) {
    int green = 0, other = 0, maxGreen = 0;
    for (int y = r->y; y < r->y + r->h; ++y)
      for (int x = r->x; x < r->x + r->w; ++x) {
        const unsigned char* p = at(x, y);
        if (isGreenish(p)) {
          ++green;
          if (p[1] > maxGreen) maxGreen = p[1];
        } else if (!isBlack(p)) {
          ++other;
        }
      }
    std::printf("%s_green=%d\n%s_other=%d\n%s_max_green=%d\n", r->name, green, r->name, other,
                r->name, maxGreen);
  }
  // Everything outside the controls is the black background.
  int stray = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (Inside(kTitle, x, y) || Inside(kTime, x, y) || Inside(kPercent, x, y) ||
          Inside(kPrepare, x, y) || (Inside(kBarRow, x, y) && y >= 8 && x < 4 + bar))
        continue;
      if (!isBlack(at(x, y))) ++stray;
    }
  std::printf("background_stray=%d\n", stray);
  return 0;
}

int Close(Display* d, Window w) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XSync(d, False);  // the server has taken the request before this program lets go of it
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: xprobe find TITLE SECONDS | measure WIN [FILE] | close WIN\n");
    return 2;
  }
  // Closed on every way out, so that the leak checker of a sanitizer build stays quiet.
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), &XCloseDisplay);
  Display* d = display.get();
  if (!d) {
    std::fprintf(stderr, "xprobe: cannot open the display\n");
    return 2;
  }
  const std::string cmd = argv[1];
  if (cmd == "find" && argc == 4) {
    const double seconds = std::atof(argv[3]);
    for (int waited = 0; waited <= seconds * 100; ++waited) {
      if (Window w = Find(d, argv[2])) {
        std::printf("%lu\n", w);
        return 0;
      }
      usleep(10000);
    }
    return 1;
  }
  const Window w = std::strtoul(argv[2], nullptr, 0);
  if (cmd == "measure") return Measure(d, w, argc > 3 ? argv[3] : nullptr);
  if (cmd == "close") return Close(d, w);
  return 2;
}
