// The page's way into the engine: a session reads a score (or takes the piece), renders it on the
// calling thread while the progress display's captions go to JavaScript, and holds the PCM until
// it is taken. The render worker (render-worker.js) drives one session at a time; the page itself
// asks only for the title's green level.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/ProgressDisplay.h"
#include "base/Simd.h"
#include "render/Budget.h"
#include "render/Synthesize.h"
#include "resources/EmbeddedScore.h"
#include "resources/Icon.h"
#include "score/NoteText.h"
#include "score/ScoreFile.h"

// Hands a refresh of the progress display to the worker's script, which posts it to the page.
// clang-format off
EM_JS(void, quom_post_progress, (int32_t pixels, const char* percent, const char* time), {
  if (Module.onProgress) Module.onProgress(pixels, UTF8ToString(percent), UTF8ToString(time));
});
// clang-format on

namespace quom {
namespace {

// The progress widgets live on the page: each refresh goes there as one message, once the last
// of its three captions is known. The worker has no events of its own to handle; the page
// handles its own on another thread.
class PostedView : public ProgressView {
 public:
  void ProcessEvents() override {}
  void SetBar(int32_t twips) override { pixels_ = TwipsToPixels(twips); }
  void SetPercent(const std::string& text) override { percent_ = text; }
  void SetTime(const std::string& text) override {
    quom_post_progress(pixels_, percent_.c_str(), text.c_str());
  }

 private:
  int32_t pixels_ = 0;
  std::string percent_;
};

}  // namespace

struct WebSession {
  std::vector<NoteRec> notes;
  std::string origin;   // how messages name the score
  std::string warning;  // of the last load, in one line
  std::string error;    // likewise
  std::string text;     // the records as text, made when asked for
  std::vector<int16_t> pcm;
  std::vector<uint8_t> icon;
};

}  // namespace quom

using quom::WebSession;

extern "C" {

EMSCRIPTEN_KEEPALIVE WebSession* quom_open() {
  return new WebSession;
}

EMSCRIPTEN_KEEPALIVE void quom_close(WebSession* s) {
  delete s;
}

// The largest score file the session reads; the page hands over at most one byte more, so
// that a larger file is refused in the same words as on the command line.
EMSCRIPTEN_KEEPALIVE size_t quom_max_score_bytes() {
  return quom::kMaxScoreFileBytes;
}

// Lets the records, their text and the messages go.
EMSCRIPTEN_KEEPALIVE void quom_unload(WebSession* s) {
  std::vector<quom::NoteRec>().swap(s->notes);
  std::string().swap(s->text);
  s->warning.clear();
  s->error.clear();
}

// Reads the score file `name` from `size` bytes, or takes the piece when `name` is null. Returns
// 1 when the records can be rendered, 0 when they are refused (quom_error says why). Either way
// quom_warning may say what was ignored.
EMSCRIPTEN_KEEPALIVE int quom_load(WebSession* s, const char* name, const uint8_t* bytes,
                                   size_t size) {
  using namespace quom;
  quom_unload(s);
  if (name == nullptr) {
    s->origin = "the embedded score";
    s->notes = DecodeNoteList(EmbeddedNoteList());
    s->error = NoteListProblemMessage(s->notes, s->origin);
  } else {
    s->origin = ScoreOrigin(name);
    ScoreRead read = ReadScoreBytes(name, {bytes, size}, {{}, kRenderLimits.records});
    s->notes = std::move(read.notes);
    s->warning = std::move(read.warning);
    s->error = std::move(read.error);
  }
  if (s->error.empty()) {
    if (const auto excess = CheckRenderCost(EstimateRenderCost(s->notes, kSecPerTick))) {
      s->error = TooLargeToRenderMessage(s->origin, *excess);
    }
  }
  if (!s->error.empty()) s->notes.clear();
  return s->error.empty() ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* quom_error(WebSession* s) {
  return s->error.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* quom_warning(WebSession* s) {
  return s->warning.c_str();
}

// The loaded records as the command line's --print-score writes them.
EMSCRIPTEN_KEEPALIVE const char* quom_score_text(WebSession* s) {
  if (s->text.empty()) s->text = quom::FormatNoteText(s->notes);
  return s->text.c_str();
}

// The vector paths this engine runs, narrowest first, as "scalar, simd128".
EMSCRIPTEN_KEEPALIVE const char* quom_simd_paths() {
  static const std::string names = [] {
    std::string list;
    for (quom::SimdPath path : quom::SupportedSimdPaths())
      list += (list.empty() ? "" : ", ") + std::string(quom::SimdPathName(path));
    return list;
  }();
  return names.c_str();
}

// Renders the loaded records with the vector path `simd` (empty: the widest) on the fast path,
// or the literal one, all on the calling thread. Returns the frames rendered (quom_pcm holds
// them), or -1 when `simd` names no path this engine runs.
EMSCRIPTEN_KEEPALIVE int32_t quom_render(WebSession* s, const char* simd, int literal) {
  using namespace quom;
  RenderOptions options;
  if (simd != nullptr && *simd != '\0') {
    const auto path = SimdPathNamed(simd);
    const std::vector<SimdPath> supported = SupportedSimdPaths();
    if (!path || std::find(supported.begin(), supported.end(), *path) == supported.end()) {
      return -1;
    }
    options.simd = *path;
  }
  options.path = literal ? RenderPath::kLiteral : RenderPath::kFast;
  // A static page gets no shared memory, so the render has no worker threads: the calling thread
  // runs every task.
  options.threads = 0;

  std::vector<int16_t>().swap(s->pcm);
  PostedView view;
  ProgressDisplay display(view);
  Engine e;
  e.progress = &display;
  s->pcm = Synthesize(e, s->notes, nullptr, options);
  display.Finish(e.gen.ProgressTotal);
  return static_cast<int32_t>(s->pcm.size() / 2);
}

EMSCRIPTEN_KEEPALIVE const int16_t* quom_pcm(WebSession* s) {
  return s->pcm.data();
}

// Gives the PCM's memory back once the worker has copied it out.
EMSCRIPTEN_KEEPALIVE void quom_drop_pcm(WebSession* s) {
  std::vector<int16_t>().swap(s->pcm);
}

// The window's icon at size x size pixels, as RGBA bytes row by row, for the page's own.
EMSCRIPTEN_KEEPALIVE const uint8_t* quom_icon(WebSession* s, int size) {
  s->icon = quom::SnowflakeIcon(size);
  return s->icon.data();
}

// The title's green level `now` seconds into the page's clock, playback having started at
// `playStart` on it.
EMSCRIPTEN_KEEPALIVE int32_t quom_pulse_green(double now, double playStart) {
  return quom::PulseGreen(static_cast<float>(now), static_cast<float>(playStart));
}

}  // extern "C"
