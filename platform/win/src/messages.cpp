#include <cstring>
#include <iostream>
#include <mutex>

#include "kivwin/win.h"

namespace kivwin {

std::optional<std::string> StringTable::Find(uint32_t id) const {
  auto it = entries_.find(id);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

int StringTable::LoadString(uint32_t id, char* buffer, int size) const {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = 0;
  auto it = entries_.find(id);
  if (it == entries_.end()) return 0;
  const size_t n = std::min(it->second.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, it->second.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

namespace {

std::mutex sinkMutex;
MessageBoxSink& CurrentSink() {
  static MessageBoxSink sink;
  return sink;
}

int DefaultSink(const std::string& text, const std::string& caption, unsigned flags) {
  std::cerr << caption << ": " << text << '\n';
  const unsigned type = flags & MB_TYPEMASK;
  return (type == MB_YESNO || type == MB_YESNOCANCEL) ? IDYES : IDOK;
}

}  // namespace

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex);
  MessageBoxSink previous = std::move(CurrentSink());
  CurrentSink() = std::move(sink);
  return previous;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  MessageBoxSink sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex);
    sink = CurrentSink();
  }
  return sink ? sink(text, caption, flags) : DefaultSink(text, caption, flags);
}

}  // namespace kivwin
