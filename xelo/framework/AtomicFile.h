// Replacing a file's contents so that a reader, or the next run after a crash
// or power loss, sees either the old contents or the new ones, never a mixture
// or a truncated file.
//
// Contract: thread-safe for different paths; two threads writing the same
// path at once each write a whole file and the last rename wins.
// Errors: raises EFCreateError `Cannot create file "NAME". <system text>`;
// the target is then unchanged and no temporary file is left behind.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace xelo {

// Writes `bytes` to a new temporary file in the directory of `path`, flushes
// it to the disk (fsync), renames it over `path` and flushes the directory.
// An existing target keeps its permission bits; a new one gets the usual
// permissions of a created file (0666 less the umask). A symbolic link at
// `path` is followed and stays: the file it names is replaced, atomically in
// that file's directory. Something other than a regular file (a FIFO, a
// device, a terminal) is written directly, never replaced.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Test seam: the steps of WriteFileAtomically at which a hook is called.
enum class AtomicWriteStep {
  kTempCreated,   // the temporary file exists and is empty
  kPartWritten,   // about half of the bytes are in the temporary file
  kBeforeRename,  // everything is written and flushed; the target is untouched
};

// Installs a hook (null removes it) that WriteFileAtomically calls at each
// step. A hook that throws simulates a failure at that step (the exception
// propagates after the temporary file was removed); a hook that ends the
// process simulates a crash. Only for tests; set it while no other thread
// writes files.
void SetAtomicWriteHookForTesting(std::function<void(AtomicWriteStep)> hook);

}  // namespace xelo
