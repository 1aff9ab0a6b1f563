// The default run: choose the front, open the sound system early, run the main sequence.
#include "app/DefaultRun.h"

#include <cstdio>
#include <new>

#include "app/Form1.h"
#include "app/MainSequence.h"
#include "app/TerminalFront.h"
#include "audio/modDS.h"

namespace quom {

namespace {

int ReportNoSound(modDS& ds, const char* reason) {
  DSStop(ds);
  std::fprintf(stderr,
               "quom: cannot play the piece: %s (to write it to a file instead: quom --wav FILE)\n",
               reason);
  return 1;
}

}  // namespace

int RunDefault(const std::vector<NoteRec>& notes, const PlayOptions& options) {
  InstallInterruptHandlers();
  modDS ds;
  try {
    // Before synthesis: a missing sound system is reported at once, not after the wait.
    DSInit(ds, options.audioDriver);
    DSCheckDevice(ds);
    if (OpenWindowDisplay()) {
      Form1 form(ds);
      FormLoad(form, ds, notes, options.passes, options.render);
    }
    TerminalFront terminal(ds, options.quiet, options.passes);
    FormLoad(terminal, ds, notes, options.passes, options.render);
  } catch (const DSError& error) {
    return ReportNoSound(ds, error.what());
  } catch (const std::bad_alloc&) {
    DSStop(ds);
    std::fprintf(stderr, "quom: out of memory\n");
    return 1;
  }
}

}  // namespace quom
