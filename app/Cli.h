// Helpers shared by the orx commands: argument parsing, error reporting, the
// progress display, and output files that appear only when complete.
#pragma once

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MovieFile.h"
#include "Stopwatch.h"

namespace orxapp {

// Prints "orx: <message>" on standard error; returns the failure status 1
// (the data or the files were at fault).
int Fail(const std::string& message);
// The same for a command line that cannot be run as given (an unknown or
// malformed option, a missing argument); returns the usage status 2.
int Usage(const std::string& message);
// "orx: warning: <message>" on standard error.
void Warn(const std::string& message);

// Ctrl-C, SIGTERM and SIGHUP while a command writes files: the first one is
// noted, a blocked read or write returns, and the command's loops stop at the
// next frame and remove what they wrote, as after any failure. A second
// signal ends the program at once: the handler itself removes every
// PartialOutput still registered, says so in a line and ends by the first
// signal. Whichever thread a signal reaches, the main thread acts on it, so
// HoldInterruptions there defers it.
void CatchInterruptions();
bool Interrupted();
// Ends the process by the signal that interrupted it (so the exit status is
// the shell's 128 + signal), once the command has cleaned up. status 0 (the
// command finished its work before it noticed) is said in a line first.
void RaiseInterruption(int status = 1);

// Defers those signals on the main thread while it lives: around the few
// steps that create a file and register it as a PartialOutput, which a
// second signal must find both done or neither.
class HoldInterruptions {
 public:
  HoldInterruptions();
  ~HoldInterruptions();
  HoldInterruptions(const HoldInterruptions&) = delete;
  HoldInterruptions& operator=(const HoldInterruptions&) = delete;

 private:
  sigset_t old_;
};

// Something a command is writing and has not finished: a file (removed only
// while it is a regular file, so a FIFO or device written in place stays),
// a folder (removed when empty) or the files of a numbered pattern written
// so far. Remove, or the destructor, removes it; Release lets it stay. Until
// then a second signal's handler removes it too.
class PartialOutput {
 public:
  PartialOutput() = default;
  ~PartialOutput() { Remove(); }
  PartialOutput(PartialOutput&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
  PartialOutput& operator=(PartialOutput&&) = delete;
  PartialOutput(const PartialOutput&) = delete;

  // Each lets go of what was registered before (without removing it).
  void File(const std::string& path);
  void Folder(const std::string& path);
  // pattern expanded (ExpandPattern) for the numbers from first to the last
  // one passed to Written; a name without a conversion is that name.
  void Sequence(const std::string& pattern, int first);
  void Written(int last);
  void Remove();
  void Release();

 private:
  struct PartialEntry* entry_ = nullptr;
};

// Command-line arguments of one command, consumed as options are read.
class Args {
 public:
  Args(int argc, char** argv, int first);
  // True when --name (or -short) is present; removes every occurrence.
  bool Flag(const char* name, const char* shortName = nullptr);
  // Of two flags that undo each other (--overwrite and --no-overwrite): 1
  // when the first was given last, 0 when the second was, -1 when neither
  // was; removes them all.
  int Either(const char* name, const char* shortName, const char* otherName, const char* otherShort);
  // The value of --name VALUE / --name=VALUE / -s VALUE; removes both. A
  // repeated option gives its last value. False when absent; sets *error
  // when a value is missing.
  bool Value(const char* name, const char* shortName, std::string* value, std::string* error);
  // Every value of a repeatable option, in order.
  std::vector<std::string> Values(const char* name, const char* shortName, std::string* error);
  // What is left: positional arguments; an unknown option is an error.
  bool Positionals(std::vector<std::string>* out, std::string* error);

 private:
  std::vector<std::string> args_;
};

bool ParseSize(const std::string& text, int* width, int* height);       // "1920x1080"
bool ParseFrameRange(const std::string& text, int* first, int* last);  // "10-20", "5", "10-" (last -1: to the end)
// A frame rate as "24", "29.97", "0.0004", "30000/1001" or "30000:1001",
// kept as a reduced fraction (decimals exactly, the NTSC family as x000/1001);
// above 0 and at most 1000 frames a second.
bool ParseRate(const std::string& text, int* num, int* den);
// A time scale and sample duration for a positive rate num/den: exactly that
// rate, the time scale at least 600 where both still fit in 32 bits.
void RateToTimeScale(int num, int den, int32_t* timeScale, int32_t* duration);
// num/den in lowest terms; when a term passes 32 bits, the nearest fraction
// whose terms fit. 0/1 for a non-positive rate.
void ReduceRate(int64_t num, int64_t den, int* outNum, int* outDen);
std::string FormatRate(double fps);  // "24", "29.97"

// A printf pattern with exactly one integer conversion (%d, %04d, %4d, %i,
// %u); "%%" is a literal percent. False for anything else.
bool ValidNumberPattern(const std::string& pattern);
std::string ExpandPattern(const std::string& pattern, int number);

// The progress line on standard error, drawn only when it is a terminal:
// frames done (of the total when known), frames a second, the bytes written,
// the time elapsed and, with a total, the time left.
class Progress {
 public:
  Progress(const char* what, int64_t total);  // total <= 0: unknown
  void Update(int64_t done, uint64_t bytes = 0);
  void Finish();
  // What the line says it is doing ("encoding b.mp4"), from the next update.
  void SetWhat(const std::string& what) { what_ = what; }

 private:
  std::string what_;
  int64_t total_;
  bool enabled_;
  double last_ = -1;
  Stopwatch timer_;
};
std::string FormatDuration(double seconds);  // "0:42", "1:02:03"

// Where a command may write. Each output is refused when it is one of the
// inputs (the same file, through links too) or a folder, and an existing
// file is refused unless overwriting was asked for. A FIFO or device is no
// file to lose: it is written in place. needsSeek: the output must be a
// regular file (a movie's header is written last).
bool SameFile(const std::string& a, const std::string& b);
std::string OutputProblem(const std::string& output, const std::vector<std::string>& inputs, bool overwrite,
                          bool needsSeek);

// A file written under a temporary name beside its path and moved onto the
// path by Commit, so that a failed run leaves nothing that looks complete;
// the temporary file is a PartialOutput until then. "-" means standard
// output, and an existing FIFO or device is written directly (no temporary
// name).
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // discards an uncommitted file

  // replace: an existing regular file at the path may be replaced; without
  // it Commit refuses to replace one, even one that appeared meanwhile.
  // sync: Commit puts the file on the disk before it moves it into place
  // (a file of a numbered sequence goes without).
  bool Open(const std::string& path, std::string* error, bool replace = true, bool sync = true);
  FILE* Stream() const { return file_; }
  bool Commit(std::string* error);
  void Discard();

 private:
  std::string path_;
  std::string temp_;
  FILE* file_ = nullptr;
  bool stdout_ = false;
  bool direct_ = false;
  bool replace_ = true;
  bool sync_ = true;
  PartialOutput partial_;
};

// HostMovieWriterCreateWithError with the movie's temporary file registered
// in *temp in the same step. Once the writer is finished or aborted, temp
// is released: the writer has moved or removed the file.
OSStatus CreateMovieWriter(const std::string& path, ImageDescriptionHandle desc, TimeScale timeScale,
                           HostMovieWriterRef* writer, char* message, SInt32 messageSize, PartialOutput* temp);

std::string HumanBytes(uint64_t bytes);  // "12.3 MB"
std::string Frames(int64_t n);           // "1 frame", "12 frames"
bool EndsWith(const std::string& s, const char* suffix);

}  // namespace orxapp
