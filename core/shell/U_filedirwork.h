// Small file helpers. Texts here are bytes as they stand in the file; callers
// convert code page 1251 through TextCodec.
#pragma once

#include <string>
#include <vector>

namespace zarvik {

// Creates the folder (and its parents) when missing; failure is not reported.
void EnsureFolder(const std::string& path);
// Replaces the file with the bytes, unchanged, in one step: they go to a new
// file in the same folder, which is synced and renamed over `path`, so a
// process killed or a machine stopped during the write leaves the old
// content or the new one, never a mixture. An existing file keeps its
// permissions; a symbolic link is followed and its target replaced. True only
// when every byte was written; on failure `path` is left as it was and no
// temporary file remains.
bool WriteTextFile(const std::string& path, const std::string& bytes);
// Reads the whole file; every NUL byte becomes a blank. False when the file
// cannot be opened.
bool ReadTextFile(const std::string& path, std::string& bytes);
// Names of the files in `folder` whose names end with `suffix` (for example
// ".lng"), sorted.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& suffix);
// Tests of interrupted writes: the hook is called at each stage of
// WriteTextFile; returning false makes the write fail at that point (as a
// failing disk would), and a hook may also kill the process there.
enum class FileWriteStage { TempCreated, DataHalf, DataWritten, Synced, Renamed };
using FileWriteHook = bool (*)(FileWriteStage stage);
void SetFileWriteHook(FileWriteHook hook);

// Joins a folder and a name with the platform separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace zarvik
