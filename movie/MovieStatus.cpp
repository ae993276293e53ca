#include "movie/MovieStatus.h"

#include <cerrno>

namespace orxmovie {

const char* StatusText(Status status) {
  switch (status) {
    case Status::ok: return "no error";
    case Status::badArgument: return "invalid argument";
    case Status::outOfMemory: return "out of memory";
    case Status::ioError: return "input/output error";
    case Status::endOfFile: return "the file ends early";
    case Status::fileNotFound: return "no such file";
    case Status::noPermission: return "permission denied";
    case Status::readOnly: return "read-only file system";
    case Status::diskFull: return "no space left on the device";
    case Status::fileExists: return "the file exists";
    case Status::badDescription: return "bad sample description";
    case Status::invalidTrack: return "invalid track";
    case Status::invalidMovie: return "invalid movie";
    case Status::invalidSampleTable: return "invalid sample table";
    case Status::noMovie: return "not a movie";
  }
  return "unknown status";
}

Status StatusOfErrno(int e) {
  switch (e) {
    case ENOSPC:
    case EDQUOT: return Status::diskFull;
    case ENOENT:
    case ENOTDIR: return Status::fileNotFound;
    case EACCES:
    case EPERM: return Status::noPermission;
    case EROFS: return Status::readOnly;
    default: return Status::ioError;
  }
}

}  // namespace orxmovie
