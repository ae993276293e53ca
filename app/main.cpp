// orx: the ORX host application. Every frame goes through the ORX
// compressor and decompressor components, found through their resources.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "Cli.h"
#include "Codec.h"
#include "Commands.h"

namespace {

const char kHelp[] =
    "usage: orx COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  encode     compress pictures, footage, YUV4MPEG2 or raw ARGB frames (or the\n"
    "             test clip) into an ORX movie\n"
    "  decode     play a movie back into PNG files, a YUV4MPEG2 stream or raw ARGB\n"
    "  cut        copy a stretch of frames of a movie, with its sound, into a new\n"
    "             movie (nothing is decoded)\n"
    "  join       put movies one after another into a new movie (nothing is\n"
    "             decoded)\n"
    "  info       describe a movie and its frames\n"
    "  settings   show or change the compressor's stored preferences\n"
    "  demo       encode the built-in clip with every choice, play it back, and\n"
    "             report sizes, speeds and quality with a contact sheet\n"
    "  bench      measure every variant and thread setting at 1920x1080\n"
    "\n"
    "Options of every command: -h/--help, --version.\n"
    "Exit status: 0 done, 1 a file or the data was at fault, 2 the command line\n"
    "was wrong; after Ctrl-C, SIGTERM or SIGHUP the program ends by that signal.\n"
    "\n"
    "'orx COMMAND --help' describes each command. The components are looked for\n"
    "in $ORX_COMPONENT_PATH (folders separated by ':') and beside libqthost.\n";

#ifndef ORX_VERSION
#define ORX_VERSION "unknown"
#endif

// The program's version (the project's, shared with liborx and the
// GStreamer plug-in), the installed components' own and the frame format's.
void PrintVersion() {
  const std::string component = orxapp::ComponentVersion();
  std::printf("orx (ORX) %s\n", ORX_VERSION);
  const std::string skipped = orxapp::ComponentProblems();
  std::printf("ORX components %s\n", !component.empty() ? component.c_str()
                                     : skipped.empty() ? "not found (see orx --help)"
                                                       : ("not found (skipped: " + skipped + ")").c_str());
  std::printf("ORX frame format version %d\n", orxapp::FrameFormatVersion());
  std::printf("%s is ORX's version, shared by orx, liborx and the GStreamer plug-in; the components\n"
              "report their own to the hosts that load them.\n",
              ORX_VERSION);
  std::printf("License: MIT. This is free software: you may change and redistribute it.\n");
  if (!component.empty() && !skipped.empty()) orxapp::Warn("component files skipped: " + skipped);
}

// --version anywhere among a command's options (before "--").
bool AsksVersion(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--")) return false;
    if (!std::strcmp(argv[i], "--version")) return true;
  }
  return false;
}

// A run whose standard output could not be written has failed, whatever
// it printed there (a report, a summary line, help).
int StdoutWritten(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  const int e = errno;
  return status != 0 ? status
                     : orxapp::Fail(std::string("standard output: write failed") + (e ? ": " + std::string(std::strerror(e)) : ""));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  const char* cmd = argv[1];
  if (!std::strcmp(cmd, "--help") || !std::strcmp(cmd, "-h") || !std::strcmp(cmd, "help")) {
    std::fputs(kHelp, stdout);
    return StdoutWritten(0);
  }
  if (!std::strcmp(cmd, "--version") || !std::strcmp(cmd, "-V")) {
    PrintVersion();
    return StdoutWritten(0);
  }
  struct {
    const char* name;
    int (*run)(int, char**);
  } const commands[] = {{"encode", orxapp::CmdEncode},     {"decode", orxapp::CmdDecode}, {"cut", orxapp::CmdCut},
                        {"join", orxapp::CmdJoin},         {"info", orxapp::CmdInfo},
                        {"settings", orxapp::CmdSettings}, {"demo", orxapp::CmdDemo},     {"bench", orxapp::CmdBench}};
  for (const auto& c : commands) {
    if (std::strcmp(cmd, c.name) != 0) continue;
    if (AsksVersion(argc - 2, argv + 2)) {
      PrintVersion();
      return StdoutWritten(0);
    }
    int status;
    // No exception leaves the program: a failed allocation the commands did
    // not foresee still ends it with a message and a failure status.
    try {
      status = c.run(argc - 2, argv + 2);
    } catch (const std::bad_alloc&) {
      status = orxapp::Fail(std::string(cmd) + ": out of memory");
    } catch (const std::exception& e) {
      status = orxapp::Fail(std::string(cmd) + ": " + e.what());
    }
    orxapp::RaiseInterruption(status);  // after an interruption, end as the signal would
    // Component files passed over for one found further on the search path;
    // a command that failed for want of a component has named them.
    if (status == 0) {
      const std::string skipped = orxapp::ComponentProblems();
      if (!skipped.empty()) orxapp::Warn("component files skipped: " + skipped);
    }
    return StdoutWritten(status);
  }
  if (cmd[0] == '-') return orxapp::Usage(std::string("unknown option ") + cmd + " (see orx --help)");
  return orxapp::Usage(std::string("unknown command \"") + cmd + "\" (see orx --help)");
}
