#include "data/tempfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "handles/messages.h"

namespace kivodbc {
namespace {

// Reads up to `count` bytes at `offset`, going on after short reads.
size_t ReadAt(int fd, char* target, size_t count, int64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, target + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && dir[0] != 0 ? dir : "/tmp";
}

int CreateSpoolFile(std::string* path) {
  path->clear();
  std::string pattern = TempDirectory();
  if (pattern.back() != '/') pattern += '/';
  pattern += "LEMXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  const int fd = mkstemp(name.data());
  if (fd < 0) return -1;
  path->assign(name.data());
  return fd;
}

uint32_t OpenTempFileReader(const char* path, uint32_t recordSize, uint32_t recordsPerBuffer,
                            TempFileReader** out) {
  *out = nullptr;
  auto* reader = new (std::nothrow) TempFileReader;
  if (reader == nullptr) return kMemoryError;
  reader->recordSize = recordSize;
  reader->bufferSize = static_cast<size_t>(recordSize) * recordsPerBuffer;
  if (reader->bufferSize != 0) {
    reader->buffer = new (std::nothrow) char[reader->bufferSize];
    if (reader->buffer == nullptr) {
      delete reader;
      return kMemoryError;
    }
  }
  try {
    reader->path = path;
  } catch (const std::bad_alloc&) {
    CloseTempFileReader(reader, false);
    return kMemoryError;
  }
  reader->fd = open(path, O_RDONLY | O_CLOEXEC);
  if (reader->fd < 0) {
    CloseTempFileReader(reader, false);
    return kTempFileReadError;
  }
  *out = reader;
  return 0;
}

int64_t SeekTempFile(TempFileReader* reader, int64_t offset) {
  if (reader == nullptr) return 0;
  if (offset < 0) return -1;
  if (reader->bufferSize == 0) {
    const off_t at = lseek(reader->fd, static_cast<off_t>(offset), SEEK_SET);
    return at < 0 ? -1 : static_cast<int64_t>(at);
  }
  const int64_t record = offset / reader->recordSize + 1;
  if (reader->firstRecord != 0 && record < reader->firstRecord) return -1;
  if (reader->firstRecord == 0 || record >= static_cast<int64_t>(reader->firstRecord + reader->records)) {
    const int64_t start = (record - 1) * reader->recordSize;
    const size_t got = ReadAt(reader->fd, reader->buffer, reader->bufferSize, start);
    reader->firstRecord = static_cast<uint32_t>(record);
    reader->records = got / reader->recordSize;
    if (lseek(reader->fd, static_cast<off_t>(start + static_cast<int64_t>(got)), SEEK_SET) < 0) return -1;
  }
  reader->position = static_cast<size_t>(offset - static_cast<int64_t>(reader->recordSize) * (reader->firstRecord - 1));
  return offset;
}

size_t ReadTempFile(TempFileReader* reader, void* target, size_t count) {
  if (reader == nullptr) return 0;
  if (reader->bufferSize == 0) {
    const off_t at = lseek(reader->fd, 0, SEEK_CUR);
    if (at < 0) return 0;
    const size_t got = ReadAt(reader->fd, static_cast<char*>(target), count, at);
    lseek(reader->fd, at + static_cast<off_t>(got), SEEK_SET);
    return got;
  }
  const size_t held = reader->records * reader->recordSize;
  if (reader->firstRecord == 0 || reader->position >= held) {
    // A short fill earlier means the file has nothing more.
    if (reader->firstRecord != 0 && reader->records * reader->recordSize < reader->bufferSize) return 0;
    const uint32_t next = reader->firstRecord == 0 ? 1 : static_cast<uint32_t>(reader->firstRecord + reader->records);
    const int64_t start = static_cast<int64_t>(next - 1) * reader->recordSize;
    const size_t got = ReadAt(reader->fd, reader->buffer, reader->bufferSize, start);
    reader->firstRecord = next;
    reader->records = got / reader->recordSize;
    reader->position = 0;
    lseek(reader->fd, static_cast<off_t>(start + static_cast<int64_t>(got)), SEEK_SET);
  }
  const size_t available = reader->records * reader->recordSize - std::min(reader->position, reader->records * reader->recordSize);
  const size_t n = std::min(count, available);
  if (n > 0) std::memcpy(target, reader->buffer + reader->position, n);
  reader->position += n;
  return n;
}

void CloseTempFileReader(TempFileReader* reader, bool remove) {
  if (reader == nullptr) return;
  if (reader->fd >= 0) close(reader->fd);
  if (remove && !reader->path.empty()) unlink(reader->path.c_str());
  delete[] reader->buffer;
  delete reader;
}

}  // namespace kivodbc
