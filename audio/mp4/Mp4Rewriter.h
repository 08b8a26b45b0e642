// Puts a new "udta" atom into an MP4 file safely: the layout is planned in
// memory (Mp4RewritePlan.h), the new file is streamed from a mapping of the
// old one into a temporary file in the same folder, flushed to the device and
// renamed over the original. A failure at any step leaves the original as it
// was and no temporary file behind.
//
// The new file keeps the original's permission bits, owner and extended
// attributes, and a symbolic link is followed (CYReplacingFile). A read-only
// original is refused (kIoFailed) before any temporary file exists.
//
// Thread safety: no shared state; any thread. Writers of the same file take
// turns under the replacing file's lock; a writer whose changes come from an
// earlier read of the file takes the lock before that read.
#pragma once

#include <string>

#include "audio/mp4/Mp4RewritePlan.h"
#include "ylib/YReplacingFile.h"

// Replaces the movie's user data of the file at path with what build returns.
// kWritten: the file now holds it; kUnchanged: build returned nothing;
// kNotMp4: not an MP4 file of an accepted brand (or empty);
// kLayoutNotUnderstood: a layout that could not be rewritten without risk;
// kIoFailed: the file could not be read, or the new file not written or put
// in place. In every case but kWritten the file is untouched.
// file is locked (CYReplacingFile::Lock) and names the file; on kIoFailed its
// error() says which system error stopped the write, if one did.
Mp4RewriteStatus Mp4RewriteUserData(CYReplacingFile& file, const Mp4UserDataBuilder& build);
// The same for a udta built in pieces (Mp4UserDataPiecesBuilder): borrowed
// pieces are written from where they are held.
Mp4RewriteStatus Mp4RewriteUserDataInPieces(CYReplacingFile& file, const Mp4UserDataPiecesBuilder& build);
// The same, taking the file's lock for the call.
Mp4RewriteStatus Mp4RewriteUserData(const std::u16string& path, const Mp4UserDataBuilder& build);
