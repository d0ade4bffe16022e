// Small file helpers. Texts here are bytes as they stand in the file; callers
// convert code page 1251 through TextCodec.
#pragma once

#include <string>
#include <vector>

namespace zarvik {

// Creates the folder (and its parents) when missing; failure is not reported.
void EnsureFolder(const std::string& path);
// Creates or truncates the file and writes the bytes unchanged; true only when
// every byte was written.
bool WriteTextFile(const std::string& path, const std::string& bytes);
// Reads the whole file; every NUL byte becomes a blank. False when the file
// cannot be opened.
bool ReadTextFile(const std::string& path, std::string& bytes);
// Names of the files in `folder` whose names end with `suffix` (for example
// ".lng"), sorted.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& suffix);
// Joins a folder and a name with the platform separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace zarvik
