// Carries the work of a working copy into the project folder it was made from, once that folder
// is back (out of the Trash) and the work done meanwhile lies only in the working copy.
//
// The folder goes from its old version to the new one so that a crash, a full disk or a folder
// swapped at its path never leaves it broken: every file it lacks or holds otherwise is first
// written whole, and flushed, into a hidden staging folder inside it; only then are they renamed
// into place, the project's document last, once every file it names is there for good. Until
// that last rename the folder's document is its old one (beside files it does not name yet);
// after it, the new one with all it names. A write that fails (no space left) fails before
// anything is replaced. Every step goes through the folder's descriptor, never its path: a
// folder that another program puts at the path meanwhile gets nothing, and links planted in the
// folder are never followed.
#pragma once

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kx::KVFolderHandOver {

// The staging folder inside the project folder; what a hand-over cut short left there.
inline constexpr std::string_view stagingName = ".korvel-handover";

// The files of the working copy at `workingCopy` (regular files of the project, backups and
// hidden files left out, nothing through a link, and none of `leftOut`) that the folder open
// as `folder` lacks or holds with other content, in the order they are carried over: `last`
// (the project's document) at the end when it is among them. Throws the first failure to read
// the working copy.
std::vector<std::string> differences(const std::filesystem::path& workingCopy, int folder, const std::set<std::string>& leftOut,
                                     std::string_view last);

// Carries `files` (as `differences` gives them) from `workingCopy` into the folder open as
// `folder`, named `shown` in errors: all of them staged first, then renamed into place in their
// order, the folders flushed before the last one goes. Throws the first failure, having replaced
// nothing when it came before the renames; what it staged is removed, and so is what an earlier
// hand-over that was cut short left.
void carry(const std::filesystem::path& workingCopy, int folder, const std::filesystem::path& shown,
           const std::vector<std::string>& files);

// Removes what a hand-over cut short (a crash) left in the folder open as `folder`.
void removeLeftovers(int folder) noexcept;

// Test seam: called before each step, "stage" (a file staged), "rename" (a file put in place),
// "flush" (the folders made durable) and "last" (the final rename), and once the files are all
// in place ("done"), with the file's path; a non-zero errno makes that step fail as the system
// call would have.
using FaultHook = std::function<int(std::string_view step, const std::string& file)>;
void setFaultHookForTesting(FaultHook hook);

} // namespace kx::KVFolderHandOver
