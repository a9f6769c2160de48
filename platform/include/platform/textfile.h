// Text files for the logs: each line is written whole or not at all.
#pragma once

#include <string>
#include <string_view>

// OpenFile modes, actions and types.
inline constexpr int VAL_READ_WRITE = 0;
inline constexpr int VAL_READ_ONLY = 1;
inline constexpr int VAL_WRITE_ONLY = 2;
inline constexpr int VAL_TRUNCATE = 0;    // an existing file is emptied
inline constexpr int VAL_APPEND = 1;      // writes go to the end
inline constexpr int VAL_OPEN_AS_IS = 2;  // neither emptied nor positioned at the end
inline constexpr int VAL_CREATE_NEW = 3;  // only a name that does not exist yet (else EEXIST)
inline constexpr int VAL_BINARY = 0;
inline constexpr int VAL_ASCII = 1;

// Returns a handle (0 or more), or -1 when the file cannot be opened. A missing file is
// created unless the mode is read-only; VAL_CREATE_NEW creates it or fails, so that a file
// made for a new name never replaces one that appeared under it (nor follows a symlink). Only
// regular files are opened: a named pipe, socket, device or directory is refused (never emptied or
// written, and the open does not wait).
int OpenFile(const std::string& path, int mode, int action, int type);
// Why the last OpenFile on this thread failed, for a message: "it is a character device, not
// a regular file", or the system's text ("Permission denied"). Empty after a success.
std::string LastOpenFileError();
// Writes the text (count -1: all of it) followed by "\n" in one piece. Returns the number of
// bytes written, or a negative value; after a failure the file holds no part of this line.
int WriteLine(int handle, std::string_view text, int count);
// Forces what was written to the storage device. 0, or negative on failure.
int SyncFile(int handle);
int CloseFile(int handle);
