#include "Cli.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/Format/ORXFormat.h"
#include "MovieFile.h"

namespace orxapp {

int Fail(const std::string& message) {
  std::fprintf(stderr, "orx: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "orx: %s\n", message.c_str());
  return 2;
}

void Warn(const std::string& message) { std::fprintf(stderr, "orx: warning: %s\n", message.c_str()); }

// The interruption: the first signal, the main thread that acts on it, and
// what a second one removes. The handler reads them; only the main thread
// changes them, and the handler runs on it alone, so every change below is
// one store that leaves the list whole.
struct PartialEntry {
  enum Kind { kFile, kFolder, kSequence } kind = kFile;
  std::string path;  // a pattern for kSequence; never changed while listed
  std::atomic<int> first{0}, last{-1};
  std::atomic<PartialEntry*> next{nullptr};
  PartialEntry* prev = nullptr;
};

namespace {

struct Interruption {
  volatile sig_atomic_t signal = 0;
  volatile sig_atomic_t caught = 0;
  pthread_t main{};
  std::atomic<PartialEntry*> partial{nullptr};
};
Interruption g_interruption;
static_assert(std::atomic<PartialEntry*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

sigset_t InterruptionSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}

// ExpandPattern into a buffer, with nothing a signal handler may not call.
// False when the name does not fit.
bool ExpandInto(const char* p, long number, char* out, size_t cap) {
  size_t n = 0;
  const auto put = [&](char c) {
    if (n + 1 >= cap) return false;
    out[n++] = c;
    return true;
  };
  for (size_t i = 0; p[i] != '\0'; ++i) {
    if (p[i] != '%') {
      if (!put(p[i])) return false;
      continue;
    }
    if (p[i + 1] == '%') {
      if (!put('%')) return false;
      ++i;
      continue;
    }
    // %[0...][width] and the conversion letter, as printf's %d reads them.
    size_t j = i + 1;
    bool zeros = false;
    while (p[j] == '0') zeros = true, ++j;
    long width = 0;
    while (p[j] >= '0' && p[j] <= '9' && width < 1000) width = width * 10 + (p[j++] - '0');
    char digits[24];
    int count = 0;
    unsigned long v = number < 0 ? 0ul - (unsigned long)number : (unsigned long)number;
    do {
      digits[count++] = char('0' + v % 10);
      v /= 10;
    } while (v != 0);
    long pad = width - count - (number < 0 ? 1 : 0);
    if (number < 0 && zeros && !put('-')) return false;
    for (; pad > 0; --pad)
      if (!put(zeros ? '0' : ' ')) return false;
    if (number < 0 && !zeros && !put('-')) return false;
    while (count > 0)
      if (!put(digits[--count])) return false;
    i = p[j] == '\0' ? j - 1 : j;
  }
  out[n] = '\0';
  return true;
}

// Removes a name only while it is a regular file (or, for a folder, only
// when it is empty). Safe in a signal handler.
void RemoveFile(const char* path) {
  struct stat st {};
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) unlink(path);
}

void RemoveEntry(const PartialEntry& e) {
  switch (e.kind) {
    case PartialEntry::kFile:
      RemoveFile(e.path.c_str());
      break;
    case PartialEntry::kFolder:
      rmdir(e.path.c_str());
      break;
    case PartialEntry::kSequence: {
      char name[PATH_MAX + 64];
      const int last = e.last.load();
      for (long i = e.first.load(); i <= last; ++i)
        if (ExpandInto(e.path.c_str(), i, name, sizeof name)) RemoveFile(name);
      break;
    }
  }
}

void Say(const char* line) {
  for (size_t n = std::strlen(line); n > 0;) {
    const ssize_t w = write(2, line, n);
    if (w <= 0) return;
    line += w;
    n -= size_t(w);
  }
}

void NoteInterruption(int sig) {
  const int savedErrno = errno;
  if (!pthread_equal(pthread_self(), g_interruption.main)) {
    // A reader's or a library's thread: the main thread acts on it.
    pthread_kill(g_interruption.main, sig);
  } else if (g_interruption.signal == 0) {
    g_interruption.signal = sig;
  } else {
    // A second signal: what is unfinished goes now, newest first (a
    // folder's files before the folder), and the program ends by the first.
    for (const PartialEntry* e = g_interruption.partial.load(); e != nullptr; e = e->next.load()) RemoveEntry(*e);
    Say("orx: interrupted twice; stopped at once, leaving nothing unfinished behind\n");
    const int first = g_interruption.signal;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(first, &sa, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, first);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(first);
    _exit(128 + first);
  }
  errno = savedErrno;
}

PartialEntry* Register(PartialEntry::Kind kind, const std::string& path, int first) {
  auto* e = new PartialEntry;
  e->kind = kind;
  e->path = path;
  e->first = first;
  PartialEntry* head = g_interruption.partial.load();
  e->next = head;
  if (head != nullptr) head->prev = e;
  g_interruption.partial.store(e);  // the handler sees it whole from here
  return e;
}

void Unregister(PartialEntry* e) {
  PartialEntry* next = e->next.load();
  if (e->prev != nullptr) e->prev->next.store(next);
  else g_interruption.partial.store(next);  // the handler no longer reaches it
  if (next != nullptr) next->prev = e->prev;
  delete e;
}

}  // namespace

void CatchInterruptions() {
  if (g_interruption.caught) return;
  g_interruption.main = pthread_self();
  g_interruption.caught = 1;
  struct sigaction sa {};
  sa.sa_handler = NoteInterruption;
  sa.sa_mask = InterruptionSignals();  // one at a time
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns EINTR
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool Interrupted() { return g_interruption.signal != 0; }

void RaiseInterruption(int status) {
  const int sig = g_interruption.signal;
  if (sig == 0) return;
  if (status == 0) Fail("interrupted as the work ended; what it wrote is complete");
  // Not fflush(nullptr): a reader left in a read of standard input holds
  // that stream's lock.
  std::fflush(stdout);
  std::fflush(stderr);
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  raise(sig);
}

HoldInterruptions::HoldInterruptions() {
  const sigset_t set = InterruptionSignals();
  pthread_sigmask(SIG_BLOCK, &set, &old_);
}

HoldInterruptions::~HoldInterruptions() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

void PartialOutput::File(const std::string& path) {
  Release();
  entry_ = Register(PartialEntry::kFile, path, 0);
}

void PartialOutput::Folder(const std::string& path) {
  Release();
  entry_ = Register(PartialEntry::kFolder, path, 0);
}

void PartialOutput::Sequence(const std::string& pattern, int first) {
  Release();
  entry_ = Register(PartialEntry::kSequence, pattern, first);
}

void PartialOutput::Written(int last) {
  if (entry_ != nullptr) entry_->last.store(last);
}

void PartialOutput::Remove() {
  if (entry_ == nullptr) return;
  RemoveEntry(*entry_);
  Release();
}

void PartialOutput::Release() {
  if (entry_ != nullptr) Unregister(entry_);
  entry_ = nullptr;
}

Args::Args(int argc, char** argv, int first) {
  for (int i = first; i < argc; ++i) args_.emplace_back(argv[i]);
}

bool Args::Flag(const char* name, const char* shortName) {
  return Either(name, shortName, nullptr, nullptr) == 1;
}

int Args::Either(const char* name, const char* shortName, const char* otherName, const char* otherShort) {
  const auto is = [](const std::string& a, const char* n) { return n != nullptr && a == n; };
  int last = -1;
  for (size_t i = 0; i < args_.size();) {
    if (args_[i] == "--") break;
    if (is(args_[i], name) || is(args_[i], shortName)) {
      last = 1;
    } else if (is(args_[i], otherName) || is(args_[i], otherShort)) {
      last = 0;
    } else {
      ++i;
      continue;
    }
    args_.erase(args_.begin() + long(i));
  }
  return last;
}

std::vector<std::string> Args::Values(const char* name, const char* shortName, std::string* error) {
  const std::string withEq = std::string(name) + "=";
  std::vector<std::string> values;
  for (size_t i = 0; i < args_.size();) {
    if (args_[i] == "--") break;
    if (args_[i].rfind(withEq, 0) == 0) {
      values.push_back(args_[i].substr(withEq.size()));
      args_.erase(args_.begin() + long(i));
    } else if (args_[i] == name || (shortName && args_[i] == shortName)) {
      if (i + 1 >= args_.size() || args_[i + 1] == "--") {
        *error = std::string(args_[i]) + " needs a value";
        args_.erase(args_.begin() + long(i));
        continue;
      }
      values.push_back(args_[i + 1]);
      args_.erase(args_.begin() + long(i), args_.begin() + long(i) + 2);
    } else {
      ++i;
    }
  }
  return values;
}

bool Args::Value(const char* name, const char* shortName, std::string* value, std::string* error) {
  std::vector<std::string> values = Values(name, shortName, error);
  if (values.empty()) return false;
  *value = std::move(values.back());
  return true;
}

bool Args::Positionals(std::vector<std::string>* out, std::string* error) {
  bool literal = false;
  for (const std::string& a : args_) {
    if (!literal && a == "--") {
      literal = true;
      continue;
    }
    if (!literal && a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a + " (see --help)";
      return false;
    }
    out->push_back(a);
  }
  return true;
}

namespace {
bool ParseInt(const std::string& s, long lo, long hi, long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}
}  // namespace

bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find_first_of("xX");
  long w = 0, h = 0;
  if (x == std::string::npos || !ParseInt(text.substr(0, x), 1, kORXMaxSide, &w) || !ParseInt(text.substr(x + 1), 1, kORXMaxSide, &h))
    return false;
  *width = int(w);
  *height = int(h);
  return true;
}

bool ParseFrameRange(const std::string& text, int* first, int* last) {
  const size_t dash = text.find('-');
  long a = 0, b = 0;
  if (dash == std::string::npos) {
    if (!ParseInt(text, 0, 0x7FFFFFFF, &a)) return false;
    *first = *last = int(a);
    return true;
  }
  if (!ParseInt(text.substr(0, dash), 0, 0x7FFFFFFF, &a)) return false;
  const std::string rest = text.substr(dash + 1);
  if (rest.empty()) {
    *first = int(a);
    *last = -1;
    return true;
  }
  if (!ParseInt(rest, 0, 0x7FFFFFFF, &b) || b < a) return false;
  *first = int(a);
  *last = int(b);
  return true;
}

namespace {
int64_t Gcd(int64_t a, int64_t b) {
  while (b != 0) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}
}  // namespace

bool ParseRate(const std::string& text, int* num, int* den) {
  const size_t sep = text.find_first_of("/:");
  int64_t n = 0, d = 1;
  if (sep != std::string::npos) {
    long a = 0, b = 0;
    if (!ParseInt(text.substr(0, sep), 1, 0x7FFFFFFF, &a) || !ParseInt(text.substr(sep + 1), 1, 0x7FFFFFFF, &b))
      return false;
    n = a;
    d = b;
  } else {
    // A decimal, read exactly: "0.0004" is 1/2500, not a rounded 0.
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if ((whole.empty() && fraction.empty()) || fraction.size() > 9) return false;
    for (const char c : whole + fraction)
      if (c < '0' || c > '9') return false;
    if (whole.size() > 4) return false;  // above 1000 in any case
    n = whole.empty() ? 0 : std::stoll(whole);
    for (const char c : fraction) {
      n = n * 10 + (c - '0');
      d *= 10;
    }
    if (n == 0) return false;
    // The NTSC family is written 23.976, 29.97, 59.94: store them exactly.
    const double v = double(n) / double(d);
    for (int base : {24, 30, 60, 120}) {
      if (!fraction.empty() && std::fabs(v - base * 1000.0 / 1001.0) < 0.006) {
        n = base * 1000;
        d = 1001;
      }
    }
  }
  if (n > 1000 * d) return false;
  const int64_t g = Gcd(n, d);
  n /= g;
  d /= g;
  if (n > 0x7FFFFFFF || d > 0x7FFFFFFF) return false;
  *num = int(n);
  *den = int(d);
  return true;
}

void RateToTimeScale(int num, int den, int32_t* timeScale, int32_t* duration) {
  const int64_t g = Gcd(num, den);
  const int64_t n = num / g, d = den / g;
  // Scale both up so that the time scale reaches 600 where that fits in 32 bits;
  // the rate itself is kept exactly.
  int64_t k = n >= 600 ? 1 : (600 + n - 1) / n;
  k = std::min(k, std::max<int64_t>(1, 0x7FFFFFFF / d));
  *timeScale = int32_t(n * k);
  *duration = int32_t(d * k);
}

void ReduceRate(int64_t num, int64_t den, int* outNum, int* outDen) {
  if (num <= 0 || den <= 0) {
    *outNum = 0;
    *outDen = 1;
    return;
  }
  const int64_t g = Gcd(num, den);
  num /= g;
  den /= g;
  if (num <= 0x7FFFFFFF && den <= 0x7FFFFFFF) {
    *outNum = int(num);
    *outDen = int(den);
    return;
  }
  // The closest fraction of 32-bit terms: continued-fraction convergents.
  int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0, a = num, b = den;
  while (b != 0) {
    const int64_t t = a / b;
    const int64_t p2 = t * p1 + p0, q2 = t * q1 + q0;
    if (p2 > 0x7FFFFFFF || q2 > 0x7FFFFFFF) break;
    p0 = p1, q0 = q1, p1 = p2, q1 = q2;
    const int64_t r = a - t * b;
    a = b;
    b = r;
  }
  if (p1 == 0 || q1 == 0) p1 = q1 = 1;
  *outNum = int(p1);
  *outDen = int(q1);
}

std::string FormatRate(double fps) {
  char buf[32];
  if (fps > 0 && fps < 1) {  // slow rates keep their significant digits
    std::snprintf(buf, sizeof buf, "%.4g", fps);
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%.3f", fps);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

bool ValidNumberPattern(const std::string& p) {
  int conversions = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '%') continue;
    if (i + 1 < p.size() && p[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (j < p.size() && p[j] == '0') ++j;
    while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    if (j - i > 4) return false;  // width at most two digits
    if (j >= p.size() || (p[j] != 'd' && p[j] != 'i' && p[j] != 'u')) return false;
    ++conversions;
    i = j;
  }
  return conversions == 1;
}

std::string ExpandPattern(const std::string& p, int number) {
  // The same expansion a signal handler makes of a PartialOutput's pattern.
  std::vector<char> out(p.size() + 1024);
  return ExpandInto(p.c_str(), number, out.data(), out.size()) ? std::string(out.data()) : p;
}

Progress::Progress(const char* what, int64_t total) : what_(what), total_(total), enabled_(isatty(2) != 0) {}

std::string FormatDuration(double seconds) {
  const long t = seconds > 0 && seconds < 1e9 ? long(seconds + 0.5) : 0;
  char buf[32];
  if (t >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", t / 3600, t / 60 % 60, t % 60);
  else std::snprintf(buf, sizeof buf, "%ld:%02ld", t / 60, t % 60);
  return buf;
}

void Progress::Update(int64_t done, uint64_t bytes) {
  if (!enabled_) return;
  const double now = timer_.Seconds();
  if (last_ >= 0 && now - last_ < 0.1 && done != total_) return;
  last_ = now;
  const double fps = now > 0 ? double(done) / now : 0;
  std::string line = what_ + " ";
  char buf[128];
  if (total_ > 0) {
    const int width = 24;
    const int filled = int(double(width) * double(std::min(done, total_)) / double(total_));
    std::string bar(size_t(filled), '#');
    bar.resize(size_t(width), '.');
    std::snprintf(buf, sizeof buf, "[%s] %lld/%lld", bar.c_str(), (long long)done, (long long)total_);
  } else {
    std::snprintf(buf, sizeof buf, "%lld frames", (long long)done);
  }
  line += buf;
  std::snprintf(buf, sizeof buf, ", %.1f fps", fps);
  line += buf;
  if (bytes > 0) line += ", " + HumanBytes(bytes);
  line += ", " + FormatDuration(now);
  // The time left once the rate has settled over a few frames.
  if (total_ > 0 && done > 0 && done < total_ && now > 0.5) line += ", " + FormatDuration(double(total_ - done) / fps) + " left";
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
}

void Progress::Finish() {
  if (enabled_ && last_ >= 0) std::fprintf(stderr, "\r\033[K");
  last_ = -1;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string OutputProblem(const std::string& output, const std::vector<std::string>& inputs, bool overwrite,
                          bool needsSeek) {
  struct stat st {};
  if (stat(output.c_str(), &st) != 0) return "";  // a new file (a dangling link is replaced, not followed)
  for (const std::string& in : inputs)
    if (in != "-" && SameFile(output, in)) return output + ": is also an input; choose another name for the output";
  if (S_ISDIR(st.st_mode)) return output + ": is a folder";
  if (!S_ISREG(st.st_mode)) {
    if (needsSeek) return output + ": not a regular file; a movie needs a file it can seek in";
    return "";
  }
  if (!overwrite) return output + ": already exists (-y or --overwrite replaces it)";
  return "";
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& path, std::string* error, bool replace, bool sync) {
  Discard();
  path_ = path;
  replace_ = replace;
  sync_ = sync;
  if (path == "-") {
    stdout_ = true;
    file_ = stdout;
    return true;
  }
  // A FIFO or device at the path is written as it is: renaming a finished
  // file over it would replace it.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      *error = std::string("cannot open: ") + std::strerror(errno);
      return false;
    }
    direct_ = true;
    return true;
  }
  temp_ = path + ".partial-XXXXXX";
  std::vector<char> name(temp_.begin(), temp_.end());
  name.push_back('\0');
  int fd;
  {
    HoldInterruptions hold;  // no second signal between the file and its registration
    fd = mkstemp(name.data());
    if (fd >= 0) {
      temp_ = name.data();
      partial_.File(temp_);
    }
  }
  if (fd < 0) {
    *error = std::string("cannot create: ") + std::strerror(errno);
    temp_.clear();
    return false;
  }
  fchmod(fd, 0644);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    *error = std::string("cannot create: ") + std::strerror(errno);
    close(fd);
    unlink(temp_.c_str());
    partial_.Release();
    temp_.clear();
    return false;
  }
  return true;
}

bool OutputFile::Commit(std::string* error) {
  if (file_ == nullptr) {
    *error = "not open";
    return false;
  }
  if (stdout_) {
    file_ = nullptr;
    // The stream's last bytes leave only now: a failure here is the run's.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      *error = std::string("write failed: ") + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (direct_) {
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    const int e = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    direct_ = false;
    if (!ok || !closed) {
      *error = std::string("write failed: ") + std::strerror(ok ? errno : e);
      return false;
    }
    return true;
  }
  const bool flushed = std::fflush(file_) == 0 && (!sync_ || fsync(fileno(file_)) == 0);
  const int flushErrno = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    *error = std::string("write failed: ") + std::strerror(flushed ? errno : flushErrno);
    unlink(temp_.c_str());
    partial_.Release();
    temp_.clear();
    return false;
  }
  if (!HostMoveFileIntoPlace(temp_.c_str(), path_.c_str(), replace_)) {
    *error = errno == EEXIST ? std::string("a file of that name appeared while it was written; it is left as it was")
                             : std::string("cannot move the finished file into place: ") + std::strerror(errno);
    unlink(temp_.c_str());
    partial_.Release();
    temp_.clear();
    return false;
  }
  partial_.Release();  // moved: nothing is left under the temporary name
  temp_.clear();
  return true;
}

void OutputFile::Discard() {
  if (file_ && !stdout_) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) unlink(temp_.c_str());
  partial_.Release();
  temp_.clear();
  stdout_ = false;
  direct_ = false;
  replace_ = true;
  sync_ = true;
}

OSStatus CreateMovieWriter(const std::string& path, ImageDescriptionHandle desc, TimeScale timeScale,
                           HostMovieWriterRef* writer, char* message, SInt32 messageSize, PartialOutput* temp) {
  HoldInterruptions hold;  // no second signal between the file and its registration
  const OSStatus s = HostMovieWriterCreateWithError(path.c_str(), desc, timeScale, writer, message, messageSize);
  if (s == noErr) temp->File(HostMovieWriterGetTemporaryPath(*writer));
  return s;
}

std::string HumanBytes(uint64_t bytes) {
  char buf[32];
  if (bytes < 10000) std::snprintf(buf, sizeof buf, "%llu B", (unsigned long long)bytes);
  else if (bytes < 10000000) std::snprintf(buf, sizeof buf, "%.1f kB", double(bytes) / 1e3);
  else if (bytes < 10000000000ull) std::snprintf(buf, sizeof buf, "%.1f MB", double(bytes) / 1e6);
  else std::snprintf(buf, sizeof buf, "%.2f GB", double(bytes) / 1e9);
  return buf;
}

std::string Frames(int64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

bool EndsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

}  // namespace orxapp
