// The movie reader's view of the loaded movie atom: atoms as boxes over its
// bytes, their children checked against their parents, and failures with
// their status and words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MovieAtoms.h"

namespace host_movie {

struct Failure {
  OSStatus status = noErr;
  std::string message;
};

inline bool Fail(Failure* f, OSStatus status, std::string message) {
  f->status = status;
  f->message = std::move(message);
  return false;
}

// An atom inside the loaded movie atom: its type and contents after the header.
struct Box {
  uint32_t type = 0;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};

inline bool Children(const Box& parent, std::vector<Box>* out, Failure* f) {
  out->clear();
  uint64_t pos = 0;
  // Fewer than 8 bytes left cannot be an atom: some writers pad containers.
  while (parent.size - pos >= 8) {
    const uint8_t* p = parent.data + pos;
    const uint64_t left = parent.size - pos;
    uint64_t size = BE32(p), header = 8;
    const uint32_t type = BE32(p + 4);
    if (size == 1) {
      if (left < 16) return Fail(f, invalidMovie, "the " + TypeName(type) + " atom header is cut short");
      size = BE64(p + 8);
      header = 16;
    } else if (size == 0) {
      return Fail(f, invalidMovie, "the " + TypeName(type) + " atom inside " + TypeName(parent.type) + " has size 0");
    }
    if (size < header) return Fail(f, invalidMovie, Format("the %s atom claims %llu bytes", TypeName(type).c_str(), (unsigned long long)size));
    if (size > left) {
      return Fail(f, invalidMovie, "the " + TypeName(type) + " atom runs past the end of its parent " + TypeName(parent.type));
    }
    out->push_back(Box{type, p + header, size - header});
    pos += size;
  }
  return true;
}

inline const Box* Find(const std::vector<Box>& boxes, uint32_t type) {
  for (const Box& b : boxes) {
    if (b.type == type) return &b;
  }
  return nullptr;
}

}  // namespace host_movie
