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
// replace of it by a rename. False when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// Replaces the file at `path` with one holding `bytes`, so that a reader
// finds the old content or the new, whole, even across a crash or a power
// loss: a new file beside it, named for this process ("<path>.<pid>.tmp",
// so two processes never share one), written, flushed to the disk and
// renamed over the old. False with the system's error code when any step
// failed; the new file is then removed.
bool ReplaceWholeFile(const std::wstring& path, const std::string& bytes, uint32_t& error);

} // namespace platform
