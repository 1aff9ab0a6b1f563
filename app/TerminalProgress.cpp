// The terminal progress line.
#include "app/TerminalProgress.h"

#include <algorithm>
#include <cmath>

#include "app/Streams.h"

namespace quom {

TerminalProgress::TerminalProgress(FILE* out)
    : out_(out), enabled_(IsTerminal(out)), start_(std::chrono::steady_clock::now()) {}

TerminalProgress::~TerminalProgress() {
  if (lineOpen_) std::fputc('\n', out_);
}

void TerminalProgress::Start() {
  start_ = std::chrono::steady_clock::now();
  lastTick_ = -1;
}

void TerminalProgress::Progress(float total) {
  total_ = total;
  if (!enabled_) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  const auto tick = static_cast<long long>(elapsed.count() * kRedrawTicksPerSecond);
  if (tick == lastTick_) return;
  lastTick_ = tick;
  Draw();
}

void TerminalProgress::Finish() {
  if (!enabled_) return;
  Draw();
  std::fputc('\n', out_);
  std::fflush(out_);
  lineOpen_ = false;
}

void TerminalProgress::FormatLine(char* buf, size_t size, float total, double seconds, int width) {
  char bar[128];
  width = std::clamp(width, 0, static_cast<int>(sizeof bar) - 1);
  const double fraction = Fraction(total);
  const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * width);
  for (int i = 0; i < width; ++i)
    bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  std::snprintf(buf, size, "[%s] %3.0f%%  %.1f s", bar, fraction * 100.0, seconds);
}

void TerminalProgress::Draw() {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  char line[256];
  FormatLine(line, sizeof line, total_, elapsed.count());
  std::fprintf(out_, "\rquom: rendering %s", line);
  std::fflush(out_);
  lineOpen_ = true;
}

}  // namespace quom
