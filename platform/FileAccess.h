#pragma once
#include <cstdint>
#include <string>

#include "platform/DirectoryListing.h"

namespace platform {

enum class PathKind { Missing, Directory, File };

// What a path names, from its attributes.
PathKind QueryPathKind(const std::wstring& path);

// How a new entry below a watched root stands when it is looked at.
enum class ArrivalState {
    Missing,       // gone, or renamed away
    Folder,
    BeingWritten,  // another handle may write to it
    NoWriter,      // no other handle may write to it
    WriterUnknown, // a file; whether another handle writes to it cannot be
                   // told without refusing that writer (Wine grants no oplocks)
};

// One look at a new entry: its state, and for a file its size and
// last-write time, by which two looks tell whether it changed in between.
struct ArrivalLook {
    ArrivalState state = ArrivalState::Missing;
    uint64_t size = 0;
    FileTime lastWrite = 0;
};

// Opens the entry for its attributes only, sharing reading, writing and
// deleting, so that no other open fails because of it, and asks for a
// read-handle oplock, which is not granted while another handle may write:
// given back at once when it is. Once the root's volume has answered that
// it grants no oplocks, its entries are looked at by their attributes alone
// (WriterUnknown). The relative name is in UTF-16 units as change records
// give it; paths of any length.
ArrivalLook LookAtArrival(const std::wstring& root, const std::u16string& relative);

// Whether this thread's looks at entries below `root` read the attributes
// alone, the volume having answered that it grants no oplocks.
bool LooksByAttributesAlone(const std::wstring& root);

// Whether the entry is there, and a folder; a file is WriterUnknown.
ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative);

// The short (8.3) form of an existing path, where its volume keeps short
// names. False when the path does not exist or has no short form. The path
// is taken literally: no component is read as a device or loses a
// trailing dot.
bool ShortPathOf(const std::wstring& path, std::wstring& shortPath);

// Creates a folder with the permissions its parent passes on. False with
// the system's error code when it could not be created, also when
// something already stands there.
bool CreateFolder(const std::wstring& path, uint32_t& error);

// The long form of an existing path: each component that is a short (8.3)
// alias replaced by the name it stands for, as the volume holds it. Taken
// literally as ShortPathOf. False when the path does not exist.
bool LongNamePathOf(const std::wstring& path, std::wstring& longPath);

// Reads a whole file in byte mode without denying readers, writers or a
// replace of it by a rename. False when it cannot be opened or read. It
// stops once it holds more than `limit` bytes: a caller that accepts no
// more sees that there were more, and a file of any size put in the place
// of a small one costs no more memory than that.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::size_t limit = SIZE_MAX);

// What tells one content of a file from another without reading it: its
// size, its last-write time, and its change time, which a rename (a file
// put in its place) and a setting of its times move as well, and its
// creation time. Not known when the file could not be asked.
struct FileStamp {
    bool known = false;
    uint64_t size = 0;
    FileTime lastWrite = 0;
    FileTime changed = 0;
    FileTime created = 0;
};

// Two stamps that are both known and alike.
inline bool SameStamp(const FileStamp& a, const FileStamp& b)
{
    return a.known && b.known && a.size == b.size && a.lastWrite == b.lastWrite && a.changed == b.changed &&
           a.created == b.created;
}

// What the path names and, for a file, its stamp, asked by the path as
// the attributes are: no handle, so no open of another program fails
// because of it, and a writer holding the file does not stop it.
PathKind StampOf(const std::wstring& path, FileStamp& stamp);

enum class SettledRead {
    Read,         // `bytes` holds the whole file, `stamp` its stamp
    BeingWritten, // another handle may write to it: nothing was read
    Failed,       // it cannot be opened or read
};

// Reads a whole file while no handle can write to it: opened sharing
// reading and deleting but not writing, so the open fails while another
// handle may write (BeingWritten), and no writer can start before the read
// has ended. A replace by a rename is not held up. The stamp comes from the
// same handle, so it belongs to exactly the bytes read.
SettledRead ReadSettledFile(const std::wstring& path, std::string& bytes, FileStamp& stamp);

// Replaces the file at `path` with one holding `bytes`, so that a reader
// finds the old content or the new, whole, even across a crash or a power
// loss: a new file beside it, named for this process ("<path>.<pid>.tmp",
// so two processes never share one), written, flushed to the disk and
// renamed over the old. False with the system's error code when any step
// failed; the new file is then removed.
bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes, uint32_t& error);

} // namespace platform
