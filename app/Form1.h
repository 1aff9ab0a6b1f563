// The program's window: a small black panel with the progress bar, the percentage, the elapsed
// time, the word "Prepare" and the title that pulses green during playback.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Widget.H>

#include <memory>
#include <string>
#include <vector>

#include "app/MainSequence.h"

namespace quom {

// A caption drawn flush with its edges, top-aligned and clipped, on its own background.
class Label : public Fl_Widget {
 public:
  Label(int x, int y, int w, int h, const char* caption, Fl_Font font, int size, Fl_Color text,
        Fl_Align align);
  void SetCaption(const std::string& caption);
  void SetTextColour(Fl_Color colour);

 protected:
  void draw() override;
};

class Form1 : public Fl_Double_Window, public Front, private ProgressView {
 public:
  explicit Form1(modDS& ds);

  // Front
  void Show() override;
  ProgressSink& Progress() override { return progress_; }
  void ProcessEvents() override;
  void SetTitleGreen(int16_t G) override;

  // Form_KeyDown: Esc closes the window; any other key does nothing.
  int handle(int event) override;

  Label* LabQuom;
  Label* labTime;
  Label* labProgress;
  Label* Label1;
  Fl_Box* ShProg;

 private:
  // ProgressView: the three progress widgets.
  void SetBar(int32_t twips) override;
  void SetPercent(const std::string& text) override;
  void SetTime(const std::string& text) override;

  [[noreturn]] void Unload();
  static void OnClose(Fl_Widget*, void* form);

  modDS& ds_;
  ProgressDisplay progress_{*this};
  std::vector<uint8_t> iconPixels32_, iconPixels16_;  // the images point into these
  std::unique_ptr<Fl_RGB_Image> icon32_, icon16_;
};

}  // namespace quom
