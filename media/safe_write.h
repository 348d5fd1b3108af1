// SPDX-License-Identifier: Apache-2.0
// Safe writes: a temporary name, one commit into place, no partial file after a failure.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace tweenora::media {

//! Removes the file at path, which is being written, unless released: when the
//! guard goes out of scope (a failed write) and when the process is stopped by
//! SIGINT, SIGTERM or SIGHUP while the guard lives (an interrupted run). One
//! guard at a time; the tool writes one file at a time.
class OutputGuard {
public:
    explicit OutputGuard(const std::string& path);
    ~OutputGuard();
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    //! The file is complete and in place: keep it.
    void release() const;

private:
    std::string path_;
    mutable bool released_ = false;
};

//! The temporary name path is written under: partialNameFor its file name, in
//! the same folder, so that the rename into place cannot cross file systems.
std::string temporaryPathFor(const std::string& path);

//! Writes size bytes of data to temporary, the file being written for path,
//! made anew, checking every write, the flush to disk and the close. Throws
//! tweenora::Error naming path and the system's reason ("No space left on
//! device" on a full disk).
void writeWholeFile(const std::string& temporary, const std::string& path, const void* data,
                    size_t size);

//! Flushes the finished temporary file to disk, renames it to path and
//! releases its guard. Throws tweenora::Error naming path when the flush or the
//! rename fails (the guard then removes the temporary file): a file that did
//! not reach the disk whole is never moved into place.
void commitIntoPlace(const std::string& temporary, const std::string& path,
                     const OutputGuard& guard);

//! Installs the signal handlers that clean up after an interrupt (once).
void installInterruptCleanup();

//! The hidden name a file called name is written under before it is renamed
//! into place: ".NAME.partial-HOST-PID", unique to this process on a farm
//! whose hosts share the output folder.
std::string partialNameFor(const std::string& name);

//! Removes the partial files in folder of the files called names whose writer
//! is gone: written on this host by a process that no longer exists (a task
//! killed outright). Partial files of other hosts are left alone, since their
//! writers cannot be checked from here; names without a host (".NAME.partial-PID",
//! from earlier versions) count as this host's. Returns the paths removed.
std::vector<std::string> removeStalePartials(const std::string& folder,
                                             const std::set<std::string>& names);

}  // namespace tweenora::media
