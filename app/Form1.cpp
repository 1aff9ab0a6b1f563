// The window, laid out in twips (15 per pixel) and drawn with FLTK.
#include "app/Form1.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cstdlib>
#include <vector>

#include "resources/Icon.h"

namespace quom {

namespace {

constexpr const char* kCaption = "Quom [32k EXE Music] by Kuvro";
constexpr int kClientTwipsW = 7185;
constexpr int kClientTwipsH = 2190;

// Courier New 12 pt and 48 pt bold at 96 dots per inch, with a metric-compatible face.
constexpr Fl_Font kFont = FL_FREE_FONT;
constexpr Fl_Font kTitleFont = FL_FREE_FONT + 1;
constexpr int kFontPx = 16;
constexpr int kTitleFontPx = 64;

int Px(int twips) {
  return TwipsToPixels(twips);
}

const Fl_Color kBlack = fl_rgb_color(0, 0, 0);
const Fl_Color kGreen = fl_rgb_color(0, 255, 0);

}  // namespace

bool OpenWindowDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  fl_open_display(display);
  return true;
}

Label::Label(int x, int y, int w, int h, const char* caption, Fl_Font font, int size, Fl_Color text,
             Fl_Align align)
    : Fl_Widget(x, y, w, h) {
  copy_label(caption);
  labelfont(font);
  labelsize(size);
  labelcolor(text);
  color(kBlack);
  this->align(align | FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_CLIP);
}

void Label::SetCaption(const std::string& caption) {
  copy_label(caption.c_str());
  redraw();
}

void Label::SetTextColour(Fl_Color colour) {
  labelcolor(colour);
  redraw();
}

void Label::draw() {
  fl_color(color());
  fl_rectf(x(), y(), w(), h());
  fl_font(labelfont(), labelsize());
  fl_color(labelcolor());
  fl_draw(label(), x(), y(), w(), h(), align(), nullptr, 0);
}

Form1::Form1(modDS& ds)
    : Fl_Double_Window(Px(kClientTwipsW), Px(kClientTwipsH), kCaption), ds_(ds) {
  // The leading letter picks the style of an Xft font name: ' ' regular, 'B' bold.
  Fl::set_font(kFont, " Liberation Mono");
  Fl::set_font(kTitleFont, "BLiberation Mono");

  color(kBlack);
  // Controls in their exposure order.
  LabQuom = new Label(Px(1320), Px(960), Px(4455), Px(915), "Quom!", kTitleFont, kTitleFontPx,
                      kBlack, FL_ALIGN_CENTER);
  labTime =
      new Label(Px(3540), Px(480), Px(2235), Px(255), "", kFont, kFontPx, kGreen, FL_ALIGN_RIGHT);
  labProgress =
      new Label(Px(2640), Px(480), Px(795), Px(255), "", kFont, kFontPx, kGreen, FL_ALIGN_CENTER);
  Label1 = new Label(Px(1320), Px(480), Px(1215), Px(255), "Prepare", kFont, kFontPx, kGreen,
                     FL_ALIGN_LEFT);
  ShProg = new Fl_Box(FL_FLAT_BOX, Px(60), Px(120), Px(135), Px(255), nullptr);
  ShProg->color(kGreen);
  end();

  size_range(w(), h(), w(), h());  // fixed size
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  position(sx + (sw - w()) / 2, sy + (sh - h()) / 2);

  iconPixels32_ = SnowflakeIcon(32);
  iconPixels16_ = SnowflakeIcon(16);
  icon32_ = std::make_unique<Fl_RGB_Image>(iconPixels32_.data(), 32, 32, 4);
  icon16_ = std::make_unique<Fl_RGB_Image>(iconPixels16_.data(), 16, 16, 4);
  const Fl_RGB_Image* icons[] = {icon32_.get(), icon16_.get()};
  this->icons(icons, 2);
  // The window's class names the program, so that a desktop puts it under quom's menu entry
  // (quom.desktop) rather than under the toolkit's name.
  xclass("quom");

  callback(OnClose, this);  // the close button and the window manager's close requests
}

void Form1::Show() {
  show();
}

void Form1::ProcessEvents() {
  Fl::check();
  if (const int signal = InterruptRequested()) FormQueryUnload(ds_, 128 + signal);
}

void Form1::SetBar(int32_t twips) {
  const int width = TwipsToPixels(twips);
  // A shape always shows its one-pixel outline, however narrow.
  ShProg->size(width < 1 ? 1 : width, ShProg->h());
  redraw();
}

void Form1::SetPercent(const std::string& text) {
  labProgress->SetCaption(text);
}

void Form1::SetTime(const std::string& text) {
  labTime->SetCaption(text);
}

void Form1::SetTitleGreen(int16_t G) {
  LabQuom->SetTextColour(fl_rgb_color(0, G, 0));
}

int Form1::handle(int event) {
  if (event == FL_KEYDOWN && Fl::event_key() == FL_Escape) Unload();
  return Fl_Double_Window::handle(event);
}

void Form1::Unload() {
  FormQueryUnload(ds_);
}

void Form1::OnClose(Fl_Widget*, void* form) {
  static_cast<Form1*>(form)->Unload();
}

}  // namespace quom
