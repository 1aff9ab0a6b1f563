// Command-line options and the render to files.
#include "app/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "app/Bench.h"
#include "app/DefaultRun.h"
#include "app/Errors.h"
#include "app/Interrupts.h"
#include "app/NoteListFile.h"
#include "app/Streams.h"
#include "app/TerminalProgress.h"
#include "app/WavExport.h"
#include "base/Simd.h"
#include "render/Synthesize.h"
#include "resources/EmbeddedScore.h"
#include "score/MidiMap.h"
#include "score/NoteText.h"

namespace quom {

namespace {

struct Options {
  std::string wavPath;    // empty: no PCM file; "-": standard output
  PcmFileOptions pcm;     // its format and quality
  std::string stemsDir;   // empty: no stage files
  std::string scorePath;  // empty: the embedded note list
  std::string mapText;    // --map: codes for some channels of a MIDI score
  std::string midiPath;   // empty: no MIDI export
  bool printScore = false;
  int benchRuns = 0;  // 0: no benchmark
  PlayOptions play;   // sound driver, quiet, passes, vector instructions
};

constexpr int64_t kMostPasses = 1000000;
constexpr int kMostThreads = 64;

// --loop's passes: a whole number from 1, or "forever" (0). Negative for anything else.
int64_t ParsePasses(const std::string& text) {
  if (text == "forever") return 0;
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const int64_t n = std::stoll(text);
  return n >= 1 && n <= kMostPasses ? n : -1;
}

// The names of the vector paths this processor runs, narrowest first: "scalar, sse2, avx2".
std::string SupportedSimdNames() {
  std::string names;
  for (SimdPath path : SupportedSimdPaths()) {
    if (!names.empty()) names += ", ";
    names += SimdPathName(path);
  }
  return names;
}

// --simd's argument: a path this processor runs. The error message for anything else.
std::string CheckSimdName(const std::string& name) {
  const std::optional<SimdPath> path = SimdPathNamed(name);
  const std::vector<SimdPath> supported = SupportedSimdPaths();
  if (path && std::find(supported.begin(), supported.end(), *path) != supported.end()) return "";
  return "'" + name + (path ? "' cannot run on this processor" : "' is not a vector path") +
         "; this processor runs " + SupportedSimdNames();
}

constexpr const char* kExamples = R"(Examples:
  quom                          synthesise the piece and play it
  quom --wav quom.wav           render to a 16-bit WAV file, no window and no sound
  quom --wav quom.flac          the same, losslessly compressed
  quom --wav quom.ogg --quality 6
                                compressed for sharing: .ogg (Vorbis), .mp3 or .opus
                                (48 kHz); --quality from 0 (smallest) to 10 (best)
  quom --wav - | aplay          write a WAV stream to standard output, for a pipe
  quom --wav - --format flac > quom.flac
                                any format to standard output, named by --format
  quom --wav out.wav --stems stages/
                                also write the sample bank and the mix bus before and
                                after the reverb as 32-bit float WAV files
  quom --score notes.txt --wav notes.wav
                                render another note list: text, one record a line
                                ("start length note velocity instrument"), or
                                7-byte binary records in a file not named .txt,
                                .mid or .midi
  quom --print-score > score.txt
                                write the built-in note list as text
  quom --score song.mid --wav song.wav
                                render a Standard MIDI File (.mid or .midi): channel 10
                                plays the kit, the others by their General MIDI program
  quom --score song.mid --map 1=24,2=32 --print-score
                                give channels 1 and 2 instrument codes 24 and 32, and show
                                the records the file becomes
  quom --export-midi quom.mid   write the note list as a MIDI file for a sequencer
  quom --quiet --audio-driver pulseaudio
                                play through the named SDL audio driver (SDL_AUDIODRIVER
                                does the same), without the progress line
  quom --loop 3                 play the piece three times without a break (--loop forever:
                                until stopped), in the window or on the terminal
  quom --bench 5 --simd avx2    time five renders with the AVX2 kernels against the literal
                                code; every vector path gives the same bits
  On the terminal (no display), space pauses and resumes, the left and right arrows go
  back and forward 5 seconds, q and Esc stop; the window knows only Esc.

Exit status: 0 on success, 2 for bad input or usage (unknown option, unreadable or
invalid score, unknown output format), 1 for any other failure (an output that
cannot be written, no sound device), 130 when stopped by Ctrl-C and 143 by a
request to terminate, 141 when the reader of standard output has gone (quietly). A
failed or stopped run leaves no output file behind. Ogg, MP3 and Opus files are
encoded, not bit-exact; WAV and FLAC hold the piece's samples exactly.)";

// CLI11 pads an option's name and value out to the description column, and leaves one space when
// they end a character short of it; the description then reads as part of the value (and the
// manual page, made from this help, takes it so). Such an option gets its description on the next
// line, as one that fills the column does.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* opt, bool positional) const override {
    const std::string name = make_option_name(opt, positional) + make_option_opts(opt);
    const std::string desc = make_option_desc(opt);
    if (desc.empty() || name.size() + 3 != get_column_width())  // 2 for the indent
      return CLI::Formatter::make_option(opt, positional);
    std::stringstream out;
    out << "  " << name << "\n";
    CLI::detail::format_help(out, "", desc, get_column_width());
    return out.str();
  }
};

std::vector<NoteRec> LoadNotes(const Options& opt) {
  if (!opt.mapText.empty() && !IsMidiName(opt.scorePath)) {
    throw InputError("--map applies to a MIDI score (--score FILE.mid or .midi)");
  }
  if (!opt.scorePath.empty()) {
    ChannelMap map;
    if (!opt.mapText.empty()) {
      auto parsed = ParseChannelMap(opt.mapText);
      if (const auto* error = std::get_if<std::string>(&parsed)) {
        throw InputError("--map '" + opt.mapText + "': " + *error);
      }
      map = std::get<ChannelMap>(parsed);
    }
    return LoadNoteListFile(opt.scorePath, map);
  }
  std::vector<NoteRec> notes = DecodeNoteList(EmbeddedNoteList());
  CheckLoadedNotes(notes, "the embedded score");
  return notes;
}

// Renders once and writes every requested file; the outputs are opened (and checked) before
// the render starts and appear only when everything has been written.
int RenderToFiles(const Options& opt, const std::vector<NoteRec>& notes, MidiExport* midi) {
  std::optional<PcmFileWriter> pcmFile;
  if (!opt.wavPath.empty()) pcmFile.emplace(opt.wavPath, opt.pcm);
  std::unique_ptr<StemWriter> stems;
  if (!opt.stemsDir.empty()) stems = std::make_unique<StemWriter>(opt.stemsDir);

  TerminalProgress progress(stderr);
  Engine engine;
  engine.progress = opt.play.quiet ? nullptr : &progress;
  const std::vector<int16_t> pcm = Synthesize(engine, notes, stems.get(), opt.play.render);
  if (!opt.play.quiet) progress.Finish();

  if (pcmFile) pcmFile->Write(pcm);
  if (stems) stems->Commit();
  if (midi) midi->Commit();
  return 0;
}

int Run(const Options& opt) {
  const std::vector<NoteRec> notes = LoadNotes(opt);
  // A MIDI export alone renders nothing; beside --wav or --stems it appears with their files.
  const bool fileRender = !opt.wavPath.empty() || !opt.stemsDir.empty();
  const bool exportOnly = !opt.midiPath.empty() && !fileRender;
  // Whatever renders is held to the render limits first.
  const bool renders = opt.benchRuns > 0 || !(opt.printScore || exportOnly);
  if (renders) {
    CheckRenderBudget(notes,
                      opt.scorePath.empty() ? "the embedded score" : ScoreOrigin(opt.scorePath));
  }
  std::optional<MidiExport> midi;
  if (!opt.midiPath.empty()) midi.emplace(opt.midiPath, notes);
  if (opt.benchRuns > 0) {
    if (midi) midi->Commit();
    return RunBench(notes, opt.benchRuns, opt.play.render);
  }
  if (opt.printScore) {
    const std::string text = FormatNoteText(notes);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      throw std::runtime_error(std::string("cannot write the score: ") + std::strerror(errno));
    }
  }
  if (opt.printScore || exportOnly) {
    if (midi) midi->Commit();
    return 0;
  }
  if (!fileRender) return RunDefault(notes, opt.play);
  return RenderToFiles(opt, notes, midi ? &*midi : nullptr);
}

}  // namespace

int RunCli(int argc, char** argv) {
  PrepareTerminal();
  CLI::App app{
      "quom: synthesises a two-minute piece of music from its built-in note list and "
      "plays it.",
      "quom"};
  app.set_version_flag("--version",
                       std::string("quom ") + QUOM_VERSION + " (" + QUOM_BUILD_DESCRIPTION + ")");
  app.footer(kExamples);
  app.formatter(std::make_shared<HelpFormatter>());

  Options opt;
  CLI::Option* wav = app.add_option("--wav", opt.wavPath,
                                    "Render to FILE instead of playing: .wav (16-bit PCM), .flac "
                                    "(lossless), .ogg, .mp3 or .opus; - for standard output")
                         ->type_name("FILE");
  app.add_option("--format", opt.pcm.format,
                 "Write --wav in this format whatever its name: wav, flac, ogg, mp3 or opus")
      ->type_name("NAME")
      ->needs(wav);
  app.add_option("--quality", opt.pcm.quality,
                 "For .ogg, .mp3 and .opus: 0 (smallest file) to 10 (best sound); without it, "
                 "the encoder's default")
      ->type_name("Q")
      ->check(CLI::Range(0, 10))
      ->needs(wav);
  CLI::Option* stems =
      app.add_option("--stems", opt.stemsDir,
                     "Also write the stages of the render to DIR as 32-bit float WAV files")
          ->type_name("DIR");
  app.add_option("--score", opt.scorePath,
                 "Render the note list in FILE instead of the built-in one: text if the name "
                 "ends in .txt, a Standard MIDI File if in .mid or .midi, else 7-byte records")
      ->type_name("FILE");
  app.add_option("--map", opt.mapText,
                 "Play these channels of a MIDI score with these instrument codes (24, 25, 26, "
                 "27 to 37, 127; others are silent) instead of the default map")
      ->type_name("CH=CODE[,CH=CODE...]");
  app.add_option("--export-midi", opt.midiPath,
                 "Write the note list (built-in, or --score's) to FILE as a Standard MIDI File")
      ->type_name("FILE");
  app.add_option("--bench", opt.benchRuns,
                 "Time the synthesis N times, stage by stage, against the literal code path")
      ->type_name("N")
      ->check(CLI::Range(1, 1000));
  std::string simd;
  app.add_option("--simd", simd,
                 "Run the synthesis with this vector instruction set (for --bench, --wav and "
                 "playback): one of " +
                     SupportedSimdNames() + " on this processor; without it, the widest")
      ->type_name("NAME")
      ->check(CheckSimdName);
  int threads = 0;
  app.add_option("--threads", threads,
                 "Synthesise with N worker threads instead of one per processor, at most " +
                     std::to_string(kMostDefaultWorkers) + " (here " +
                     std::to_string(WorkerThreads()) + ")")
      ->type_name("N")
      ->check(CLI::Range(1, kMostThreads));
  app.add_flag("--print-score", opt.printScore,
               "Write the note list (built-in, or --score's) as text to standard output");
  app.add_option("--audio-driver", opt.play.audioDriver,
                 "Play through this SDL audio driver (pulseaudio, pipewire, alsa, disk, ...)")
      ->type_name("NAME");
  app.add_flag("--quiet", opt.play.quiet, "No progress or status line on the terminal");
  std::string loop;
  app.add_option("--loop", loop,
                 "Play the piece N times without a break, or forever (until stopped)")
      ->type_name("N|forever")
      ->check([](const std::string& text) {
        return ParsePasses(text) < 0 ? "a whole number from 1 to 1000000, or forever" : "";
      })
      ->excludes(wav)
      ->excludes(stems);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::fprintf(stderr, "quom: %s (see quom --help)\n", e.what());
    return 2;
  }
  if (!loop.empty()) opt.play.passes = ParsePasses(loop);
  if (!simd.empty()) opt.play.render.simd = *SimdPathNamed(simd);
  if (threads > 0) opt.play.render.threads = threads;
  // A test hook, see tests/app: a layer the render leaves unmixed, to see its own check fail it.
  if (const char* leaveOut = std::getenv("QUOM_TEST_LEAVE_OUT_LAYER"))
    opt.play.render.leaveOutLayer = std::atoll(leaveOut);

  RemoveTempFilesOnSignal();
  try {
    return Run(opt);
  } catch (const InputError& e) {
    std::fprintf(stderr, "quom: %s\n", e.what());
    return 2;
  } catch (const OutputClosed&) {
    return 141;  // the reader chose to stop: nothing to report
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "quom: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quom: %s\n", e.what());
    return 1;
  }
}

}  // namespace quom
