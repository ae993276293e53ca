// The movie module's statuses: what a call of the reader or the writer
// answers, each failure with its words in a message of its own.
#pragma once

namespace orxmovie {

enum class Status {
  ok,
  badArgument,         // a missing or out-of-range argument
  outOfMemory,
  ioError,             // a read or write failed
  endOfFile,           // the file ends before what it promises
  fileNotFound,
  noPermission,
  readOnly,            // the file system is read-only
  diskFull,
  fileExists,          // a name the writer may not replace
  badDescription,      // a sample description that cannot be read
  invalidTrack,        // no such track, or one without the atoms it needs
  invalidMovie,        // the atoms do not hold together
  invalidSampleTable,  // the sample tables disagree with their atoms or the file
  noMovie,             // not a movie, or no movie atom in it
};

// The status in a few words ("out of memory"); a call's message says more.
const char* StatusText(Status status);

// The status for a failed file operation's errno.
Status StatusOfErrno(int e);

}  // namespace orxmovie
