// The movie reader's view of the loaded movie atom: atoms as boxes over its
// bytes, their children checked against their parents, and failures with
// their status and words.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "movie/MovieAtoms.h"

namespace orxmovie {

struct Failure {
  Status status = Status::ok;
  std::string message;
};

inline bool Fail(Failure* f, Status status, std::string message) {
  f->status = status;
  f->message = std::move(message);
  return false;
}

// Hands a failure's status back and its words to message (when wanted),
// emptied when even they cannot be copied.
inline Status Report(const Failure& f, std::string* message) {
  if (message != nullptr) {
    try {
      *message = f.message;
    } catch (const std::bad_alloc&) {
      message->clear();
    }
  }
  return f.status;
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
      if (left < 16) return Fail(f, Status::invalidMovie, "the " + TypeName(type) + " atom header is cut short");
      size = BE64(p + 8);
      header = 16;
    } else if (size == 0) {
      return Fail(f, Status::invalidMovie, "the " + TypeName(type) + " atom inside " + TypeName(parent.type) + " has size 0");
    }
    if (size < header) return Fail(f, Status::invalidMovie, Format("the %s atom claims %llu bytes", TypeName(type).c_str(), (unsigned long long)size));
    if (size > left) {
      return Fail(f, Status::invalidMovie, "the " + TypeName(type) + " atom runs past the end of its parent " + TypeName(parent.type));
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

// The handler type of trak's media ('vide', 'soun', ...), or 0 when the
// track is damaged before its handler atom. The atoms before any damage are
// read, so a track damaged further in is still known by its kind.
inline uint32_t TrackHandler(const Box& trak) {
  std::vector<Box> trakKids, mdiaKids;
  Failure ignored;
  Children(trak, &trakKids, &ignored);  // keeps the children before the damage
  const Box* mdia = Find(trakKids, FourCC("mdia"));
  if (mdia == nullptr) return 0;
  Children(*mdia, &mdiaKids, &ignored);
  const Box* hdlr = Find(mdiaKids, FourCC("hdlr"));
  return hdlr != nullptr && hdlr->size >= 12 ? BE32(hdlr->data + 8) : 0;
}

// The entries of a sample description table ('stsd'), count of them from
// entries on over room bytes: each holds at least its size and format and
// lies inside the atom. `whose` begins the messages, as below.
inline bool CheckDescriptions(const uint8_t* entries, uint64_t room, uint32_t count, const std::string& whose, Failure* f) {
  uint64_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t size = room - at >= 8 ? BE32(entries + at) : 0;
    if (size < 8 || size > room - at) {
      return Fail(f, Status::badDescription,
                  whose + Format(" 'stsd' atom lists %u sample descriptions but holds %u", count, i));
    }
    at += size;
  }
  return true;
}

// A sample-to-chunk table ('stsc': first chunk, samples a chunk, description
// index; entries entries at e) over `chunks` chunks of a track with
// `descriptions` sample descriptions: it must start at chunk 1, its first
// chunks rise within the chunk count, no chunk holds no samples and each
// names a description the track has. *placed gets the samples it places.
// `whose` begins the messages ("the", "the sound track's").
inline bool CheckSampleToChunk(const uint8_t* e, uint32_t entries, uint32_t chunks, uint32_t descriptions,
                               uint64_t* placed, const std::string& whose, Failure* f) {
  *placed = 0;
  if (entries == 0 && chunks == 0) return true;  // an empty track (a fragmented movie's)
  if (entries == 0 || BE32(e) != 1) {
    return Fail(f, Status::invalidSampleTable,
                whose + " sample-to-chunk table does not start at chunk 1" +
                    (entries == 0 ? std::string(" (it is empty)") : Format(" (it starts at chunk %u)", BE32(e))));
  }
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t first = BE32(e + 12 * i), perChunk = BE32(e + 12 * i + 4), description = BE32(e + 12 * i + 8);
    const uint64_t next = i + 1 < entries ? BE32(e + 12 * (i + 1)) : uint64_t(chunks) + 1;
    if (first > chunks) {
      return Fail(f, Status::invalidSampleTable,
                  whose + Format(" sample-to-chunk table's entry %u names chunk %u, the track has %u", i + 1, first, chunks));
    }
    if (next <= first) {  // a next entry past the chunks is named on its own turn
      return Fail(f, Status::invalidSampleTable,
                  whose + Format(" sample-to-chunk table's entry %u is out of order (chunk %u, then chunk %llu)", i + 1, first,
                                 (unsigned long long)next));
    }
    if (perChunk == 0)
      return Fail(f, Status::invalidSampleTable, whose + Format(" sample-to-chunk table's entry %u puts no samples in a chunk", i + 1));
    if (description == 0 || description > descriptions) {
      return Fail(f, Status::invalidSampleTable,
                  whose + Format(" sample-to-chunk table names sample description %u of %u", description, descriptions));
    }
    *placed += (next - first) * perChunk;  // at most 2^32 chunks of under 2^32 samples: no overflow
  }
  return true;
}

}  // namespace orxmovie
