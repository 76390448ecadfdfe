// Temporary spool files: a writer that creates a "LEM" file under the
// temporary directory and appends fixed-size records to it, and the reader
// that gives them back by byte offset and deletes the file when asked.
#ifndef KIVODBC_TEMPFILE_H
#define KIVODBC_TEMPFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivodbc {

constexpr uint32_t kTempFileReadError = 2203;

// The directory for spool files: $TMPDIR, or /tmp when it is unset or empty.
std::string TempDirectory();

// Creates a new empty spool file "<dir>/LEMxxxxxx" open for writing: the
// descriptor, or -1 (errno set) with `*path` empty.
int CreateSpoolFile(std::string* path);

struct TempFileReader {
  std::string path;
  int fd = -1;
  uint32_t recordSize = 0;
  size_t bufferSize = 0;  // record size x records per buffer; 0 = unbuffered
  char* buffer = nullptr;
  size_t position = 0;       // inside the buffer
  uint32_t firstRecord = 0;  // 1-based number of the buffer's first record; 0 = nothing read
  size_t records = 0;        // whole records in the buffer
};

// Opens `path` for reading: 0 with `*out` set; 2101 when memory runs out,
// 2203 when the file cannot be opened (nothing is left behind then).
uint32_t OpenTempFileReader(const char* path, uint32_t recordSize, uint32_t recordsPerBuffer,
                            TempFileReader** out);
// The new byte position, or -1; 0 for a null reader.
int64_t SeekTempFile(TempFileReader* reader, int64_t offset);
// The bytes delivered; 0 at the end or for a null reader.
size_t ReadTempFile(TempFileReader* reader, void* target, size_t count);
// Closes the file and frees the reader; deletes the file when `remove` is
// set. A null reader is ignored.
void CloseTempFileReader(TempFileReader* reader, bool remove);

}  // namespace kivodbc

#endif
